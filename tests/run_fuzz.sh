#!/usr/bin/env bash
# Run by scripts/test: builds the libFuzzer targets (preset `fuzz`, clang) and
# runs each for a short fixed time (TAVU_FUZZ_SECONDS, 20 by default: the whole
# phase stays within two minutes). scripts/fuzz runs them longer.
# Ends with "N passed, N failed".
set -u
cd "$(dirname "$0")/.."
seconds=${TAVU_FUZZ_SECONDS:-20}
if ! command -v clang++ >/dev/null 2>&1; then
  echo "clang++ is not installed: the fuzz targets are not built"
  echo "0 passed, 1 failed"
  exit 1
fi
if ! { cmake --preset fuzz >/dev/null && cmake --build --preset fuzz; }; then
  echo "0 passed, 1 failed"
  exit 1
fi
passed=0
failed=0
while read -r name seeds; do
  echo "fuzz_$name:"
  if tests/fuzz/run_fuzz.sh "build/fuzz/tests/fuzz/fuzz_$name" "$seeds" "$seconds" "build/fuzz/tests/fuzz/$name"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
  fi
done < <(tests/fuzz/targets.sh)
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
