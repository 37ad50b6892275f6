#!/usr/bin/env bash
# The scrolling road: a long page in a scroll window; kadrix://grab/scrolling
# with "copy" after it, an area dragged inside the window, kadrix scrolls the
# page by itself and copies one tall image: its top rows are the page as it
# showed at the start, its bottom rows the page where the scrolling stopped,
# and it is as much taller than the area as the page scrolled. At scale 1 and 2.
source "$(dirname "${BASH_SOURCE[0]}")/harness.sh"
sys_begin

road() {
  local s=$1
  rm -f "$SYS_TMP/page.info"
  "$SYS_BIN/kadrix-testclient" scroll Page 100 100 500 400 500 1400 top "$SYS_TMP/page.info" &
  local client=$!
  sys_wait_for --timeout 10 test -s "$SYS_TMP/page.info" || fail "the scroll window did not show"
  sleep 0.5
  local vx vy vw vh offset
  read -r vx vy vw vh offset <"$SYS_TMP/page.info"
  vx=$((vx * s)) vy=$((vy * s)) vw=$((vw * s)) vh=$((vh * s))
  sys_start '"everScrollingCapture": true'
  sys_screenshot "$SYS_TMP/before.png"
  xclip -selection clipboard -i /dev/null
  sys_link 'kadrix://grab/scrolling?then=copy'
  sys_wait_for --timeout 10 xdotool search --name '^kadrix-screencapture$' || fail "the screenshot tool did not start"
  sleep 0.5
  local x1=$((vx + 20)) y1=$((vy + 20)) x2=$((vx + vw - 40)) y2=$((vy + vh - 20))
  sys_drag $x1 $y1 $x2 $y2
  sys_wait_for --timeout 40 bash -c "xclip -selection clipboard -o -t TARGETS 2>/dev/null | grep -qx image/png" \
    || { tail -20 "$SYS_TMP/kadrix.log"; fail "the scrolling capture copied nothing"; }
  sys_clip_png "$SYS_TMP/tall.png"
  sys_screenshot "$SYS_TMP/after.png"
  local end w h ah
  read -r _ _ _ _ end <"$SYS_TMP/page.info"
  end=$((end * s))
  read -r w h <<<"$(identify -format '%w %h' "$SYS_TMP/tall.png")"
  ah=$((y2 - y1))
  [ "$end" -gt 0 ] || fail "the page did not scroll"
  [ "$h" -ge $((ah + end - 4 * s)) ] && [ "$h" -le $((ah + end + 4 * s)) ] \
    || fail "the tall image is $h high for an area of $ah and a scroll of $end"
  # The first and the last rows against the screen before and after.
  convert "$SYS_TMP/tall.png" -crop "$((w - 4))x80+2+2" +repage "$SYS_TMP/top.png"
  convert "$SYS_TMP/before.png" -crop "$((w - 4))x80+$((x1 + 2))+$((y1 + 2))" +repage "$SYS_TMP/top-want.png"
  expect_eq "$(compare -metric AE "$SYS_TMP/top.png" "$SYS_TMP/top-want.png" null: 2>&1)" 0 "scale $s: top rows differing from the page"
  convert "$SYS_TMP/tall.png" -gravity south -crop "$((w - 4))x80+0+2" +repage "$SYS_TMP/bottom.png"
  # The area is as much higher than the drag as it is wider.
  local sel=$((ah + w - (x2 - x1)))
  convert "$SYS_TMP/after.png" -crop "$((w - 4))x80+$((x1 + 2))+$((y1 + sel - 82))" +repage "$SYS_TMP/bottom-want.png"
  local off
  off=$(compare -metric AE "$SYS_TMP/bottom.png" "$SYS_TMP/bottom-want.png" null: 2>&1 || true)
  [ "$off" -le 0 ] 2>/dev/null || {
    sys_keep_shot "$SYS_TMP/tall.png" "road_scroll_tall_$s.png"
    fail "scale $s: $off pixels of the bottom rows differ from the page where it stopped"
  }
  echo "scale $s: a ${w}x${h} image of an area ${ah} high scrolled by $end"
  kill "$client" 2>/dev/null || true
  wait "$client" 2>/dev/null || true
}
sys_road scroll road
