#!/usr/bin/env bash
# The launcher's window for every owner: answered by keyboard alone with the
# focus visible, read and pressed by a screen reader's calls (MSAA, from
# another process), 795 x 375 at 144 DPI, standing still without animations,
# and in high contrast (through window_preview.exe: Wine cannot switch high
# contrast on, so the launcher's window code is given the setting).
. "$(dirname "$0")/lib.sh"
e2e_init
. "$(dirname "$0")/window_helpers.sh"

ART=$E2E_WORK/artifacts
mkdir -p "$ART"
DESKTOP=48,128,192

access() { timeout 60 "$E2E_WINE" "$E2E_TEST_BIN/access_probe.exe" "$@" </dev/null 2>/dev/null | tr -d '\r'; }
probe() { timeout 60 "$E2E_WINE" "$E2E_TEST_BIN/window_probe.exe" "$@" </dev/null 2>/dev/null | tr -d '\r'; }
close_probe() { timeout 60 "$E2E_WINE" "$E2E_TEST_BIN/close_probe.exe" "$@" </dev/null 2>/dev/null | tr -d '\r'; }
# line TEXT PREFIX: the line of TEXT that starts with PREFIX.
line() { printf '%s\n' "$1" | grep -m1 -F -- "$2"; }
# fields of a tree line: "name=... role=... state=... location=... action=..."
field_of() { printf '%s\n' "$1" | tr '\t' '\n' | sed -n "s/^$2=//p"; }
is_light() { awk -v a="$1" 'BEGIN { split(a, x, ","); for (i = 1; i <= 3; i++) if (x[i] < 200) exit 1 }'; }
is_dark() { awk -v a="$1" 'BEGIN { split(a, x, ","); for (i = 1; i <= 3; i++) if (x[i] > 90) exit 1 }'; }
rgb_near() {
  awk -v a="$1" -v b="$2" -v t="$3" 'BEGIN { split(a, x, ","); split(b, y, ",");
    for (i = 1; i <= 3; i++) { d = x[i] - y[i]; if (d < 0) d = -d; if (d > t) exit 1 } }'
}
at_least() { [ "$1" -ge "$2" ]; }
at_most() { [ "$1" -le "$2" ]; }
alive() { kill -0 "$E2E_PID" 2>/dev/null; }

INSTALLED="$(e2e_c 'Program Files')/TAVU/TAVU Recovery Launcher"
mkdir -p "$INSTALLED"
[ -e "$INSTALLED/TAVU Recovery.exe" ] || cp "$LAUNCHER" "$INSTALLED/TAVU Recovery.exe"
# Whatever an earlier run left: 96 DPI, animations and keyboard cues on.
set_log_pixels 96
access animation on >/dev/null
access cues on >/dev/null

echo "  a screen reader's view (MSAA)"
start_launcher
WIN=$(launcher_window)
e2e_desktop "$DESKTOP"
check "window appears" test -n "$WIN"
tree=$(access tree TAVUF9Recovery)
printf '%s\n' "$tree" >"$ART/access-tree.txt"
client=$(line "$tree" "client")
check_eq "the client: a dialog named by its drawn caption" "System Recovery 0x12" \
  "$(field_of "$client" name) $(field_of "$client" role)"
check_eq "three children; the focus on Cancel" "count=3	focus=3" "$(line "$tree" "count=")"
warning=$(line "$tree" "child=1")
check_eq "child 1: the warning, static text, read-only" \
  "This utility will initiate system recovery via TAVU preloaded recovery |partition. Be sure to back up your personal data as it may be lost |during to the recovery process.||Press “Continue” to run the recovery process.|Press “Cancel” to cancel the recovery process. 0x29 0x40" \
  "$(field_of "$warning" name) $(field_of "$warning" role) $(field_of "$warning" state)"
cont=$(line "$tree" "child=2")
check_eq "child 2: Continue, a focusable push button that presses, on the screen where it is drawn" \
  "Continue 0x2B 0x100000 $((WIN_X + 352)),$((WIN_Y + 165)),68,35 Press" \
  "$(field_of "$cont" name) $(field_of "$cont" role) $(field_of "$cont" state) $(field_of "$cont" location) $(field_of "$cont" action)"
