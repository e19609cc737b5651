#!/usr/bin/env bash
# A version.dll planted beside each program, as a web page leaves one in a
# Downloads folder. Wine is told to prefer a native version.dll, as Windows
# does for every DLL that is not a KnownDLL, so the program's folder is
# searched first. The planted DLL writes to ran.txt beside itself whenever a
# process loads it and whenever one of its functions is called, naming the
# module that called. A probe that binds VERSION.dll at link time shows, in the
# same folder, that the planted code runs where a program binds it so.
#
# Wine's own user32.dll imports version.dll (Windows' does not; there it is a
# KnownDLL, and so are its dependencies), so under Wine the planted DLL is
# loaded into every program with a window station, and Wine's WMI calls it.
# What the programs decide is whether their own code calls it: never, and
# their version reads still get the truth, from the system's version.dll.
. "$(dirname "$0")/lib.sh"
e2e_init
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;version=n,b"

TAVU="TAVU Computer Inc."
PLANTED="$(e2e_c users)/${USER:-$(id -un)}/Downloads/planted"
MARK="$PLANTED/ran.txt"
INSTALLED="$(e2e_c 'Program Files')/TAVU/TAVU Recovery Launcher"
LOG=$(e2e_c Windows/Temp/TvPatchDowngrade.log)
OUT=$E2E_WORK/planted.out

rm -rf "$PLANTED" "$INSTALLED"
mkdir -p "$PLANTED" "$INSTALLED"
cp "$E2E_TEST_BIN/planted/version.dll" "$E2E_TEST_BIN/version_probe.exe" \
  "$E2E_BIN/TAVU Recovery.exe" "$E2E_BIN/TvPatchDowngrade.exe" "$E2E_BIN/TavuRecoveryCheck.exe" "$PLANTED/"
# An installed launcher newer than the carried one: the check reports its
# version and the patcher leaves it alone, both only when they can read it.
cp "$(e2e_launcher_of_version "$E2E_WORK" 1.0.0.10)" "$INSTALLED/TAVU Recovery.exe"

# planted_run SECONDS EXE [ARGS...]: runs a program of the planted folder on a
# TAVU machine with no mark left before; output in $OUT, exit code in E2E_RC.
planted_run() {
  local seconds=$1 exe=$2
  shift 2
  rm -f "$MARK"
  e2e_vendor "$TAVU" timeout "$seconds" "$E2E_WINE" "$PLANTED/$exe" "$@" </dev/null >"$OUT" 2>>"$E2E_WORK/run.log"
  E2E_RC=$?
}
# called_from EXE: the planted DLL was called by code of the program EXE itself.
called_from() { [ -f "$MARK" ] && grep -qi "^call .* from .*\\\\$1\$" "$MARK"; }

echo "  the probe, which binds VERSION.dll at link time"
planted_run 60 version_probe.exe 'C:\Program Files\TAVU\TAVU Recovery Launcher\TAVU Recovery.exe'
check "the planted DLL ran inside the probe, called by the probe" called_from version_probe.exe
check_eq "the probe got the planted DLL's answer, no version" 3 "$E2E_RC"

echo "  the support check"
planted_run 120 TavuRecoveryCheck.exe /json
check "the check never called the planted DLL" eval '! called_from TavuRecoveryCheck.exe'
check_eq "the check ran to its verdict" 1 "$E2E_RC"
check_eq "the check read the installed launcher's version" 1.0.0.10 \
  "$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["installed_launcher"]["version"])' "$OUT" 2>&1)"

echo "  the patcher"
rm -f "$LOG"
planted_run 120 TvPatchDowngrade.exe
check "the patcher never called the planted DLL" eval '! called_from TvPatchDowngrade.exe'
check_eq "the patcher's exit code" 0 "$E2E_RC"
check "the patcher read the installed launcher's version and kept it" sh -c \
  'tail -c +3 "$1" | iconv -f UTF-16LE -t UTF-8 | grep -q "File version is same or newer, do not copy"' sh "$LOG"

echo "  the launcher"
planted_run 60 "TAVU Recovery.exe" /DISABLE
check "the launcher never called the planted DLL" eval '! called_from "TAVU Recovery.exe"'
check_eq "the launcher's exit code" 0 "$E2E_RC"

rm -rf "$PLANTED" "$INSTALLED"
e2e_finish
