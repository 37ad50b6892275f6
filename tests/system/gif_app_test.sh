#!/usr/bin/env bash
# The before/after GIF as a user makes it in the running kadrix: a full-screen
# capture in the editor, a second capture added to it as an image object (the
# "append" link and a dragged area), moved over the screenshot with
# Shift+Left and turned into a GIF with G. The file lands in the save folder
# with two frames shown 0.4 s each, looping forever; the first GIF explains
# itself in an alert and keeps the editor, the second hides it. At scale 1 and 2.
source "$(dirname "${BASH_SOURCE[0]}")/harness.sh"
sys_begin
sys_tray
xsetroot -solid '#3366cc'

gifs() { ls "$folder" | grep -cE '^SCR-[0-9]{8}-[b-u][a-z]{3}(-[0-9]+)?\.gif$' || true; }
alert_up() { xdotool search --onlyvisible --name 'Before/After' >/dev/null 2>&1; }

road() {
  local s=$1 gif
  folder="$SYS_TMP/shots$s"
  mkdir -p "$folder"
  sys_start
  sys_first_save "$folder"
  sys_link 'kadrix://grab/fullscreen?then=edit'
  sys_wait_editor 15
  # A red patch on screen for the added capture to hold.
  QT_SCALE_FACTOR=1 "$SYS_BIN/kadrix-testclient" solid Patch 1150 650 300 200 '#dd2222' >/dev/null 2>&1 &
  patch=$!
  sys_wait_window '^Patch$' 5 || fail "the patch window did not show"
  sys_link 'kadrix://grab/append'
  # The drag once the screenshot tool shows: on a busy machine it came after
  # a fixed second and a half, and waited for a selection that had gone by.
  sys_wait_for --timeout 10 xdotool search --onlyvisible --name '^kadrix-screencapture$' \
    || fail "the screenshot tool did not show for the added capture"
  sleep 0.5
  sys_drag 1200 700 1400 800
  kill $patch 2>/dev/null || true
  sys_wait_editor 15
  # The new object sits to the right of the screenshot: ten pixels a press
  # (points at scale 2) bring it over the screenshot.
  xdotool key --clearmodifiers --delay 5 --repeat $((120 / s)) shift+Left
  sleep 0.5
  sys_key g
  sys_wait_for --timeout 15 bash -c "[ \$(ls '$folder' | grep -c '\.gif$') -ge 1 ]" \
    || { tail -20 "$SYS_TMP/kadrix.log"; fail "G made no GIF"; }
  gif=$(ls "$folder"/*.gif | head -1)
  expect_eq "$(gifs)" 1 "GIFs named by the template"
  expect_eq "$(identify -format '%T ' "$gif")" "40 40 " "two frames of 0.4 s"
  [[ "$(identify -verbose "$gif")" == *'Iterations: 0'* ]] || fail "the GIF does not loop forever"
  # First the added capture (the red patch), then the screenshot under it (the desktop).
  convert "$gif[0]" "$SYS_TMP/f0.png"
  convert "$gif[1]" "$SYS_TMP/f1.png"
  local cx=$(($(identify -format '%w' "$SYS_TMP/f0.png") / 2)) cy=$(($(identify -format '%h' "$SYS_TMP/f0.png") / 2))
  expect_eq "$(sys_pixel "$SYS_TMP/f0.png" $cx $cy)" "221,34,34" "the first frame's centre"
  expect_eq "$(sys_pixel "$SYS_TMP/f1.png" $cx $cy)" "51,102,204" "the second frame's centre"
  sys_wait_for --timeout 10 alert_up || fail "the first GIF shows no explanation"
  sys_screenshot "${KADRIX_SHOT_DIR:-$SYS_TMP}/gif-alert-$s.png"
  sys_key Return
  sleep 0.5
  sys_active_is Kadrix || fail "the editor went away after the first GIF"
  # The second GIF: no alert, the editor hides.
  sys_key g
  sys_wait_for --timeout 15 bash -c "[ \$(ls '$folder' | grep -c '\.gif$') -ge 2 ]" || fail "the second G made no GIF"
  sleep 1
  alert_up && fail "the explanation showed again"
  xdotool search --onlyvisible --name '^Kadrix$' >/dev/null 2>&1 && fail "the editor stayed after the second GIF"
  expect_eq "$(gifs)" 2 "GIFs named by the template"
}
sys_road gif road
