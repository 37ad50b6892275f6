#!/usr/bin/env bash
# A scrolling capture that ends short over a run of identical lines says so
# with the default settings: the editor comes forward with the picture and
# "Scrolling capture stopped early" shows on the screen with it within six
# seconds. The automatic capture from a link, the live one from the tray's
# menu, scrolled up by hand through the run. At scale 1 and 2.
source "$(dirname "${BASH_SOURCE[0]}")/harness.sh"
sys_begin
sys_tray

# Numbered lines with a run of identical ones (from three quarters of the
# page on) in a scroll window: show_alike S X Y W H LINES top|bottom; its
# pid goes to client, its viewport in device pixels to vx vy vw vh.
show_alike() {
  local s=$1
  rm -f "$SYS_TMP/alike.info"
  "$SYS_BIN/kadrix-testclient" alike Alike "$2" "$3" "$4" "$5" 480 $(($6 * 13)) "$7" "$SYS_TMP/alike.info" &
  client=$!
  on_exit "kill $client 2>/dev/null || true"
  sys_wait_for --timeout 10 test -s "$SYS_TMP/alike.info" || fail "the page did not show"
  sleep 0.5
  read -r vx vy vw vh _ <"$SYS_TMP/alike.info"
  vx=$((vx * s)) vy=$((vy * s)) vw=$((vw * s)) vh=$((vh * s))
}
# The notice shows for three seconds, and on a busy machine a look at the
# windows from here takes a good part of one: a watcher started before the
# capture ends takes each window of kadrix the size of a notice at every
# place it shows at (watch_notices), and the notice is read from those
# pictures afterwards, at leisure.
watch_notices() {
  rm -f "$SYS_TMP"/notice-*
  notice_read=()
  QT_SCALE_FACTOR=1 QT_QPA_PLATFORM=xcb "$SYS_BIN/kadrix-testclient" watch kadrix 300 60 900 300 "$SYS_TMP/notice" &
  watcher=$!
  on_exit "kill $watcher 2>/dev/null || true"
}
declare -A notice_read=()
notice_shown() {
  local shot
  for shot in "$SYS_TMP"/notice-*.png; do
    [ -s "$shot" ] && [ -z "${notice_read[$shot]:-}" ] || continue
    notice_read[$shot]=1
    sys_ocr "$shot" | grep -q "capture stopped early" && return 0
  done
  return 1
}
# A window of a notice's size shows within six seconds, and one of its
# pictures reads as the notice (read once they are there, however long).
expect_notice() {
  { sys_wait_for --timeout 6 bash -c "ls '$SYS_TMP'/notice-*.png >/dev/null 2>&1" &&
    sys_wait_for --timeout 20 notice_shown; } || {
    local shot
    sys_screenshot "$SYS_TMP/notice.png"
    sys_keep_shot "$SYS_TMP/notice.png" "scroll_notice_$1.png"
    for shot in "$SYS_TMP"/notice-*.png; do
      [ -s "$shot" ] && sys_keep_shot "$shot" "scroll_notice_$1_${shot##*/}"
    done
    tail -20 "$SYS_TMP/kadrix.log"
    sys_keep_shot "$SYS_TMP/kadrix.log" "kadrix-$1.log"
    fail "$1: no notice on the screen within $(sys_seconds 6) s"
  }
  kill "$watcher" 2>/dev/null || true
  wait "$watcher" 2>/dev/null || true
}

# A new user's first scrolling capture: the link's actions give way to the
# settings' once the user has read how it goes, and the editor opens.
auto_road() {
  local s=$1 client vx vy vw vh watcher
  show_alike "$s" 100 100 520 420 400 top
  sys_start
  sys_link 'kadrix://grab/scrolling?then=copy'
  sys_wait_window '^Scrolling Capture$' 10 || fail "no word on how a scrolling capture goes"
  sys_focus "$(xdotool search --onlyvisible --name '^Scrolling Capture$' | head -1)" "the scrolling capture's alert"
  sys_key Return
  sys_wait_for --timeout 10 xdotool search --name '^kadrix-screencapture$' || fail "the screenshot tool did not start"
  sleep 0.5
  watch_notices
  sys_drag "$vx" $((vy + 10 * s)) $((vx + 470 * s)) $((vy + vh - 10 * s))
  sys_wait_editor 60
  expect_notice "automatic, scale $s"
  echo "scale $s: the automatic capture said it stopped early over the editor"
  kill "$client"
  wait "$client" 2>/dev/null || true
}
# Scrolled up from the page's end: a few lines, the run taller than the
# region, then lines above it that nothing placed reaches.
live_road() {
  local s=$1 client vx vy vw vh watcher
  show_alike "$s" 100 100 520 160 120 bottom
  sys_start '"scrollingManualEnabled": true'
  sys_wait_for --timeout 15 xdotool search --onlyvisible --classname '^kadrix$' || fail "no icon in the tray"
  sys_click_tray_icon
  sys_key Down Down Down Down Down Return
  sys_wait_for --timeout 10 xdotool search --name '^kadrix-screencapture$' || fail "the screenshot tool did not start"
  sleep 0.5
  watch_notices
  sys_drag "$vx" $((vy + 10 * s)) $((vx + 470 * s)) $((vy + vh - 10 * s))
  sleep 1
  for _ in 1 2 3 4 5 6 7; do
    xdotool mousemove $((vx + 200 * s)) $((vy + vh / 2)) click 4
    sleep 0.4
  done
  sys_wait_editor 15
  expect_notice "live, scale $s"
  echo "scale $s: the live capture said it stopped early over the editor"
  kill "$client"
  wait "$client" 2>/dev/null || true
}
sys_road automatic auto_road
sys_road live live_road
