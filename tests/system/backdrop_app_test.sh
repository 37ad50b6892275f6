#!/usr/bin/env bash
# The backdrop in the running kadrix: a full-screen capture opened in the
# editor, the K key puts it on the default gradient backdrop; the editor
# shows the gradient around the picture and the file saved with Save As is
# the capture with the padding around it, its own pixels unchanged inside.
source "$(dirname "${BASH_SOURCE[0]}")/backdrop_editor.sh"
backdrop_editor_open
sys_screenshot "$SYS_TMP/before.png"
sys_key k
sleep 1.5
sys_screenshot "$SYS_TMP/editor.png"
[ -z "$keep" ] || cp "$SYS_TMP/before.png" "$SYS_TMP/editor.png" "$keep/"
# The gradient's colours appear in the editor only once the backdrop is on.
gradient_pixels() { sys_count_pixels "$1" 'r>0.6' 'b>0.7' 'g<0.55'; }
[ "$(gradient_pixels "$SYS_TMP/before.png")" -lt 50 ] || fail "gradient colours before the backdrop was on"
[ "$(gradient_pixels "$SYS_TMP/editor.png")" -gt 500 ] || fail "the editor shows no backdrop after K"

# Undo takes the backdrop away again.
sys_focus "$win"
sys_key ctrl+z
sleep 1.5
sys_screenshot "$SYS_TMP/undone.png"
[ -z "$keep" ] || cp "$SYS_TMP/undone.png" "$keep/"
kill -0 "$SYS_APP_PID" 2>/dev/null || { tail -20 "$SYS_TMP/kadrix.log"; fail "kadrix ended after undo"; }
[ "$(gradient_pixels "$SYS_TMP/undone.png")" -lt 50 ] || fail "undo left the backdrop on"
# Redo brings it back for the save.
sys_key ctrl+shift+z
sleep 1.5

folder="$SYS_TMP/shots"
backdrop_save_as "$folder/framed.png"
[ -z "$keep" ] || cp "$folder/framed.png" "$keep/"
# The default padding is 48 pixels on each side at scale 1.
expect_eq "$(identify -format '%wx%h' "$folder/framed.png")" "$((sw + 96))x$((sh + 96))" "saved size"
expect_eq "$(sys_pixel "$folder/framed.png" 58 58)" "51,102,204" "the capture near its corner"
# The capture's own corner is rounded off (the default inner radius).
[ "$(sys_pixel "$folder/framed.png" 48 48)" != "51,102,204" ] || fail "the capture's corner is not rounded"
expect_eq "$(sys_pixel "$folder/framed.png" $((sw + 37)) $((sh + 37)))" "51,102,204" "the capture's far corner"
[ "$(sys_pixel "$folder/framed.png" 10 $((sh / 2)))" != "51,102,204" ] || fail "no backdrop left of the capture"

echo "backdrop app test: editor and saved file show the backdrop, undo removes it"
