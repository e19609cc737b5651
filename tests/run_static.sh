#!/usr/bin/env bash
# Run by scripts/test: clang-tidy (with the checked-in .clang-tidy) and cppcheck
# on the portable code: common/, launcher/ and patcher/ without the *_win32.cpp
# files, and sim/. Uses build/native/compile_commands.json (configures the
# native preset when it is missing). One count per tool; ends with
# "static: N passed, N failed".
set -u
cd "$(dirname "$0")/.."
db=build/native/compile_commands.json
if [ ! -f "$db" ]; then
  cmake --preset native >/dev/null || { echo "static: 0 passed, 2 failed"; exit 1; }
fi
mapfile -t files < <(find common launcher patcher sim -name '*.cpp' ! -name '*_win32.cpp' | sort)
passed=0
failed=0

tidy_log=build/native/clang-tidy.log
# A file whose preprocessed text, flags, .clang-tidy and clang-tidy are those of
# a clean run before (in any clone) is clean again: its verdict is kept in a
# folder outside the repository, as ccache keeps objects, and only the others
# are analysed. TAVU_TIDY_CACHE= (empty) analyses every file.
cache=${TAVU_TIDY_CACHE-${XDG_CACHE_HOME:-$HOME/.cache}/tavu-clang-tidy}
if ! command -v clang-tidy >/dev/null 2>&1; then
  echo "clang-tidy is not installed"
  failed=$((failed + 1))
else
  todo=("${files[@]}") keys=()
  if [ -n "$cache" ] && mkdir -p "$cache" 2>/dev/null; then
    find "$cache" -type f -mtime +30 -delete 2>/dev/null
    todo=()
    while read -r f k; do
      if [ "$k" != none ] && [ -e "$cache/$k" ]; then
        touch "$cache/$k"
      else
        todo+=("$f")
        [ "$k" != none ] && keys+=("$k")
      fi
    done < <(python3 tests/static_keys.py "$db" "$PWD" "${files[@]}")
  fi
  # Two at a time: the machine is shared. Any diagnostic is an error (.clang-tidy
  # sets WarningsAsErrors), so the exit status alone decides.
  : >"$tidy_log"
  if [ ${#todo[@]} -eq 0 ] || printf '%s\n' "${todo[@]}" |
      xargs -P2 -n4 clang-tidy -p build/native --quiet >"$tidy_log" 2>&1; then
    for k in "${keys[@]}"; do : >"$cache/$k"; done
    echo "clang-tidy: ${#files[@]} files clean (${#todo[@]} analysed, the others unchanged since a clean run)"
    passed=$((passed + 1))
  else
    grep -E 'error:|warning:' "$tidy_log" | sort -u | head -n 60
    echo "clang-tidy: findings (full output in $tidy_log)"
    failed=$((failed + 1))
  fi
fi

cpp_log=build/native/cppcheck.log
if ! command -v cppcheck >/dev/null 2>&1; then
  echo "cppcheck is not installed"
  failed=$((failed + 1))
else
  if cppcheck --quiet --std=c++20 --language=c++ --enable=warning,performance,portability \
      --inline-suppr --error-exitcode=1 -j2 -I. \
      --suppress=missingIncludeSystem --suppress=unmatchedSuppression \
      --template='{file}:{line}: {severity}: {message} [{id}]' \
      "${files[@]}" >"$cpp_log" 2>&1; then
    echo "cppcheck: ${#files[@]} files clean"
    passed=$((passed + 1))
  else
    head -n 60 "$cpp_log"
    echo "cppcheck: findings (full output in $cpp_log)"
    failed=$((failed + 1))
  fi
fi

echo "static: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
