#!/usr/bin/env bash
# Run by scripts/test: the whole native unit suite built by clang with
# AddressSanitizer and UBSan (preset `native-asan`), and in the same ctest run the
# short run of each fuzz target, built in the same tree (its seeds and corpus
# replayed, then fuzzed for TAVU_FUZZ_SHORT_SECONDS). Any report fails its test:
# the build stops on the first UBSan finding (-fno-sanitize-recover=all) and
# ASan aborts the process. Ends with "asan: N passed, N failed".
set -u
cd "$(dirname "$0")/.."
if ! command -v clang++ >/dev/null 2>&1; then
  echo "clang++ is not installed: the sanitizer build is not made"
  echo "asan: 0 passed, 1 failed"
  exit 1
fi
if ! { cmake --preset native-asan >/dev/null && cmake --build --preset native-asan; }; then
  echo "asan: 0 passed, 1 failed"
  exit 1
fi
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
log=build/native-asan/ctest.log
# Three at a time: many tests wait on real files and the real disk tools.
ctest --preset native-asan -j3 2>&1 | tee "$log"
line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n1)
if [ -z "$line" ]; then
  echo "asan: 0 passed, 1 failed"
  exit 1
fi
f=$(echo "$line" | sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/')
t=$(echo "$line" | sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\2/')
echo "asan: $((t - f)) passed, $f failed"
[ "$f" -eq 0 ]
