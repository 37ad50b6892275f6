#!/usr/bin/env bash
# The editor's menu bar, used with the mouse and the menu keys as a user
# would: Edit ▸ Copy puts the capture on the clipboard as one PNG and sends
# the editor away; brought back, File ▸ Save asks once for the save folder
# and writes the capture there. Ctrl+P stays the editor's: it pins.
source "$(dirname "${BASH_SOURCE[0]}")/harness.sh"
sys_begin
xsetroot -solid '#3366cc'
sys_start
sys_link 'kadrix://grab/fullscreen?then=edit'
sys_wait_editor 15
sys_geom "$(xdotool search --onlyvisible --name '^Kadrix$' | head -1)"

# A title of the menu bar, in points from the editor's top-left corner, then
# the keys that walk its menu.
menu() {
  sys_click $((X + $1)) $((Y + 9))
  sleep 0.7
  shift
  sys_key "$@"
}

# Edit ▸ Copy (the menu's first item).
menu 108 Down Return
sys_wait_for --timeout 10 bash -c "xclip -selection clipboard -o -t TARGETS 2>/dev/null | grep -qx image/png" \
  || fail "Edit > Copy put no PNG on the clipboard"
sys_clip_png "$SYS_TMP/clip.png"
expect_eq "$(identify -format '%wx%h' "$SYS_TMP/clip.png")" "$(xdpyinfo | awk '/dimensions:/ {print $2}')" "copied size"
expect_eq "$(sys_pixel "$SYS_TMP/clip.png" 5 5)" "51,102,204" "copied pixel"

# Copying sends the editor away; a kadrix://show link brings it back.
sys_wait_for --timeout 5 bash -c "! xdotool search --onlyvisible --name '^Kadrix\$'" || fail "the editor stayed after Copy"
sys_link 'kadrix://show'
sys_wait_editor 10

# File ▸ Save, the third item: Open from Clipboard before it is on now that
# the clipboard holds a picture.
folder="$SYS_TMP/shots"
mkdir -p "$folder"
menu 72 Down Down Down Return
sys_first_save_into "$folder"
saved=$(ls "$folder"/SCR-*.*)
expect_eq "$(sys_pixel "$saved" 5 5)" "51,102,204" "saved pixel"

# The menu leaves Ctrl+P to the editor, where it pins the screenshot.
sys_link 'kadrix://show'
sys_wait_editor 10
sys_key ctrl+p
sys_wait_for --timeout 10 xdotool search --onlyvisible --name '^Kadrix Pin$' || fail "Ctrl+P in the editor opened no pin"
! xdotool search --onlyvisible --name '^Print' >/dev/null || fail "Ctrl+P in the editor opened the print dialog"
echo "the editor's menu bar copies and saves; Ctrl+P pins"
