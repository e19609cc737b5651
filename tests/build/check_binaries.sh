#!/usr/bin/env bash
# Checks on the shipped programs as built: format, imports, manifest, embedded launcher.
# The same checks hold for the signed programs: a signature must not change what
# Windows reads from them.
. "$(dirname "$0")/../e2e/lib.sh"

# TAVU_CHECK_BIN: another folder of the same programs (the signed build's).
BIN=${TAVU_CHECK_BIN:-$E2E_ROOT/build/win32/bin}
LAUNCHER="$BIN/TAVU Recovery.exe"
PATCHER="$BIN/TvPatchDowngrade.exe"
CHECKER="$BIN/TavuRecoveryCheck.exe"
# Only KnownDLLs: Windows maps them from the system folder whatever lies beside
# the program. Each of these is in the KnownDLLs list of Windows 7 to 11, the
# 64-bit one and the one that WoW64 gives 32-bit programs. VERSION.dll is not,
# nor are the api-ms-win-* names: bound at link time, a copy planted beside the
# program would run inside it, so the programs load such DLLs at run time from
# the system folder alone.
SYSTEM_DLLS='^(KERNEL32|USER32|GDI32|ADVAPI32|SHELL32|SHLWAPI|OLE32|OLEAUT32|msvcrt)\.dll$'

for exe in "$LAUNCHER" "$PATCHER"; do
  name=$(basename "$exe")
  check "$name is a 32-bit GUI program" sh -c "file -b \"\$1\" | grep -q '^PE32 executable (GUI) Intel 80386'" sh "$exe"
  imports=$(i686-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p')
  bad=$(printf '%s\n' "$imports" | grep -v -i -E "$SYSTEM_DLLS" || true)
  check_eq "$name imports only KnownDLLs" "" "$bad"
  check "$name asks for administrator rights" grep -q -a 'level="requireAdministrator" uiAccess="false"' "$exe"
done
# The support check is a console program, otherwise built like the other two.
check "TavuRecoveryCheck.exe is a 32-bit console program" \
  sh -c "file -b \"\$1\" | grep -q '^PE32 executable (console) Intel 80386'" sh "$CHECKER"
bad=$(i686-w64-mingw32-objdump -p "$CHECKER" | sed -n 's/^\s*DLL Name: //p' | grep -v -i -E "$SYSTEM_DLLS" || true)
check_eq "TavuRecoveryCheck.exe imports only KnownDLLs" "" "$bad"
check "TavuRecoveryCheck.exe asks for administrator rights" \
  grep -q -a 'level="requireAdministrator" uiAccess="false"' "$CHECKER"
check "TavuRecoveryCheck.exe carries FileVersion 1.0.0.7" python3 -c '
import re, sys
key, value = "FileVersion".encode("utf-16-le"), "1.0.0.7".encode("utf-16-le")
sys.exit(0 if re.search(re.escape(key) + b"(\\x00\\x00){1,2}" + re.escape(value), open(sys.argv[1], "rb").read()) else 1)' "$CHECKER"
check "launcher manifest declares DPI awareness" grep -q -a '<dpiAware' "$LAUNCHER"
# Size budgets of code and data (everything but .rsrc and .bss), read from the
# files themselves: a size is the same on every machine. Over budget, the check
# names the largest contributors in the program's link map.
MAPS=$E2E_ROOT/build/win32/maps
SIZES=$E2E_ROOT/bench/program_sizes.py
# The launcher also keeps the journal of what it arms and undoes an arming,
# and its window answers the keyboard, screen readers, every DPI and high
# contrast.
check "TAVU Recovery.exe code and data within 96 KiB" python3 "$SIZES" "$LAUNCHER" "$MAPS/TAVU Recovery.map" --budget 98304
check "TvPatchDowngrade.exe code and data within 56 KiB" python3 "$SIZES" "$PATCHER" "$MAPS/TvPatchDowngrade.map" --budget 57344
# The check travels alone (the patcher carries only the launcher) and now reads
# ReAgent.xml, the recovery image and the boot manager, and keeps Windows' own
# error texts for the report, and decides what the next start does. It also
# reads the ticket facts (sizes, the WIM's version, every recovery partition),
# names the remedy's disk, partition and letter, and writes the fleet record.
check "TavuRecoveryCheck.exe code and data within 192 KiB" python3 "$SIZES" "$CHECKER" "$MAPS/TavuRecoveryCheck.map" --budget 196608
# The 64-bit twin keeps the unwind tables by which x64 Windows (and Wine) walks
# the stack, for crash dumps as for exceptions: its worker has a .pdata entry.
W64=$E2E_ROOT/build/win64
if [ -f "$W64/bin/TAVU Recovery.exe" ]; then
  worker=$(grep -A1 '^ \.text\$_ZN4tavu14RecoveryWorkerEPv$' "$W64/maps/TAVU Recovery.map" | sed -n '2s/^ *0x\([0-9a-f]*\).*/\1/p')
  check "64-bit twin: the recovery worker has an unwind entry (.pdata)" sh -c \
    '[ -n "$1" ] && x86_64-w64-mingw32-objdump -x "$2" | grep -qE "^ [0-9a-f]+:[[:space:]]+$1 "' \
    sh "$worker" "$W64/bin/TAVU Recovery.exe"
fi
# Strings, accelerators, bitmaps, icon group and the embedded launcher, read from
# the resource tree of the files themselves.
out=$(python3 "$(dirname "$0")/pe_resources.py" "$LAUNCHER" "$PATCHER")
printf '%s\n' "$out" | grep -E '^    (ok|FAIL)'
E2E_PASSED=$((E2E_PASSED + $(printf '%s\n' "$out" | grep -c '^    ok')))
E2E_FAILED=$((E2E_FAILED + $(printf '%s\n' "$out" | grep -c '^    FAIL')))
e2e_finish
