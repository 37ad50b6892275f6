#!/usr/bin/env bash
# A capture pinned from a kadrix:// link floats above an ordinary window as a
# window of its own; "=" zooms it one step (from 50 % to 65 %),
# "-" takes it back, and Ctrl+W closes it. The editor's Pin button pins too.
source "$(dirname "${BASH_SOURCE[0]}")/harness.sh"
sys_begin
xsetroot -solid '#3366cc'
sys_test_window solid Other 100 100 500 400 '#cc6633'
sys_app_ready

"$SYS_BIN/kadrix" 'kadrix://grab/fullscreen?then=pin'
sys_wait_for --timeout 10 xdotool search --onlyvisible --name '^Kadrix Pin$' || {
  tail -20 "$SYS_TMP/kadrix.log"
  fail "no pin window after the capture"
}
pin=$(xdotool search --onlyvisible --name '^Kadrix Pin$' | head -1)
geom() { xwininfo -id "$pin" | awk '/^ *Width:/ {w=$2} /^ *Height:/ {h=$2} END {print w "x" h}'; }
sleep 0.5
before=$(geom)
w0=${before%x*}
# A full-screen capture is at least three quarters of the screen: it opens at half size.
screen_w=$(xdpyinfo | awk '/dimensions:/ {split($2, d, "x"); print d[1]}')
expect_eq "$w0" "$((screen_w / 2))" "opening width of a full-screen pin"

# Click the ordinary window: the pin stays above it.
sys_click 150 150
sleep 0.5
sys_screenshot "$SYS_TMP/above.png"
cx=$(xwininfo -id "$pin" | awk '/Absolute upper-left X/ {print $4}')
cy=$(xwininfo -id "$pin" | awk '/Absolute upper-left Y/ {print $4}')
sys_keep_shot "$SYS_TMP/above.png" "pin_above.png"
# No compositor runs here: the pin's round corners show what lies below it
# (the pixel just left of the pin), not black.
expect_eq "$(sys_pixel "$SYS_TMP/above.png" "$cx" "$cy")" "$(sys_pixel "$SYS_TMP/above.png" $((cx - 1)) "$cy")" \
  "the pin's top-left corner"

sys_focus "$pin"
sleep 0.3
sys_key equal
sys_wait_for --timeout 5 bash -c "[ \"\$(xwininfo -id $pin | awk '/^ *Width:/ {print \$2}')\" -gt $w0 ]" \
  || fail "'=' did not grow the pin (still $(geom))"
w1=$(geom); w1=${w1%x*}
# 50 % steps in to 65 %.
expect_eq "$w1" "$((screen_w * 65 / 100))" "width after one step in"
sys_key minus
sys_wait_for --timeout 5 bash -c "[ \"\$(xwininfo -id $pin | awk '/^ *Width:/ {print \$2}')\" -eq $w0 ]" \
  || fail "'-' did not take the pin back to its opening size ($(geom))"

sys_key ctrl+w
sys_wait_for --timeout 5 bash -c "! xdotool search --onlyvisible --name '^Kadrix Pin$'" \
  || fail "Ctrl+W did not close the pin"
kill -0 "$SYS_APP_PID" || fail "kadrix quit with the pin"

# The editor's Pin button pins the screenshot it shows and hides the editor.
"$SYS_BIN/kadrix" 'kadrix://grab/fullscreen?then=edit'
sys_wait_for --timeout 10 xdotool search --onlyvisible --name '^Kadrix$' || fail "no editor window"
editor=$(xdotool search --onlyvisible --name '^Kadrix$' | head -1)
sleep 1
ex=$(xwininfo -id "$editor" | awk '/Absolute upper-left X/ {print $4}')
ey=$(xwininfo -id "$editor" | awk '/Absolute upper-left Y/ {print $4}')
ew=$(xwininfo -id "$editor" | awk '/^ *Width:/ {print $2}')
sys_click $((ex + ew - 152)) $((ey + 43))   # Pin, at the right of the tool bar
sys_wait_for --timeout 5 xdotool search --onlyvisible --name '^Kadrix Pin$' || fail "the editor's Pin button made no pin"
sys_wait_for --timeout 5 bash -c "! xdotool search --onlyvisible --name '^Kadrix$'" || fail "the editor stayed after pinning"
echo "pin app test: a ${before} pin grew to ${w1} wide and closed"
