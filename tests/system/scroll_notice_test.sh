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
# Whether a window of kadrix that is no menu, editor or tray icon shows the
# notice: its pixels, read as text, say it. The screen is taken only once
# such a window shows, so the notice's three seconds are not spent reading
# screens taken before it came (reading one takes over a second on a busy
# machine).
# Windows seen not to be the size of a notice are not looked at again: on a
# busy machine each look at a window's place costs a good part of a second,
# and the notice's three seconds went by while the menus, the editor and the
# tray icon were measured anew at every turn.
declare -A not_notice=()
notice_shown() {
  local id shown=() w h x y
  for id in $(command xdotool search --onlyvisible --classname '^kadrix$' 2>/dev/null); do
    [ -z "${not_notice[$id]:-}" ] || continue
    read -r w h x y < <(xwininfo -id "$id" 2>/dev/null | awk '/Absolute upper-left X/ {x = $4}
      /Absolute upper-left Y/ {y = $4} /^ *Width:/ {w = $2} /^ *Height:/ {h = $2} END {print w, h, x, y}')
    [ -n "$y" ] || continue
    if [ "$h" -lt 60 ] || [ "$h" -gt 300 ] || [ "$w" -lt 300 ] || [ "$w" -gt 900 ]; then
      not_notice[$id]=1
      continue
    fi
    # Only its part on the screen: at scale 2 its shadow's margin reaches
    # above the screen's top.
    shown+=("$((w + (x < 0 ? x : 0)))x$((h + (y < 0 ? y : 0)))+$((x < 0 ? 0 : x))+$((y < 0 ? 0 : y))")
  done
  [ ${#shown[@]} -gt 0 ] || return 1
  sys_screenshot "$SYS_TMP/notice.png"
  for id in "${shown[@]}"; do
    convert "$SYS_TMP/notice.png" -crop "$id" +repage "$SYS_TMP/toast.png"
    sys_ocr "$SYS_TMP/toast.png" | grep -q "capture stopped early" && return 0
  done
  return 1
}
expect_notice() {
  sys_wait_for --timeout 6 notice_shown || {
    sys_screenshot "$SYS_TMP/notice.png"
    sys_keep_shot "$SYS_TMP/notice.png" "scroll_notice_$1.png"
    tail -20 "$SYS_TMP/kadrix.log"
    fail "$1: no notice on the screen within $(sys_seconds 6) s"
  }
}

# A new user's first scrolling capture: the link's actions give way to the
# settings' once the user has read how it goes, and the editor opens.
auto_road() {
  local s=$1 client vx vy vw vh
  show_alike "$s" 100 100 520 420 400 top
  sys_start
  sys_link 'kadrix://grab/scrolling?then=copy'
  sys_wait_window '^Scrolling Capture$' 10 || fail "no word on how a scrolling capture goes"
  sys_focus "$(xdotool search --onlyvisible --name '^Scrolling Capture$' | head -1)" "the scrolling capture's alert"
  sys_key Return
  sys_wait_for --timeout 10 xdotool search --name '^kadrix-screencapture$' || fail "the screenshot tool did not start"
  sleep 0.5
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
  local s=$1 client vx vy vw vh
  show_alike "$s" 100 100 520 160 120 bottom
  sys_start '"scrollingManualEnabled": true'
  sys_wait_for --timeout 15 xdotool search --onlyvisible --classname '^kadrix$' || fail "no icon in the tray"
  sys_click_tray_icon
  sys_key Down Down Down Down Down Return
  sys_wait_for --timeout 10 xdotool search --name '^kadrix-screencapture$' || fail "the screenshot tool did not start"
  sleep 0.5
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
