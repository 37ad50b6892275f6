#!/usr/bin/env bash
# The capture modes beyond a plain area or the full screen, each through its
# link with "copy" after it: the area to repeat asked for when there is none,
# the remembered area again without the screenshot tool's help, the active window, and the full screen after a delay (nothing
# before it). At scale 1 and 2.
source "$(dirname "${BASH_SOURCE[0]}")/harness.sh"
sys_begin
xsetroot -solid '#20a040'
sys_solid_window Target 100 100 600 400 '#3366cc'

clip_has_png() { sys_clip_types | grep -qx image/png; }
# Runs a capture link with "copy" after it and waits for the picture.
copied() {
  xclip -selection clipboard -i /dev/null
  sys_link "$1"
  sys_wait_for --timeout 10 clip_has_png || { tail -20 "$SYS_TMP/kadrix.log"; fail "$1 copied nothing"; }
  sys_clip_png "$SYS_TMP/clip.png"
}
size_of() { identify -format '%wx%h' "$1"; }

road() {
  local s=$1 screen
  screen=$(xdpyinfo | awk '/dimensions:/ {print $2}')
  sys_start
  # With no area yet, the repeat asks for one, and says why on the frozen
  # selection screen: in a notice above the picture, not in it. A light
  # point of the notice's panel, above its text, shows on the screen and not
  # in the area dragged over it. The area is remembered.
  xclip -selection clipboard -i /dev/null
  sys_link 'kadrix://grab/repeat?then=copy'
  sys_wait_for --timeout 10 xdotool search --name '^kadrix-screencapture$' || fail "the screenshot tool did not start"
  local mid=$((${screen%x*} / 2)) top=$((54 * s))
  notice_shows() {
    sys_screenshot "$SYS_TMP/frozen.png" && [ "$(sys_colour_near "$SYS_TMP/frozen.png" "$mid" "$top" '#FFFFFF')" == 1 ]
  }
  sys_wait_for --timeout 15 notice_shows || fail "scale $s: no \"No area to repeat\" notice on the selection screen"
  sys_drag $((mid - 400)) 20 $((mid + 400)) 260
  sys_wait_for --timeout 10 clip_has_png || fail "scale $s: the area capture copied nothing"
  sys_clip_png "$SYS_TMP/area.png"
  expect_eq "$(sys_colour_near "$SYS_TMP/area.png" 400 $((top - 20)) '#FFFFFF')" 0 "scale $s: the notice in the picture"

  # The same area again, without a drag: the same picture.
  copied 'kadrix://grab/repeat?then=copy'
  expect_eq "$(size_of "$SYS_TMP/clip.png")" "$(size_of "$SYS_TMP/area.png")" "scale $s: repeated area size"
  expect_eq "$(compare -metric AE "$SYS_TMP/clip.png" "$SYS_TMP/area.png" null: 2>&1)" 0 "scale $s: repeated area pixels"

  # The active window: the test window (600 × 400 pixels at any scale) with
  # its frame, its blue filling it.
  sys_focus "$(xdotool search --name '^Target$' | head -1)"
  copied 'kadrix://grab/window/active?then=copy'
  local w h blue
  read -r w h <<<"$(identify -format '%w %h' "$SYS_TMP/clip.png")"
  [ "$w" -ge 600 ] && [ "$w" -le 640 ] && [ "$h" -ge 400 ] && [ "$h" -le 460 ] \
    || fail "scale $s: the active window came as ${w}x$h"
  blue=$(sys_count_colour "$SYS_TMP/clip.png" '#3366cc')
  [ "$blue" -gt $((w * h * 3 / 4)) ] || fail "scale $s: the window capture holds $blue blue pixels of $((w * h))"

  # The full screen after the delay a link without one gets (3 s): nothing before it.
  xclip -selection clipboard -i /dev/null
  sys_link 'kadrix://grab/delayed?then=copy'
  sleep 1.5
  clip_has_png && fail "scale $s: the delayed capture came at once"
  sys_wait_for --timeout 8 clip_has_png || fail "scale $s: the delayed capture copied nothing"
  sys_clip_png "$SYS_TMP/clip.png"
  expect_eq "$(size_of "$SYS_TMP/clip.png")" "$screen" "scale $s: delayed capture size"
  echo "scale $s: repeated area, active window and delayed full screen copied"
}
sys_road capture-modes road
