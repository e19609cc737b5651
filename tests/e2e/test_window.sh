#!/usr/bin/env bash
# The launcher's confirmation window on a TAVU machine: place, shape, opacity,
# what it draws, hover, the three ways out (Cancel, No, Yes), and no way out
# while the worker runs.
. "$(dirname "$0")/lib.sh"
e2e_init
. "$(dirname "$0")/window_helpers.sh"

ART=$E2E_WORK/artifacts
mkdir -p "$ART"
DESKTOP=48,128,192
TEMP_DIR=$(e2e_c Windows/Temp)
mkdir -p "$TEMP_DIR"

# Colour tests on "r,g,b" texts.
rgb_near() {
  awk -v a="$1" -v b="$2" -v t="$3" 'BEGIN { split(a, x, ","); split(b, y, ",");
    for (i = 1; i <= 3; i++) { d = x[i] - y[i]; if (d < 0) d = -d; if (d > t) exit 1 } }'
}
is_panel() {  # the dark charcoal panel
  awk -v a="$1" 'BEGIN { split(a, x, ","); for (i = 1; i <= 3; i++) if (x[i] < 30 || x[i] > 80) exit 1;
    if (x[1] - x[3] > 10 || x[3] - x[1] > 10) exit 1 }'
}
is_face() {  # the near-black button face
  awk -v a="$1" 'BEGIN { split(a, x, ","); for (i = 1; i <= 3; i++) if (x[i] > 45) exit 1 }'
}
is_blue_face() {  # the blue-tinted face of a hovered button
  awk -v a="$1" 'BEGIN { split(a, x, ","); if (!(x[3] > x[1] + 60 && x[3] > 100)) exit 1 }'
}
# red_apart A B MIN: the red channels of two colours are at least MIN apart.
red_apart() {
  awk -v a="$1" -v b="$2" -v m="$3" 'BEGIN { split(a, x, ","); split(b, y, ",");
    d = x[1] - y[1]; if (d < 0) d = -d; if (d < m) exit 1 }'
}
at_least() { [ "$1" -ge "$2" ]; }
at_most() { [ "$1" -le "$2" ]; }
probe() { timeout 60 "$E2E_WINE" "$E2E_TEST_BIN/window_probe.exe" "$@" </dev/null 2>/dev/null | tr -d '\r'; }
close_probe() { timeout 60 "$E2E_WINE" "$E2E_TEST_BIN/close_probe.exe" "$@" </dev/null 2>/dev/null | tr -d '\r'; }
# The launcher's process, its window and the worker's box, all still there.
still_running() {
  kill -0 "$E2E_PID" 2>/dev/null && [ "$(xdotool search --name '^TAVUF9Recovery$' 2>/dev/null | wc -l)" -eq 1 ] &&
    [ "$(xdotool search --name '^Recovery Aborted$' 2>/dev/null | wc -l)" -eq 1 ]
}
temp_listing() { (cd "$TEMP_DIR" && find . -type f | sort); }
no_worker_files() { [ ! -e "$TEMP_DIR/RcvBoot.cmd" ] && [ ! -e "$TEMP_DIR/RcvBoot.txt" ] && [ ! -e "$TEMP_DIR/RcvBootDisk.txt" ]; }
has_bits() { [ $(( $1 & $2 )) -eq $(( $2 )) ]; }

# The worker goes on only for a launcher that no standard user can change,
# which on a notebook is the installed one: it must be there, whichever test
# ran before.
INSTALLED="$(e2e_c 'Program Files')/TAVU/TAVU Recovery Launcher"
mkdir -p "$INSTALLED"
[ -e "$INSTALLED/TAVU Recovery.exe" ] || cp "$LAUNCHER" "$INSTALLED/TAVU Recovery.exe"

