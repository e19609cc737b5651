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

# crop_client FILE X Y W H OUT
crop_client() { convert "$1" -crop "$4x$5+$((WIN_X + $2))+$((WIN_Y + $3))" +repage "$6"; }
