#!/usr/bin/env bash
# The backdrop panel as a user works it: K shows the backdrop and its panel,
# a click picks the "Dusk" gradient, the padding and radius sliders go to
# their ends. The editor shows the new look, Save As writes the capture with
# 200 points of padding on each side and rounded corners (after undo has
# stepped back to no backdrop, its panel hidden, and redo forward again).
source "$(dirname "${BASH_SOURCE[0]}")/backdrop_editor.sh"
backdrop_editor_open
sys_key k
sleep 1.5
# The panel hangs 20 points inside the top right of the canvas, below the
# tool bar; its controls sit at fixed places in it.
# At QT_SCALE_FACTOR 2 every length in points doubles in pixels.
s=${QT_SCALE_FACTOR:-1}
eval "$(xdotool getwindowgeometry --shell "$win")"
px=$((X + WIDTH - 320 * s)); py=$((Y + 68 * s))
sys_screenshot "$SYS_TMP/on.png"
# How many pixels of a screenshot meet the bounds; with "canvas" first only
# the canvas left of the panel counts (the tool bar's capture button is red).
count_pixels() {
  local img=$1
  if [ "$2" == canvas ]; then
    convert "$1" -crop "$((px - X))x$((HEIGHT - 68 * s))+$X+$py" +repage "$SYS_TMP/canvas.png"
    img="$SYS_TMP/canvas.png"
  fi
  sys_count_pixels "$img" "${@:3}"
}
# Dusk runs from a dark blue to a coral red (the capture itself holds a few
# coral pixels: the welcome picture's corners); the first gradient K shows
# is blue to violet.
coral_pixels() { count_pixels "$1" "${2:-}" 'r>0.9' 'g>0.38' 'g<0.55' 'b>0.33' 'b<0.52'; }
ocean_pixels() { count_pixels "$1" canvas 'r>0.6' 'b>0.7' 'g<0.55'; }
[ "$(coral_pixels "$SYS_TMP/on.png" canvas)" -lt 500 ] || fail "coral before Dusk was picked"
[ "$(ocean_pixels "$SYS_TMP/on.png")" -gt 3000 ] || fail "K showed no gradient"
# The panel's third gradient tile, Mint, is green where nothing else is.
mint_tile_shown() {
  local rgb
  IFS=, read -r -a rgb <<<"$(sys_pixel "$1" $((px + 138 * s)) $((py + 61 * s)))"
  [ "${rgb[1]}" -gt $((rgb[0] + 25)) ] && [ "${rgb[1]}" -gt $((rgb[2] + 30)) ]
}
mint_tile_shown "$SYS_TMP/on.png" || fail "no backdrop panel after K"

sys_click $((px + 190 * s)) $((py + 61 * s))        # the fourth gradient: Dusk
sleep 0.6
sys_click $((px + 150 * s)) $((py + 166 * s))       # padding slider
sys_key End
sleep 0.6
sys_click $((px + 150 * s)) $((py + 217 * s))       # radius slider
sys_key End
sleep 1
sys_screenshot "$SYS_TMP/editor.png"
[ -z "$keep" ] || cp "$SYS_TMP/editor.png" "$keep/panel-editor.png"
[ "$(coral_pixels "$SYS_TMP/editor.png" canvas)" -gt 3000 ] || fail "the editor does not show the Dusk gradient"

# Undo steps back through the panel's changes to no backdrop at all, the
# editor still open.
sys_focus "$win"
steps=0
for i in 1 2 3 4 5 6; do
  sys_key ctrl+z
  steps=$i
  sleep 1
  sys_screenshot "$SYS_TMP/undone.png"
  mint_tile_shown "$SYS_TMP/undone.png" || break
done
[ -z "$keep" ] || cp "$SYS_TMP/undone.png" "$keep/panel-undone.png"
kill -0 "$SYS_APP_PID" 2>/dev/null || { tail -20 "$SYS_TMP/kadrix.log"; fail "kadrix ended during undo"; }
[ -n "$(xdotool search --onlyvisible --name '^Kadrix$')" ] || fail "the editor closed during undo"
[ "$(coral_pixels "$SYS_TMP/undone.png" canvas)" -lt 500 ] || fail "undo left the backdrop on"
! mint_tile_shown "$SYS_TMP/undone.png" || fail "the panel is still shown"
# Nor the default gradient that K showed first.
[ "$(ocean_pixels "$SYS_TMP/undone.png")" -lt 500 ] || fail "undo left the first gradient on"
[ "$steps" -gt 1 ] || fail "one undo step took all the changes"
# Redo brings every change back for the save.
for i in $(seq 1 "$steps"); do sys_key ctrl+shift+z; sleep 0.5; done
sleep 1

folder="$SYS_TMP/shots"
backdrop_save_as "$folder/framed.png"
[ -z "$keep" ] || cp "$folder/framed.png" "$keep/panel-framed.png"
# The composition: the capture and 200 points of padding around it.
pad=$((200 * s))
expect_eq "$(identify -format '%wx%h' "$folder/framed.png")" "$((sw + 2 * pad))x$((sh + 2 * pad))" "saved size"
expect_eq "$(sys_pixel "$folder/framed.png" $((pad + 15 * s)) $((pad + 15 * s)))" "51,102,204" \
  "the capture inside its rounded corner"
[ "$(sys_pixel "$folder/framed.png" $((pad + 1)) $((pad + 1)))" != "51,102,204" ] || fail "the capture's corner is not rounded"
[ "$(coral_pixels "$folder/framed.png")" -gt 10000 ] || fail "the saved file has no Dusk backdrop"

# Quitting with the panel made ends cleanly.
kill -TERM "$SYS_APP_PID"
status=0
wait "$SYS_APP_PID" || status=$?
sys_check_end "$SYS_APP_PID" "$status"
SYS_APP_PID=""
expect_eq "$status" 0 "kadrix exit status"
echo "backdrop panel test: template, padding and radius reach the editor and the file; undo takes them away"
