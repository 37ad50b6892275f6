#!/usr/bin/env bash
# Scrolling captures of terminal pages, at scale 1 with no compositor, each
# picture checked line by line: every band of 13 rows in it (a line of the
# terminal's font) comes once, the picture is as tall as the lines the page
# scrolled through, its first and last lines are the screen's before and
# after, and nothing says the capture stopped early.
#  - The automatic capture over numbered lines under a title that stays (10,
#    30 and 40 % of the region), under a title and over a status line (12 %
#    each), and up from the page's end: the whole page, each band once at its
#    edge.
#  - The live capture over a terminal taller than the region under a title,
#    scrolled a line at a time: the terminal draws each line once while the
#    overlay hides its lower rows, and the picture holds each once.
#  - The live capture over plain short lines in less, scrolled to the end and
#    left to end on its own: the frames that stay the same after the last
#    scroll are no reason to say it stopped early.
source "$(dirname "${BASH_SOURCE[0]}")/harness.sh"
sys_begin
sys_tray
sys_notify_server
pitch=13

# A terminal of ROWS lines of the 6 × 13 font at the screen's left running a
# program: show_terminal ROWS PROGRAM ARGS...; its pid goes to term, the top
# left of its text to tx ty.
show_terminal() {
  local rows=$1
  shift
  xterm -fn fixed -geometry "80x$rows+100+60" -title Terminal -e "$@" &
  term=$!
  sys_wait_for --timeout 10 xdotool search --onlyvisible --name '^Terminal$' || fail "the terminal did not show"
  sys_geom "$(xdotool search --onlyvisible --name '^Terminal$' | head -1)"
  tx=$((X + 2)) ty=$((Y + 2))
  [ "$HEIGHT" -eq $((rows * pitch + 4)) ] || fail "the terminal's lines are not $pitch rows apart ($HEIGHT rows for $rows)"
}
# The titled page: titled_page LINES TITLE FOOTER ROWS [top|end] [whole|each], shown once it is drawn.
titled_page() {
  rm -f "$SYS_TMP/page.info"
  show_terminal "$4" python3 "$SYS_SRC/tests/system/titled_lines.py" "$1" "$2" "$3" 3 "$SYS_TMP/page.info" \
    "${5:-top}" "${6:-whole}"
  sys_wait_for --timeout 10 test -s "$SYS_TMP/page.info" || fail "the page did not show"
  sleep 0.3
}
end_terminal() { sys_end "$term"; }
# Bands of PITCH rows of a picture that come more than once, from row FROM on, as "row=row …".
repeated_bands() {
  convert "$1" -depth 8 gray:- | python3 -c '
import sys
w, pitch, start = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3])
raw = sys.stdin.buffer.read()
seen = {}
for y in range(start, len(raw) // w - pitch + 1, pitch):
    band = raw[y * w:(y + pitch) * w]
    if band in seen:
        print("%d=%d" % (seen[band], y), end=" ")
    seen.setdefault(band, y)
' "$(identify -format %w "$1")" "$pitch" "${2:-0}"
}
# Pixels of picture A (a crop WxH+X+Y) that differ from picture B (a crop).
differing() {
  convert "$1" -crop "$2" +repage "$SYS_TMP/a.png"
  convert "$3" -crop "$4" +repage "$SYS_TMP/b.png"
  compare -metric AE "$SYS_TMP/a.png" "$SYS_TMP/b.png" null: 2>&1 || true
}
# The picture on the clipboard once one came, to FILE.
copied_picture() {
  sys_wait_for --timeout "$2" bash -c "xclip -selection clipboard -o -t TARGETS 2>/dev/null | grep -qx image/png" \
    || { tail -20 "$SYS_TMP/kadrix.log"; fail "$3: no picture was copied"; }
  sys_clip_png "$1"
}
# What the case's picture must be: lines once each, as tall as LINES lines, no notice.
expect_lines() {
  local what=$1 file=$2 lines=$3 h twice
  h=$(identify -format %h "$file")
  twice=$(repeated_bands "$file")
  if [ "$h" -ne $((lines * pitch)) ] || [ -n "$twice" ]; then
    sys_keep_shot "$file" "scroll_terminal_$(tr -c 'a-z0-9\n' _ <<<"$what").png"
    fail "$what: a picture $h rows tall for $lines lines of $pitch, these bands twice: ${twice:-none}"
  fi
  ! grep -q "stopped early" "$SYS_NOTICES" || fail "$what: $(cat "$SYS_NOTICES")"
}

