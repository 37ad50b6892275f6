#!/usr/bin/env bash
# The running kadrix copies and saves a capture: kadrix:// links start a
# full-screen capture whose after-capture action is "copy" (the clipboard then
# offers one PNG of the screen) or "save" (the folder chooser is answered and
# the file lands there under the template's name).
source "$(dirname "${BASH_SOURCE[0]}")/harness.sh"
sys_begin
xsetroot -solid '#3366cc'
sys_app
sys_wait_for pgrep -f "$SYS_BIN/kadrix" --timeout 10 || fail "kadrix did not start"
sleep 2

"$SYS_BIN/kadrix" 'kadrix://grab/fullscreen?then=copy'
sys_wait_for bash -c "xclip -selection clipboard -o -t TARGETS 2>/dev/null | grep -qx image/png" --timeout 15 ||
  fail "no PNG on the clipboard after the copy"
sys_clip_types | grep -q '^text/' && fail "the copy offers text besides the PNG"
sys_clip_png "$SYS_TMP/clip.png"
expect_eq "$(identify -format '%wx%h' "$SYS_TMP/clip.png")" "$(xdpyinfo | awk '/dimensions:/ {print $2}')" "copied size"
expect_eq "$(sys_pixel "$SYS_TMP/clip.png" 5 5)" "51,102,204" "copied pixel"

folder="$SYS_TMP/shots"
mkdir -p "$folder"
"$SYS_BIN/kadrix" 'kadrix://grab/fullscreen?then=save'
sys_wait_window 'Choose default folder' 15 || fail "no folder chooser for the first save"
sleep 0.5
sys_key ctrl+a
sys_type "$folder"
sleep 0.2
sys_key Return
sys_wait_for bash -c "ls '$folder'/SCR-*.* >/dev/null 2>&1" --timeout 15 || {
  tail -20 "$SYS_TMP/kadrix.log"
  fail "nothing saved into the chosen folder"
}
saved=$(ls "$folder"/SCR-*.*)
[[ "$(basename "$saved")" =~ ^SCR-$(date +%Y%m%d)-[b-u][a-z]{3}\.(png|jpeg)$ ]] || fail "unexpected name $(basename "$saved")"
expect_eq "$(sys_pixel "$saved" 5 5)" "51,102,204" "saved pixel"
echo "export app test: copied and saved $(basename "$saved")"
