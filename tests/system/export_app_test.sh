#!/usr/bin/env bash
# The running kadrix copies and saves a capture: kadrix:// links start a
# full-screen capture whose after-capture action is "copy" (the clipboard then
# offers one PNG of the screen) or "save" (the folder chooser is answered and
# the file lands there under the template's name); then Save As and Print
# from the editor's menu keys.
source "$(dirname "${BASH_SOURCE[0]}")/harness.sh"
sys_begin
# Printing to a PDF file writes into the home folder: a private one.
export HOME="$SYS_TMP/user"
mkdir -p "$HOME"
xsetroot -solid '#3366cc'
sys_app_ready

"$SYS_BIN/kadrix" 'kadrix://grab/fullscreen?then=copy'
sys_wait_for bash -c "xclip -selection clipboard -o -t TARGETS 2>/dev/null | grep -qx image/png" --timeout 15 ||
  fail "no PNG on the clipboard after the copy"
sys_clip_types | grep -q '^text/' && fail "the copy offers text besides the PNG"
sys_clip_png "$SYS_TMP/clip.png"
expect_eq "$(identify -format '%wx%h' "$SYS_TMP/clip.png")" "$(xdpyinfo | awk '/dimensions:/ {print $2}')" "copied size"
expect_eq "$(sys_pixel "$SYS_TMP/clip.png" 5 5)" "51,102,204" "copied pixel"

folder="$SYS_TMP/shots"
mkdir -p "$folder"
sys_first_save "$folder"
saved=$(ls "$folder"/SCR-*.*)
[[ "$(basename "$saved")" =~ ^SCR-$(date +%Y%m%d)-[b-u][a-z]{3}\.(png|jpeg)$ ]] || fail "unexpected name $(basename "$saved")"
expect_eq "$(sys_pixel "$saved" 5 5)" "51,102,204" "saved pixel"
echo "export app test: copied and saved $(basename "$saved")"

# The editor's Save As and Print on the same capture.
"$SYS_BIN/kadrix" 'kadrix://grab/fullscreen?then=edit'
sys_wait_window '^Kadrix$' 15 || fail "no editor window"
sleep 1
sys_key ctrl+shift+s
sys_dialog_enter 'Save As' "$folder/chosen.jpeg"
sys_wait_for test -s "$folder/chosen.jpeg" --timeout 15 || fail "Save As wrote nothing"
expect_eq "$(identify -format '%m' "$folder/chosen.jpeg")" "JPEG" "Save As format"

# Ctrl+S saves into the stored folder without asking again.
"$SYS_BIN/kadrix" 'kadrix://grab/fullscreen?then=edit'
# The menu enables Print only for the editor that has the keyboard.
sys_wait_editor 15
sleep 0.5
before=$(ls "$folder"/SCR-* | wc -l)
sys_key ctrl+s
sys_wait_for bash -c "[ \$(ls '$folder'/SCR-* | wc -l) -gt $before ]" --timeout 15 || fail "Ctrl+S saved nothing"
newest=$(ls -t "$folder"/SCR-* | head -1)
[[ "$(basename "$newest")" =~ ^SCR-$(date +%Y%m%d)-[b-u][a-z]{3}(-[0-9]+)?\.(png|jpeg)$ ]] ||
  fail "Ctrl+S saved under an unexpected name $(basename "$newest")"

"$SYS_BIN/kadrix" 'kadrix://grab/fullscreen?then=edit'
# The menu enables Print only for the editor that has the keyboard.
sys_wait_editor 15
sleep 0.5
# File ▸ Print… (Ctrl+P pins in the editor): from the menu's end, Add Capture,
# Pin to Screen, Upload, then Print….
sys_geom "$(xdotool search --onlyvisible --name '^Kadrix$' | head -1)"
# The menu is a window of its own: the keys wait until it is up.
before=$(xdotool search --onlyvisible --classname '^kadrix$' 2>/dev/null | wc -l)
sys_click $((X + 72)) $((Y + 9))
sys_wait_for --timeout 5 bash -c "[ \$(xdotool search --onlyvisible --classname '^kadrix\$' 2>/dev/null | wc -l) -gt $before ]" ||
  fail "the File menu did not open"
sleep 0.3
sys_key Up Up Up Up Return
sys_wait_window '^Print' 15 || fail "no print dialog"
sleep 0.8
sys_key Return
# The file shows before the printer has written it: wait for its end.
sys_wait_for bash -c "tail -c 64 '$HOME'/*.pdf 2>/dev/null | grep -q '%%EOF'" --timeout 15 || fail "printing gave no PDF"
pdf=$(ls "$HOME"/*.pdf | head -1)
pdftoppm -png -r 20 -singlefile "$pdf" "$SYS_TMP/page"
[ "$(identify -format '%w' "$SYS_TMP/page.png")" -gt "$(identify -format '%h' "$SYS_TMP/page.png")" ] ||
  fail "a wide capture should print in landscape"
echo "export app test: Save As and print done"

# An arrow drawn in the editor and finished is in the copy: the same capture copied before
# and after drawing differs by the arrow's red pixels.
red_pixels() { sys_count_pixels "$1" 'r>0.8' 'g<0.45' 'b<0.35'; }
"$SYS_BIN/kadrix" 'kadrix://grab/fullscreen?then=edit'
# The menu enables Print only for the editor that has the keyboard.
sys_wait_editor 15
sleep 0.5
xclip -selection clipboard -i /dev/null
sys_key ctrl+c
sys_clip_png "$SYS_TMP/plain.png"
"$SYS_BIN/kadrix" 'kadrix://show'
sleep 1.5
sys_key a
sleep 0.3
sys_drag 760 420 1000 600
sleep 0.5
# Escape finishes the arrow: while it is active, Ctrl+C copies the arrow itself.
sys_key Escape
sleep 0.3
xclip -selection clipboard -i /dev/null
sys_key ctrl+c
sys_clip_png "$SYS_TMP/arrow.png"
plain=$(red_pixels "$SYS_TMP/plain.png")
arrow=$(red_pixels "$SYS_TMP/arrow.png")
[ "$arrow" -gt $((plain + 1500)) ] || fail "the copy shows no arrow ($plain red pixels before, $arrow after)"
echo "export app test: the copied arrow adds $((arrow - plain)) red pixels"