cancel=$(line "$tree" "child=3")
check_eq "child 3: Cancel, focused and default" \
  "Cancel 0x2B 0x100104 $((WIN_X + 430)),$((WIN_Y + 165)),68,35 Press" \
  "$(field_of "$cancel" name) $(field_of "$cancel" role) $(field_of "$cancel" state) $(field_of "$cancel" location) $(field_of "$cancel" action)"
check_eq "the window keeps its title" "class=TAVUF9RECOVERY" "$(probe TAVUF9Recovery | grep -m1 '^class=')"
check_eq "hit test on Continue" "hit=2" "$(access hit TAVUF9Recovery 380 180)"
check_eq "hit test on the warning" "hit=1" "$(access hit TAVUF9Recovery 100 80)"
check_eq "Cancel pressed through accDoDefaultAction" "press=0x00000000" "$(access press TAVUF9Recovery 3)"
e2e_wait "$E2E_PID" 60
check_eq "the press ends the program with exit code 0" 0 "$E2E_RC"

echo "  the keyboard alone"
# Wine keeps keyboard cues on (its UserPreferencesMask), Windows off: here as
# on Windows, so that the ring has to wait for the first key.
check_eq "keyboard cues switched off (SPI_SETKEYBOARDCUES)" "set=1 error=0" "$(access cues off)"
start_launcher
WIN=$(launcher_window)
check "window appears" test -n "$WIN"
e2e_screenshot "$ART/keys-before.png"
# The ring lies 1 to 3 pixels outside the button: on the panel until a key is used.
check "no focus ring around Cancel before a key" is_dark "$(pixel "$ART/keys-before.png" 428 180)"
check "nor around Continue" is_dark "$(pixel "$ART/keys-before.png" 350 180)"
events=$(access keys TAVUF9Recovery tab tab left right a)
printf '%s\n' "$events" >"$ART/keys-events.txt"
check_eq "Tab, Tab, Left, Right move the focus; other keys do not" \
  "key=tab event=focus child=2 key=tab event=focus child=3 key=left event=focus child=2 key=right event=focus child=3 key=a" \
  "$(printf '%s\n' "$events" | tr '\t' ' ' | tr '\n' ' ' | sed 's/ $//')"
e2e_screenshot "$ART/keys-cancel-ring.png"
check "focus ring around Cancel" is_light "$(pixel "$ART/keys-cancel-ring.png" 428 180)"
check "no ring around Continue" is_dark "$(pixel "$ART/keys-cancel-ring.png" 350 180)"
access keys TAVUF9Recovery tab >/dev/null
e2e_screenshot "$ART/keys-continue-ring.png"
check "focus ring around Continue" is_light "$(pixel "$ART/keys-continue-ring.png" 350 180)"
check "Cancel's ring gone" is_dark "$(pixel "$ART/keys-continue-ring.png" 428 180)"
check_eq "MSAA agrees: Continue focused and default" "0x100104" \
  "$(field_of "$(line "$(access tree TAVUF9Recovery)" "child=2")" state)"
access keys TAVUF9Recovery return >/dev/null
BOX=$(e2e_find_window "Recovery Confirmation" 60)
check "Enter on Continue asks \"Recovery Confirmation\"" test -n "$BOX"
sleep 1
xdotool key Return
e2e_wait "$E2E_PID" 60
check_eq "Return in the box answers No: exit code 0" 0 "$E2E_RC"

# The owner who keeps keyboard cues on sees the focus from the start.
access cues on >/dev/null
start_launcher
WIN=$(launcher_window)
e2e_screenshot "$ART/keys-cues.png"
check "keyboard cues on: the ring around Cancel before any key" is_light "$(pixel "$ART/keys-cues.png" 428 180)"
access keys TAVUF9Recovery escape >/dev/null
e2e_wait "$E2E_PID" 60
check_eq "Esc is Cancel: exit code 0" 0 "$E2E_RC"

# Keys typed on the keyboard, as an owner types them: the window is the
# active one once shown.
start_launcher
WIN=$(launcher_window)
xdotool key Tab
sleep 1
e2e_screenshot "$ART/typed-ring.png"
check "typed Tab: the ring moves to Continue" is_light "$(pixel "$ART/typed-ring.png" 350 180)"
xdotool key space
BOX=$(e2e_find_window "Recovery Confirmation" 60)
check "typed Space on Continue asks" test -n "$BOX"
sleep 1
xdotool key Escape
e2e_wait "$E2E_PID" 60
check_eq "Esc in the box closes it as No: exit code 0" 0 "$E2E_RC"

