#!/usr/bin/env bash
# The real TvPatchDowngrade.exe under Wine: the launcher it finds installed,
# what it writes over it, its log, its exit code.
. "$(dirname "$0")/lib.sh"
e2e_init

PATCHER="$E2E_BIN/TvPatchDowngrade.exe"
BUILT="$E2E_BIN/TAVU Recovery.exe"
DIR=$(e2e_c "Program Files/TAVU/TAVU Recovery Launcher")
TARGET="$DIR/TAVU Recovery.exe"
LOG=$(e2e_c Windows/Temp/TvPatchDowngrade.log)

# The log's lines without time stamps, "|" for the tab after the tag.
log_lines() {
  [ -f "$LOG" ] || return 0
  tail -c +3 "$LOG" | iconv -f UTF-16LE -t UTF-8 | tr -d '\r' |
    sed -E 's/^\[[0-9]{4}\/[0-9]{2}\/[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\]\t//; s/\t/|/'
}

# One run on a fresh log; $1: file to install (empty: none), $2: "ro" for a
# read-only installed file.
patch_with() {
  rm -f "$LOG"
  rm -rf "$DIR"
  if [ -n "$1" ]; then
    mkdir -p "$DIR"
    cp "$1" "$TARGET"
    if [ "${2:-}" = ro ]; then chmod a-w "$TARGET"; fi
  fi
  e2e_run 120 "$PATCHER"
}

nl=$'\n'
# Under Wine, \\.\PHYSICALDRIVE0 opens but its layout cannot be read, and
# there is no disk 1: one disk line, nothing more from the scan.
scan="[FixDowngarde]|Disk: 0"

v6=$(e2e_launcher_of_version "$E2E_WORK" 1.0.0.6)
v10=$(e2e_launcher_of_version "$E2E_WORK" 1.0.0.10)
v7=$(e2e_launcher_of_version "$E2E_WORK" 1.0.0.7)

echo "  older launcher 1.0.0.6"
patch_with "$v6"
check_eq "exit code" 0 "$E2E_RC"
check "installed file equals the built launcher byte for byte" cmp -s "$TARGET" "$BUILT"
check_eq "log" "$scan${nl}[FixDowngarde]|Find TAVU Recovery${nl}[FixDowngarde]|File version is older, copy file" "$(log_lines)"
check "no temporary file left" test ! -e "$TARGET.new"

echo "  newer launcher 1.0.0.10"
patch_with "$v10"
check_eq "exit code" 0 "$E2E_RC"
check "installed file unchanged" cmp -s "$TARGET" "$v10"
check_eq "log" "$scan${nl}[FixDowngarde]|Find TAVU Recovery${nl}[FixDowngarde]|File version is same or newer, do not copy" "$(log_lines)"

echo "  same launcher 1.0.0.7"
patch_with "$v7"
check_eq "exit code" 0 "$E2E_RC"
check "installed file unchanged" cmp -s "$TARGET" "$v7"
check "log says do not copy" sh -c 'printf "%s\n" "$1" | grep -qx "\[FixDowngarde\]|File version is same or newer, do not copy"' sh "$(log_lines)"

echo "  launcher without version information"
printf 'not a program' >"$E2E_WORK/unversioned.exe"
patch_with "$E2E_WORK/unversioned.exe"
check_eq "exit code" 0 "$E2E_RC"
check "replaced by the built launcher" cmp -s "$TARGET" "$BUILT"
check "log says copy" sh -c 'printf "%s\n" "$1" | grep -qx "\[FixDowngarde\]|File version is older, copy file"' sh "$(log_lines)"

echo "  no launcher installed"
patch_with ""
check_eq "exit code" 0 "$E2E_RC"
check "nothing written" test ! -e "$DIR"
check_eq "log" "$scan" "$(log_lines)"

echo "  read-only older launcher"
patch_with "$v6" ro
check_eq "exit code" 0 "$E2E_RC"
# The flag is cleared and said so, never left to keep an old launcher unsaid.
check "replaced by the built launcher" cmp -s "$TARGET" "$BUILT"
check "no temporary file left" test ! -e "$TARGET.new"
check "log says the flag is cleared" sh -c 'printf "%s\n" "$1" | grep -qx "\[FixDowngarde\]|The installed TAVU Recovery was read-only, the flag is cleared"' sh "$(log_lines)"
check "log says copy" sh -c 'printf "%s\n" "$1" | grep -qx "\[FixDowngarde\]|File version is older, copy file"' sh "$(log_lines)"
chmod u+w "$TARGET" 2>/dev/null

echo "  the patcher's own version block"
e2e_run 60 "$E2E_TEST_BIN/version_probe.exe" "Z:$PATCHER"
check_eq "patcher FileVersion" "FileVersion=1.0.0.1" "$(tail -n1 "$E2E_WORK/run.log" | tr -d '\r')"
e2e_finish