echo "  the window"
start_launcher
WIN=$(launcher_window)
# Painted once the window is up: Wine's first window of a session resets the
# X root to black.
e2e_desktop "$DESKTOP"
sleep 1
check "window appears with its title" test -n "$WIN"
eval "$(xdotool getwindowgeometry --shell "$WIN" 2>/dev/null)"
check_eq "window at (418, 259), 530 x 250" "418,259,530,250" "${X:-},${Y:-},${WIDTH:-},${HEIGHT:-}"
opacity=$(xprop -id "$WIN" _NET_WM_WINDOW_OPACITY 2>/dev/null | sed -n 's/.*= *//p')
check_eq "X window opacity is 229/255" "0xE5E5E5E5" "$(printf '0x%X' "${opacity:-0}")"

info=$(probe TAVUF9Recovery 20,20 15,15 16,16 514,16 265,16 265,14 514,120 517,120 265,207 265,211 15,100 14,100)
printf '%s\n' "$info" >"$ART/window-probe.txt"
field() { printf '%s\n' "$info" | sed -n "s/^$1=//p"; }
check_eq "window class" "TAVUF9RECOVERY" "$(field class)"
check "popup without caption or thick frame" sh -c '
  s=$(( $1 )); [ $(( s & 0x80000000 )) -ne 0 ] && [ $(( s & 0x00C40000 )) -eq 0 ]' sh "$(field style)"
check "layered and topmost" has_bits "$(field exstyle)" 0x00080008
check_eq "layered alpha 229" "229 flags=2" "$(field alpha)"
check "round region set" sh -c 'printf "%s\n" "$1" | grep -q "kind=3$"' sh "$(field region)"
check_eq "region holds its inside and edges, not its rounded corners or outside" \
  "20,20=1 15,15=0 16,16=0 514,16=0 265,16=1 265,14=0 514,120=1 517,120=0 265,207=1 265,211=0 15,100=1 14,100=0" \
  "$(printf '%s\n' "$info" | sed -n 's/^in //p' | tr '\n' ' ' | sed 's/ $//')"

SHOT=$ART/window.png
e2e_screenshot "$SHOT"
for p in "5 5" "16 16" "514 16" "265 230" "525 120" "16 208"; do
  # shellcheck disable=SC2086
  check "desktop shows outside the region at ($p)" rgb_near "$(pixel "$SHOT" $p)" "$DESKTOP" 2
done
for p in "30 120" "200 190" "500 100" "265 205"; do
  # shellcheck disable=SC2086
  check "dark panel inside the region at ($p)" is_panel "$(pixel "$SHOT" $p)"
done
check "light title text" at_least "$(brightest "$SHOT" 105 23 200 25)" 170
check "light warning text" at_least "$(brightest "$SHOT" 38 60 470 100)" 170
# The start of the warning's last two lines, left of where a box centred on
# the screen would cover the window.
check "warning's last lines drawn" at_least "$(brightest "$SHOT" 38 125 80 30)" 170
check "no text in the empty panel" at_most "$(brightest "$SHOT" 20 185 300 18)" 110
check "Continue face at (352, 165)" is_face "$(pixel "$SHOT" 356 170)"
check "Cancel face at (430, 165)" is_face "$(pixel "$SHOT" 434 170)"
check "Continue caption" at_least "$(brightest "$SHOT" 352 165 68 35)" 170
check "Cancel caption" at_least "$(brightest "$SHOT" 430 165 68 35)" 170
# Each face is darker than the panel beside it; the processing state relies on
# this to show that the buttons are gone.
face_row=$(pixel "$SHOT" 356 195)
panel_row=$(pixel "$SHOT" 300 195)
check "button face stands out from the panel" red_apart "$face_row" "$panel_row" 9

point_client 386 182
sleep 2
HOVER=$ART/window-hover.png
e2e_screenshot "$HOVER"
check "pointer over Continue: blue face" is_blue_face "$(pixel "$HOVER" 356 170)"
check "pointer over Continue: Cancel unchanged" is_face "$(pixel "$HOVER" 434 170)"
point_client 200 100
sleep 2
e2e_screenshot "$ART/window-left.png"
check "pointer gone: Continue face back to normal" is_face "$(pixel "$ART/window-left.png" 356 170)"

