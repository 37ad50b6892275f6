#!/usr/bin/env bash
# "Load From Clipboard" in the tray menu's "more" submenu opens the image on
# the clipboard in the editor; a drawing that starts with a byte-order mark
# and a long comment, handed to a second launch, opens in the editor too.
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

{
  printf '\xef\xbb\xbf<!-- %s -->\n' "$(printf 'x%.0s' $(seq 700))"
  echo "<svg xmlns='http://www.w3.org/2000/svg' width='120' height='80'><rect width='120' height='80' fill='#cc3399'/></svg>"
} >"$SYS_TMP/marked.svg"
"$SYS_BIN/kadrix" "$SYS_TMP/marked.svg" >/dev/null 2>&1 &
magenta() { sys_screenshot "$SYS_TMP/shot.png"; [ "$(convert "$SYS_TMP/shot.png" -fill black +opaque '#cc3399' -fill white -opaque '#cc3399' -format '%[fx:int(mean*w*h)]' info:)" -gt 4000 ]; }
sys_wait_for --timeout 10 magenta || fail "a drawing starting with a byte-order mark did not open in the editor"
echo "a drawing starting with a byte-order mark and a long comment opens in the editor"
