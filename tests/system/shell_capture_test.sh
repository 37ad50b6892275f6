#!/usr/bin/env bash
# "Capture Area" in the tray menu, chosen by its keys while the menu is open,
# starts the screenshot tool; the area dragged out with the mouse reaches the
# core, which asks its first-capture question.
source "$(dirname "$0")/harness.sh"
sys_begin
sys_tray
"$SYS_BIN/kadrix-testclient" solid Target 300 300 400 300 '#3366cc' &
client=$!
trap 'kill $client 2>/dev/null || true; _sys_cleanup' EXIT
sys_wait_window '^Target$' 5 || fail "the test window did not show"
sys_app
sys_wait_for --timeout 15 xdotool search --onlyvisible --classname '^kadrix$' \
  || fail "kadrix's icon never showed in the tray"
sleep 1
w=$(xdpyinfo | awk '/dimensions:/ {split($2, d, "x"); print d[1]}')
sys_click $((w - 12)) 12
sleep 1
# Capture Area by its keys while the menu is open (the open menu holds the keyboard).
xdotool key ctrl+shift+2
sys_wait_for --timeout 10 xdotool search --name '^kadrix-screencapture$' || fail "the screenshot tool did not start"
sleep 0.5
sys_drag 350 350 550 500
sys_wait_for --timeout 10 xdotool search --name "Show small Preview or open the Editor" \
  || { sys_screenshot "$SYS_TMP/after.png"; cat "$SYS_TMP/kadrix.log"; fail "the capture never reached the core"; }
echo "Capture Area from the tray menu reaches the core with the dragged area"
