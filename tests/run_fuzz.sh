#!/usr/bin/env bash
# Run by scripts/test: builds the libFuzzer targets (preset `fuzz`, clang) and
# runs each for a short fixed time. scripts/fuzz runs them longer.
# Ends with "N passed, N failed".
set -u
cd "$(dirname "$0")/.."
seconds=${TAVU_FUZZ_SECONDS:-30}
if ! command -v clang++ >/dev/null 2>&1; then
  echo "clang++ is not installed: the fuzz targets are not built"
  echo "0 passed, 1 failed"
  exit 1
fi
if ! { cmake --preset fuzz >/dev/null && cmake --build --preset fuzz; }; then
  echo "0 passed, 1 failed"
  exit 1
fi
if tests/fuzz/run_fuzz.sh build/fuzz/tests/fuzz/fuzz_disk_image build/fuzz/tests/fuzz/fuzz_make_seeds \
  "$seconds" build/fuzz/tests/fuzz/disk_image; then
  echo "1 passed, 0 failed"
else
  echo "0 passed, 1 failed"
  exit 1
fi
