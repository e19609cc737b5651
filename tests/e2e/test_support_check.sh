#!/usr/bin/env bash
# The real TavuRecoveryCheck.exe under Wine on a TAVU machine. Wine opens
# \\.\PHYSICALDRIVE0 but cannot read its layout, so the check must end as the
# launcher would: abort with the not-found message, naming disk 0 and the
# Windows error. It reports the logon task and the installed launcher's
# FileVersion as they are, and changes nothing.
. "$(dirname "$0")/lib.sh"
e2e_init

CHECK="$E2E_BIN/TavuRecoveryCheck.exe"
TAVU="TAVU Computer Inc."
DIR_WIN='C:\Program Files\TAVU\TAVU Recovery Launcher'
DIR="$(e2e_c 'Program Files')/TAVU/TAVU Recovery Launcher"
TASK=$(e2e_c 'Windows/System32/Tasks/TAVU F9 Recovery')
OUT=$E2E_WORK/check.out

ANSWERS=$E2E_WORK/check-answers.txt
: >"$ANSWERS"
# check_run ARGS...: the check's standard output in $OUT, exit code in E2E_RC.
# Every answer in JSON is kept in $ANSWERS, validated against the published
# schema at the end.
check_run() {
  e2e_vendor "$TAVU" timeout 120 "$E2E_WINE" "$CHECK" "$@" </dev/null >"$OUT" 2>>"$E2E_WORK/run.log"
  E2E_RC=$?
  if printf '%s\n' "$@" | grep -Eqix -- '(/|-|--)(json|summary)'; then cat "$OUT" >>"$ANSWERS"; fi
}
# field EXPR: a value of the JSON in $OUT, read by python.
field() { python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); print(eval(sys.argv[2]))' "$OUT" "$1" 2>&1; }

e2e_start_scheduler
rm -rf "$DIR"
mkdir -p "$DIR"
# A stand-in installed launcher: the built one, its version set to 1.0.0.6.
cp "$E2E_BIN/TAVU Recovery.exe" "$DIR/TAVU Recovery.exe"
e2e_run 60 "$E2E_TEST_BIN/set_file_version.exe" "Z:$DIR/TAVU Recovery.exe" 1.0.0.6
cp "$E2E_TEST_BIN/FwMode.exe" "$DIR/"
rm -f "$TASK"

echo "  /? and a wrong argument"
check_run '/?'
check_eq "/? exit code" 0 "$E2E_RC"
check "/? prints the usage" grep -q 'TavuRecoveryCheck /json' "$OUT"
e2e_vendor "$TAVU" timeout 120 "$E2E_WINE" "$CHECK" /nonsense </dev/null >"$OUT" 2>"$E2E_WORK/check.err"
check_eq "unknown argument: exit code 2" 2 "$?"
check "the unknown argument is named" grep -q 'unknown argument: /nonsense' "$E2E_WORK/check.err"
check_run -h
check_eq "-h exit code" 0 "$E2E_RC"
check_run --json
check_eq "--json: one JSON object with the verdict" abort "$(field "d['verdict']")"
check_eq "the check's version and the Windows build are named" True \
  "$(field "bool(d['about']['version']) and d['about']['windows_build'] is not None")"

echo "  the check on a TAVU machine"
check_run /json
check_eq "exit code 1: the launcher would abort" 1 "$E2E_RC"
check_eq "verdict" abort "$(field "d['verdict']")"
check_eq "the launcher's not-found message" \
  "Recovery partition cannot be found! Recovery process is aborted. Please contact TAVU Service Center for further assistance." \
  "$(field "d['abort_message']")"
check "the reason names disk 0 and the Windows error with Windows' own text" \
  sh -c 'printf "%s\n" "$1" | grep -Eq "^The partition table of disk 0 could not be read \(Windows error [0-9]+ \(.+\)\)\.$"' \
  sh "$(field "d['reason']")"
check_eq "the manufacturer as WMI reports it" "$TAVU|True" "$(field "'%s|%s' % (d['manufacturer']['text'], d['manufacturer']['accepted'])")"
check_eq "the failing disk in the JSON" 0 "$(field "d['recovery_partition']['failure']['disk']")"
check_eq "no task yet" False "$(field "d['logon_task']")"
check_eq "the installed launcher's FileVersion" "1.0.0.6|replace" \
  "$(field "'%s|%s' % (d['installed_launcher']['version'], d['installed_launcher']['patcher_would'])")"
