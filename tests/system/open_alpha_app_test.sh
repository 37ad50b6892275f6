#!/usr/bin/env bash
# A picture with see-through pixels, opened in the running kadrix and copied
# with Ctrl+C, reaches the clipboard with its own alpha: three bands of red at
# a quarter, half and three quarters (64, 128 and 192 of 255). Scale 1 and 2.
source "$(dirname "${BASH_SOURCE[0]}")/harness.sh"
sys_begin
xsetroot -solid '#808080'

convert -size 40x40 xc:'rgba(255,0,0,0.251)' xc:'rgba(255,0,0,0.502)' xc:'rgba(255,0,0,0.753)' +append \
  "PNG32:$SYS_TMP/bands.png"
# "R,G,B,A" of one pixel, each 0-255.
rgba() {
  convert "$1" -format "%[fx:int(255*p{$2,$3}.r+0.5)],%[fx:int(255*p{$2,$3}.g+0.5)],%[fx:int(255*p{$2,$3}.b+0.5)],%[fx:int(255*p{$2,$3}.a+0.5)]" info:
}
for at in "20 64" "60 128" "100 192"; do
  set -- $at
  expect_eq "$(rgba "$SYS_TMP/bands.png" "$1" 20)" "255,0,0,$2" "the picture written"
done

copied_bands() {
  local scale=$1
  sys_start
  "$SYS_BIN/kadrix" "$SYS_TMP/bands.png" >/dev/null 2>&1 &
  sys_wait_editor 15
  xclip -selection clipboard -i /dev/null
  sys_key ctrl+c
  sys_wait_for --timeout 10 bash -c "xclip -selection clipboard -o -t image/png 2>/dev/null | identify -format '%wx%h' - | grep -qx 120x40" ||
    fail "scale $scale: no 120x40 picture on the clipboard after Ctrl+C"
  sys_clip_png "$SYS_TMP/copied.png"
  expect_eq "$(rgba "$SYS_TMP/copied.png" 20 20)" "255,0,0,64" "scale $scale: the quarter band"
  expect_eq "$(rgba "$SYS_TMP/copied.png" 60 20)" "255,0,0,128" "scale $scale: the half band"
  expect_eq "$(rgba "$SYS_TMP/copied.png" 100 20)" "255,0,0,192" "scale $scale: the three-quarter band"
  echo "scale $scale: the copy keeps the picture's alpha"
}

sys_road open-alpha copied_bands
