#!/usr/bin/env bash
# The first area capture asks whether to show the preview or the editor.
# "Show Preview" keeps the answer, shows the capture as a floating thumbnail
# and leaves the editor closed; the next area capture goes to the thumbnail
# without asking. At scale 1 and 2.
source "$(dirname "${BASH_SOURCE[0]}")/harness.sh"
sys_begin
xsetroot -solid '#20a040'
sys_solid_window Target 100 100 600 400 '#3366cc'

question='Show small Preview or open the Editor'
thumb_shown() { xdotool search --onlyvisible --name '^Kadrix Preview$'; }
editor_shown() { xdotool search --onlyvisible --name '^Kadrix$'; }

capture_area() {
  sys_link 'kadrix://grab/area'
  sys_wait_for --timeout 10 xdotool search --name '^kadrix-screencapture$' || fail "the screenshot tool did not start"
  sleep 0.5
  sys_drag 150 150 450 350
}

road() {
  local s=$1
  sys_start
  capture_area
  sys_wait_window "$question" || { tail -20 "$SYS_TMP/kadrix.log"; fail "scale $s: no first-capture question"; }
  sleep 0.5
  thumb_shown >/dev/null && fail "scale $s: the thumbnail showed before the answer"
  sys_geom "$(xdotool search --name "$question" | head -1)"
  sys_click $((X + WIDTH - 150 * s)) $((Y + HEIGHT - 26 * s))   # Show Preview
  sys_wait_for --timeout 10 thumb_shown || { tail -20 "$SYS_TMP/kadrix.log"; fail "scale $s: no thumbnail after Show Preview"; }
  editor_shown >/dev/null && fail "scale $s: the editor opened as well"
  sys_wait_for --timeout 5 grep -q '"areaCaptureMode": *"preview"' "$KADRIX_HOME/config/defaults.json" \
    || fail "scale $s: the answer was not kept"
  # The thumbnail holds the capture: the window's blue fills most of it.
  sleep 0.5
  sys_screenshot "$SYS_TMP/thumb.png"
  sys_geom "$(thumb_shown | head -1)"
  convert "$SYS_TMP/thumb.png" -crop "${WIDTH}x${HEIGHT}+$X+$Y" +repage "$SYS_TMP/in_thumb.png"
  local blue
  blue=$(sys_count_colour "$SYS_TMP/in_thumb.png" '#3366cc')
  [ "$blue" -gt $((WIDTH * HEIGHT / 3)) ] || fail "scale $s: the thumbnail shows $blue blue pixels of $((WIDTH * HEIGHT))"

  # Closed, and the next capture asks nothing.
  sys_focus "$(thumb_shown | head -1)"
  sys_key Escape
  sys_wait_for --timeout 5 bash -c "! xdotool search --onlyvisible --name '^Kadrix Preview$'" || fail "scale $s: Escape left the thumbnail"
  capture_area
  sys_wait_for --timeout 10 thumb_shown || fail "scale $s: no thumbnail for the second capture"
  xdotool search --onlyvisible --name "$question" >/dev/null && fail "scale $s: the question came again"
  editor_shown >/dev/null && fail "scale $s: the editor opened for the second capture"
  echo "scale $s: the first capture asks once; Show Preview shows the thumbnail, not the editor"
}
sys_road first-capture-question road
