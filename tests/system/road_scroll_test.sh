#!/usr/bin/env bash
# The scrolling road: a long page in a scroll window; kadrix://grab/scrolling
# with "copy" after it, an area dragged inside the window, kadrix scrolls the
# page by itself and copies one tall image: its top rows are the page as it
# showed at the start, its bottom rows the page where the scrolling stopped,
# and it is as much taller than the area as the page scrolled. Then a page of
# numbered lines whose middle columns read the same on every line, scrolled
# whole lines at a time: every pixel of the tall image is the page's, so each
# line shows once and in order. At scale 1 and 2; then the lines once more at
# scale 2 on a busy machine: loops that never rest share two cores with the X
# server, the page and kadrix, and the page draws every wheel click late (the
# first one too): the image is still the whole page.
source "$(dirname "${BASH_SOURCE[0]}")/harness.sh"
sys_begin

# A scroll window of the test client at scale S: show_page S INFO MODE TITLE X Y W H PAGE_W PAGE_H;
# its pid goes to client, its viewport in device pixels to vx vy vw vh.
show_page() {
  local s=$1 info=$2
  shift 2
  rm -f "$info"
  "$SYS_BIN/kadrix-testclient" "$@" top "$info" ${late_ms:+"$late_ms"} &
  client=$!
  sys_wait_for --timeout 10 test -s "$info" || fail "the $1 window did not show"
  sleep 0.5
  read -r vx vy vw vh _ <"$info"
  vx=$((vx * s)) vy=$((vy * s)) vw=$((vw * s)) vh=$((vh * s))
}
# kadrix started and asked for a scrolling capture copied to the clipboard; the picker waits for a drag.
start_scrolling() {
  sys_start '"everScrollingCapture": true'
  [ -z "${busy_cpus:-}" ] || taskset -a -p -c "$busy_cpus" "$SYS_APP_PID" >/dev/null
  xclip -selection clipboard -i /dev/null
  sys_link 'kadrix://grab/scrolling?then=copy'
  sys_wait_for --timeout 10 xdotool search --name '^kadrix-screencapture$' || fail "the screenshot tool did not start"
  sleep 0.5
}

road() {
  local s=$1 client vx vy vw vh
  show_page "$s" "$SYS_TMP/page.info" scroll Page 100 100 500 400 500 1400
  sys_screenshot "$SYS_TMP/before.png"
  start_scrolling
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
lines_road() {
  local s=$1 client vx vy vw vh
  show_page "$s" "$SYS_TMP/lines.info" lines Lines 100 100 520 420 480 3900
  [ -z "${busy_cpus:-}" ] || taskset -a -p -c "$busy_cpus" "$client" >/dev/null
  start_scrolling
  local x1=$vx y1=$((vy + 10 * s)) x2=$((vx + 480 * s - 1)) y2=$((vy + vh - 10 * s))
  sys_drag $x1 $y1 $x2 $y2
  sys_wait_for --timeout 60 bash -c "xclip -selection clipboard -o -t TARGETS 2>/dev/null | grep -qx image/png" \
    || { tail -20 "$SYS_TMP/kadrix.log"; fail "the scrolling capture of the lines copied nothing"; }
  sys_clip_png "$SYS_TMP/lines-tall.png"
  local w h end
  read -r w h <<<"$(identify -format '%w %h' "$SYS_TMP/lines-tall.png")"
  read -r _ _ _ _ end <"$SYS_TMP/lines.info"
  [ "$end" -eq $((3900 - vh / s)) ] || {
    tail -20 "$SYS_TMP/kadrix.log"
    fail "scale $s: the lines page stopped at $end"
  }
  # The page as the screen shows it (each pixel doubled at scale 2), cut where
  # the area began; the area may reach a pixel or two past the page's right edge.
  local pw=$((w < 480 * s ? w : 480 * s))
  QT_SCALE_FACTOR=1 "$SYS_BIN/kadrix-testclient" page 480 3900 "$SYS_TMP/lines-page.png"
  convert "$SYS_TMP/lines-page.png" -scale $((100 * s))% -crop "${pw}x${h}+$((x1 - vx))+$((y1 - vy))" +repage \
    "$SYS_TMP/lines-want.png"
  convert "$SYS_TMP/lines-tall.png" -crop "${pw}x${h}+0+0" +repage "$SYS_TMP/lines-got.png"
  local off
  off=$(compare -metric AE "$SYS_TMP/lines-got.png" "$SYS_TMP/lines-want.png" null: 2>&1 || true)
  # Every line scrolled by is in it: as much taller than the area (the drag, give or take a point) as the page scrolled.
  local extra=$((h - end * s - (y2 - y1)))
  [ "$off" == 0 ] && [ "$extra" -ge 0 ] && [ "$extra" -le $((2 * s)) ] || {
    cp "$SYS_TMP/lines-tall.png" "${KADRIX_SHOT_DIR:-/tmp}/road_scroll_lines_$s.png" 2>/dev/null || true
    fail "scale $s: the ${w}x${h} image of the lines differs from the page in $off pixels"
  }
  echo "scale $s: every row of a ${w}x${h} image of numbered lines is the page's"
  kill "$client" 2>/dev/null || true
  wait "$client" 2>/dev/null || true
}
# The first two processors this test may use, the busy loops on them, and
# the X server moved onto them.
busy_lines_road() {
  local cpus c pid
  cpus=$(taskset -p -c $$ | sed 's/.*: //' | tr ',' '\n' |
    awk -F- '{ for (c = $1; c <= ($2 == "" ? $1 : $2); c++) print c }' | head -2 | paste -sd,)
  for c in ${cpus//,/ }; do
    taskset -c "$c" bash -c 'while :; do :; done' &
    pid=$!
    on_exit "kill $pid 2>/dev/null || true"
  done
  [ -z "${_xvfb_pids[0]:-}" ] || taskset -a -p -c "$cpus" "${_xvfb_pids[0]}" >/dev/null
  busy_cpus=$cpus late_ms=350 lines_road "$1"
}
sys_road scroll road
sys_road lines lines_road
SYS_ROAD_SCALES=2 sys_road "lines, busy" busy_lines_road