echo "  after Yes, by keyboard and heard by a screen reader"
start_launcher
WIN=$(launcher_window)
WATCH=$E2E_WORK/access-watch.txt
timeout 90 "$E2E_WINE" "$E2E_TEST_BIN/access_probe.exe" watch TAVUF9Recovery 30 </dev/null 2>/dev/null >"$WATCH" &
WATCHER=$!
for i in $(seq 1 50); do grep -q watching "$WATCH" 2>/dev/null && break; sleep 0.2; done
access keys TAVUF9Recovery tab return >/dev/null
BOX=$(e2e_find_window "Recovery Confirmation" 60)
check "Enter on Continue asks" test -n "$BOX"
sleep 1
xdotool key y
ABORT=$(e2e_find_window "Recovery Aborted" 120)
check "Yes: the worker runs and reports \"Recovery Aborted\"" test -n "$ABORT"
sleep 2
after=$(access tree TAVUF9Recovery)
printf '%s\n' "$after" >"$ART/access-tree-processing.txt"
# The worker's box is modal over the window and has the keyboard focus now;
# that the window's own focus went to the progress line the events show below.
check_eq "four children; the keyboard with the worker's box" "count=4	focus=-1" "$(line "$after" "count=")"
check_eq "child 1 reads the processing paragraph" \
  "This tool will force the system into TAVU Notebook F9 Recovery |environment." \
  "$(field_of "$(line "$after" "child=1")" name)"
check_eq "Continue and Cancel unavailable and invisible" "0x8001 0x8001" \
  "$(field_of "$(line "$after" "child=2")" state) $(field_of "$(line "$after" "child=3")" state)"
progress=$(line "$after" "child=4")
check_eq "child 4: the progress line, focusable, animated" "Program Processing... 0x29 0x104040" \
  "$(field_of "$progress" name) $(field_of "$progress" role) $(field_of "$progress" state)"
check_eq "no default action while the worker runs" "press=0x80020003" "$(access press TAVUF9Recovery 3)"
# The box holds the keyboard; keys posted to the window itself start and stop nothing.
access keys TAVUF9Recovery escape return space tab >/dev/null
sleep 1
check "no key ends the program while the worker runs" alive
check "the box is still there" test -n "$(xdotool search --name '^Recovery Aborted$' 2>/dev/null)"
wait "$WATCHER" 2>/dev/null
heard=$(tr -d '\r' <"$WATCH" | grep '^event=' | tr '\t' ' ')
printf '%s\n' "$heard" >"$ART/access-events.txt"
check "the screen reader heard the focus go to Continue" grep -q "event=focus child=2" <<<"$heard"
check_eq "after Yes: the warning renamed, the buttons changed, the line shown and focused" \
  "event=namechange child=1 event=statechange child=2 event=statechange child=3 event=show child=4 event=focus child=4" \
  "$(printf '%s\n' "$heard" | sed -n '/namechange child=1/,$p' | grep -v 'event=focus child=[23]' | head -n5 | tr '\n' ' ' | sed 's/ $//')"
close_probe "Recovery Aborted" close
e2e_wait "$E2E_PID" 60
check_eq "closing the box ends with exit code 0" 0 "$E2E_RC"

echo "  reduced motion"
check_eq "animations switched off (SPI_SETCLIENTAREAANIMATION)" "set=1 error=0" "$(access animation off)"
check "the setting reads back off" grep -q "^animation=0" <<<"$(access settings)"
start_launcher
WIN=$(launcher_window)
click_client 386 182
BOX=$(e2e_find_window "Recovery Confirmation" 60)
sleep 1
xdotool key y
ABORT=$(e2e_find_window "Recovery Aborted" 120)
check "Yes: the worker runs" test -n "$ABORT"
sleep 1
looks=""
for i in 1 2 3 4; do
  e2e_screenshot "$E2E_WORK/still-shot.png"
  crop_client "$E2E_WORK/still-shot.png" 347 165 160 20 "$E2E_WORK/still-$i.png"
  looks="$looks $(convert "$E2E_WORK/still-$i.png" -format '%#' info:)"
  sleep 0.7
