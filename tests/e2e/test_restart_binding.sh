#!/usr/bin/env bash
# What the launcher's worker relies on around the restart, through the real
# binding: the registry flushes of the task store and of the restart-time
# moves, and the wait for Windows to say whether the session ends, from a
# second thread while the window's own thread pumps its messages.
#
# Wine keeps its tasks as files and has no TaskCache key (nor the Schedule
# key above it): the flush of the task store reaches SOFTWARE's hive instead.
# The session's end is told by another program's WM_ENDSESSION, and once by
# Wine's own end of the session (wineboot --end-session), which ends the
# process after the window has been told; the wine server is stopped after
# this script in any case.
. "$(dirname "$0")/lib.sh"
e2e_init

PROBE=$E2E_TEST_BIN/session_end_probe.exe
OUT=$E2E_WORK/session-end.out
close_probe() { timeout 60 "$E2E_WINE" "$E2E_TEST_BIN/close_probe.exe" "$@" </dev/null >/dev/null 2>&1; }
field() { tr -d '\r' <"$OUT" | sed -n "s/^$1=//p" | head -n1; }
between() { [ -n "$1" ] && [ "$1" -ge "$2" ] && [ "$1" -le "$3" ]; }

echo "  flushes"
flush=$(timeout 60 "$E2E_WINE" "$E2E_TEST_BIN/flush_probe.exe" </dev/null 2>/dev/null | tr -d '\r')
check_eq "the task store is flushed" "task-store=0x00000000" "$(printf '%s\n' "$flush" | grep '^task-store=')"
check_eq "the restart-time moves are flushed" "restart-moves=1" "$(printf '%s\n' "$flush" | grep '^restart-moves=')"

echo "  the wait for the end of the session"
# session_end_probe MS [stale]: to its end, output in $OUT.
session_probe() { timeout 60 "$E2E_WINE" "$PROBE" "$@" </dev/null >"$OUT" 2>/dev/null; }
# session_probe_told MS WHAT...: started, then told WHAT once its window is
# there; output in $OUT.
session_probe_told() {
  local ms=$1
  shift
  timeout 60 "$E2E_WINE" "$PROBE" "$ms" </dev/null >"$OUT" 2>/dev/null &
  local pid=$!
  e2e_find_window TavuSessionEndProbe 30 >/dev/null
  sleep 1
  "$@"
  wait "$pid"
}

session_probe 700
check_eq "nothing said: the wait times out" timed-out "$(field answer)"
check "nothing said: after its time (waited $(field waited) ms)" between "$(field waited)" 690 5000
check_eq "the window is hidden while it waits" 0 "$(field visible)"

session_probe 700 stale
check_eq "a shutdown stopped before the wait: told to the window" 0 "$(field received)"
check_eq "a shutdown stopped before the wait is not the answer" timed-out "$(field answer)"

session_probe_told 20000 close_probe TavuSessionEndProbe endsession 0
check_eq "WM_ENDSESSION FALSE: the session goes on" not-ending "$(field answer)"

session_probe_told 20000 close_probe TavuSessionEndProbe endsession 1
check_eq "WM_ENDSESSION TRUE: the session ends" ending "$(field answer)"

# Last: it ends the session of every program in the prefix.
session_probe_told 20000 timeout 60 "$E2E_WINE" wineboot --end-session </dev/null >/dev/null 2>&1
check_eq "Wine's own end of the session reaches the hidden window" 1 "$(field received)"

e2e_finish
