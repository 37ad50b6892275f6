#!/usr/bin/env bash
# The first road: a capture from the tray menu annotated and copied. A window
# of one colour on screen; the tray menu's Capture Area starts the screenshot
# tool, the area dragged over the window reaches kadrix, which asks once
# whether to show the preview or the editor; "Open Editor" shows the editor
# on the area. An arrow, a text and a counter drawn with their keys and the
# mouse, Ctrl+C puts on the clipboard one PNG: the window's pixels with the
# three marks in the places they were drawn. At scale 1 and 2.
source "$(dirname "${BASH_SOURCE[0]}")/harness.sh"
sys_begin
sys_tray
"$SYS_BIN/kadrix-testclient" solid Target 0 650 400 300 '#3366cc' &
client=$!
on_exit 'kill $client 2>/dev/null || true'
sys_wait_window '^Target$' 5 || fail "the test window did not show"

# Pixels of a region of a PNG that are not the window's colour.
marked() { convert "$1" -crop "$2" +repage -alpha off -fill white +opaque '#3366cc' -fill black -opaque '#3366cc' \
  -format '%[fx:int(mean*w*h+0.5)]' info:; }

road() {
  local s=$1
  # A returning user: no welcome window over the test window.
  sys_start
  sys_wait_for --timeout 15 xdotool search --onlyvisible --classname '^kadrix$' || fail "kadrix's icon never showed in the tray"
  sleep 1
  sys_click_tray_icon
  # Capture Area, the third entry.
  sys_key Down Down Down Return
  sys_wait_for --timeout 10 xdotool search --name '^kadrix-screencapture$' || fail "the screenshot tool did not start"
  sleep 0.5
  sys_drag 50 720 350 920
  sys_wait_window "Show small Preview or open the Editor" || { tail -20 "$SYS_TMP/kadrix.log"; fail "the capture never reached the core"; }
  local dialog
  dialog=$(xdotool search --name "Show small Preview or open the Editor" | head -1)
  sleep 0.5
  sys_geom "$dialog"
  sys_click $((X + WIDTH - 52 * s)) $((Y + HEIGHT - 26 * s))   # Open Editor
  sys_wait_editor
  grep -q '"areaCaptureMode": *"editor"' "$KADRIX_HOME/config/defaults.json" || fail "the answer was not kept"

  # Where the capture shows: the box of the window's colour inside the editor.
  local editor box
  editor=$(xdotool getactivewindow)
  sys_geom "$editor"
  sys_screenshot "$SYS_TMP/editor.png"
  box=$(convert "$SYS_TMP/editor.png" -crop "${WIDTH}x${HEIGHT}+$X+$Y" +repage -fill black +opaque '#3366cc' -trim -format '%w %h %X %Y' info:)
  local bw bh bx by
  read -r bw bh bx by <<<"$box"
  bx=$((X + ${bx#+})) by=$((Y + ${by#+}))
  # 300 × 200 pixels were dragged out; the editor shows them one to one.
  [ "$bw" -ge 298 ] && [ "$bh" -ge 198 ] || { sys_keep_shot "$SYS_TMP/editor.png" "road_editor_fail.png"; fail "the editor shows only ${bw}x${bh} of the window"; }

  # An arrow in the left third, a text at the top right, a counter at the bottom right.
  sys_key a
  sleep 0.3
  sys_drag $((bx + 30)) $((by + 150)) $((bx + 110)) $((by + 60))
  sleep 0.3
  sys_key t
  sleep 0.3
  sys_click $((bx + 170)) $((by + 40))
  sleep 0.3
  sys_type "Road"
  sys_key Escape
  sleep 0.3
  sys_key c
  sleep 0.3
  sys_click $((bx + 240)) $((by + 160))
  sleep 0.5
  sys_screenshot "$SYS_TMP/drawn.png"
  sys_keep_shot "$SYS_TMP/drawn.png" "road_editor_$s.png"
  sys_key Escape
  sleep 0.3
  sys_key ctrl+c
  sys_wait_for --timeout 5 bash -c 'xclip -selection clipboard -o -t TARGETS 2>/dev/null | grep -qx image/png' \
    || fail "Ctrl+C put no image on the clipboard"
  sys_clip_png "$SYS_TMP/copied.png"
  local size
  size=$(identify -format '%wx%h' "$SYS_TMP/copied.png")
  [[ "$size" =~ ^30[0-2]x20[0-2]$ ]] || fail "the copy is $size, not the 300x200 dragged out"
  # The window's own pixels away from the marks, the marks where they were drawn.
  expect_eq "$(sys_pixel "$SYS_TMP/copied.png" 5 5)" "51,102,204" "the copy's corner"
  expect_eq "$(marked "$SYS_TMP/copied.png" 60x25+100+172)" 0 "marks where nothing was drawn"
  local arrow text counter
  arrow=$(marked "$SYS_TMP/copied.png" 100x110+20+50)
  text=$(marked "$SYS_TMP/copied.png" 120x50+165+15)
  counter=$(marked "$SYS_TMP/copied.png" 60x60+210+130)
  [ "$arrow" -gt 300 ] || fail "no arrow in the copy ($arrow marked pixels)"
  [ "$text" -gt 60 ] || fail "no text in the copy ($text marked pixels)"
  [ "$counter" -gt 200 ] || fail "no counter in the copy ($counter marked pixels)"
}
sys_road editor road
