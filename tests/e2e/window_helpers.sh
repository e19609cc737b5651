# Helpers for the launcher's window under Wine, shared by test_window.sh and
# scripts/screenshot. Source after lib.sh and e2e_init.

LAUNCHER="$E2E_BIN/TAVU Recovery.exe"
# Where a 1366 x 768 screen puts the 530 x 250 window.
WIN_X=418
WIN_Y=259

# e2e_desktop R,G,B: paints the X root (the desktop behind the window).
e2e_desktop() {
  convert -size 8x8 "xc:rgb($1)" "$E2E_WORK/desktop.png"
  timeout 20 display -window root "$E2E_WORK/desktop.png" >/dev/null 2>&1
  return 0
}

# Starts the launcher in the window mode on a TAVU machine; PID in E2E_PID.
start_launcher() {
  e2e_vendor TAVU "$E2E_WINE" "$LAUNCHER" "$@" </dev/null >>"$E2E_WORK/run.log" 2>&1 &
  E2E_PID=$!
}

# The launcher's window id, once it is shown and painted.
launcher_window() {
  local id
  id=$(e2e_find_window TAVUF9Recovery 90) || return 1
  sleep 2
  echo "$id"
}

# click_client X Y / point_client X Y: the pointer at a client point of the window.
point_client() { xdotool mousemove $((WIN_X + $1)) $((WIN_Y + $2)); }
click_client() { xdotool mousemove $((WIN_X + $1)) $((WIN_Y + $2)) click 1; }

# pixel FILE X Y: "r,g,b" of a client point in a screenshot.
pixel() {
  local x=$((WIN_X + $2)) y=$((WIN_Y + $3))
  convert "$1" -format "%[fx:round(255*p{$x,$y}.r)],%[fx:round(255*p{$x,$y}.g)],%[fx:round(255*p{$x,$y}.b)]" info:
}

# brightest FILE X Y W H: the highest grey level (0..255) in a client rectangle.
brightest() {
  convert "$1" -crop "$4x$5+$((WIN_X + $2))+$((WIN_Y + $3))" +repage -colorspace gray \
    -format "%[fx:round(255*maxima)]" info:
}

# window_rect WINDOW: "X Y W H" of a window on the screen.
window_rect() {
  xdotool getwindowgeometry --shell "$1" |
    awk -F= '$1=="X"{x=$2} $1=="Y"{y=$2} $1=="WIDTH"{w=$2} $1=="HEIGHT"{h=$2} END{print x, y, w, h}'
}

# without_rect FILE "X Y W H" OUT: the screenshot with that screen rectangle
# painted black, so that a window lying over the client area (a message box)
# takes no part in what a look at the client area finds.
without_rect() {
  local x y w h
  read -r x y w h <<<"$2"
  convert "$1" -fill black -draw "rectangle $x,$y $((x + w - 1)),$((y + h - 1))" "$3"
}

# partly_visible "X Y W H" CX CY CW CH: true unless the screen rectangle hides
# the whole client rectangle.
partly_visible() {
  local x y w h
  read -r x y w h <<<"$1"
  local cx=$((WIN_X + $2)) cy=$((WIN_Y + $3))
  ! { [ "$x" -le "$cx" ] && [ "$y" -le "$cy" ] && [ $((x + w)) -ge $((cx + $4)) ] && [ $((y + h)) -ge $((cy + $5)) ]; }
}

# crop_client FILE X Y W H OUT
crop_client() { convert "$1" -crop "$4x$5+$((WIN_X + $2))+$((WIN_Y + $3))" +repage "$6"; }

# set_log_pixels DPI: the DPI Wine gives every program from now on
# (HKCU\Control Panel\Desktop\LogPixels), taken up by a fresh wineserver.
set_log_pixels() {
  timeout 120 "$E2E_WINE" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f \
    </dev/null >/dev/null 2>&1
  wineserver -k >/dev/null 2>&1
  wineserver -w >/dev/null 2>&1
  wineserver -p >/dev/null 2>&1
  timeout 120 "$E2E_WINE" cmd /c exit </dev/null >/dev/null 2>&1
}

# start_preview [high-contrast] [no-animations] [keyboard-cues]: the launcher's
# window code with those display settings (tests/win/window_preview.cpp); PID
# in E2E_PID. Its window is titled as the launcher's.
start_preview() {
  "$E2E_WINE" "$E2E_TEST_BIN/window_preview.exe" "$@" </dev/null >>"$E2E_WORK/run.log" 2>&1 &
  E2E_PID=$!
}
