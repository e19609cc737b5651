#!/usr/bin/env bash
# The log writer and the version block, on Windows (Wine).
. "$(dirname "$0")/lib.sh"
e2e_init

# Log writer: a folder that does not exist yet, three lines.
rm -rf "$(e2e_c Windows/Temp/tavu-e2e)"
e2e_run 60 "$E2E_TEST_BIN/log_probe.exe"
check_eq "log probe exit code" 0 "$E2E_RC"
LOG=$(e2e_c Windows/Temp/tavu-e2e/probe.log)
check "log file created with its folder" test -f "$LOG"
check_eq "log starts with FF FE" "fffe" "$(head -c2 "$LOG" | od -An -tx1 | tr -d ' \n')"
text=$(tail -c +3 "$LOG" | iconv -f UTF-16LE -t UTF-8 | tr '\t\r' '|~')
stamp='\[[0-9]{4}/[0-9]{2}/[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\]'
check "three CR LF lines with stamp, tag and message" sh -c '
  printf "%s\n" "$1" | grep -E -x -q "$2\\|\\[AddTask\\]\\|Task Name: TAVU F9 Recovery~" &&
  printf "%s\n" "$1" | grep -E -x -q "$2\\|no tag~" &&
  printf "%s\n" "$1" | grep -E -x -q "$2\\|\\[AddTask\\]\\|Return : -1~" &&
  [ "$(printf "%s\n" "$1" | wc -l)" -eq 3 ]' sh "$text" "$stamp"

# What a user planted at the log's name before the run, through the real
# binding: a hard link to another file (Wine gives the link count), and a file
# of another Unix user (whose owner Wine gives as Anonymous Logon). The other
# file keeps its bytes and the log is made anew. Wine shows a host symbolic
# link as the file it leads to, never as a reparse point, so symbolic links are
# left to the simulated machine.
VICTIM=$(e2e_c Windows/Temp/tavu-e2e)/victim.dat
printf '\377\376[2014/03/01 08:00:00]\tprecious\r\n' >"$VICTIM"
cp "$VICTIM" "$E2E_WORK/victim.expected"
rm -f "$LOG"
ln "$VICTIM" "$LOG"
e2e_run 60 "$E2E_TEST_BIN/log_probe.exe"
check_eq "hard link at the log's name: exit code" 0 "$E2E_RC"
check "hard link at the log's name: the other file unchanged" cmp -s "$VICTIM" "$E2E_WORK/victim.expected"
check_eq "hard link at the log's name: a log of one name" 1 "$(stat -c %h "$LOG")"
check_eq "hard link at the log's name: the mark and three lines" "fffe 3" \
  "$(head -c2 "$LOG" | od -An -tx1 | tr -d ' \n') $(tail -c +3 "$LOG" | iconv -f UTF-16LE -t UTF-8 | grep -c '^\[')"
rm -f "$LOG"
cp "$VICTIM" "$LOG"
if chown nobody "$LOG" 2>/dev/null; then
  e2e_run 60 "$E2E_TEST_BIN/log_probe.exe"
  check_eq "another user's file at the log's name: exit code" 0 "$E2E_RC"
  check_eq "another user's file at the log's name: replaced by a log with three lines" "$(id -un) 3" \
    "$(stat -c %U "$LOG") $(tail -c +3 "$LOG" | iconv -f UTF-16LE -t UTF-8 | grep -c '^\[')"
fi

# Version blocks of the shipped 32-bit programs, as Windows reads them.
e2e_run 60 "$E2E_TEST_BIN/version_probe.exe" "Z:$E2E_ROOT/build/win32/bin/TAVU Recovery.exe"
check_eq "launcher FileVersion" "FileVersion=1.0.0.7" "$(tail -n1 "$E2E_WORK/run.log" | tr -d '\r')"
e2e_run 60 "$E2E_TEST_BIN/version_probe.exe" "Z:$E2E_ROOT/build/win32/bin/TvPatchDowngrade.exe"
check_eq "patcher FileVersion" "FileVersion=1.0.0.1" "$(tail -n1 "$E2E_WORK/run.log" | tr -d '\r')"

# Resource "EXE" 129 of the shipped patcher, through FindResourceW.
OUT=$E2E_WORK/embedded.exe
rm -f "$OUT"
e2e_run 60 "$E2E_TEST_BIN/resource_probe.exe" "Z:$E2E_ROOT/build/win32/bin/TvPatchDowngrade.exe" "Z:$OUT"
check_eq "resource probe exit code" 0 "$E2E_RC"
check "resource EXE 129 equals the launcher of the same build" cmp -s "$OUT" "$E2E_ROOT/build/win32/bin/TAVU Recovery.exe"
e2e_finish
