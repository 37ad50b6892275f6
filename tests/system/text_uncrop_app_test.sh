#!/usr/bin/env bash
# In the running editor, as a user: a picture of two lines of text in a
# fixed font, framed in blue, comes in from the clipboard; a selection and
# Return crop it, Edit ▸ Uncrop brings the whole picture back pixel for pixel;
# then a selection over the text and its Text button recognise it, and the clipboard
# holds the rendered text (blanks normalised). Scale 1 and 2.
source "$(dirname "${BASH_SOURCE[0]}")/harness.sh"
sys_begin
xsetroot -solid '#3366cc'

line1='Kadrix reads 42 plain words'
line2='from the quick brown fox'
convert -size 560x180 xc:white -font DejaVu-Sans-Mono -pointsize 26 -fill black \
  -draw "text 30,70 '$line1'" -draw "text 30,120 '$line2'" \
  -bordercolor '#2050d0' -border 4 "$SYS_TMP/text.png"

blue_box() {  # "w h x y" of the blue frame on the screen
  sys_screenshot "$SYS_TMP/now.png"
  convert "$SYS_TMP/now.png" -alpha off -fill black +opaque '#2050D0' -fill white -opaque '#2050D0' \
    -trim -format '%w %h %X %Y' info: | tr -d '+'
}

# Edit ▸ Uncrop from the editor's menu bar (the menu's second item).
# Clicks a point of the editor window, in points from its top-left corner.
click_editor() {
  local X Y WIDTH HEIGHT
  sys_geom "$(xdotool search --onlyvisible --name '^Kadrix$' | head -1)"
  sys_click $((X + $1 * scale)) $((Y + $2 * scale))
}

edit_uncrop() {
  click_editor 108 9
  sleep 0.7
  sys_key Down Down Return
  sleep 1
}

# Ctrl+C in the editor puts a picture of that size on the clipboard (saved as copied.png).
copied_is() {
  sys_key ctrl+c
  sys_wait_for bash -c "xclip -selection clipboard -o -t image/png 2>/dev/null | identify -format '%wx%h' - | grep -qx $1" \
    --timeout 10 || fail "scale $scale: $2 is not $1 ($(xclip -selection clipboard -o -t image/png 2>/dev/null | identify -format '%wx%h' - 2>&1))"
  sys_clip_png "$SYS_TMP/copied.png"
}

run_at_scale() {
  local scale=$1
  sys_start
  sleep 1
  xclip -selection clipboard -t image/png -i "$SYS_TMP/text.png" &
  local clip=$!
  sys_wait_for bash -c "xclip -selection clipboard -o -t TARGETS 2>/dev/null | grep -qx image/png" --timeout 10 ||
    fail "xclip offers no PNG"
  sys_link 'kadrix://load/clipboard'
  sys_wait_window '^Kadrix$' 15 || fail "scale $scale: no editor window"
  sleep 1.5

  local w h x y
  read -r w h x y <<<"$(blue_box)"
  # The editor shows the picture one to one (device pixels); its own thin
  # border line may lie over the outermost pixels.
  [ $((568 - w)) -le 2 ] && [ $((188 - h)) -le 2 ] || fail "scale $scale: the picture shows at ${w}x${h}"
  # The picture's top-left corner on the screen.
  local px=$((x - (568 - w) / 2)) py=$((y - (188 - h) / 2))

  # Crop to a part of it with Return: the frame is gone from the screen.
  sys_drag $((px + 40)) $((py + 30)) $((px + 300)) $((py + 150))
  sleep 0.5
  sys_key Return
  sleep 1
  sys_screenshot "$SYS_TMP/text_uncrop_cropped_scale$scale.png"
  local left
  left=$(convert "$SYS_TMP/now.png" -alpha off -fill black +opaque '#2050D0' -fill white -opaque '#2050D0' \
    -format '%[fx:int(mean*w*h)]' info:)
  sys_screenshot "$SYS_TMP/now.png"
  local after
  after=$(convert "$SYS_TMP/now.png" -alpha off -fill black +opaque '#2050D0' -fill white -opaque '#2050D0' \
    -format '%[fx:int(mean*w*h)]' info:)
  [ "$after" -lt $((left / 10)) ] || fail "scale $scale: Return did not crop ($left -> $after frame pixels)"

  # Edit ▸ Uncrop selects the former crop in the whole picture: Return
  # crops to exactly that area again.
  edit_uncrop
  sys_screenshot "$SYS_TMP/text_uncrop_uncropped_scale$scale.png"
  sys_key Return
  sleep 1
  copied_is 260x120 "the crop after uncrop and Return"
  # Unchanged pixels of the picture, where the first selection was (the
  # frame's position on the screen is known to a pixel).
  local found
  found=$(compare -metric AE -subimage-search "$SYS_TMP/text.png" "$SYS_TMP/copied.png" null: 2>&1 | tail -1)
  [[ "$found" =~ ^0\ @\ (39|40|41),(29|30|31)$ ]] || fail "scale $scale: the re-cropped area is not the picture's at 40,30 ($found)"

  # Uncrop again, drop the selection: the whole picture comes back unchanged.
  sys_link 'kadrix://show'
  sys_wait_for --timeout 10 sys_active_is Kadrix || fail "scale $scale: kadrix://show did not bring the editor back"
  sleep 0.5
  edit_uncrop
  sys_key Escape
  sleep 0.5
  copied_is 568x188 "the whole picture after the uncrop"
  expect_eq "$(compare -metric AE "$SYS_TMP/copied.png" "$SYS_TMP/text.png" null: 2>&1)" "0" \
    "scale $scale: pixels of the uncropped picture unlike the original's"

  # The copy is on the clipboard: load it afresh, select the text, press Text.
  sys_link 'kadrix://load/clipboard'
  sys_wait_for --timeout 10 sys_active_is Kadrix || fail "scale $scale: no editor for the text"
  sleep 1.5
  read -r w h x y <<<"$(blue_box)"
  px=$((x - (568 - w) / 2)) py=$((y - (188 - h) / 2))
  sys_drag $((px + 16)) $((py + 30)) $((px + 550)) $((py + 150))
  sleep 0.5
  sys_screenshot "$SYS_TMP/text_uncrop_ocr_selection_scale$scale.png"
  # The selection's Text button (Ctrl+O reads the whole screenshot only with no selection).
  click_editor 252 43
  sys_wait_for --timeout 20 bash -c "xclip -selection clipboard -o -t UTF8_STRING 2>/dev/null | grep -q ." ||
    { tail -20 "$SYS_TMP/kadrix.log"; fail "scale $scale: no text on the clipboard after Text"; }
  sys_screenshot "$SYS_TMP/text_uncrop_ocr_notice_scale$scale.png"
  local text
  text=$(xclip -selection clipboard -o -t UTF8_STRING | tr -s ' \n\t' '   ' | sed 's/^ //; s/ $//')
  expect_eq "$text" "$line1 $line2" "scale $scale: the recognised text"
  echo "scale $scale: cropped, uncropped to the same pixels, read \"$text\""
  kill $clip 2>/dev/null || true
}

sys_road text-uncrop run_at_scale
