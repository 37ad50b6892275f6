#!/usr/bin/env bash
# The global text-recognition shortcut (Ctrl+Alt+Super+O by default) opens
# the area picker; the area dragged over two lines of a window's text puts
# those lines on the clipboard, and no editor comes up. Escape in the picker
# leaves the clipboard alone. Scale 1 and 2.
source "$(dirname "${BASH_SOURCE[0]}")/harness.sh"
sys_begin
xsetroot -solid '#808080'

line() { echo "$1. The quick brown fox jumps over the lazy dog; item $2 of the list."; }

# The shortcut, and the first two lines of the page dragged in its picker
# (their baselines 22 and 44 pixels down).
pick_first_lines() {
  xdotool key ctrl+alt+super+o
  sys_wait_for --timeout 10 xdotool search --name '^kadrix-screencapture$' || fail "$1: no area picker"
  sleep 1
  sys_drag 104 404 790 452
}

# With the recognition engine's library hidden behind a stub of its name
# that holds nothing, each pick is said to fail, in the loader's words, and
# the clipboard is left alone.
read_with_engine_hidden() {
  local stubs="$SYS_TMP/stubs" soname="libtesseract.so.5" try
  mkdir -p "$stubs"
  cc -shared -x c /dev/null -Wl,-soname,"$soname" -o "$stubs/$soname" || fail "cannot make the stub $soname"
  sys_stop_app
  LD_LIBRARY_PATH="$stubs" sys_start
  echo -n "before" | xclip -selection clipboard -i
  for try in 1 2; do
    pick_first_lines "engine hidden, attempt $try"
    sys_wait_for --timeout 20 bash -c "[ \$(grep -c 'OOPS Unable to perform the OCR requests: .*$soname: undefined symbol: TessBaseAPICreate\\.\$' '$SYS_TMP/kadrix.log') -ge $try ]" ||
      { tail -20 "$SYS_TMP/kadrix.log"; fail "engine hidden: attempt $try was not reported with the loader's reason"; }
  done
  sleep 0.6
  sys_screenshot "$SYS_TMP/ocr_failed.png"
  sys_keep_shot "$SYS_TMP/ocr_failed.png" ocr_failed.png
  expect_eq "$(sys_clip_text)" "before" "the clipboard after a recognition that could not run"
}

run_at_scale() {
  local scale=$1
  QT_SCALE_FACTOR=1 "$SYS_BIN/kadrix-testclient" text Page 100 400 700 300 700 300 top "$SYS_TMP/info" &
  local page=$!
  sys_wait_window '^Page$' 5 || fail "the page window did not show"
  sys_start
  sleep 1
  echo -n "before" | xclip -selection clipboard -i
  sleep 0.3

  # Cancelled: nothing read, the clipboard stays.
  xdotool key ctrl+alt+super+o
  sys_wait_for --timeout 10 xdotool search --name '^kadrix-screencapture$' ||
    { tail -20 "$SYS_TMP/kadrix.log"; fail "scale $scale: the shortcut opened no area picker"; }
  sleep 0.5
  sys_key Escape
  sys_wait_for --timeout 10 bash -c "! xdotool search --name '^kadrix-screencapture$'" || fail "scale $scale: the picker stayed"
  sleep 1
  expect_eq "$(sys_clip_text)" "before" "scale $scale: the clipboard after a cancelled pick"

  # The first two lines of the page (it lies below where the notice of the
  # cancel shows).
  pick_first_lines "scale $scale"
  sys_wait_for --timeout 20 bash -c '[ "$(xclip -selection clipboard -o 2>/dev/null)" != before ]' ||
    { tail -20 "$SYS_TMP/kadrix.log"; fail "scale $scale: no text on the clipboard"; }
  sleep 0.6
  sys_screenshot "$SYS_TMP/ocr_shortcut_scale$scale.png"
  local text
  text=$(sys_clip_text | tr -s ' \n\t' '   ' | sed 's/^ //; s/ $//')
  expect_eq "$text" "$(line 1 0) $(line 2 7)" "scale $scale: the recognised text"
  # The notice shows the text (its first 107 characters) whole, wrapped on
  # lines of its own panel, which grows for them: read back off the screen.
  local w notice
  w=$(xdpyinfo | awk '/dimensions:/ {split($2, d, "x"); print d[1]}')
  convert "$SYS_TMP/ocr_shortcut_scale$scale.png" -crop $((422 * scale))x$((360 * scale))+$((w / 2 - 211 * scale))+0 \
    +repage -resize $((400 / scale))% "$SYS_TMP/notice.png"
  notice=$(sys_ocr "$SYS_TMP/notice.png" | tr -s ' \n' '  ')
  [[ "$notice" == *"of the list. 2. The quick brown fox jumps over the"* ]] \
    || fail "scale $scale: the notice shows \"$notice\", not the whole text"
  sys_active_is Kadrix && fail "scale $scale: the editor came up"
  [ "$scale" -eq 1 ] && read_with_engine_hidden
  kill "$page" 2>/dev/null || true
  wait "$page" 2>/dev/null || true
  echo "scale $scale: read \"$text\""
}

sys_road ocr-shortcut run_at_scale
