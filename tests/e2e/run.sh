#!/usr/bin/env bash
# Runs every tests/e2e/test_*.sh (or those named) and sums their counts.
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
why="this host runs 32-bit programs"
[ -n "${E2E_ARCH:-}" ] && why="E2E_ARCH=$E2E_ARCH"
e2e_choose_arch
case $E2E_ARCH in
  win32) echo "e2e: the shipped 32-bit programs (build/win32) under wine32 in a 64-bit (WoW64) prefix ($why)" ;;
  *) [ "$why" = "${why#E2E_ARCH}" ] && why="this host cannot run 32-bit programs"
     echo "e2e: the 64-bit twin (build/win64) under wine64 ($why)" ;;
esac
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
