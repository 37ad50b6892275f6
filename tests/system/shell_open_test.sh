#!/usr/bin/env bash
# "Load From Clipboard" in the tray menu's "more" submenu opens the image on
# the clipboard in the editor.
source "$(dirname "$0")/harness.sh"
sys_begin
sys_tray
sys_app_in_tray
convert -size 90x60 xc:'#33cc66' "$SYS_TMP/green.png"
xclip -selection clipboard -t image/png -i "$SYS_TMP/green.png" &
clip=$!
on_exit 'kill $clip 2>/dev/null || true'
sleep 1
sys_click_tray_icon
# Reopen, Capture Screen, Capture Area, Scrolling, Recognize, more; into it; its last item.
sys_key Down Down Down Down Down Down Right Up Return
green() { sys_screenshot "$SYS_TMP/shot.png"; [ "$(convert "$SYS_TMP/shot.png" -fill black +opaque '#33cc66' -fill white -opaque '#33cc66' -format '%[fx:int(mean*w*h)]' info:)" -gt 1000 ]; }
sys_wait_for --timeout 10 green || fail "the clipboard's image did not open in the editor"
echo "Load From Clipboard in the tray menu opens the clipboard's image"