# Plain Xvfb does not blend layered windows; a compositor does, at 229/255.
# Without a root pixmap named on the root window, xcompmgr fills the desktop
# with its own mid grey, bright enough to make the blend plain to see.
xprop -root -remove _XSETROOT_ID 2>/dev/null
xprop -root -remove _XROOTPMAP_ID 2>/dev/null
xcompmgr >"$E2E_WORK/xcompmgr.log" 2>&1 &
COMP=$!
sleep 3
BLEND=$ART/window-composited.png
e2e_screenshot "$BLEND"
kill "$COMP" 2>/dev/null
wait "$COMP" 2>/dev/null
plain=$(pixel "$SHOT" 30 120)
behind=$(pixel "$BLEND" 5 5)
expected=$(awk -v p="$plain" -v b="$behind" 'BEGIN { split(p, x, ","); split(b, y, ",");
  printf "%d,%d,%d", (x[1]*229 + y[1]*26) / 255 + 0.5, (x[2]*229 + y[2]*26) / 255 + 0.5, (x[3]*229 + y[3]*26) / 255 + 0.5 }')
check "compositor's desktop differs from the panel (blend is visible)" red_apart "$plain" "$behind" 40
check "composited panel is 229/255 panel over the desktop ($expected)" rgb_near "$(pixel "$BLEND" 30 120)" "$expected" 2
sleep 1

echo "  dragging"
# No caption: a press anywhere on the panel drags the window with the pointer.
xdotool mousemove $((WIN_X + 200)) $((WIN_Y + 100)) mousedown 1
sleep 0.5
for step in 1 2 3 4 5; do
  xdotool mousemove_relative -- 10 6
  sleep 0.2
done
xdotool mouseup 1
sleep 1
eval "$(xdotool getwindowgeometry --shell "$WIN" 2>/dev/null)"
check_eq "a press on the panel drags the window by (50, 30)" "468,289" "${X:-},${Y:-}"
WIN_X=${X:-$WIN_X}
WIN_Y=${Y:-$WIN_Y}

echo "  Cancel"
before=$(temp_listing)
click_client 464 182
WIN_X=418
WIN_Y=259
e2e_wait "$E2E_PID" 60
check_eq "Cancel ends with exit code 0" 0 "$E2E_RC"
check_eq "Cancel leaves C:\\Windows\\Temp as it was" "$before" "$(temp_listing)"

echo "  Continue, then No by Return"
start_launcher
WIN=$(launcher_window)
check "window appears again" test -n "$WIN"
before=$(temp_listing)
click_client 386 182
BOX=$(e2e_find_window "Recovery Confirmation" 60)
check "Continue shows \"Recovery Confirmation\"" test -n "$BOX"
sleep 1
e2e_screenshot "$ART/confirmation.png"
box=$(probe "Recovery Confirmation")
printf '%s\n' "$box" >"$ART/confirmation-probe.txt"
check "the question" sh -c 'printf "%s\n" "$1" | grep -q -P "^child=Static\t0x[0-9A-F]{8}\tAre you sure you want to run the recovery process\?$"' sh "$box"
no_style=$(printf '%s\n' "$box" | awk -F '\t' '$1 == "child=Button" && $3 == "&No" { print $2 }')
yes_style=$(printf '%s\n' "$box" | awk -F '\t' '$1 == "child=Button" && $3 == "&Yes" { print $2 }')
check "No is the default button" sh -c '[ -n "$1" ] && [ $(( $1 & 0xF )) -eq 1 ]' sh "$no_style"
check "Yes is not the default button" sh -c '[ -n "$1" ] && [ $(( $1 & 0xF )) -eq 0 ]' sh "$yes_style"
xdotool key Return
e2e_wait "$E2E_PID" 60
check_eq "Return answers No: exit code 0" 0 "$E2E_RC"
check "no worker file in C:\\Windows\\Temp" no_worker_files
check_eq "No leaves C:\\Windows\\Temp as it was" "$before" "$(temp_listing)"

