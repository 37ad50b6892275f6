#!/usr/bin/env bash
# An area capture in the real kadrix, as a user makes it: two windows of known
# colours on screen, kadrix://grab/area with "then=edit,copy", the
# area dragged out in the screenshot tool. The editor window opens on top
# with the keyboard and shows exactly the captured pixels, one to one, and
# the clipboard holds the same picture. Run at scale 1 and at scale 2.
source "$(dirname "${BASH_SOURCE[0]}")/harness.sh"
sys_begin

# Exact-colour pixel count of an image.
count_colour() { convert "$1" -alpha off -fill black +opaque "$2" -fill white -opaque "$2" -format '%[fx:int(mean*w*h+0.5)]' info:; }

# Whether the screen shows an "R,G,B" colour at a point.
screen_shows() {
  sys_screenshot "$SYS_TMP/probe.png" && [ "$(sys_pixel "$SYS_TMP/probe.png" "$1" "$2")" == "$3" ]
}

run_at_scale() {
  local scale=$1 left=40 top=60
  # Two windows side by side.
  "$SYS_BIN/kadrix-testclient" solid Blue 40 60 180 160 '#3366cc' &
  local blue=$!
  "$SYS_BIN/kadrix-testclient" solid Red 260 60 180 160 '#cc2211' &
  local red=$!
  sys_wait_window '^Blue$' 5 || fail "the blue window did not show"
  sys_wait_window '^Red$' 5 || fail "the red window did not show"
  # Painted, not only mapped: a window can stay black until it is exposed.
  sys_wait_for --timeout 10 screen_shows 130 140 51,102,204 || fail "the blue window is not painted"
  sys_wait_for --timeout 10 screen_shows 350 140 204,34,17 \
    || { xdotool search --name '^Red$' windowactivate; sys_wait_for --timeout 5 screen_shows 350 140 204,34,17; } \
    || fail "the red window is not painted"
  # A user who has been here before: the editor starts hidden.
  mkdir -p "$KADRIX_HOME/config"
  echo '{"everVisitedHotkeys": true, "showIntro": 0}' >"$KADRIX_HOME/config/defaults.json"
  QT_SCALE_FACTOR=$scale sys_app
  sys_wait_for --timeout 15 bash -c "grep -q 'AppLogic initialized' '$SYS_TMP/kadrix.log'" || fail "kadrix did not start"
  sleep 1
  sys_screenshot "$SYS_TMP/before.png"
  QT_SCALE_FACTOR=$scale "$SYS_BIN/kadrix" "kadrix://grab/area?then=edit,copy"
  sys_wait_for --timeout 10 xdotool search --name "^kadrix-screencapture$" || { tail -20 "$SYS_TMP/kadrix.log"; fail "the screenshot tool did not start"; }
  sleep 0.5
  # The drag runs over both windows and the gap between them.
  local x1=120 y1=130 x2=380 y2=200
  sys_drag $x1 $y1 $x2 $y2
  sys_wait_for --timeout 10 sys_active_is Kadrix \
    || { tail -20 "$SYS_TMP/kadrix.log"; fail "scale $scale: the editor did not come forward with the keyboard"; }
  sleep 1

  # On top: the editor is the last of the window manager's stacking list.
  local editor top_window
  editor=$(xdotool getactivewindow)
  top_window=$(xprop -root _NET_CLIENT_LIST_STACKING | awk -F', ' '{print $NF}')
  expect_eq "$((top_window))" "$editor" "scale $scale: the editor is not on top"

  # The clipboard holds the dragged area exactly as it was on screen.
  sys_clip_png "$SYS_TMP/clip.png"
  # The drag takes both its first and its last point.
  local w=$((x2 - x1 + scale)) h=$((y2 - y1 + scale))
  convert "$SYS_TMP/before.png" -crop "${w}x${h}+$x1+$y1" +repage "$SYS_TMP/area.png"
  local size
  size=$(identify -format '%wx%h' "$SYS_TMP/clip.png" 2>/dev/null) || fail "scale $scale: no picture on the clipboard"
  expect_eq "$size" "${w}x${h}" "scale $scale: captured size"
  expect_eq "$(compare -metric AE "$SYS_TMP/clip.png" "$SYS_TMP/area.png" null: 2>&1)" 0 \
    "scale $scale: clipboard pixels differ from the screen"

  # The editor shows those pixels one to one: within its window, as many
  # pixels of each colour as the area holds inside the canvas's thin outline.
  sys_screenshot "$SYS_TMP/after.png"
  eval "$(xdotool getwindowgeometry --shell "$editor")"
  convert "$SYS_TMP/after.png" -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$SYS_TMP/editor.png"
  convert "$SYS_TMP/area.png" -shave 1x1 "$SYS_TMP/inner.png"
  local colour want got
  for colour in '#3366CC' '#CC2211'; do
    want=$(count_colour "$SYS_TMP/inner.png" "$colour")
    got=$(count_colour "$SYS_TMP/editor.png" "$colour")
    [ "$want" -gt 1000 ] || fail "scale $scale: the area holds too little of $colour ($want)"
    expect_eq "$got" "$want" "scale $scale: pixels of $colour in the editor"
  done

  sys_stop_app
  kill "$blue" "$red" 2>/dev/null || true
  wait "$blue" "$red" 2>/dev/null || true
  echo "scale $scale: the area capture opens in the editor on top, one to one, and on the clipboard"
}

run_at_scale 1
sys_remove "$KADRIX_HOME" && mkdir -p "$KADRIX_HOME"
run_at_scale 2
