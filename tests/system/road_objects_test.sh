#!/usr/bin/env bash
# Annotations in the running kadrix: a full-screen capture from a kadrix://
# link opens the editor over a window of one colour; a rectangle and an arrow
# are drawn with their keys and the mouse, the rectangle is selected and moved
# by its side, Ctrl+C copies it as an object (the clipboard gets its marker
# text and the editor stays), Ctrl+V pastes the copy beside it, the arrow is
# deleted, and two undos take back the paste and the deletion. Each step is
# checked on the screen where the shapes lie. Last, with a selection dragged
# out, Ctrl+C copies just the selection. At scale 1 and 2.
source "$(dirname "${BASH_SOURCE[0]}")/harness.sh"
sys_begin
sys_solid_window Target 300 300 900 500 '#3366cc'

shot="$SYS_TMP/shot.png"
snap() { sys_snap "$scale-$1"; }
red_at() { sys_red_at "$@"; }

road() {
  scale=$1
  sys_start
  sys_link 'kadrix://grab/fullscreen?then=edit'
  sys_wait_editor 15
  sleep 0.5
  # Where the window shows in the editor: the box of its colour below the tool bar.
  snap start
  local bw bh bx by
  sys_editor_box '#3366cc' "$scale"
  bw=$BW bh=$BH bx=$BX by=$BY
  # A point of the box, in hundredths of its width and height from its top left.
  at() { echo "$((bx + bw * $1 / 100)) $((by + bh * $2 / 100))"; }

  # The tool of key $1 dragged from (X1, Y1) to (X2, Y2).
  draw() { sys_key "$1"; sleep 0.3; sys_drag "$2" "$3" "$4" "$5"; }

  local x1 y1 x2 y2 mid ax1 ay ax2 amid dx
  read -r x1 y1 < <(at 10 20)
  read -r x2 y2 < <(at 30 60)
  mid=$(((y1 + y2) / 2))
  draw r "$x1" "$y1" "$x2" "$y2"
  read -r ax1 ay < <(at 50 40)
  read -r ax2 _ < <(at 80 40)
  amid=$(((ax1 + ax2) / 2))
  draw a "$ax1" "$ay" "$ax2" "$ay"
  sys_key Escape
  snap drawn
  expect_eq "$(red_at "$x1" "$mid")" 1 "the rectangle's left side"
  expect_eq "$(red_at $(((x1 + x2) / 2)) "$mid")" 0 "inside the rectangle"
  expect_eq "$(red_at "$amid" "$ay")" 1 "the arrow's shaft"

  # The rectangle taken by its side and moved right.
  dx=$((bw / 10))
  sys_drag "$x1" "$mid" $((x1 + dx)) "$mid"
  snap moved
  expect_eq "$(red_at "$x1" "$mid")" 0 "the rectangle left its place"
  expect_eq "$(red_at $((x1 + dx)) "$mid")" 1 "the rectangle in its new place"

  # Copied as an object: the marker text, and the editor stays.
  sys_key ctrl+c
  sleep 0.5
  expect_eq "$(sys_clip_text)" "Kadrix Rectangle" "the clipboard after Ctrl+C on the rectangle"
  sys_active_is Kadrix || fail "Ctrl+C on an object left the editor"
  # The copy lands 10 points right and down: 10 pixels of the capture per
  # point of the scale, shown at the editor's zoom (the window is 900 pixels wide).
  local off=$((10 * scale * bw / 900))
  sys_key ctrl+v
  snap pasted
  expect_eq "$(red_at $((x1 + dx + off)) "$mid")" 1 "the pasted copy beside the rectangle"
  expect_eq "$(red_at $((x1 + dx)) "$mid")" 1 "the rectangle under the copy"

  # The arrow selected and deleted.
  sys_click "$amid" "$ay"
  sleep 0.3
  sys_key Delete
  snap deleted
  expect_eq "$(red_at "$amid" "$ay")" 0 "the arrow is gone"

  # Two undos: the deletion and the paste are taken back.
  sys_key ctrl+z
  sleep 0.3
  sys_key ctrl+z
  snap undone
  expect_eq "$(red_at "$amid" "$ay")" 1 "the arrow is back"
  expect_eq "$(red_at $((x1 + dx + off)) "$mid")" 0 "the pasted copy is gone"
  expect_eq "$(red_at $((x1 + dx)) "$mid")" 1 "the moved rectangle stays"

  # A selection over the empty part of the window: Ctrl+C copies that area.
  local sx1 sy1 sx2 sy2 w
  sys_key Escape
  sleep 0.3
  read -r sx1 sy1 < <(at 50 70)
  read -r sx2 sy2 < <(at 90 95)
  sys_drag "$sx1" "$sy1" "$sx2" "$sy2"
  sleep 0.3
  sys_key ctrl+c
  sys_wait_for --timeout 5 bash -c 'xclip -selection clipboard -o -t TARGETS 2>/dev/null | grep -qx image/png' \
    || fail "Ctrl+C on a selection put no image on the clipboard"
  sys_clip_png "$SYS_TMP/selection.png"
  w=$(identify -format '%w' "$SYS_TMP/selection.png")
  # 40 % of the window's 900 pixels, not the whole screen.
  [ "$w" -ge 340 ] && [ "$w" -le 380 ] || fail "the copy of the selection is $w pixels wide, not about 360"
}
sys_road objects road
