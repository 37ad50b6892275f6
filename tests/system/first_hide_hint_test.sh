#!/usr/bin/env bash
# The hint that shows where kadrix went the first time the editor hides: a
# capture opened in the editor and copied puts it under the tray icon, while
# the editor keeps the keyboard (Escape still reaches it). A capture taken
# while the hint shows has the desktop where the hint was. At scale 1 and 2.
source "$(dirname "${BASH_SOURCE[0]}")/harness.sh"
sys_begin
sys_tray
xsetroot -solid '#2e7d4f'

# kadrix's window that bypasses the window manager on the desktop itself (the
# tray icon does too, inside the tray): the hint.
hint_window() {
  local w
  for w in $(xdotool search --onlyvisible --classname '^kadrix$' 2>/dev/null); do
    xwininfo -id "$w" 2>/dev/null | grep 'Override Redirect State: yes' >/dev/null || continue
    xwininfo -tree -id "$w" 2>/dev/null | grep 'Parent window id: .*(the root window)' >/dev/null && { echo "$w"; return 0; }
  done
  return 1
}

road() {
  local s=$1
  sys_start
  sys_wait_for --timeout 15 xdotool search --onlyvisible --classname '^kadrix$' || fail "no tray icon"
  sleep 1
  # The hint's ten seconds count from the copy, which comes after this.
  local asked_at
  asked_at=$(date +%s%N)
  sys_link 'kadrix://grab/fullscreen?then=edit,copy'
  sys_wait_editor
  sys_wait_for --timeout 5 hint_window || { tail -20 "$SYS_TMP/kadrix.log"; fail "scale $s: no hint after the first copy"; }
  local hint
  hint=$(hint_window)
  # Its place, read first: it shows for ten seconds, which the looks below
  # can take on a busy machine.
  sys_geom "$hint" || fail "scale $s: the hint went before its place was read, $(sys_ms_since "$asked_at") ms after the copy was asked for"
  local hx=$X hy=$Y hw=$WIDTH hh=$HEIGHT
  sleep 0.5
  sys_active_is Kadrix || fail "scale $s: the hint took the keyboard from the editor"
  sys_screenshot "$SYS_TMP/hint.png"
  sys_keep_shot "$SYS_TMP/hint.png" "first_hide_hint_$s.png"

  # Under the tray icon at the top-right corner, wholly on the screen.
  local screen_w
  screen_w=$(xdpyinfo | awk '/dimensions:/ {split($2, d, "x"); print d[1]}')
  [ "$hy" -ge 20 ] && [ "$hy" -le 40 ] || fail "scale $s: the hint is at y $hy, not under the tray"
  [ $((hx + hw)) -le "$screen_w" ] && [ $((hx + hw)) -ge $((screen_w - 40)) ] \
    || fail "scale $s: the hint spans x $hx..$((hx + hw)), not at the right edge of $screen_w"

  # The keys still go to the editor: Escape closes it.
  sys_key Escape
  sys_wait_for --timeout 5 bash -c "! xdotool search --onlyvisible --name '^Kadrix$'" \
    || fail "scale $s: Escape did not reach the editor"
  # It shows for ten seconds from the copy: gone sooner than ten seconds
  # after the copy was asked for, it went before its time, however late a
  # busy machine showed it or saw it. On a busy machine the checks above can
  # take longer, and then the capture below has no hint to leave out.
  local lived
  lived=$(sys_ms_since "$asked_at")
  hint_window >/dev/null || [ "$lived" -ge 9900 ] ||
    fail "scale $s: the hint went before its time, $lived ms after the copy was asked for"

  # A capture now: where the hint was, the picture holds the desktop.
  xclip -selection clipboard -i /dev/null
  sys_link 'kadrix://grab/fullscreen?then=copy'
  sys_wait_for --timeout 10 bash -c "xclip -selection clipboard -o -t TARGETS 2>/dev/null | grep -qx image/png" \
    || { tail -20 "$SYS_TMP/kadrix.log"; fail "scale $s: the capture copied nothing"; }
  sys_clip_png "$SYS_TMP/clip.png"
  # (Its top rows may touch the tray's own.)
  convert "$SYS_TMP/clip.png" -crop "${hw}x$((hh - 2))+${hx}+$((hy + 2))" +repage "$SYS_TMP/where.png"
  expect_eq "$(sys_count_colour "$SYS_TMP/where.png" '#2e7d4f')" $((hw * (hh - 2))) \
    "scale $s: desktop pixels where the hint was"
  hint_window >/dev/null && fail "scale $s: the hint is back after the capture"
  echo "scale $s: the hint shows under the tray icon, leaves the keyboard and stays out of captures"
}
sys_road first_hide_hint road
