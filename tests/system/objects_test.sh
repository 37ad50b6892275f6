#!/usr/bin/env bash
# Annotation objects drawn with the mouse in the editor window: a rectangle,
# an arrow and a text over a plain picture; a rectangle selected and moved,
# the arrow deleted, the rectangle copied and pasted, then two undos. Each
# step is checked on the screen by the colours where the shapes lie, at
# scale 1 and 2.
source "$(dirname "$0")/harness.sh"
sys_begin
[ -x "$SYS_BIN/kadrix-editorhost" ] || fail "kadrix-editorhost is not built"

picture="$SYS_TMP/picture.png"
convert -size 640x360 xc:'#3A7BD5' "$picture"
host_log="$SYS_TMP/host.log"
shot="$SYS_TMP/shot.png"
snap() { sys_snap "$scale-$1"; }
red_at() { sys_red_at "$@"; }
run_scale() {
  local scale=$1
  : >"$host_log"
  QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR=$scale "$SYS_BIN/kadrix-editorhost" "$picture" >"$host_log" 2>&1 &
  host=$!
  sys_wait_for --timeout 15 grep -q '^core: loadImage 640x360' "$host_log" || fail "the editor never loaded the picture"
  sleep 1
  win=$(xdotool search --name '^Kadrix$' | head -1)
  sys_focus "$win"

  # The picture's place on the screen: the bounding box of its blue.
  snap start
  # (Below the tool bar, whose colour read-out shows the same blue.)
  read -r wx wy ww wh < <(xwininfo -id "$win" | awk '/Absolute upper-left X/ {x=$4} /Absolute upper-left Y/ {y=$4}
    /Width:/ {w=$2} /Height:/ {h=$2} END {print x, y, w, h}')
  read -r iw ih ix iy < <(convert "$shot" -crop "${ww}x$((wh - 120))+$wx+$((wy + 120))" +repage -fuzz 1% \
    -fill black +opaque '#3A7BD5' -fill white -opaque '#3A7BD5' -format '%@\n' info: | sed 's/[x+]/ /g')
  ix=$((ix + wx)); iy=$((iy + wy + 120))
  [ "$iw" -gt 100 ] || fail "the picture is not on the screen"
  # A point of the picture, in fractions of its width and height from its top left.
  at() { echo "$((ix + iw * $1 / 100)) $((iy + ih * $2 / 100))"; }

  tool() {
    sys_key "$1"
    sys_wait_for --timeout 5 grep -q "^core: selectTool $2" "$host_log" || fail "key $1 armed no $2"
  }

  # A rectangle from 10 %,10 % to 40 %,40 %.
  tool r ObjRectangle
  read -r x1 y1 < <(at 10 10); read -r x2 y2 < <(at 40 40)
  sys_drag "$x1" "$y1" "$x2" "$y2"
  snap rectangle
  mid=$(( (y1 + y2) / 2 ))
  expect_eq "$(red_at "$x1" "$mid")" 1 "the rectangle's left side"
  expect_eq "$(red_at $(( (x1 + x2) / 2 )) "$mid")" 0 "inside the rectangle"

  # An arrow from 60 %,20 % to 90 %,20 %.
  tool a ObjArrow
  read -r ax1 ay1 < <(at 60 20); read -r ax2 ay2 < <(at 90 20)
  sys_drag "$ax1" "$ay1" "$ax2" "$ay2"
  snap arrow
  expect_eq "$(red_at $(( (ax1 + ax2) / 2 )) "$ay1")" 1 "the arrow's shaft"

  # A text at 20 %,70 %.
  tool t ObjText
  read -r tx ty < <(at 20 70)
  sys_click "$tx" "$ty"
  sleep 0.3
  sys_type "Hello"
  sys_key Escape
  snap text
  textpx=$(convert "$shot" -crop 200x60+$((tx - 10))+$((ty - 40)) +repage -fuzz 1% -fill black -opaque '#3A7BD5' \
    -format '%[fx:mean>0.02?1:0]\n' info:)
  expect_eq "$textpx" 1 "the text box"

  # Select the rectangle by its side and move it by 10 % to the right.
  sys_drag "$x1" "$mid" $((x1 + iw / 10)) "$mid"
  snap moved
  expect_eq "$(red_at "$x1" "$mid")" 0 "the rectangle left its old place"
  expect_eq "$(red_at $((x1 + iw / 10)) "$mid")" 1 "the rectangle in its new place"

  # Select the arrow and delete it.
  sys_click $(( (ax1 + ax2) / 2 )) "$ay1"
  sys_key Delete
  snap deleted
  expect_eq "$(red_at $(( (ax1 + ax2) / 2 )) "$ay1")" 0 "the arrow is gone"

  # Copy the rectangle and paste it: the copy lands 10 points right and down
  # (10 image pixels per point), shown at the canvas zoom.
  off=$((10 * scale * iw / 640))
  sys_click $((x1 + iw / 10)) "$mid"
  sys_key ctrl+c
  sys_key ctrl+v
  snap pasted
  expect_eq "$(sys_clip_text)" "Kadrix Rectangle" "the marker text on the clipboard"
  expect_eq "$(red_at $((x1 + iw / 10 + off)) "$mid")" 1 "the pasted copy"

  # Two undos: the paste and the deletion are undone; the arrow is back.
  sys_key ctrl+z
  sys_key ctrl+z
  snap undone
  expect_eq "$(red_at $(( (ax1 + ax2) / 2 )) "$ay1")" 1 "the arrow is back after two undos"
  expect_eq "$(red_at $((x1 + iw / 10 + off)) "$mid")" 0 "the pasted copy is gone after two undos"

  kill "$host" 2>/dev/null || true
  wait "$host" 2>/dev/null || true
}

run_scale 1
run_scale 2
echo "objects: ok"
