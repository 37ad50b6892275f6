#!/usr/bin/env bash
# Cropping an annotated capture in the running kadrix, then copying it. A
# full-screen capture from a kadrix:// link shows a window of one colour.
# First an arrow in its left part and a crop of its right part, and Ctrl+C at
# once: the copy is the whole composition, the arrow's red in it. Then, on a
# new capture, an arrow and a text still being typed, a crop selection dragged
# out, Return, Ctrl+Z, Ctrl+Shift+Z and Ctrl+C: the keys reach the editor (not
# the text), so the copy arrives with the annotations. At scale 1 and 2.
source "$(dirname "${BASH_SOURCE[0]}")/harness.sh"
sys_begin
sys_solid_window Target 300 300 900 500 '#3366cc'

# A capture in the editor, and where the window's colour shows in it.
capture_in_editor() {
  sys_link 'kadrix://grab/fullscreen?then=edit'
  sys_wait_editor 15
  measure_box "$1"
}
# BX BY BW BH: the part of the window's colour that the editor shows.
measure_box() {
  sys_snap "$scale-$1"
  sys_editor_box '#3366cc' "$scale"
}
# A point of the box, in hundredths of its width and height from its top left.
at() { echo "$((BX + BW * $1 / 100)) $((BY + BH * $2 / 100))"; }
arrow() {
  local x1 y x2
  read -r x1 y < <(at 10 20)
  read -r x2 _ < <(at 40 20)
  sys_key a
  sleep 0.3
  sys_drag "$x1" "$y" "$x2" "$y"
  sys_key Escape  # the arrow tool stays armed after a drawing
}
# A crop selection over the right half of the box, and Return.
crop_right_half() {
  local x1 y1 x2 y2
  read -r x1 y1 < <(at 55 10)
  read -r x2 y2 < <(at 90 90)
  sys_drag "$x1" "$y1" "$x2" "$y2"
  sleep 0.3
  sys_key Return
  sleep 0.5
}
# Ctrl+C into a cleared clipboard; the copy into $SYS_TMP/$1.png.
copy_into() {
  printf 'none' | xclip -selection clipboard -i
  sys_key ctrl+c
  sys_wait_for --timeout 5 bash -c 'xclip -selection clipboard -o -t TARGETS 2>/dev/null | grep -qx image/png' || {
    tail -20 "$SYS_TMP/kadrix.log"
    fail "$2: Ctrl+C put no image on the clipboard"
  }
  sys_clip_png "$SYS_TMP/$1.png"
}
# The copy holds the annotations' red and reaches left of the crop.
expect_composition() {
  local file=$SYS_TMP/$1.png red w blue
  red=$(convert "$file" -alpha off -fuzz 20% -fill black +opaque '#F44723' -fill white -opaque '#F44723' \
    -format '%[fx:int(mean*w*h+0.5)]' info:)
  w=$(identify -format '%w' "$file")
  blue=$(convert "$file" -alpha off -fill black +opaque '#3366cc' -trim -format '%w' info:)
  [ "$red" -gt 50 ] || fail "$2: the copy (${w} wide) holds no annotation ($red red pixels)"
  [ "$w" -gt $((blue + blue / 2)) ] || fail "$2: the copy is $w wide, about the crop's $blue: the annotations' room is missing"
}

road() {
  scale=$1
  sys_start

  capture_in_editor first
  arrow
  crop_right_half
  copy_into first "copy right after the crop"
  expect_composition first "copy right after the crop"

  capture_in_editor second
  arrow
  local tx ty
  read -r tx ty < <(at 12 60)
  sys_key t
  sleep 0.3
  sys_click "$tx" "$ty"
  sleep 0.3
  sys_type quarterly
  sleep 1  # typed keys count as held for 0.8 s, and a press with Y held zooms
  measure_box typed  # a new text zooms to 100 % around it
  crop_right_half
  sys_key ctrl+z
  sleep 0.3
  sys_key ctrl+shift+z
  sleep 0.3
  copy_into second "copy after undo and redo of the crop"
  expect_composition second "copy after undo and redo of the crop"
}
sys_road crop_copy road
