#!/usr/bin/env bash
# An image copied by another program becomes the screenshot and is cropped in
# the running editor: xclip offers a 400×300 picture with a red block, the
# kadrix://load/clipboard link loads it into the editor,
# then a selection dragged inside the block and Return crop the screenshot to
# it, and the copy gives exactly the 70×60 red pixels.
source "$(dirname "${BASH_SOURCE[0]}")/harness.sh"
sys_begin
xsetroot -solid '#3366cc'
sys_app_ready

convert -size 400x300 xc:'#10a050' -fill '#d02020' -draw 'rectangle 100,100 199,179' "$SYS_TMP/in.png"
xclip -selection clipboard -t image/png -i "$SYS_TMP/in.png" &
sys_wait_for bash -c "xclip -selection clipboard -o -t TARGETS 2>/dev/null | grep -qx image/png" --timeout 10 ||
  fail "xclip offers no PNG"
"$SYS_BIN/kadrix" 'kadrix://load/clipboard'
sys_wait_window '^Kadrix$' 15 || fail "no editor window"
sleep 1.5
copy_is() {
  sys_key ctrl+c
  sys_wait_for bash -c "xclip -selection clipboard -o -t image/png 2>/dev/null | identify -format '%wx%h' - 2>/dev/null | grep -qx $1" --timeout 10 || {
    tail -20 "$SYS_TMP/kadrix.log"
    fail "the editor's copy is not $1: $2"
  }
}
# Where the red block shows on the screen (the editor shows it at 100 %).
sys_screenshot "$SYS_TMP/before.png"
geom=$(convert "$SYS_TMP/before.png" -alpha off -fuzz 10% -fill black +opaque '#d02020' -fill white \
  -opaque '#d02020' -trim -format '%w %h %X %Y' info:)
read -r w h x y <<<"${geom//+/}"
expect_eq "$w x $h" "100 x 80" "red block on screen"
sys_drag $((x + 10)) $((y + 7)) $((x + 80)) $((y + 67))
sleep 0.5
sys_key Return
sleep 1
copy_is 70x60 "the selection after the crop"
sys_clip_png "$SYS_TMP/out.png"
expect_eq "$(convert "$SYS_TMP/out.png" -alpha off -format '%k' info:)" "1" "colours in the cropped copy"
expect_eq "$(sys_pixel "$SYS_TMP/out.png" 0 0)" "208,32,32" "cropped pixel"
echo "clipboard crop test: loaded from the clipboard, Return cropped to the selection"
