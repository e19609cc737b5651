#!/usr/bin/env bash
# The launcher's command-line modes, its manufacturer gate and its single
# instance: the real program under Wine, with a stand-in FwMode.exe beside it
# that records its arguments and working folder.
#
# What Wine does not do, and how the cases allow for it:
# - Its Task Scheduler writes the task as XML under C:\windows\system32\tasks,
#   but leaves out the actions (write_actions is a stub), the triggers (neither
#   a logon trigger, type 9, nor a boot trigger, type 8, is implemented), the
#   principal (id, logon type and run level are stubs), the idle settings and
#   the restart interval; the user id given at registration (SYSTEM's SID,
#   S-1-5-18, as a service account) is accepted ("Return : 0") but not written
#   either. The cases check the values Wine does keep, and from Wine's trace
#   what the binding asked of the scheduler; the rest is checked on the
#   simulated machine's task store.
# - The Schedule service of a fresh prefix refuses the first starts (time-outs,
#   "database locked"), so it is started here until it reports success.
# - WMI has no BitLocker namespace and no firmware device exists: "/AUTO" can
#   only take its "device absent" path here.
# - The message box's text is read from Wine's msgbox trace; xdotool sees
#   only its title.
. "$(dirname "$0")/lib.sh"
e2e_init

TAVU="TAVU Computer Inc."
OTHER="Other Maker Ltd."
DIR_WIN='C:\Program Files\TAVU\TAVU Recovery Launcher'
LAUNCHER="$DIR_WIN\\TAVU Recovery.exe"
DIR="$(e2e_c 'Program Files')/TAVU/TAVU Recovery Launcher"
RUNS="$DIR/FwMode.runs.txt"
LOG=$(e2e_c 'Windows/Temp/TAVU F9 Recovery.log')
TRACE=$E2E_WORK/launcher-trace.log

mkdir -p "$DIR"
cp "$E2E_BIN/TAVU Recovery.exe" "$DIR/"
cp "$E2E_TEST_BIN/FwMode.exe" "$DIR/"
rm -f "$DIR/FwModeUpdate.exe"

# launcher VENDOR SECONDS ARGS...: one run to its end; exit code in E2E_RC,
# Wine's trace of the channels in $CHANNELS (if any) in $TRACE.
launcher() {
  local vendor=$1 seconds=$2
  shift 2
  WINEDEBUG=${CHANNELS:--all} e2e_vendor "$vendor" timeout "$seconds" "$E2E_WINE" "$LAUNCHER" "$@" \
    </dev/null >"$TRACE" 2>&1
  E2E_RC=$?
}
# launcher_start VENDOR ARGS...: in the background; PID in E2E_PID.
launcher_start() {
  local vendor=$1
  shift
  WINEDEBUG=${CHANNELS:--all} e2e_vendor "$vendor" "$E2E_WINE" "$LAUNCHER" "$@" </dev/null >"$TRACE" 2>&1 &
  E2E_PID=$!
}
task_file() { e2e_c 'Windows/System32/Tasks/TAVU F9 Recovery'; }
# The log's lines without their time stamps; empty without a log.
log_lines() {
  [ -f "$LOG" ] || return 0
  tail -c +3 "$LOG" | iconv -f UTF-16LE -t UTF-8 | tr -d '\r' |
    sed -E 's/^\[[0-9]{4}\/[0-9]{2}\/[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\]\t//'
}
runs() { cat "$RUNS" 2>/dev/null; }
clean() {
  rm -f "$RUNS" "$LOG"
  rm -f "$(task_file)"
}
window_count() { xdotool search --name "^$1\$" 2>/dev/null | wc -l; }

e2e_start_scheduler

T=$'\t'
ADD_LINES="[AddTask]${T}Task Name: TAVU F9 Recovery
[AddTask]${T}Task Path: $LAUNCHER, Task Arg: /CHECK
[AddTask]${T}Return : 0"
DELETE_OK="[DeleteTask]${T}Task Name: TAVU F9 Recovery
[DeleteTask]${T}Return : 0"
DELETE_NONE="[DeleteTask]${T}Task Name: TAVU F9 Recovery
[DeleteTask]${T}Return : 1"

