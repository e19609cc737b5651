#!/usr/bin/env bash
# Run by scripts/test: scripts/setup on the days a package mirror is caught
# half-synced, with stand-ins for apt-get, dpkg and dpkg-query early on PATH.
# The stand-ins keep the installed packages in a folder of their own, so the
# machine's packages are never touched. Ends with "setup: N passed, N failed".
set -u
here=$(cd "$(dirname "$0")" && pwd)
SETUP=$here/../../scripts/setup
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0
failed=0

mkdir -p "$work/bin"
# A root shell as far as set-up can tell.
cat >"$work/bin/id" <<'SH'
#!/bin/sh
[ "${1:-}" = -u ] && { echo 0; exit 0; }
exec /usr/bin/id "$@"
SH
# $FAKE/installed: one package a line. $FAKE/calls: every apt-get and dpkg call.
cat >"$work/bin/dpkg-query" <<'SH'
#!/bin/sh
for p in "$@"; do :; done
grep -qxF "$p" "$FAKE/installed" || exit 1
printf 'install ok installed'
SH
cat >"$work/bin/dpkg" <<'SH'
#!/bin/sh
echo "dpkg $*" >>"$FAKE/calls"
case $1 in
  --print-foreign-architectures) cat "$FAKE/architectures" 2>/dev/null ;;
  --add-architecture) echo "$2" >>"$FAKE/architectures" ;;
esac
SH
# What a broken update and an uninstallable package print, as apt prints them.
# $FAKE/update-broken: update fails; $FAKE/broken-PKG: PKG's unmet dependency.
cat >"$work/bin/apt-get" <<'SH'
#!/bin/sh
echo "apt-get $*" >>"$FAKE/calls"
if [ "$1" = update ]; then
  [ -e "$FAKE/update-broken" ] || { echo "Reading package lists..."; exit 0; }
  echo "Hit:1 http://deb.example bookworm InRelease"
  echo "Err:2 http://deb.example bookworm-security/main i386 Packages"
  echo "  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 192.0.2.1 80]"
  echo "E: Failed to fetch http://deb.example/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 192.0.2.1 80]" >&2
  echo "E: Some index files failed to download. They have been ignored, or old ones used instead." >&2
  exit 100
fi
pkgs=
for a in "$@"; do case $a in -* | install) ;; *) pkgs="$pkgs $a" ;; esac; done
echo "Reading package lists..."
for p in $pkgs; do
  if [ -e "$FAKE/broken-$p" ]; then
    echo "Some packages could not be installed. This may mean that you have"
    echo "The following packages have unmet dependencies:"
    echo " $p : Depends: $(cat "$FAKE/broken-$p") but it is not going to be installed"
    echo "E: Unable to correct problems, you have held broken packages." >&2
    exit 100
  fi
