#!/usr/bin/env bash
# The launcher's start-up against the least a window program does: how long
# each takes from CreateProcessW until its window is visible, measured under
# Wine by tests/win/startup_probe.exe (the median of RUNS starts, the two
# programs taking turns), and the ratio. Both are built by the same toolchain
# and run on a TAVU machine (WMI's manufacturer), in the e2e harness's prefix.
#   bench/window_startup.sh [RUNS]       (default 15; needs the win32 or win64 build)
# Prints "launcher=MS minimal=MS ratio=R"; exit code 1 when R is above
# TAVU_STARTUP_RATIO (default 1.5).
set -u
ROOT=$(cd "$(dirname "$0")/.." && pwd)
export E2E_WORK=${E2E_WORK:-$ROOT/build/e2e}
. "$ROOT/tests/e2e/lib.sh"
e2e_init
RUNS=${1:-15}
LIMIT=${TAVU_STARTUP_RATIO:-1.5}
LAUNCHER=$(winepath -w "$E2E_BIN/TAVU Recovery.exe" 2>/dev/null)
MINIMAL=$(winepath -w "$E2E_TEST_BIN/minimal_window.exe" 2>/dev/null)

median_of() {  # TITLE EXE: one start, its time in ms
  e2e_vendor TAVU timeout 120 "$E2E_WINE" "$E2E_TEST_BIN/startup_probe.exe" 1 "$1" "$2" </dev/null 2>/dev/null |
    tr -d '\r' | sed -n 's/^median=//p'
}

# One warm-up start of each: the first start of a session loads what every
# later one finds in memory.
median_of MinimalWindow "$MINIMAL" >/dev/null
median_of TAVUF9Recovery "$LAUNCHER" >/dev/null
launcher=()
minimal=()
for i in $(seq 1 "$RUNS"); do
  minimal+=("$(median_of MinimalWindow "$MINIMAL")")
  launcher+=("$(median_of TAVUF9Recovery "$LAUNCHER")")
done
med() { printf '%s\n' "$@" | grep -v '^$' | sort -n | awk '{ v[NR] = $1 } END { print (NR ? v[int((NR + 1) / 2)] : "") }'; }
L=$(med "${launcher[@]}")
M=$(med "${minimal[@]}")
if [ -z "$L" ] || [ -z "$M" ]; then
  echo "window_startup: a program showed no window (launcher: ${launcher[*]}; minimal: ${minimal[*]})" >&2
  exit 2
fi
ratio=$(awk -v l="$L" -v m="$M" 'BEGIN { printf "%.2f", l / m }')
echo "launcher=$L minimal=$M ratio=$ratio ($E2E_ARCH, $RUNS starts each; launcher: ${launcher[*]}; minimal: ${minimal[*]})"
awk -v r="$ratio" -v lim="$LIMIT" 'BEGIN { exit !(r <= lim) }'
