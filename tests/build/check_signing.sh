#!/usr/bin/env bash
# Signed release build with a throw-away code-signing certificate made here:
# every program and the package verify against it, the patcher carries the
# signed launcher, the signed programs pass the checks of the unsigned ones,
# and the signed patcher behaves under Wine as the unsigned one.
. "$(dirname "$0")/../e2e/lib.sh"
ROOT=$E2E_ROOT
KEYS=$ROOT/build/signing-test
rm -rf "$KEYS"
mkdir -p "$KEYS"

# make_cert NAME: NAME.pem, NAME.key.pem, NAME.p12 (password "test-$NAME").
make_cert() {
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=TAVU Test $1/O=TAVU Computer Inc." \
    -addext extendedKeyUsage=codeSigning -addext keyUsage=digitalSignature \
    -keyout "$KEYS/$1.key.pem" -out "$KEYS/$1.pem" >/dev/null 2>&1 &&
    openssl pkcs12 -export -inkey "$KEYS/$1.key.pem" -in "$KEYS/$1.pem" -out "$KEYS/$1.p12" -passout "pass:test-$1"
}
make_cert release
make_cert other
export TAVU_SIGN_PKCS12=$KEYS/release.p12 TAVU_SIGN_PASSWORD=test-release
unset TAVU_SIGN_TIMESTAMP_URL

# Only the programs: the test programs of the unsigned trees serve both.
build_signed() {
  cmake --preset "$1" -B "$ROOT/build/$1-signed" >"$KEYS/configure-$1.log" 2>&1 &&
    cmake --build "$ROOT/build/$1-signed" -j2 --target tavu_recovery tavu_patch_downgrade tavu_recovery_check \
      >"$KEYS/build-$1.log" 2>&1
}
check "signed win32 build" build_signed win32
check "configure says there is no time stamp" grep -q 'TAVU_SIGN_TIMESTAMP_URL is not set, so the signatures carry no time stamp' \
  "$KEYS/configure-win32.log"
check_eq "the build signed three programs" 3 "$(grep -c '^sign: signed .* (SHA-256, no time stamp)' "$KEYS/build-win32.log")"

BIN=$ROOT/build/win32-signed/bin
verifies() { osslsigncode verify -CAfile "$2" -in "$1" >"$KEYS/verify.log" 2>&1; }
for exe in "TAVU Recovery.exe" TvPatchDowngrade.exe TavuRecoveryCheck.exe; do
  check "$exe verifies against the test certificate" verifies "$BIN/$exe" "$KEYS/release.pem"
  check "$exe: SHA-256 digest" grep -q 'Message digest algorithm  : SHA256' "$KEYS/verify.log"
  check "$exe does not verify against another certificate" sh -c '! osslsigncode verify -CAfile "$1" -in "$2" >/dev/null 2>&1' \
    sh "$KEYS/other.pem" "$BIN/$exe"
  check "unsigned build: $exe carries no signature" sh -c \
    '! osslsigncode extract-signature -in "$1" -out "$2" >/dev/null 2>&1' sh "$ROOT/build/win32/bin/$exe" "$KEYS/none.sig"
done

# The carried launcher, cut out of the patcher's resource tree.
EMBEDDED=$KEYS/embedded.exe
python3 -c '
import importlib.util, os, sys
found = importlib.util.spec_from_file_location("pe", os.path.join(sys.argv[1], "pe_resources.py"))
pe = importlib.util.module_from_spec(found); found.loader.exec_module(pe)
exe = [v for (t, n, lang), v in pe.Pe(sys.argv[2]).resources().items() if t == "EXE" and n == 129]
open(sys.argv[3], "wb").write(exe[0] if len(exe) == 1 else b"")' "$ROOT/tests/build" "$BIN/TvPatchDowngrade.exe" "$EMBEDDED"
check 'patcher resource "EXE" 129 is the signed launcher byte for byte' cmp -s "$EMBEDDED" "$BIN/TAVU Recovery.exe"
check "the carried launcher verifies on its own" verifies "$EMBEDDED" "$KEYS/release.pem"

# The checks of the built programs, on the signed ones.
out=$(TAVU_CHECK_BIN=$BIN bash "$ROOT/tests/build/check_binaries.sh" 2>&1)
line=$(printf '%s\n' "$out" | grep -E '^check_binaries: [0-9]+ passed, [0-9]+ failed' | tail -n1)
check "checks of the built programs pass on the signed ones ($line)" sh -c \
  'printf "%s\n" "$1" | grep -qE "^check_binaries: [1-9][0-9]* passed, 0 failed$"' sh "$line"

# The package, signed like the programs.
python3 "$ROOT/installer/make_msi.py" "$BIN/TAVU Recovery.exe" "$BIN/TavuRecoveryCheck.exe" "$KEYS/signed.msi" \
  >"$KEYS/msi.log" 2>&1
check "package verifies against the test certificate" verifies "$KEYS/signed.msi" "$KEYS/release.pem"
check "package carries the signed launcher" sh -c \
  'cd "$1" && rm -rf x && msiextract -C x signed.msi >/dev/null && cmp -s "x/TAVU/TAVU Recovery Launcher/TAVU Recovery.exe" "$2"' \
  sh "$KEYS" "$BIN/TAVU Recovery.exe"

# A time-stamp server that does not answer fails the signing and leaves no
# half-made or unsigned file for the next build to take as finished.
cp "$ROOT/build/win32/bin/TAVU Recovery.exe" "$KEYS/stamp.exe"
sh "$ROOT/cmake/sign_file.sh" "$KEYS/stamp.exe" "$TAVU_SIGN_PKCS12" "TAVU Recovery" http://127.0.0.1:9/ \
  >"$KEYS/stamp.log" 2>&1
check_eq "unreachable time-stamp server: signing fails" 1 "$?"
check "unreachable time-stamp server: no file left" test ! -e "$KEYS/stamp.exe" -a ! -e "$KEYS/stamp.exe.signing"
cp "$ROOT/build/win32/bin/TAVU Recovery.exe" "$KEYS/wrong.exe"
TAVU_SIGN_PASSWORD=wrong sh "$ROOT/cmake/sign_file.sh" "$KEYS/wrong.exe" "$TAVU_SIGN_PKCS12" "TAVU Recovery" >/dev/null 2>&1
check_eq "wrong password: signing fails" 1 "$?"

# Under Wine: the signed twin build's patcher, through the patcher's own tests.
e2e_choose_arch
check "signed $E2E_ARCH build" build_signed "$E2E_ARCH"
out=$(E2E_PROGRAMS=$ROOT/build/$E2E_ARCH-signed/bin E2E_RESULTS= bash "$ROOT/tests/e2e/test_patcher.sh" 2>&1)
printf '%s\n' "$out" | grep -E '^    FAIL' | sed 's/^/  signed patcher:/'
line=$(printf '%s\n' "$out" | grep -E '^test_patcher: [0-9]+ passed, [0-9]+ failed' | tail -n1)
check "signed patcher under Wine passes the patcher tests ($line)" sh -c \
  'printf "%s\n" "$1" | grep -qE "^test_patcher: [1-9][0-9]* passed, 0 failed$"' sh "$line"
e2e_finish
