# Shared by scripts/test and scripts/demo: short progress lines, full logs in files.
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
LOGS=$ROOT/build/logs
mkdir -p "$LOGS"

phase() { printf '== %s\n' "$*"; }

# step NAME LOGFILE CMD...: runs CMD with its output in LOGFILE; on failure shows
# the log's tail and returns non-zero.
step() {
  local name=$1 log=$2
  shift 2
  local start=$SECONDS
  if "$@" >"$log" 2>&1; then
    printf '   %-34s ok (%ds)  log: %s\n' "$name" $((SECONDS - start)) "${log#$ROOT/}"
    return 0
  fi
  printf '   %-34s FAILED (%ds)  log: %s\n' "$name" $((SECONDS - start)) "${log#$ROOT/}"
  tail -n 30 "$log" | sed 's/^/      | /'
  return 1
}

build_preset() {
  local preset=$1
  step "build $preset" "$LOGS/build-$preset.log" \
    sh -c "cmake --preset $preset && cmake --build --preset $preset" </dev/null
}