echo "  Continue, then Yes"
start_launcher
WIN=$(launcher_window)
check "window appears for the third run" test -n "$WIN"
click_client 386 182
BOX=$(e2e_find_window "Recovery Confirmation" 60)
check "confirmation shown" test -n "$BOX"
sleep 1
xdotool key y
if [ -e "$E2E_ROOT/launcher/arming/recovery_worker_pending.cpp" ]; then
  # The stand-in worker arms nothing and ends the program at once.
  e2e_wait "$E2E_PID" 60
  check_eq "Yes with the stand-in worker: exit code 0" 0 "$E2E_RC"
  echo "    note: the recovery worker is a stand-in; the Recovery Aborted case waits for it"
else
  ABORT=$(e2e_find_window "Recovery Aborted" 120)
  check "Yes: the worker reports \"Recovery Aborted\"" test -n "$ABORT"
  sleep 2
  PROC=$ART/processing.png
  e2e_screenshot "$PROC"
  abort=$(probe "Recovery Aborted")
  printf '%s\n' "$abort" >"$ART/aborted-probe.txt"
  check "not-found message" sh -c 'printf "%s\n" "$1" | grep -q -P "^child=Static\t0x[0-9A-F]{8}\tRecovery partition cannot be found! Recovery process is aborted\. Please contact TAVU Service Center for further assistance\.$"' sh "$abort"
  # The box may lie over part of the warning's place (it does in the 32-bit
  # build): its own bright text is left out, the rest of the place must be dark.
  box_rect=$(window_rect "$ABORT")
  without_rect "$PROC" "$box_rect" "$ART/processing-without-box.png"
  check "processing: the box leaves part of the warning's place in view" partly_visible "$box_rect" 38 125 80 30
  check "processing: the warning's last lines are gone" \
    at_most "$(brightest "$ART/processing-without-box.png" 38 125 80 30)" 110
  check "processing: the paragraph is drawn" at_least "$(brightest "$PROC" 38 60 470 35)" 170
  check "processing: the progress line is drawn" at_least "$(brightest "$PROC" 347 165 190 20)" 170
  check "processing: no Continue face" rgb_near "$(pixel "$PROC" 356 195)" "$(pixel "$PROC" 300 195)" 4
  check "processing: no Cancel face" rgb_near "$(pixel "$PROC" 434 195)" "$(pixel "$PROC" 300 195)" 4
  # One dot more each second, back to one after four: a few looks at the line,
  # however slow the screenshots, find more than one picture of it.
  looks=""
  for i in 1 2 3 4; do
    e2e_screenshot "$E2E_WORK/progress-shot.png"
    crop_client "$E2E_WORK/progress-shot.png" 400 165 137 20 "$E2E_WORK/progress-$i.png"
    looks="$looks $(convert "$E2E_WORK/progress-$i.png" -format '%#' info:)"
    sleep 0.7
  done
  check "processing: the progress line moves" at_least "$(printf '%s\n' $looks | sort -u | wc -l)" 2

  # The worker waits in its box, so it is still running: the window must not
  # be closed under it, whichever way the close comes.
  close_probe TAVUF9Recovery close
  sleep 2
  check "worker running: a posted WM_CLOSE leaves the window and its process" still_running
  check_eq "worker running: WM_QUERYENDSESSION is answered TRUE" "query=1" \
    "$(close_probe TAVUF9Recovery query)"
  # The box disables the window, and Wine ignores the system menu's commands
  # to a disabled window; while the worker runs without a box, it is enabled.
  close_probe TAVUF9Recovery enable
  close_probe TAVUF9Recovery syscommand
  sleep 2
  check "worker running: the system menu's Close leaves the window" still_running
  # A press on the panel makes the window the active one, so that Alt+F4
  # from the keyboard reaches it rather than the box.
  click_client 200 100
  sleep 1
  xdotool key alt+F4
  sleep 2
  check "worker running: Alt+F4 leaves the window" still_running
  # The keys now go to the window, so the box is closed as another program
  # would close it.
  close_probe "Recovery Aborted" close
  e2e_wait "$E2E_PID" 60
  check_eq "closing the box ends with exit code 0" 0 "$E2E_RC"
  check "the worker's files are gone" no_worker_files
fi

e2e_finish