# /ENABLE: the task is registered, then the tool runs once in the launcher's folder.
clean
CHANNELS=+taskschd launcher "$TAVU" 60 /ENABLE
check_eq "/ENABLE exit code" 0 "$E2E_RC"
# Each trigger is asked for, the boot trigger too when Wine refuses the first.
check_eq "/ENABLE asked for a logon trigger, then a boot trigger" "9 8" \
  "$(grep -oE 'TriggerCollection_Create \([0-9A-Fa-f]+\)->\([0-9]+ ' "$TRACE" | sed -E 's/.*->\(//' | tr -d ' ' | paste -sd' ')"
check "/ENABLE gave the principal the service account logon type" \
  grep -qE 'Principal_put_LogonType [0-9A-Fa-f]+,5: stub' "$TRACE"
check "/ENABLE registered the task for SYSTEM by its SID, as a service account" \
  grep -qE 'TaskFolder_RegisterTaskDefinition .*\{VT_BSTR: L"S-1-5-18"\},[0-9A-Fa-f]+ \{VT_EMPTY\},5,' "$TRACE"
check_eq "/ENABLE ran the tool once with /enable in the launcher's folder" "/enable|$DIR_WIN" "$(runs)"
check "/ENABLE registered the task" test -f "$(task_file)"
xml=$(cat "$(task_file)" 2>/dev/null | tr -d '\r')
for value in '<Author>Kelvora Computer INC.</Author>' '<AllowStartOnDemand>true</AllowStartOnDemand>' \
  '<StartWhenAvailable>true</StartWhenAvailable>' '<DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>' \
  '<StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>' '<AllowHardTerminate>false</AllowHardTerminate>' \
  '<ExecutionTimeLimit>PT0S</ExecutionTimeLimit>'; do
  check "task holds $value" grep -qF "$value" <<<"$xml"
done
check_eq "/ENABLE log lines" "$ADD_LINES" "$(log_lines)"

# /disable (lower case) removes it again and switches the tool off.
rm -f "$RUNS" "$LOG"
launcher "$TAVU" 60 /disable
check_eq "/disable exit code" 0 "$E2E_RC"
check_eq "/disable ran the tool with /disable" "/disable|$DIR_WIN" "$(runs)"
check "/disable removed the task" test ! -e "$(task_file)"
check_eq "/disable log lines" "$DELETE_OK" "$(log_lines)"

# /CHECK, as the task itself starts the launcher, does the same.
clean
launcher "$TAVU" 60 /ENABLE
rm -f "$RUNS" "$LOG"
launcher "$TAVU" 60 /CHECK
check_eq "/CHECK exit code" 0 "$E2E_RC"
check_eq "/CHECK ran the tool with /disable" "/disable|$DIR_WIN" "$(runs)"
check "/CHECK removed the task" test ! -e "$(task_file)"
check_eq "/CHECK log lines" "$DELETE_OK" "$(log_lines)"

# /DISABLE without a task: the deletion fails, the tool still runs.
clean
launcher "$TAVU" 60 /DISABLE
check_eq "/DISABLE without a task: exit code" 0 "$E2E_RC"
check_eq "/DISABLE without a task: the tool still ran" "/disable|$DIR_WIN" "$(runs)"
check_eq "/DISABLE without a task: log lines" "$DELETE_NONE" "$(log_lines)"

