#!/usr/bin/env bash
# Two monitors side by side at different scales: one Xvfb screen split into
# a left monitor at scale 1 and a right one at scale 2. An area dragged on
# each monitor, and one dragged across both, reaches the clipboard as exactly
# the screen's pixels there, at the ratio of the monitor where the drag
# started. Runs once, not at each scale.
unset KADRIX_TEST_DISPLAY
export SYS_SCREEN=3840x1080x24
source "$(dirname "${BASH_SOURCE[0]}")/harness.sh"
sys_begin
xrandr --setmonitor left 1920/508x1080/286+0+0 screen >/dev/null
xrandr --setmonitor right 1920/254x1080/143+1920+0 none >/dev/null
expect_eq "$(xrandr --listmonitors | head -1)" "Monitors: 2" "monitors on the screen"
export QT_SCREEN_SCALE_FACTORS="1;2"
# Something with detail on both monitors: a page of text across them.
"$SYS_BIN/kadrix-testclient" text Page 100 100 3600 800 3600 800 top "$SYS_TMP/page.info" &
client=$!
on_exit 'kill $client 2>/dev/null || true'
sys_wait_window '^Page$' 5 || fail "the text window did not show"
sleep 1
start=$SECONDS
sys_start '"afterGrabCopy": true, "afterGrabShow": false'

# Drags an area from (x1,y1) to (x2,y2); the copy must be the screen's pixels
# there, as large as the drag in the start monitor's pixels.
area() {
  local x1=$1 y1=$2 x2=$3 y2=$4 ratio=$5 what=$6
  sys_screenshot "$SYS_TMP/before.png"
  xclip -selection clipboard -i /dev/null
  sys_link 'kadrix://grab/area'
  sys_wait_for --timeout 10 xdotool search --name '^kadrix-screencapture$' || fail "$what: the screenshot tool did not start"
  sleep 0.5
  sys_drag "$x1" "$y1" "$x2" "$y2"
  sys_wait_for --timeout 10 bash -c "xclip -selection clipboard -o -t TARGETS 2>/dev/null | grep -qx image/png" \
    || fail "$what: nothing copied"
  sys_clip_png "$SYS_TMP/clip.png"
  local w h left=$((x1 < x2 ? x1 : x2)) top=$((y1 < y2 ? y1 : y2)) dw=$((x1 < x2 ? x2 - x1 : x1 - x2)) dh=$((y1 < y2 ? y2 - y1 : y1 - y2))
  read -r w h <<<"$(identify -format '%w %h' "$SYS_TMP/clip.png")"
  # The drag takes both its first and its last point, in the start monitor's pixels.
  [ "$((w - dw))" -ge 0 ] && [ "$((w - dw))" -le "$ratio" ] && [ "$((h - dh))" -ge 0 ] && [ "$((h - dh))" -le "$ratio" ] \
    || fail "$what: the copy is ${w}x${h} for a drag of ${dw}x${dh}"
  convert "$SYS_TMP/before.png" -crop "${w}x${h}+$left+$top" +repage "$SYS_TMP/want.png"
  expect_eq "$(compare -metric AE "$SYS_TMP/clip.png" "$SYS_TMP/want.png" null: 2>&1)" 0 "$what: pixels differing from the screen"
  echo "$what: ${w}x${h}, exactly the screen's pixels"
}
area 200 150 700 450 1 "an area on the left monitor"
area 2200 150 2700 450 2 "an area on the right monitor"
area 1600 200 2300 500 1 "an area across both, started on the left"
area 2300 200 1600 500 2 "an area across both, started on the right"
echo "road monitors: passed in $((SECONDS - start)) s"
