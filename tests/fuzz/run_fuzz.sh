#!/bin/sh
# run_fuzz.sh FUZZER SEEDS SECONDS WORKDIR
# SEEDS is a checked-in folder of seeds or a program that writes them into the
# folder it is given. Takes the seed corpus, runs the fuzzer for SECONDS on one core, and prints
# how many inputs ran. Exit status: the fuzzer's (non-zero when it found a crash).
set -eu
fuzzer=$1 seeds=$2 seconds=$3 work=$4
mkdir -p "$work/seeds" "$work/corpus" "$work/artifacts"
if [ -d "$seeds" ]; then
  cp "$seeds"/* "$work/seeds/"
else
  "$seeds" "$work/seeds"
fi
# Allocations above 64 MiB fail, as they would in a crowded 32-bit process:
# a damaged FAT32 boot sector may ask for a FAT of up to 1 GiB, and the reader
# must then give a result, not spend the run poisoning shadow memory.
ASAN_OPTIONS="max_allocation_size_mb=64:allocator_may_return_null=1${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
export ASAN_OPTIONS
status=0
"$fuzzer" -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=2560 -timeout=10 \
  -print_final_stats=1 -artifact_prefix="$work/artifacts/" \
  "$work/corpus" "$work/seeds" >"$work/fuzz.log" 2>&1 || status=$?
grep -E "^Done [0-9]+ runs|stat::number_of_executed_units|ERROR|SUMMARY" "$work/fuzz.log" || true
if [ "$status" -ne 0 ]; then
  tail -n 40 "$work/fuzz.log"
fi
exit "$status"