# A launcher started from a Downloads folder, a planted FwMode.exe beside it:
# that tool never runs, and neither does the task start that launcher; the
# installed launcher's own tool and file are used instead.
clean
DL_WIN='C:\users\Public\Downloads'
DL="$(e2e_c 'users/Public/Downloads')"
mkdir -p "$DL"
cp "$E2E_BIN/TAVU Recovery.exe" "$E2E_TEST_BIN/FwMode.exe" "$DL/"
rm -f "$DL/FwMode.runs.txt"
LAUNCHER="$DL_WIN\\TAVU Recovery.exe" launcher "$TAVU" 60 /ENABLE
check_eq "from Downloads: exit code" 0 "$E2E_RC"
check_eq "from Downloads: the planted tool did not run" "" "$(cat "$DL/FwMode.runs.txt" 2>/dev/null)"
check_eq "from Downloads: the installed tool ran" "/enable|$DIR_WIN" "$(runs)"
check_eq "from Downloads: the task starts the installed launcher" "$ADD_LINES" "$(log_lines)"
rm -rf "$DL"

# Only a longer-named tool: the task changes, the launch of FwMode.exe fails
# without any box of the shell's own, and the launcher ends by itself.
clean
mv "$DIR/FwMode.exe" "$DIR/FwModeUpdate.exe"
launcher "$TAVU" 20 /ENABLE
check_eq "only FwModeUpdate.exe: exit code, no box waiting" 0 "$E2E_RC"
check_eq "only FwModeUpdate.exe: the task was still registered" "$ADD_LINES" "$(log_lines)"
check_eq "only FwModeUpdate.exe: nothing ran" "" "$(runs)"
mv "$DIR/FwModeUpdate.exe" "$DIR/FwMode.exe"

# Another manufacturer: the refusal is shown before any mode runs.
clean
CHANNELS=+msgbox launcher_start "$OTHER" /CHECK
box=$(e2e_find_window "Recovery Aborted" 30)
check "other manufacturer: \"Recovery Aborted\" box appears" test -n "$box"
check "other manufacturer: the box holds the refusal" grep -qF \
  'L"Recovery partition cannot be found! Recovery process is aborted. Please contact TAVU Service Center for further assistance."' \
  "$TRACE"
e2e_screenshot "$E2E_WORK/launcher-refusal.png"
xdotool key Return
e2e_wait "$E2E_PID" 20
check_eq "other manufacturer: exit code after the box is closed" 1 "$E2E_RC"
check_eq "other manufacturer: the tool did not run" "" "$(runs)"
check_eq "other manufacturer: no task operation" "" "$(log_lines)"

# /AUTO asks the control device, which Wine does not have, and ends quietly.
clean
CHANNELS=+file launcher "$TAVU" 10 /AUTO
check_eq "/AUTO without the device: exit code within 10 s" 0 "$E2E_RC"
check "/AUTO opened the control device for reading and writing" grep -qF \
  'CreateFileW L"\\\\.\\QVXACPI" GENERIC_READ GENERIC_WRITE FILE_SHARE_READ FILE_SHARE_WRITE  creation 3' "$TRACE"
check_eq "/AUTO: no window, no tool" "0|" "$(window_count 'TAVUF9Recovery')|$(runs)"
CHANNELS=+file launcher "$TAVU" 10 /auto
check "/auto is /AUTO" grep -qF 'QVXACPI' "$TRACE"
CHANNELS=+file launcher "$TAVU" 10 "/AUTO /LOG"
check "/AUTO /LOG does not ask the device" test "$(grep -c QVXACPI "$TRACE")" -eq 0

# A second launcher while the first holds the mutex (behind its refusal box).
clean
launcher_start "$OTHER" /CHECK
first=$E2E_PID
e2e_find_window "Recovery Aborted" 30 >/dev/null
started=$(date +%s)
launcher "$TAVU" 20 /ENABLE
took=$(($(date +%s) - started))
check_eq "second launcher: exit code" 0 "$E2E_RC"
check "second launcher: ends at once (${took}s)" test "$took" -le 10
check_eq "second launcher: did nothing" "|" "$(runs)|$(log_lines)"
check_eq "second launcher: showed nothing" 1 "$(window_count 'Recovery Aborted')"
xdotool key Return
e2e_wait "$first" 20
check_eq "first launcher: exit code" 1 "$E2E_RC"

clean
e2e_finish
