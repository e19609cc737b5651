#!/usr/bin/env bash
# Harness for the end-to-end tests of the real Windows programs under Wine.
#
# Source it from a test script, call e2e_init once, then use:
#   e2e_run SECONDS EXE [ARGS...]        run to completion; exit code in E2E_RC (124: timed out)
#   e2e_start EXE [ARGS...]              start in the background; PID in E2E_PID
#   e2e_wait PID SECONDS                 wait for a started program; exit code in E2E_RC
#   e2e_vendor VENDOR CMD [ARGS...]      run CMD with WMI's manufacturer reading VENDOR
#   e2e_start_scheduler                  start the prefix's Task Scheduler service
#   e2e_find_window TITLE SECONDS        X window id of a window or message box titled TITLE
#   e2e_screenshot FILE                  the whole screen as PNG
#   e2e_c PATH                           host path of C:\PATH in the prefix ("Windows/Temp/x")
#   check NAME CMD...                    a test case: passes when CMD succeeds
#   check_eq NAME EXPECTED ACTUAL        a test case: passes when both are equal
#   e2e_finish                           print this script's counts; exit 1 if any case failed
#
# Which programs run: the shipped 32-bit build (build/win32) when this host can run
# 32-bit Linux programs natively and so start wine32, in a 64-bit prefix as on a
# notebook (Wine's 32-bit loader runs them under WoW64, its 64-bit side the rest);
# otherwise the 64-bit twin build of the same sources (build/win64) under wine64.
# E2E_ARCH=win32|win64 forces a choice. E2E_BIN and E2E_TEST_BIN point at the
# chosen programs and test programs; E2E_PROGRAMS names another folder of the
# same programs to test instead (the signed build's, say).
set -u

E2E_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
E2E_WORK=${E2E_WORK:-$E2E_ROOT/build/e2e}
E2E_PASSED=0
E2E_FAILED=0
E2E_RC=0
E2E_PID=0

e2e_log() { printf '  %s\n' "$*" >&2; }

# True when 32-bit Linux programs run natively (an emulator registered with
# binfmt_misc does not count: wine32 does not start under it).
e2e_native_ia32() {
  local f=/proc/sys/fs/binfmt_misc/qemu-i386
  if [ -e "$f" ] && head -n1 "$f" 2>/dev/null | grep -q enabled; then return 1; fi
  [ -x /lib/ld-linux.so.2 ] && /lib/ld-linux.so.2 --version >/dev/null 2>&1
}

# Why e2e_choose_arch picks what it picks, in a few words.
e2e_arch_reason() {
  if [ -n "${E2E_ARCH:-}" ]; then
    echo "E2E_ARCH=$E2E_ARCH"
  elif ! e2e_native_ia32; then
    echo "this host cannot run 32-bit programs"
  elif [ ! -x /usr/lib/wine/wine ]; then
    echo "wine32 not installed"
  else
    echo "this host runs 32-bit programs"
  fi
}

e2e_choose_arch() {
  if [ -n "${E2E_ARCH:-}" ]; then return; fi
  if e2e_native_ia32 && [ -x /usr/lib/wine/wine ]; then E2E_ARCH=win32; else E2E_ARCH=win64; fi
}

e2e_start_x() {
  if [ -n "${E2E_DISPLAY:-}" ]; then export DISPLAY=$E2E_DISPLAY; return; fi
  local n
  for n in $(seq 90 140); do
    if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then break; fi
  done
  Xvfb ":$n" -screen 0 1366x768x24 -nolisten tcp >"$E2E_WORK/xvfb.log" 2>&1 &
  E2E_XVFB_PID=$!
  local i
  for i in $(seq 1 100); do
    [ -e "/tmp/.X11-unix/X$n" ] && break
    sleep 0.1
  done
  export E2E_DISPLAY=":$n"
  export DISPLAY=":$n"
}

e2e_init() {
  e2e_choose_arch
  export E2E_ARCH
  E2E_BIN=${E2E_PROGRAMS:-$E2E_ROOT/build/$E2E_ARCH/bin}
  E2E_TEST_BIN=$E2E_ROOT/build/$E2E_ARCH/tests
  if [ "$E2E_ARCH" = win32 ]; then E2E_WINE=/usr/lib/wine/wine; else E2E_WINE=/usr/lib/wine/wine64; fi
  mkdir -p "$E2E_WORK"
  local prefix=win64
  [ "$E2E_ARCH" = win32 ] && prefix=wow64
  export WINEPREFIX=${WINEPREFIX_E2E:-$E2E_WORK/prefix-$prefix}
  export WINEDEBUG=-all
  # No Mono or Gecko installers: nothing here needs them, and they would ask.
  export WINEDLLOVERRIDES="mscoree,mshtml="
  export WINEARCH=win64
  e2e_start_x
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    e2e_log "making Wine prefix $WINEPREFIX (64-bit, programs $E2E_ARCH)"
    timeout 300 "$E2E_WINE" wineboot -i </dev/null >"$E2E_WORK/wineboot.log" 2>&1
    # Without a window manager, a managed window makes MessageBoxW return two
    # seconds late; unmanaged windows also take keys from plain xdotool.
    timeout 120 "$E2E_WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
  fi
  # A running, warm wineserver keeps helper processes from inheriting our pipes.
  wineserver -p >/dev/null 2>&1
  timeout 120 "$E2E_WINE" cmd /c exit </dev/null >/dev/null 2>&1
  trap e2e_cleanup EXIT
}

e2e_cleanup() {
  wineserver -k >/dev/null 2>&1
  if [ -n "${E2E_XVFB_PID:-}" ]; then kill "$E2E_XVFB_PID" 2>/dev/null; fi
}

