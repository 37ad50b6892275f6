#!/usr/bin/env bash
# A file handed to kadrix while an area selection is open comes after the
# capture, as it was asked for after it: the capture is saved (with a line
# in the library) and copied as the settings say, and the file then shows in
# the editor.
source "$(dirname "$0")/harness.sh"
sys_begin
xsetroot -solid '#3366cc'

shots="$SYS_TMP/shots"
mkdir -p "$shots"
sys_library_on "$shots"
sed -i 's/"libEnabled": true/&, "afterGrabSave": true, "afterGrabCopy": true, "areaCaptureMode": "editor"/' \
  "$KADRIX_HOME/config/defaults.json"
sys_app
sys_wait_for --timeout 15 sys_log_has 'AppLogic initialized' || fail "kadrix did not start"
sleep 1
file="$SYS_TMP/opened.png"
convert -size 120x80 xc:'#cc3366' "$file"

sys_key ctrl+shift+2
sys_wait_for --timeout 10 xdotool search --onlyvisible --name '^kadrix-screencapture$' \
  || fail "Ctrl+Shift+2 started no screenshot tool"
sleep 0.5
sys_timeout 5 "$SYS_BIN/kadrix" "$file" || fail "forwarding a file failed"
sleep 1 # the file is read while the selection is open
sys_drag 100 100 300 250

sys_wait_for --timeout 10 bash -c "ls '$shots'/SCR-* >/dev/null 2>&1" || fail "the capture was not saved"
saved=$(ls "$shots"/SCR-* | head -1)
expect_eq "$(sys_pixel "$saved" 20 20)" "51,102,204" "the saved picture's colour"
sys_wait_for --timeout 10 bash -c "[ -s '$shots/imagelib.kxdb' ]" || fail "the saved capture has no library line"
sys_clip_png "$SYS_TMP/clip.png"
expect_eq "$(sys_pixel "$SYS_TMP/clip.png" 20 20)" "51,102,204" "the copied picture's colour"
shown() {
  sys_screenshot "$SYS_TMP/screen.png"
  [ "$(convert "$SYS_TMP/screen.png" -fill black +opaque '#cc3366' -fill white -opaque '#cc3366' \
    -format '%[fx:int(mean*w*h)]' info:)" -gt 1000 ]
}
sys_wait_for --timeout 10 shown || fail "the handed-over file did not show in the editor after the capture"
echo "a file handed over during a selection shows after the capture is saved and copied"
