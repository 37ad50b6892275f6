#!/usr/bin/env bash
# An area capture with the preview chosen opens the thumbnail at the pointer;
# Ctrl+C from it puts the capture on the clipboard and closes it; the next
# capture's thumbnail closes with Escape, and Return opens the editor.
source "$(dirname "${BASH_SOURCE[0]}")/harness.sh"
sys_begin
xsetroot -solid '#3366cc'
sys_app_ready

grab_area() {
  "$SYS_BIN/kadrix" 'kadrix://grab/area'
  sys_wait_for --timeout 10 xdotool search --name '^kadrix-screencapture$' || fail "the screenshot tool did not start"
  sleep 0.5
  sys_drag 200 200 500 400
}
thumb_shown() { xdotool search --onlyvisible --name '^Kadrix Preview$'; }

grab_area
sys_wait_for --timeout 10 xdotool search --name "Show small Preview or open the Editor" || fail "no first-capture question"
dialog=$(xdotool search --name "Show small Preview or open the Editor" | head -1)
x=$(xwininfo -id "$dialog" | awk '/Absolute upper-left X/ {print $4}')
y=$(xwininfo -id "$dialog" | awk '/Absolute upper-left Y/ {print $4}')
dw=$(xwininfo -id "$dialog" | awk '/^ *Width:/ {print $2}')
dh=$(xwininfo -id "$dialog" | awk '/^ *Height:/ {print $2}')
sys_click $((x + dw - 150)) $((y + dh - 26))   # Show Preview
sys_wait_for --timeout 10 thumb_shown || { tail -20 "$SYS_TMP/kadrix.log"; fail "no thumbnail after the capture"; }
thumb=$(thumb_shown | head -1)
sleep 0.5
sys_expect_floating "$thumb" "the thumbnail"
sys_screenshot "$SYS_TMP/thumb.png"
sys_keep_shot "$SYS_TMP/thumb.png" "preview_thumb.png"

sys_focus "$thumb"
sys_key ctrl+c
sys_wait_for --timeout 5 bash -c "xclip -selection clipboard -o -t TARGETS 2>/dev/null | grep -qx image/png" \
  || fail "Ctrl+C in the thumbnail copied nothing"
sys_clip_png "$SYS_TMP/clip.png"
size=$(identify -format '%wx%h' "$SYS_TMP/clip.png")
[[ "$size" =~ ^30[01]x20[01]$ ]] || fail "the copied capture is $size, not the 300x200 dragged out"
sys_wait_for --timeout 5 bash -c "! xdotool search --onlyvisible --name '^Kadrix Preview$'" || fail "the copy left the thumbnail open"

grab_area
sys_wait_for --timeout 10 thumb_shown || fail "no thumbnail for the second capture"
# The pointer let go at the area's bottom-right corner: the thumbnail's
# bottom-right corner sits there, over the area.
sleep 0.5
thumb=$(thumb_shown | head -1)
tx=$(xwininfo -id "$thumb" | awk '/Absolute upper-left X/ {print $4}')
ty=$(xwininfo -id "$thumb" | awk '/Absolute upper-left Y/ {print $4}')
tw=$(xwininfo -id "$thumb" | awk '/^ *Width:/ {print $2}')
th=$(xwininfo -id "$thumb" | awk '/^ *Height:/ {print $2}')
expect_eq "$((tx + tw)),$((ty + th))" "500,400" "thumbnail's bottom-right corner at the pointer"
sys_focus "$(thumb_shown | head -1)"
sys_key Escape
sys_wait_for --timeout 5 bash -c "! xdotool search --onlyvisible --name '^Kadrix Preview$'" || fail "Escape left the thumbnail open"

grab_area
sys_wait_for --timeout 10 thumb_shown || fail "no thumbnail for the third capture"
sys_focus "$(thumb_shown | head -1)"
sys_key Return
sys_wait_for --timeout 10 xdotool search --onlyvisible --name '^Kadrix$' || fail "Return did not open the editor"
echo "preview app test: thumbnail at the pointer, copied, dismissed and opened in the editor"
