#!/usr/bin/env bash
# The program as a user meets it, on a real X server (run under xvfb-run):
# started on a bitmap, it shows the image at the screen's top-left corner and
# the control panel at its centre; a slider moved from the keyboard re-renders
# the canvas exactly as the command-line renderer does; with the canvas
# active, Ctrl+Z and Ctrl+Y step back and forth, Ctrl+S saves, Ctrl+C puts
# the picture on the clipboard for another program (xclip), and Ctrl+V opens
# the picture that program puts there, pastes settings text and ignores
# other text; closing the control panel ends the program with status 0.
#   e2e_test.sh TAVRIN TAVRIN-RENDER CLOSE-WINDOW
set -euo pipefail
tavrin=$1 render=$2 close_window=$3
export QT_QPA_PLATFORM=xcb
work=$(mktemp -d)
# What the program remembers stays in the test's own folder.
export XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data
pid= offering=
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
  [ -n "$offering" ] && kill "$offering" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }
source "$(dirname "$0")/windows.sh"
shot() { import -window root "$work/screen.png"; }
# Pixels of the screen's top-left W x H area that differ from a picture.
differing() {
  convert "$work/screen.png" -crop "${2}x${3}+0+0" +repage "$work/corner.png"
  compare -metric AE "$1" "$work/corner.png" null: 2>&1 || true
}
matches() { shot && [ "$(differing "$1" "$width" "$height")" = 0 ]; }

# An odd-sized picture without symmetry, written by another program.
width=97 height=61
convert -size ${width}x${height} gradient:'#d02010-#1030e0' \
  -fill '#f0e040' -draw 'rectangle 6,4 40,20' -fill '#20a050' -draw 'circle 70,40 80,44' \
  -type TrueColor BMP3:"$work/in.bmp"
"$render" "$work/in.bmp" "$work/as-loaded.bmp"
"$render" "$work/in.bmp" "$work/x-slice-30.bmp" --x-slice 30
"$render" "$work/in.bmp" "$work/start.bmp" --render
[ "$(compare -metric AE "$work/as-loaded.bmp" "$work/x-slice-30.bmp" null: 2>&1 || true)" != 0 ] \
  || fail "the slider would change nothing"

"$tavrin" "$work/in.bmp" >"$work/tavrin.log" 2>&1 &
pid=$!
retry 200 two_windows || fail "the canvas and the control panel did not both appear"

read -r screen_w screen_h < <(xdotool getdisplaygeometry)
find_windows "$width" "$height"
dx=$(( panel_x + panel_w / 2 - screen_w / 2 )) dy=$(( panel_y + panel_h / 2 - screen_h / 2 ))
[ "${dx#-}" -le 2 ] && [ "${dy#-}" -le 2 ] || fail "control panel off centre by $dx,$dy"

retry 100 matches "$work/as-loaded.bmp" \
  || fail "the top-left corner does not show the image ($(differing "$work/as-loaded.bmp" $width $height) pixels differ)"
# The panel is drawn where it stands: light, unlike the black root window.
light=$(convert "$work/screen.png" -crop "${panel_w}x${panel_h}+${panel_x}+${panel_y}" \
  -colorspace Gray -format '%[fx:mean>0.6]' info:)
[ "$light" = 1 ] || fail "nothing drawn where the control panel stands"

# The first slider, X-Slice, has the keyboard focus; End takes it to 30.
xdotool windowfocus --sync "$panel"
xdotool key End
retry 100 matches "$work/x-slice-30.bmp" \
  || fail "the canvas does not show X-Slice 30 ($(differing "$work/x-slice-30.bmp" $width $height) pixels differ)"

# The program's shortcuts act on the canvas as well as on the panel.
xdotool windowfocus --sync "$canvas"
xdotool key ctrl+z
retry 100 matches "$work/start.bmp" \
  || fail "Ctrl+Z on the canvas does not bring back the start ($(differing "$work/start.bmp" $width $height) pixels differ)"
xdotool key ctrl+y
retry 100 matches "$work/x-slice-30.bmp" \
  || fail "Ctrl+Y on the canvas does not bring back X-Slice 30"
xdotool key ctrl+s
saved() { [ "$(compare -metric AE "$work/in.bmp" "$work/x-slice-30.bmp" null: 2>&1 || true)" = 0 ]; }
retry 100 saved || fail "Ctrl+S on the canvas did not save what it shows"

xdotool key ctrl+c
copied() {
  xclip -selection clipboard -t image/png -o >"$work/copied.png" 2>/dev/null &&
    [ "$(compare -metric AE "$work/x-slice-30.bmp" "$work/copied.png" null: 2>&1 || true)" = 0 ]
}
retry 100 copied || fail "Ctrl+C did not put the picture on the clipboard"
# xclip offers FILE as TYPE until another program takes the clipboard.
offer() {
  [ -n "$offering" ] && { kill "$offering"; wait "$offering" 2>/dev/null || true; }
  xclip -selection clipboard -quiet -t "$1" -i "$2" >/dev/null 2>&1 &
  offering=$!
  offered() { xclip -selection clipboard -t TARGETS -o 2>/dev/null | grep -qx "$1"; }
  retry 50 offered "$1" || fail "xclip did not take the clipboard"
}
# Another program's picture, of another size, opens as loaded, and renders.
width=61 height=41
convert -size ${width}x${height} gradient:'#10e040-#f02090' -fill '#2040f0' \
  -draw 'rectangle 3,30 20,38' -depth 8 "$work/offered.png"
"$render" "$work/offered.png" "$work/offered-loaded.bmp"
"$render" "$work/offered.png" "$work/offered-angle-90.bmp" --angle 90
"$render" "$work/offered.png" "$work/offered-x-slice-30.bmp" --x-slice 30
offer image/png "$work/offered.png"
xdotool key ctrl+v
retry 100 matches "$work/offered-loaded.bmp" \
  || fail "Ctrl+V did not open the picture on the clipboard ($(differing "$work/offered-loaded.bmp" $width $height) pixels differ)"
printf -- '--angle 90' >"$work/settings.txt"
offer UTF8_STRING "$work/settings.txt"
xdotool key ctrl+v
retry 100 matches "$work/offered-angle-90.bmp" || fail "Ctrl+V did not paste the settings text"
# Other text changes nothing: the step back goes to the sliders before the paste.
printf 'a note' >"$work/note.txt"
offer UTF8_STRING "$work/note.txt"
xdotool key ctrl+v ctrl+z
retry 100 matches "$work/offered-x-slice-30.bmp" || fail "Ctrl+V of a note changed something"

close_program "$close_window"
echo "PASS"