# The automatic capture from a link over a region of the whole terminal, 50
# lines: auto_case TITLE FOOTER DOWN|UP.
auto_case() {
  local title=$1 footer=$2 way=$3 lines=90 rows=50 what body
  what="automatic, title $1, footer $2, $3"
  body=$((rows - title - footer))
  titled_page $lines "$title" "$footer" $rows "$([ "$way" == up ] && echo end || echo top)"
  sys_screenshot "$SYS_TMP/before.png"
  xclip -selection clipboard -i /dev/null
  : >"$SYS_NOTICES"
  sys_link "kadrix://grab/scrolling$([ "$way" == up ] && echo /reverse)?then=copy"
  sys_wait_for --timeout 10 xdotool search --name '^kadrix-screencapture$' || fail "the screenshot tool did not start"
  sleep 0.5
  sys_drag "$tx" "$ty" $((tx + 479)) $((ty + rows * pitch - 1))
  copied_picture "$SYS_TMP/auto.png" 40 "$what"
  sys_screenshot "$SYS_TMP/after.png"
  expect_lines "$what" "$SYS_TMP/auto.png" $((title + lines + footer))
  # The page as the region showed it at the start and at the end are the
  # picture's ends: the title over the first lines at its top, the last lines
  # over the status line at its bottom (going up, the end shows first).
  local start=before.png end=after.png h off top=$(((title + body) * pitch)) bottom=$(((body + footer) * pitch))
  [ "$way" == down ] || { start=after.png end=before.png; }
  h=$(identify -format %h "$SYS_TMP/auto.png")
  off=$(differing "$SYS_TMP/auto.png" "480x$top+0+0" "$SYS_TMP/$start" "480x$top+$tx+$ty")
  [ "$off" == 0 ] || fail "$what: the picture's top differs from the page's in $off pixels"
  off=$(differing "$SYS_TMP/auto.png" "480x$bottom+0+$((h - bottom))" "$SYS_TMP/$end" \
    "480x$bottom+$tx+$((ty + title * pitch))")
  [ "$off" == 0 ] || fail "$what: the picture's bottom differs from the page's in $off pixels"
  echo "$what: $((h / pitch)) lines, each once, $body between the bands"
  end_terminal
}

# Whether a window of kadrix covers the whole screen: the live capture's
# overlay, which dims all but the region.
overlay_shown() {
  local id screen_w
  screen_w=$(xdpyinfo | awk '/dimensions:/ {split($2, d, "x"); print d[1]}')
  for id in $(command xdotool search --onlyvisible --classname '^kadrix$' 2>/dev/null); do
    sys_geom "$id" 2>/dev/null || continue
    [ "$WIDTH" -ge "$screen_w" ] && return 0
  done
  return 1
}
# The live capture from the tray's menu over the region of the terminal's top
# ROWS lines, while the wheel turns CLICKS times: live_capture ROWS CLICKS
# (the picture to $SYS_TMP/live.png, the region during the capture to
# $SYS_TMP/during.png).
live_capture() {
  local rows=$1 clicks=$2 i
  xclip -selection clipboard -i /dev/null
  : >"$SYS_NOTICES"
  sys_click_tray_icon
  sys_key Down Down Down Down Down Return
  sys_wait_for --timeout 10 xdotool search --name '^kadrix-screencapture$' || fail "the screenshot tool did not start"
  sleep 0.5
  sys_drag "$tx" "$ty" $((tx + 479)) $((ty + rows * pitch - 1))
  # Scrolled once the capture's overlay asks for it, as a user does.
  sys_wait_for --timeout 10 overlay_shown || fail "the live capture's overlay did not show"
  sleep 0.3
  for ((i = 0; i < clicks; i++)); do
    xdotool mousemove $((tx + 200)) $((ty + rows * pitch / 2)) click 5
    sleep 0.15
  done
  sleep 0.5
  sys_screenshot "$SYS_TMP/screen.png"
  convert "$SYS_TMP/screen.png" -crop "480x$((rows * pitch))+$tx+$ty" +repage "$SYS_TMP/during.png"
  copied_picture "$SYS_TMP/live.png" 20 "live"
}

auto_road() {
  sys_start '"everScrollingCapture": true, "notificationType": "system"'
  auto_case 5 0 down
  auto_case 15 0 down
  auto_case 20 0 down
  auto_case 6 6 down
  auto_case 5 0 up
}
live_road() {
  sys_start '"notificationType": "system", "scrollingManualEnabled": true, "afterGrabCopy": true, "afterGrabShow": false'
  sys_wait_for --timeout 15 xdotool search --onlyvisible --classname '^kadrix$' || fail "no icon in the tray"
  # 70 lines, the region their top 50 under a title of 5: the overlay hides
  # the terminal's last 20, which scroll with the rest.
  titled_page 120 5 0 70 top each
  live_capture 50 8
  local twice first
  twice=$(repeated_bands "$SYS_TMP/during.png")
  [ -z "$twice" ] || {
    sys_keep_shot "$SYS_TMP/screen.png" scroll_terminal_live_screen.png
    fail "live, title: the terminal drew these lines twice: $twice"
  }
  read -r first <"$SYS_TMP/page.info"
  expect_lines "live, title" "$SYS_TMP/live.png" $((50 + first - 1))
  echo "live over a terminal under a title: the terminal and the picture show each of $((50 + first - 1)) lines once"
  end_terminal
  # Plain lines, short at the left, in less, the region without its prompt line.
  seq 1 100 >"$SYS_TMP/plain.txt"
  show_terminal 40 less --mouse --wheel-lines=3 "$SYS_TMP/plain.txt"
  sleep 0.5
  live_capture 39 24
  expect_lines "live, plain lines to the end" "$SYS_TMP/live.png" 100
  echo "live over plain lines in less: all 100 once, and nothing said"
  end_terminal
}
SYS_ROAD_SCALES=1 sys_road automatic auto_road
SYS_ROAD_SCALES=1 sys_road live live_road
