#!/usr/bin/env bash
# "Capture Area" in the tray menu, chosen by its keys while the menu is open,
# starts the screenshot tool; the area dragged out with the mouse reaches the
# core, which asks its first-capture question; "Open Editor" shows the editor
# on that area.
source "$(dirname "$0")/harness.sh"
sys_begin
sys_tray
"$SYS_BIN/kadrix-testclient" solid Target 0 650 400 300 '#3366cc' &
client=$!
on_exit 'kill $client 2>/dev/null || true'
sys_wait_window '^Target$' 5 || fail "the test window did not show"
sys_app_in_tray
sleep 1
sys_click_tray_icon
# Capture Area by its keys while the menu is open (the open menu holds the keyboard).
xdotool key ctrl+shift+2
sys_wait_for --timeout 10 xdotool search --name '^kadrix-screencapture$' || fail "the screenshot tool did not start"
sleep 0.5
sys_drag 50 720 350 920
sys_wait_for --timeout 10 xdotool search --name "Show small Preview or open the Editor" \
  || { cat "$SYS_TMP/kadrix.log"; fail "the capture never reached the core"; }

blue() { convert "$1" -fill black +opaque '#3366cc' -fill white -opaque '#3366cc' -format '%[fx:int(mean*w*h)]' info:; }
sys_screenshot "$SYS_TMP/before.png"
dialog=$(xdotool search --name "Show small Preview or open the Editor" | head -1)
x=$(xwininfo -id "$dialog" | awk '/Absolute upper-left X/ {print $4}')
y=$(xwininfo -id "$dialog" | awk '/Absolute upper-left Y/ {print $4}')
dw=$(xwininfo -id "$dialog" | awk '/Width/ {print $2}')
dh=$(xwininfo -id "$dialog" | awk '/Height/ {print $2}')
sys_click $((x + dw - 52)) $((y + dh - 26))   # Open Editor
sleep 2
sys_screenshot "$SYS_TMP/editor.png"
added=$(( $(blue "$SYS_TMP/editor.png") - $(blue "$SYS_TMP/before.png") ))
# 300 × 200 pixels were dragged out; the editor shows them at 100 %.
[ "$added" -gt 50000 ] || fail "the editor shows only $added more pixels of the dragged colour"
cp "$SYS_TMP/editor.png" "${KADRIX_SHOT_DIR:-/tmp}/shell_capture_editor.png" 2>/dev/null || true

# The menu bar's Copy by its keys puts the screenshot on the clipboard.
editor=$(xdotool search --onlyvisible --name '^Kadrix$' | head -1)
xdotool windowactivate --sync "$editor" 2>/dev/null || true
sleep 0.3
xdotool key ctrl+c
sys_wait_for --timeout 5 bash -c 'xclip -selection clipboard -o -t TARGETS 2>/dev/null | grep -q image/png' \
  || fail "Ctrl+C from the editor's menu bar put no image on the clipboard"
sys_clip_png "$SYS_TMP/copied.png"
cw=$(identify -format '%w' "$SYS_TMP/copied.png")
ch=$(identify -format '%h' "$SYS_TMP/copied.png")
[ "$cw" -ge 300 ] && [ "$cw" -le 301 ] && [ "$ch" -ge 200 ] && [ "$ch" -le 201 ] \
  || fail "the copied screenshot is ${cw}x${ch}, not the 300x200 dragged out"
[ "$(sys_pixel "$SYS_TMP/copied.png" 150 100)" == "51,102,204" ] || fail "the copied screenshot is not the window's colour"
echo "Capture Area from the tray menu opens the editor on the dragged area; its menu bar copies it"
