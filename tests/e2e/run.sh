#!/usr/bin/env bash
# Runs every tests/e2e/test_*.sh (or those named) and sums their counts.
set -u
here=$(cd "$(dirname "$0")" && pwd)
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