check_eq "FwMode.exe is seen" True "$(field "d['fwmode_tool']['present']")"

echo "  what a fleet's tools read"
RECORD_KEY='HKLM\SOFTWARE\TAVU\RecoveryCheck'
# reg_value NAME: the value's type and data as reg.exe prints them (the 64-bit view).
reg_value() {
  timeout 60 "$E2E_WINE" reg query "$RECORD_KEY" /v "$1" /reg:64 </dev/null 2>/dev/null | tr -d '\r' |
    sed -n "s/^ *$1 *\(REG_[A-Z]*\) *\(.*\)\$/\1 \2/p"
}
timeout 60 "$E2E_WINE" reg delete "$RECORD_KEY" /f /reg:64 </dev/null >/dev/null 2>&1
check_run /json
check_eq "the full JSON names the reason as a word" partition-table-unreadable "$(field "d['reason_code']")"
check "the disk's Windows error as a number, its text apart" \
  python3 -c 'import json,sys; f=json.load(open(sys.argv[1]))["recovery_partition"]["failure"]; sys.exit(not (isinstance(f["windows_error"], int) and f["windows_error"] > 0 and f["windows_error_text"]))' "$OUT"
check "about.time carries the UTC offset" \
  sh -c 'printf "%s\n" "$1" | grep -Eq "^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}[+-][0-9]{2}:[0-9]{2}$"' sh "$(field "d['about']['time']")"
check_run /summary
check_eq "/summary: exit code 1" 1 "$E2E_RC"
check_eq "/summary: one line of at most 512 characters" "1 yes" \
  "$(wc -l <"$OUT") $([ "$(head -n1 "$OUT" | tr -d '\r' | wc -c)" -le 513 ] && echo yes)"
check_eq "/summary: the reason code and the deciding Windows error" "partition-table-unreadable True" \
  "$(field "'%s %s' % (d['reason_code'], d['win32_error'] > 0)")"
check "without /record nothing is written" sh -c '! timeout 60 "$1" reg query "$2" /reg:64 </dev/null >/dev/null 2>&1' sh "$E2E_WINE" "$RECORD_KEY"
check_run -Summary --record
check_eq "/summary /record: exit code 1" 1 "$E2E_RC"
check_eq "the record's verdict and reason code" "REG_SZ abort|REG_SZ partition-table-unreadable" \
  "$(reg_value Verdict)|$(reg_value ReasonCode)"
check_eq "the record's numbers" "REG_DWORD 0x1|REG_DWORD 0x$(printf '%x' "$(field "d['win32_error']")")" \
  "$(reg_value SchemaVersion)|$(reg_value Win32Error)"
check_eq "the record's summary is the line printed" "REG_SZ $(head -n1 "$OUT" | tr -d '\r')" "$(reg_value Summary)"
check "the record's time is UTC" sh -c 'printf "%s\n" "$1" | grep -Eq "^REG_SZ [0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z$"' sh "$(reg_value LastRunUtc)"
check_run /summary /nonsense
check_eq "a usage error with /summary: exit code 2 and the error in JSON" \
  '2|{"schema_version": 1, "verdict": "error", "error": "unknown argument: /nonsense"}' "$E2E_RC|$(tr -d '\r' <"$OUT")"
timeout 60 "$E2E_WINE" reg delete "$RECORD_KEY" /f /reg:64 </dev/null >/dev/null 2>&1

echo "  after /ENABLE"
e2e_vendor "$TAVU" timeout 60 "$E2E_WINE" "$DIR_WIN\\TAVU Recovery.exe" /ENABLE </dev/null >>"$E2E_WORK/run.log" 2>&1
check "/ENABLE registered the task" test -f "$TASK"
check_run /json
check_eq "the check reports the task" True "$(field "d['logon_task']")"
check_run
check_eq "readable report: exit code 1" 1 "$E2E_RC"
check "readable report: the verdict first" sh -c 'head -n1 "$1" | grep -qx "TAVU Recovery check: abort"' sh "$OUT"
check "readable report: the task" grep -q '^  Logon task  *registered$' "$OUT"
check "no file of the check is left" sh -c '! ls "$1"/TavuRecoveryCheck.* >/dev/null 2>&1' sh "$(e2e_c Windows/Temp)"
rm -f "$TASK"

check "every JSON answer validates against docs/check.schema.json" \
  python3 "$E2E_ROOT/tests/validate_check_json.py" "$ANSWERS"

e2e_finish
