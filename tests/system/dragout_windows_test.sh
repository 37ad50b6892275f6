#!/usr/bin/env bash
# Dragging a capture out of the floating windows into another application:
# from the thumbnail's picture, and from a pin's drag button, a PNG file of
# the capture is dropped on a window that takes files. The thumbnail closes
# once its capture has been dragged out. At scale 1 and 2.
source "$(dirname "${BASH_SOURCE[0]}")/harness.sh"
sys_begin
xsetroot -solid '#20a040'
dropped="$SYS_TMP/dropped.png"
sys_test_window drop Drop 1000 100 600 400 "$dropped"

# A drag in small steps, as a hand moves: the drag begins on the first one.
slow_drag() {
  xdotool mousemove "$1" "$2" mousedown 1
  local i
  for i in 1 2 3 4 5 6 7 8 9 10; do
    xdotool mousemove $(($1 + ($3 - $1) * i / 10)) $(($2 + ($4 - $2) * i / 10))
    sleep 0.1
  done
  sleep 0.3
  xdotool mouseup 1
}
shown() { xdotool search --onlyvisible --name "$1" | head -1; }

road() {
  local s=$1
  sys_remove "$dropped"
  sys_start '"areaCaptureMode": "preview"'
  sys_area_to_thumbnail 150 150 450 350
  sleep 0.6
  sys_geom "$(shown '^Kadrix Preview$')"
  slow_drag $((X + WIDTH / 2)) $((Y + 80 * s)) 1300 300
  sys_wait_for --timeout 5 test -s "$dropped" || fail "nothing dropped from the thumbnail"
  [[ "$(identify -format '%wx%h' "$dropped")" =~ ^30[0-2]x20[0-2]$ ]] \
    || fail "the thumbnail dropped a $(identify -format '%wx%h' "$dropped") file, not the 300x200 capture"
  sys_wait_for --timeout 5 bash -c "! xdotool search --onlyvisible --name '^Kadrix Preview$'" \
    || fail "the thumbnail stayed after its capture was dragged out"

  sys_remove "$dropped"
  sys_link 'kadrix://grab/fullscreen?then=pin'
  sys_wait_for --timeout 10 shown '^Kadrix Pin$' || fail "no pin after the capture"
  sleep 0.6
  sys_geom "$(shown '^Kadrix Pin$')"
  # The drag button is the second of the tool bar, which shows under the pointer.
  local bx=$((X + 39 * s)) by=$((Y + 15 * s))
  xdotool mousemove $((X + 200)) $((Y + 200))
  sleep 0.2
  xdotool mousemove "$bx" "$by"
  sleep 0.5
  slow_drag "$bx" "$by" 1300 200
  sys_wait_for --timeout 5 test -s "$dropped" || fail "nothing dropped from the pin"
  expect_eq "$(identify -format '%wx%h' "$dropped")" "1920x1080" "the size of the file dropped from the pin"
  sys_stop_app
}
sys_road dragout road
