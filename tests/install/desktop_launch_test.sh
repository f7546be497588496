#!/usr/bin/env bash
# The installed program started as a desktop starts it, from the Exec line of
# its desktop entry, on a Wayland desktop that also offers an X server (run
# under xvfb-run): it chooses the X server, so the canvas stands at the
# screen's top-left corner; closing the control panel ends it.
#   desktop_launch_test.sh PREFIX PICTURE CLOSE-WINDOW
set -euo pipefail
prefix=$1 picture=$2 close_window=$3
for tool in weston xdotool; do
  command -v $tool >/dev/null || { echo "SKIP: $tool is not installed (scripts/setup.sh installs it)"; exit 77; }
done
work=$(mktemp -d)
pid= compositor=
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
  [ -n "$compositor" ] && kill "$compositor" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; [ -f "$work/log" ] && cat "$work/log" >&2; exit 1; }
source "$(dirname "$0")/../e2e/windows.sh"

# A Wayland compositor that would take the windows if the program let it.
export XDG_RUNTIME_DIR=$work/runtime XDG_SESSION_TYPE=wayland WAYLAND_DISPLAY=tavrin-test
export XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data
mkdir -m 700 "$XDG_RUNTIME_DIR"
weston --backend=headless-backend.so --socket="$WAYLAND_DISPLAY" --idle-time=0 \
  --log="$work/weston.log" &
compositor=$!
retry 100 test -S "$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY" || fail "weston did not start"

exec_line=$(sed -n 's/^Exec=//p' "$prefix/share/applications/org.tavrin.Tavrin.desktop")
read -r -a words <<<"$exec_line"
launch=()
for word in "${words[@]}"; do
  [ "$word" = %f ] && launch+=("$picture") || launch+=("$word")
done

# The launcher finds the program on PATH, as a desktop would.
PATH=$prefix/bin:$PATH env -u QT_QPA_PLATFORM "${launch[@]}" >"$work/log" 2>&1 &
pid=$!
retry 200 two_windows || fail "'$exec_line' did not show the canvas and the control panel"
read -r width height < <(file -b "$picture" | grep -o '[0-9]* x [0-9]*' | head -n 1 | tr -d x)
find_windows "$width" "$height"
# The window manager matches the windows to the entry by their class.
wm_class=$(sed -n 's/^StartupWMClass=//p' "$prefix/share/applications/org.tavrin.Tavrin.desktop")
xdotool search --classname "^$wm_class\$" | grep -qx "$canvas" \
  || fail "the canvas's class is not $wm_class"
! grep -q compositor "$work/log" || fail "a note about Wayland on an X server"

close_program "$close_window"
