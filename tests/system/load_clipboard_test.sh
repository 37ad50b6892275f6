#!/usr/bin/env bash
# An image copied by another program becomes the screenshot: xclip offers a
# 123×45 PNG, the kadrix://load/clipboard link loads it into the editor, and
# the editor's copy puts the same picture back on the clipboard.
source "$(dirname "${BASH_SOURCE[0]}")/harness.sh"
sys_begin
xsetroot -solid '#3366cc'
sys_app
sys_wait_for pgrep -f "$SYS_BIN/kadrix" --timeout 10 || fail "kadrix did not start"
sleep 2

convert -size 123x45 xc:'#10a050' "$SYS_TMP/in.png"
xclip -selection clipboard -t image/png -i "$SYS_TMP/in.png" &
sys_wait_for bash -c "xclip -selection clipboard -o -t TARGETS 2>/dev/null | grep -qx image/png" --timeout 10 ||
  fail "xclip offers no PNG"
"$SYS_BIN/kadrix" 'kadrix://load/clipboard'
sys_wait_window '^Kadrix$' 15 || fail "no editor window after loading the clipboard"
sleep 1
sys_key ctrl+c
sys_wait_for bash -c "xclip -selection clipboard -o -t image/png 2>/dev/null | identify -format '%wx%h' - 2>/dev/null | grep -qx 123x45" --timeout 10 || {
  tail -20 "$SYS_TMP/kadrix.log"
  fail "the editor's copy is not the loaded 123x45 picture"
}
sys_clip_png "$SYS_TMP/out.png"
expect_eq "$(sys_pixel "$SYS_TMP/out.png" 60 20)" "16,160,80" "copied pixel"
echo "load clipboard test: the clipboard image was loaded and copied back"
