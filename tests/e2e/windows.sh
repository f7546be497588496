# What the end-to-end scripts share: waiting, finding the program's two
# windows, and closing it. Sourced; the caller defines fail and sets pid.

# Runs a check up to Tries times, a tenth of a second apart.
retry() {
  local tries=$1; shift
  for _ in $(seq "$tries"); do "$@" && return 0; sleep 0.1; done
  return 1
}

two_windows() { [ "$(xdotool search --onlyvisible --name '^Tavrin$' 2>/dev/null | wc -l)" -eq 2 ]; }

# Finds, among the visible windows named Tavrin, the canvas (the one of the
# picture's size, which must stand at the screen's top-left corner) and the
# control panel. Sets canvas, panel, panel_x, panel_y, panel_w and panel_h.
find_windows() {
  local width=$1 height=$2 window
  canvas= panel=
  for window in $(xdotool search --onlyvisible --name '^Tavrin$'); do
    eval "$(xdotool getwindowgeometry --shell "$window")"
    if [ "$WIDTH" -eq "$width" ] && [ "$HEIGHT" -eq "$height" ]; then
      canvas=$window
      [ "$X" -eq 0 ] && [ "$Y" -eq 0 ] || fail "canvas at $X,$Y instead of 0,0"
    else
      panel=$window panel_x=$X panel_y=$Y panel_w=$WIDTH panel_h=$HEIGHT
    fi
  done
  [ -n "$canvas" ] || fail "no window of the image's size"
  [ -n "$panel" ] || fail "no control panel"
}

# Closes the control panel with CLOSE-WINDOW; the program must end with status 0.
close_program() {
  "$1" "$panel"
  exited() { ! kill -0 "$pid" 2>/dev/null; }
  retry 100 exited || fail "the program did not end when its control panel closed"
  local status=0
  wait "$pid" || status=$?
  pid=
  [ "$status" -eq 0 ] || fail "exit status $status"
}