done
for p in $pkgs; do echo "$p" >>"$FAKE/installed"; done
SH
chmod +x "$work/bin"/*

# The packages the demo needs and the rest, read from the script itself, so
# that a package added there is installed here too.
eval "$(sed -n '/^DEMO_PACKAGES=(/,/^)/p;/^PACKAGES=(/,/^)/p;/^OPTIONAL=(/p' "$SETUP")"
demo_packages="${DEMO_PACKAGES[*]}"
all_packages="${PACKAGES[*]}"

# run_setup CASE MODE: a fresh stand-in machine per case ($FAKE), one stamp
# folder for all runs of a case; output in $out, status in $status.
run_setup() {
  PATH="$work/bin:$PATH" FAKE="$FAKE" SETUP_STAMP_DIR="$FAKE/stamps" SETUP_APT_PAUSE=0 \
    bash "$SETUP" $2 >"$FAKE/out" 2>&1
  status=$?
  out=$(cat "$FAKE/out")
}
fresh() {
  FAKE=$work/$1
  rm -rf "$FAKE"
  mkdir -p "$FAKE"
  : >"$FAKE/installed" >"$FAKE/calls"
}
installed_all() { printf '%s\n' $all_packages >"$FAKE/installed"; }

expect() {
  local name=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
    echo "  ok   $name"
  else
    failed=$((failed + 1))
    echo "  FAIL $name"
    sed 's/^/       | /' "$FAKE/out"
  fi
}
has_line() { printf '%s\n' "$out" | grep -qE "$1"; }
lines_matching() { printf '%s\n' "$out" | grep -cE "$1"; }
updates() { grep -c '^apt-get update' "$FAKE/calls"; }

# 1. The day it happened: update fails over the i386 index every time, the
#    packages that the run needs can be had, wine32's dependencies cannot.
fresh mirror
touch "$FAKE/update-broken"
echo "libwine:i386 (= 8.0~repack-4)" >"$FAKE/broken-wine32:i386"
run_setup mirror ""
expect "half-synced mirror: set-up succeeds" test "$status" -eq 0
expect "half-synced mirror: update tried three times" test "$(updates)" -eq 3
expect "half-synced mirror: the failed index named in one line" \
  has_line '^setup: apt-get update failed 3 times; going on .*Failed to fetch .*binary-i386/Packages.xz.*Mirror sync in progress'
expect "half-synced mirror: every needed package installed" \
  sh -c 'for p in $1; do grep -qxF "$p" "$2" || exit 1; done' sh "$all_packages" "$FAKE/installed"
expect "half-synced mirror: wine32 not installable, in one line with apt's reason" \
  test "$(lines_matching 'wine32')" -eq 1 -a "$(lines_matching '^setup: optional wine32:i386 not installable.*Depends: libwine:i386')" -eq 1
expect "half-synced mirror: i386 added for wine32" grep -qx 'dpkg --add-architecture i386' "$FAKE/calls"

# 2. The next run on the same day: only the optional wine32 is missing, and
#    its failure is recent, so apt is not asked again.
: >"$FAKE/calls"
run_setup mirror ""
expect "wine32 failed recently: set-up succeeds" test "$status" -eq 0
expect "wine32 failed recently: no apt-get call" test ! -s "$FAKE/calls"
expect "wine32 failed recently: said in one line with the reason" \
  test "$(lines_matching 'wine32')" -eq 1 -a "$(lines_matching '^setup: optional wine32:i386 not installable.*Depends: libwine:i386')" -eq 1

# 3. Hours later (the stamp aged) the mirror is whole again: wine32 is installed.
touch -d '7 hours ago' "$FAKE/stamps"/*
rm -f "$FAKE/update-broken" "$FAKE/broken-wine32:i386"
run_setup mirror ""
expect "wine32 retried after hours: installed" grep -qxF 'wine32:i386' "$FAKE/installed"
expect "wine32 retried after hours: said so" has_line '^setup: installed wine32:i386$'

# 4. A package the run cannot do without cannot be had: set-up fails and names
#    it and apt's reason in one line.
fresh required
touch "$FAKE/update-broken"
echo "libwim15 (= 1.13.6-1+deb12u1)" >"$FAKE/broken-wimtools"
run_setup required ""
expect "needed package uninstallable: set-up fails" test "$status" -ne 0
expect "needed package uninstallable: named with apt's reason in one line" \
  test "$(lines_matching '^setup: cannot install wimtools: wimtools : Depends: libwim15 \(= 1\.13\.6-1\+deb12u1\) but it is not going to be installed$')" -eq 1
expect "needed package uninstallable: no other package blamed" test "$(lines_matching 'cannot install')" -eq 1

# 5. The demo's set-up on the same mirror: its packages installed, no second
#    architecture added, wine32 not asked for.
fresh demo
touch "$FAKE/update-broken"
echo "libwine:i386 (= 8.0~repack-4)" >"$FAKE/broken-wine32:i386"
run_setup demo demo
expect "demo on a half-synced mirror: set-up succeeds" test "$status" -eq 0
expect "demo on a half-synced mirror: its packages installed" \
  sh -c 'for p in $1; do grep -qxF "$p" "$2" || exit 1; done' sh "$demo_packages" "$FAKE/installed"
expect "demo on a half-synced mirror: neither i386 nor wine32" \
  sh -c '! grep -qE "add-architecture|wine32" "$1"' sh "$FAKE/calls"

# 6. Everything there: nothing asked of apt.
fresh complete
installed_all
printf '%s\n' "${OPTIONAL[@]}" >>"$FAKE/installed"
run_setup complete ""
expect "everything installed: no apt-get call" test ! -s "$FAKE/calls" -a "$status" -eq 0

echo "setup: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
