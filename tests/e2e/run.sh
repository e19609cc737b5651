#!/usr/bin/env bash
# Runs every tests/e2e/test_*.sh (or those named) and sums their counts.
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
why=$(e2e_arch_reason)
e2e_choose_arch
case $E2E_ARCH in
  win32) echo "e2e: the shipped 32-bit programs (build/win32) under wine32 in a 64-bit (WoW64) prefix ($why)" ;;
  *) echo "e2e: the 64-bit twin (build/win64) under wine64 ($why)" ;;
esac
# Which files ran: a green run should never leave that to be guessed.
bin=${E2E_PROGRAMS:-$E2E_ROOT/build/$E2E_ARCH/bin}
for exe in "TAVU Recovery.exe" TvPatchDowngrade.exe TavuRecoveryCheck.exe; do
  kind=missing
  [ -f "$bin/$exe" ] && kind=$(file -b "$bin/$exe" | cut -d, -f1)
  echo "e2e: program ${bin#"$E2E_ROOT"/}/$exe ($kind)"
done
export E2E_RESULTS=${E2E_RESULTS:-$(mktemp)}
: >"$E2E_RESULTS"
status=0
scripts=("$@")
if [ ${#scripts[@]} -eq 0 ]; then scripts=("$here"/test_*.sh); fi
for t in "${scripts[@]}"; do
  echo "  $(basename "$t")"
  bash "$t" || status=1
done
awk '{p += $1; f += $2} END {printf "e2e: %d passed, %d failed\n", p, f}' "$E2E_RESULTS"
exit $status
