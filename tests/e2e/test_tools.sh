#!/usr/bin/env bash
# Windows' tools as the launcher starts them, through its runner and the real
# Win32 binding, from a process whose environment the owner has changed: the
# native cmd.exe (through Sysnative for a 32-bit program on 64-bit Windows)
# with an environment of Windows' own, the exit code, and 2 for a missing
# program. (Wine's cmd.exe runs no AutoRun command, with /d or without: that
# part is shown on the simulated machine only.)
. "$(dirname "$0")/lib.sh"
e2e_init

TEMP_DIR=$(e2e_c 'windows/temp')
ENV_FILE="$TEMP_DIR/tool_probe.env"
BITS_FILE="$TEMP_DIR/tool_probe.bits"
rm -f "$ENV_FILE" "$BITS_FILE"
# Only a 32-bit process sees the Sysnative alias.
printf '%s\r\n' '@echo off' 'set > "C:\windows\temp\tool_probe.env"' \
  'if exist C:\windows\sysnative\cmd.exe (echo wow> "C:\windows\temp\tool_probe.bits") else (echo native> "C:\windows\temp\tool_probe.bits")' \
  >"$TEMP_DIR/tool_probe.cmd"

e2e_run 120 "$E2E_TEST_BIN/tool_probe.exe" 'C:\windows\temp\tool_probe.cmd'
check_eq "tool probe exit code" 0 "$E2E_RC"
out=$(tr -d '\r' <"$E2E_WORK/run.log")
line() { printf '%s\n' "$out" | grep -E "^$1=" | tail -n1; }
# The 32-bit programs run under WOW64 and start the tools through Sysnative.
check_eq "under WOW64" "wow64=$([ "$E2E_ARCH" = win32 ] && echo 1 || echo 0)" "$(line wow64)"
check_eq "the batch ran" "batch=0" "$(line batch)"
check_eq "the command processor is the native 64-bit one" native "$(tr -d '\r ' <"$BITS_FILE" 2>/dev/null)"
check_eq "the tool's exit code comes back" "exit5=5" "$(line exit5)"
check_eq "a missing program: file not found" "missing=2" "$(line missing)"
env_text=$(tr -d '\r' <"$ENV_FILE" 2>/dev/null)
env_line() { printf '%s\n' "$env_text" | grep -i -E "^$1=" | head -n1 | cut -d= -f2-; }
check_eq "PATHEXT is Windows' default" ".COM;.EXE;.BAT;.CMD;.VBS;.VBE;.JS;.JSE;.WSF;.WSH;.MSC" "$(env_line PATHEXT)"
# The Windows folder as Windows names it: Wine says C:\windows, Windows C:\Windows or C:\WINDOWS.
check_eq "PATH holds the system folders only" 'c:\windows\system32;c:\windows;c:\windows\system32\wbem' \
  "$(env_line PATH | tr '[:upper:]' '[:lower:]')"
check_eq "nothing of the owner's environment" "" "$(env_line TAVU_OWNER_MARK)"
e2e_finish