e2e_run() {
  local seconds=$1
  shift
  timeout "$seconds" "$E2E_WINE" "$@" </dev/null >>"$E2E_WORK/run.log" 2>&1
  E2E_RC=$?
}

# A copy of the built launcher in folder $1 whose version resource says $2;
# prints its path.
e2e_launcher_of_version() {
  local out="$1/launcher-$2.exe"
  cp "$E2E_BIN/TAVU Recovery.exe" "$out"
  e2e_run 60 "$E2E_TEST_BIN/set_file_version.exe" "Z:$out" "$2"
  [ "$E2E_RC" -eq 0 ] || e2e_log "set_file_version $2 failed: $E2E_RC"
  echo "$out"
}

e2e_start() {
  "$E2E_WINE" "$@" </dev/null >>"$E2E_WORK/run.log" 2>&1 &
  E2E_PID=$!
}

e2e_wait() {
  local pid=$1 seconds=$2 i
  for i in $(seq 1 $((seconds * 10))); do
    if ! kill -0 "$pid" 2>/dev/null; then
      wait "$pid"
      E2E_RC=$?
      return 0
    fi
    sleep 0.1
  done
  kill "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  E2E_RC=124
  return 1
}

# WMI's Win32_ComputerSystem.Manufacturer comes from the DMI vendor file; a
# private mount namespace lets each run see its own.
# A fresh prefix's Task Scheduler needs a few tries before it runs.
e2e_start_scheduler() {
  local i out
  for i in 1 2 3 4 5 6 7 8 9 10; do
    out=$(timeout 60 "$E2E_WINE" net start Schedule </dev/null 2>&1)
    case "$out" in *"started successfully"* | *"already been started"*) return 0 ;; esac
    sleep 1
  done
  return 1
}

e2e_vendor() {
  local vendor=$1
  shift
  E2E_VENDOR=$vendor unshare -m --propagation private sh -c '
    mount -t tmpfs tmpfs /sys/class || exit 97
    mkdir -p /sys/class/dmi/id
    printf "%s\n" "$E2E_VENDOR" > /sys/class/dmi/id/sys_vendor
    exec "$@"' sh "$@"
}

e2e_find_window() {
  local title=$1 seconds=$2 i id
  for i in $(seq 1 $((seconds * 5))); do
    id=$(xdotool search --name "^${title}\$" 2>/dev/null | head -n1)
    if [ -n "$id" ]; then
      echo "$id"
      return 0
    fi
    sleep 0.2
  done
  return 1
}

e2e_screenshot() { import -window root "$1" >/dev/null 2>&1; }

# Windows names are matched without regard to case, as Windows does ("Windows"
# is "windows" in a Wine prefix); components that do not exist are kept as given.
e2e_c() {
  python3 - "$WINEPREFIX/drive_c" "$1" <<'PY'
import os, sys
path = sys.argv[1]
for part in sys.argv[2].replace("\\", "/").split("/"):
    if not part:
        continue
    try:
        match = next((e for e in os.listdir(path) if e.lower() == part.lower()), part)
    except OSError:
        match = part
    path = os.path.join(path, match)
print(path, end="")
PY
}

check() {
  local name=$1
  shift
  if "$@"; then
    E2E_PASSED=$((E2E_PASSED + 1))
    printf '    ok   %s\n' "$name"
  else
    E2E_FAILED=$((E2E_FAILED + 1))
    printf '    FAIL %s\n' "$name"
  fi
}

check_eq() {
  local name=$1 expected=$2 actual=$3
  if [ "$expected" = "$actual" ]; then
    E2E_PASSED=$((E2E_PASSED + 1))
    printf '    ok   %s\n' "$name"
  else
    E2E_FAILED=$((E2E_FAILED + 1))
    printf '    FAIL %s: expected [%s], got [%s]\n' "$name" "$expected" "$actual"
  fi
}

e2e_finish() {
  printf '%s: %d passed, %d failed\n' "$(basename "$0" .sh)" "$E2E_PASSED" "$E2E_FAILED"
  if [ -n "${E2E_RESULTS:-}" ]; then printf '%d %d\n' "$E2E_PASSED" "$E2E_FAILED" >>"$E2E_RESULTS"; fi
  [ "$E2E_FAILED" -eq 0 ]
}

# e2e_init_win32_prefix: instead of e2e_init, a 32-bit prefix (WINEARCH=win32)
# as on 32-bit Windows, made once under $E2E_WORK/prefix-win32, with the shipped
# 32-bit programs. Returns 1, having set up nothing, on a host that cannot run wine32.
e2e_init_win32_prefix() {
  e2e_native_ia32 && [ -x /usr/lib/wine/wine ] || return 1
  E2E_ARCH=win32
  E2E_BIN=${E2E_PROGRAMS:-$E2E_ROOT/build/win32/bin}
  E2E_TEST_BIN=$E2E_ROOT/build/win32/tests
  E2E_WINE=/usr/lib/wine/wine
  mkdir -p "$E2E_WORK"
  export E2E_ARCH WINEPREFIX=$E2E_WORK/prefix-win32 WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  e2e_start_x
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    e2e_log "making Wine prefix $WINEPREFIX (32-bit)"
    timeout 300 "$E2E_WINE" wineboot -i </dev/null >"$E2E_WORK/wineboot-win32.log" 2>&1
  fi
  wineserver -p >/dev/null 2>&1
  timeout 120 "$E2E_WINE" cmd /c exit </dev/null >/dev/null 2>&1
  trap e2e_cleanup EXIT
}
