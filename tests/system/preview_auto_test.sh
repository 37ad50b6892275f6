#!/usr/bin/env bash
# Thumbnails that close themselves: with "thumbnailClosing" set to "auto" the
# thumbnail has no close button or grip and is 16 points lower, and a click
# into another window hides it; closed by hand ("manual"), it stays.
# At scale 1 and 2.
source "$(dirname "${BASH_SOURCE[0]}")/harness.sh"
sys_begin
xsetroot -solid '#20a040'
sys_test_window solid Target 100 100 600 400 '#3366cc'
thumb() { xdotool search --onlyvisible --name '^Kadrix Preview$' | head -1; }

road() {
  local s=$1 closing
  for closing in auto manual; do
    sys_start "\"areaCaptureMode\": \"preview\", \"thumbnailClosing\": \"$closing\""
    # A 300 × 200 capture: 124 points of image, 45 of buttons, then 9 or 25 on top.
    sys_area_to_thumbnail 150 150 450 350
    sleep 0.6
    sys_geom "$(thumb)"
    if [ "$closing" = auto ]; then
      expect_eq "$HEIGHT" "$((178 * s))" "the height of a self-closing thumbnail"
    else
      expect_eq "$HEIGHT" "$((194 * s))" "the height of a thumbnail closed by hand"
    fi
    sys_click 650 450
    sleep 1
    if [ "$closing" = auto ]; then
      [ -z "$(thumb)" ] || fail "a click into another window left the self-closing thumbnail open"
    else
      [ -n "$(thumb)" ] || fail "a click into another window closed a thumbnail closed by hand"
    fi
    sys_stop_app
  done
}
sys_road preview_auto road
