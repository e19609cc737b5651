# Shared by scripts/test and scripts/demo: short progress lines, full logs in files.
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
LOGS=$ROOT/build/logs
mkdir -p "$LOGS"

phase() { printf '== %s\n' "$*"; }

# step NAME LOGFILE CMD...: runs CMD with its output in LOGFILE; on failure shows
# the log's tail and returns non-zero. The time it took is left in STEP_SECONDS.
step() {
  local name=$1 log=$2
  shift 2
  local start=$SECONDS status=0
  "$@" >"$log" 2>&1 || status=$?
  STEP_SECONDS=$((SECONDS - start))
  if [ "$status" -eq 0 ]; then
    printf '   %-34s ok (%ds)  log: %s\n' "$name" "$STEP_SECONDS" "${log#$ROOT/}"
    return 0
  fi
  # One block, so that lanes running side by side do not interleave it.
  { printf '   %-34s FAILED (%ds)  log: %s\n' "$name" "$STEP_SECONDS" "${log#$ROOT/}"
    tail -n 30 "$log" | sed 's/^/      | /'; } | cat
  return 1
}

# build_preset PRESET [TARGET...]: configures and builds the preset (only the
# targets named, when any are).
build_preset() {
  local preset=$1
  shift
  local targets=()
  [ $# -gt 0 ] && targets=(--target "$@")
  step "build $preset" "$LOGS/build-$preset.log" \
    sh -c 'cmake --preset "$0" && cmake --build --preset "$0" "$@"' "$preset" "${targets[@]}" </dev/null
}
