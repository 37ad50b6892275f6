#!/usr/bin/env bash
# The preview road. With the preview chosen for area captures, the area shows
# as a floating thumbnail with round corners; Ctrl+P pins it, "=" zooms the pin, Edit in the
# pin's context menu opens it in the editor, a selection and Return crop it, and Save As
# writes the cropped area. Then a window capture in each of the four window
# shadow modes: on this desktop a window has no shadow margin, so every mode
# copies the same picture, the window with its frame.
# At scale 1 and 2.
source "$(dirname "${BASH_SOURCE[0]}")/harness.sh"
sys_begin
xsetroot -solid '#20a040'
sys_test_window solid Target 100 100 600 400 '#3366cc'
folder="$SYS_TMP/shots"
mkdir -p "$folder"

shown() { xdotool search --onlyvisible --name "$1" | head -1; }
clip_has_png() { xclip -selection clipboard -o -t TARGETS 2>/dev/null | grep -qx image/png; }

road() {
  local s=$1
  sys_start '"areaCaptureMode": "preview"'
  sys_area_to_thumbnail 150 150 450 350
  sleep 0.5
  # Outside its rounded panel the thumbnail shows what lies below (no
  # compositor runs here), not black corners.
  local corner
  sys_geom "$(shown '^Kadrix Preview$')"
  sys_screenshot "$SYS_TMP/thumb.png"
  for corner in "$X $Y" "$((X + WIDTH - 1)) $Y" "$X $((Y + HEIGHT - 1))" "$((X + WIDTH - 1)) $((Y + HEIGHT - 1))"; do
    # shellcheck disable=SC2086
    [ "$(sys_pixel "$SYS_TMP/thumb.png" $corner)" != "0,0,0" ] || fail "scale $s: the thumbnail's corner at $corner is black"
  done
  sys_focus "$(shown '^Kadrix Preview$')"
  sys_key ctrl+p
  sys_wait_for --timeout 10 shown '^Kadrix Pin$' || fail "Ctrl+P in the thumbnail made no pin"
  sys_wait_for --timeout 5 bash -c "! xdotool search --onlyvisible --name '^Kadrix Preview$'" || fail "the thumbnail stayed after pinning"
  local pin w0
  pin=$(shown '^Kadrix Pin$')
  sleep 0.5
  sys_geom "$pin"
  w0=$WIDTH
  sys_focus "$pin"
  sys_key equal
  sys_wait_for --timeout 5 bash -c "[ \$(xwininfo -id $pin | awk '/^ *Width:/ {print \$2}') -gt $w0 ]" || fail "'=' did not zoom the pin"
  sleep 0.3
  # The pin's context menu: its first item, Edit, opens the editor.
  sys_geom "$pin"
  sys_click $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) 3
  sleep 0.6
  sys_key Down Return
  sys_wait_editor

  # Crop to a selection inside the capture, then Save As.
  local editor bx by
  editor=$(xdotool getactivewindow)
  sys_geom "$editor"
  sys_screenshot "$SYS_TMP/editor.png"
  read -r bx by <<<"$(convert "$SYS_TMP/editor.png" -crop "${WIDTH}x${HEIGHT}+$X+$Y" +repage -fill black +opaque '#3366cc' -trim -format '%X %Y' info: | tr -d +)"
  bx=$((X + bx)) by=$((Y + by))
  sys_drag $((bx + 40)) $((by + 40)) $((bx + 140)) $((by + 120))
  sleep 0.5
  sys_key Return
  sleep 1
  sys_key ctrl+shift+s
  sys_dialog_enter 'Save As' "$folder/cropped-$s.png"
  sys_wait_for --timeout 15 test -s "$folder/cropped-$s.png" || fail "Save As wrote nothing"
  local size
  size=$(identify -format '%wx%h' "$folder/cropped-$s.png")
  [[ "$size" =~ ^10[0-2]x8[0-2]$ ]] || fail "the cropped file is $size, not the 100x80 selected"
  expect_eq "$(sys_pixel "$folder/cropped-$s.png" 50 40)" "51,102,204" "the cropped file's pixels"
  sys_stop_app

  # A window capture in each shadow mode.
  local mode
  sys_focus "$(xdotool search --name '^Target$' | head -1)"
  for mode in transparent trimmed wallpaper solid; do
    sys_start "\"windowShadow\": \"$mode\", \"afterGrabCopy\": true, \"afterGrabShow\": false"
    xclip -selection clipboard -i /dev/null
    sys_focus "$(xdotool search --name '^Target$' | head -1)"
    sys_link 'kadrix://grab/window/active'
    sys_wait_for --timeout 10 clip_has_png || fail "$mode: the window capture copied nothing"
    sys_clip_png "$SYS_TMP/window-$mode.png"
    sys_stop_app
  done
  # The frame around the window's 600 × 400 pixels (times the scale).
  local ww wh
  read -r ww wh <<<"$(identify -format '%w %h' "$SYS_TMP/window-transparent.png")"
  [ "$ww" -ge 600 ] && [ "$wh" -ge 400 ] && [ "$ww" -le 640 ] && [ "$wh" -le 460 ] \
    || fail "the window capture is ${ww}x${wh}"
  for mode in trimmed wallpaper solid; do
    expect_eq "$(compare -metric AE "$SYS_TMP/window-$mode.png" "$SYS_TMP/window-transparent.png" null: 2>&1)" 0 \
      "pixels of the $mode capture differing from the transparent one"
  done
  expect_eq "$(sys_pixel "$SYS_TMP/window-transparent.png" $((ww / 2)) $((wh / 2)))" "51,102,204" "the window's middle"
}
sys_road preview road
