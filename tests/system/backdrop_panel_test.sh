#!/usr/bin/env bash
# The backdrop panel as a user works it: K shows the backdrop and its panel,
# a click picks the "Dusk" gradient, the padding and radius sliders go to
# their ends. The editor shows the new look, Save As writes the capture with
# 200 pixels of padding on each side and rounded corners (after undo has
# stepped back to no backdrop, its panel hidden, and redo forward again).
source "$(dirname "${BASH_SOURCE[0]}")/backdrop_editor.sh"
backdrop_editor_open
sys_key k
sleep 1.5
# The panel hangs 20 points inside the top right of the canvas, below the
# tool bar; its controls sit at fixed places in it.
eval "$(xdotool getwindowgeometry --shell "$win")"
px=$((X + WIDTH - 320)); py=$((Y + 68))
sys_screenshot "$SYS_TMP/on.png"
# Dusk: from a dark blue to a coral red (the capture itself holds a few
# coral pixels: the welcome picture's corners). On screen only the canvas left of
# the panel counts (the tool bar's capture button is red too).
coral_pixels() {
  local img=$1
  if [ "${2:-}" == canvas ]; then
    convert "$1" -crop "$((px - X))x$((HEIGHT - 68))+$X+$py" +repage "$SYS_TMP/canvas.png"
    img="$SYS_TMP/canvas.png"
  fi
  # Counted on a quarter-size copy (sixteen times fewer pixels to test).
  convert "$img" -sample 25% -fx '(r>0.9 && g>0.38 && g<0.55 && b>0.33 && b<0.52) ? 1 : 0' \
    -format '%[fx:int(16*mean*w*h+0.5)]' info:
}
[ "$(coral_pixels "$SYS_TMP/on.png" canvas)" -lt 500 ] || fail "coral before Dusk was picked"
[ "$(sys_pixel "$SYS_TMP/on.png" $((px + 20)) $((py + 24)))" != "51,102,204" ] || fail "no backdrop panel after K"

sys_click $((px + 190)) $((py + 61))        # the fourth gradient: Dusk
sleep 0.6
sys_click $((px + 150)) $((py + 166))       # padding slider
sys_key End
sleep 0.6
sys_click $((px + 150)) $((py + 217))       # radius slider
sys_key End
sleep 1
sys_screenshot "$SYS_TMP/editor.png"
[ -z "$keep" ] || cp "$SYS_TMP/editor.png" "$keep/panel-editor.png"
[ "$(coral_pixels "$SYS_TMP/editor.png" canvas)" -gt 3000 ] || fail "the editor does not show the Dusk gradient"

# Undo steps back through the panel's changes to no backdrop at all, the
# editor still open.
xdotool windowactivate --sync "$win" 2>/dev/null || true
steps=0
for i in 1 2 3 4 5 6; do
  sys_key ctrl+z
  steps=$i
  sleep 1
  sys_screenshot "$SYS_TMP/undone.png"
  [ "$(sys_pixel "$SYS_TMP/undone.png" $((px + 20)) $((py + 24)))" != "51,102,204" ] || break
done
[ -z "$keep" ] || cp "$SYS_TMP/undone.png" "$keep/panel-undone.png"
kill -0 "$SYS_APP_PID" 2>/dev/null || { tail -20 "$SYS_TMP/kadrix.log"; fail "kadrix ended during undo"; }
[ -n "$(xdotool search --onlyvisible --name '^Kadrix$')" ] || fail "the editor closed during undo"
[ "$(coral_pixels "$SYS_TMP/undone.png" canvas)" -lt 500 ] || fail "undo left the backdrop on"
[ "$(sys_pixel "$SYS_TMP/undone.png" $((px + 20)) $((py + 24)))" == "51,102,204" ] || fail "the panel is still shown"
[ "$steps" -gt 1 ] || fail "one undo step took all the changes"
# Redo brings every change back for the save.
for i in $(seq 1 "$steps"); do sys_key ctrl+shift+z; sleep 0.5; done
sleep 1

folder="$SYS_TMP/shots"
backdrop_save_as "$folder/framed.png"
[ -z "$keep" ] || cp "$folder/framed.png" "$keep/panel-framed.png"
# The composition: the capture and 200 pixels of padding around it.
expect_eq "$(identify -format '%wx%h' "$folder/framed.png")" "$((sw + 400))x$((sh + 400))" "saved size"
expect_eq "$(sys_pixel "$folder/framed.png" 215 215)" "51,102,204" "the capture inside its rounded corner"
[ "$(sys_pixel "$folder/framed.png" 201 201)" != "51,102,204" ] || fail "the capture's corner is not rounded by 40"
[ "$(coral_pixels "$folder/framed.png")" -gt 10000 ] || fail "the saved file has no Dusk backdrop"

echo "backdrop panel test: template, padding and radius reach the editor and the file; undo takes them away"