done
cp "$E2E_WORK/still-shot.png" "$ART/reduced-motion.png"
check_eq "the progress line stands still" 1 "$(printf '%s\n' $looks | sort -u | wc -l)"
check "the line is drawn" at_least "$(brightest "$E2E_WORK/still-shot.png" 347 165 160 20)" 170
check_eq "MSAA: not animated (and the worker's box has the keyboard)" "0x100040" "$(field_of "$(line "$(access tree TAVUF9Recovery)" "child=4")" state)"
close_probe "Recovery Aborted" close
e2e_wait "$E2E_PID" 60
check_eq "exit code 0" 0 "$E2E_RC"
access animation on >/dev/null

echo "  144 DPI"
set_log_pixels 144
check "Wine reports 144 DPI" grep -q "^logpixels=144" <<<"$(access settings)"
start_launcher
WIN=$(launcher_window)
e2e_desktop "$DESKTOP"
sleep 1
eval "$(xdotool getwindowgeometry --shell "$WIN" 2>/dev/null)"
check_eq "window at (286, 197), 795 x 375" "286,197,795,375" "${X:-},${Y:-},${WIDTH:-},${HEIGHT:-}"
# CreateRoundRectRgn(23, 23, 774, 315, 36, 36): the box of a round region
# ends one pixel inside the right and bottom it was made with.
check_eq "round region scaled" "region=23,23,773,314 kind=3" "$(probe TAVUF9Recovery | grep '^region=')"
WIN_X=286
WIN_Y=197
SHOT=$ART/window-144dpi.png
e2e_screenshot "$SHOT"
check "desktop outside the region" rgb_near "$(pixel "$SHOT" 8 8)" "$DESKTOP" 2
check "dark panel inside" is_dark "$(pixel "$SHOT" 45 180)"
check "accent rule under the title, 2 pixels at (90..706, 78..79)" sh -c \
  'a=$1; b=$2; [ "$(echo "$a" | cut -d, -f3)" -ge 150 ] && [ "$(echo "$b" | cut -d, -f3)" -ge 150 ]' sh \
  "$(pixel "$SHOT" 300 78)" "$(pixel "$SHOT" 300 79)"
check "light title text" at_least "$(brightest "$SHOT" 158 35 300 37)" 170
check "Continue face at (528, 248), 102 x 53" is_dark "$(pixel "$SHOT" 534 255)"
check "Continue caption" at_least "$(brightest "$SHOT" 528 248 102 53)" 170
check_eq "MSAA: Continue where it is drawn" "$((WIN_X + 528)),$((WIN_Y + 248)),102,53" \
  "$(field_of "$(line "$(access tree TAVUF9Recovery)" "child=2")" location)"
click_client 690 275
e2e_wait "$E2E_PID" 60
check_eq "a click on the scaled Cancel ends the program: exit code 0" 0 "$E2E_RC"
set_log_pixels 96
WIN_X=418
WIN_Y=259

echo "  high contrast (the window's code under window_preview)"
start_preview high-contrast
WIN=$(launcher_window)
e2e_desktop "$DESKTOP"
sleep 1
check "window appears" test -n "$WIN"
check_eq "opaque" "alpha=255 flags=2" "$(probe TAVUF9Recovery | grep '^alpha=')"
SHOT=$ART/window-high-contrast.png
e2e_screenshot "$SHOT"
check "black window colour, no panel bitmap" rgb_near "$(pixel "$SHOT" 30 120)" "0,0,0" 0
check "white text" at_least "$(brightest "$SHOT" 105 23 200 25)" 250
check "button framed in the button text colour" rgb_near "$(pixel "$SHOT" 352 182)" "255,255,255" 0
check "button face in the button face colour" rgb_near "$(pixel "$SHOT" 356 170)" "0,0,0" 0
access keys TAVUF9Recovery tab >/dev/null
e2e_screenshot "$ART/window-high-contrast-focus.png"
check "focus ring in the highlight colour" rgb_near "$(pixel "$ART/window-high-contrast-focus.png" 350 180)" "26,235,255" 0
access press TAVUF9Recovery 3 >/dev/null
e2e_wait "$E2E_PID" 60
check_eq "Cancel: exit code 0" 0 "$E2E_RC"

e2e_finish
