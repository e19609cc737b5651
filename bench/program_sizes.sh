#!/usr/bin/env bash
# Builds the win32 preset and prints, for each shipped program, every section's
# size, the total of code and data (without .rsrc and .bss), and the largest
# contributors named by the link map. Usage: bench/program_sizes.sh [--no-build] [--top N]
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
build=1
top=5
while [ $# -gt 0 ]; do
  case $1 in
    --no-build) build=0; shift ;;
    --top) top=$2; shift 2 ;;
    *) echo "usage: $0 [--no-build] [--top N]" >&2; exit 2 ;;
  esac
done
if [ "$build" -eq 1 ]; then
  cmake --preset win32 >/dev/null
  cmake --build --preset win32 --target tavu_recovery tavu_patch_downgrade tavu_recovery_check >/dev/null
fi
for name in "TAVU Recovery" TvPatchDowngrade TavuRecoveryCheck; do
  python3 bench/program_sizes.py "build/win32/bin/$name.exe" "build/win32/maps/$name.map" --top "$top"
  echo
done
