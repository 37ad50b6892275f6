#!/usr/bin/env bash
# The crop selection and the ruler in the real kadrix editor: an area capture
# of a blue bar opens in the editor; an arrow key held over the bar measures
# its length and a click imprints it, a selection dragged around it shows its
# size in the label under it (both read through the KADRIX_TEST console
# lines), and B turns the selection into a conceal object. Scale 1 and 2.
source "$(dirname "${BASH_SOURCE[0]}")/harness.sh"
sys_begin

screen_shows() {
  sys_screenshot "$SYS_TMP/probe.png" && [ "$(sys_pixel "$SYS_TMP/probe.png" "$1" "$2")" == "$3" ]
}
log_has() { grep -qF "$1" "$SYS_TMP/kadrix.log"; }
# Pixels in the ruler's red on the screen.
red_pixels() {
  sys_screenshot "$SYS_TMP/now.png"
  convert "$SYS_TMP/now.png" -alpha off -fuzz 12% -fill black +opaque '#F44723' -fill white -opaque '#F44723' \
    -format '%[fx:int(mean*w*h+0.5)]' info:
}
# Pixels of the bar's blue on the screen (only the editor shows it by then).
bar_pixels() {
  sys_screenshot "$SYS_TMP/now.png"
  convert "$SYS_TMP/now.png" -alpha off -fill black +opaque '#2050D0' -fill white -opaque '#2050D0' \
    -format '%[fx:int(mean*w*h+0.5)]' info:
}

run_at_scale() {
  local scale=$1
  # A blue bar, 240 × 16 pixels, kept above a plain window.
  "$SYS_BIN/kadrix-testclient" solid Ground 40 60 400 240 '#d8d4cc' &
  local ground=$!
  sys_wait_window '^Ground$' 5 || fail "the ground window did not show"
  "$SYS_BIN/kadrix-testclient" ontop Bar 100 150 240 16 '#2050d0' &
  local bar=$!
  sys_wait_window '^Bar$' 5 || fail "the bar did not show"
  sys_wait_for --timeout 10 screen_shows 200 158 32,80,208 || fail "the bar is not painted"

  # A user who has been here before and lets area captures open the editor.
  mkdir -p "$KADRIX_HOME/config"
  echo '{"everVisitedHotkeys": true, "showIntro": 0, "areaCaptureMode": "editor"}' \
    >"$KADRIX_HOME/config/defaults.json"
  KADRIX_TEST=1 QT_SCALE_FACTOR=$scale sys_app
  sys_wait_for --timeout 15 log_has 'AppLogic initialized' || fail "kadrix did not start"
  sleep 1
  xdotool key ctrl+shift+2
  sys_wait_for --timeout 10 xdotool search --name '^kadrix-screencapture$' \
    || { tail -20 "$SYS_TMP/kadrix.log"; fail "the screenshot tool did not start"; }
  sleep 0.5
  sys_drag 60 80 420 280
  sys_wait_for --timeout 10 sys_active_is Kadrix \
    || { tail -20 "$SYS_TMP/kadrix.log"; fail "scale $scale: the editor did not come forward"; }
  # Only the editor's copy of the bar stays on the screen.
  kill "$ground" "$bar" 2>/dev/null || true
  wait "$ground" "$bar" 2>/dev/null || true
  sleep 1

  # Where the editor shows the bar: the blue pixels inside its window.
  local editor bx by bw bh
  editor=$(xdotool getactivewindow)
  eval "$(xdotool getwindowgeometry --shell "$editor")"
  sys_screenshot "$SYS_TMP/editor-all.png"
  convert "$SYS_TMP/editor-all.png" -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$SYS_TMP/editor.png"
  read -r bw bh bx by < <(convert "$SYS_TMP/editor.png" -alpha off -fill black +opaque '#2050D0' \
    -fill white -opaque '#2050D0' -trim -format '%w %h %X %Y\n' info: | tr -d '+')
  bx=$((X + bx)) by=$((Y + by))
  expect_eq "$bw x $bh" "240 x 16" "scale $scale: the bar in the editor (one to one)"

  # The ruler: Right held over the middle of the bar, longer than its hide
  # delay. The pointer jumps there from outside the editor in one move, which
  # the canvas hears only as the pointer entering it.
  xdotool mousemove $((bx + bw / 2)) $((by + bh / 2))
  sleep 0.3
  xdotool keydown Right
  sleep 1.2
  sys_screenshot "$SYS_TMP/crop_app_ruler_scale$scale.png"
  # A click while the ruler shows imprints it as a ruler object.
  xdotool click 1
  sleep 0.3
  xdotool keyup Right
  sleep 0.5  # the ruler hides at the release
  local reds
  reds=$(red_pixels)
  [ "$reds" -gt 100 ] || fail "scale $scale: no ruler object after the click ($reds red pixels)"
  sys_wait_for --timeout 5 log_has "ruler: $((bw / scale))pt" \
    || { grep -a 'ruler:' "$SYS_TMP/kadrix.log" | tail -3 || true; fail "scale $scale: the ruler did not read the bar's length"; }

  # A selection 10 pixels around the bar.
  sys_drag $((bx - 10)) $((by - 10)) $((bx + bw + 10)) $((by + bh + 10))
  sleep 0.5
  sys_screenshot "$SYS_TMP/crop_app_selection_scale$scale.png"
  local label
  label="crop label: $(((bw + 20) / scale))"$'\u00d7'"$(((bh + 20) / scale))"$'\u200a'"pt"
  sys_wait_for --timeout 5 log_has "$label" \
    || { grep -a 'crop label:' "$SYS_TMP/kadrix.log" | tail -3 || true; fail "scale $scale: the size label does not read '$label'"; }

  # B turns the selection into a conceal object (pixelated by default): much
  # of the bar's blue is mixed away.
  local before_b after_b
  before_b=$(bar_pixels)
  xdotool key b
  sleep 0.7
  after_b=$(bar_pixels)
  sys_screenshot "$SYS_TMP/crop_app_conceal_scale$scale.png"
  [ "$after_b" -lt $((before_b * 9 / 10)) ] || fail "scale $scale: B did not conceal the selection ($before_b -> $after_b bar pixels)"

  sys_stop_app
  echo "scale $scale: the ruler measured the bar, the label gave the selection's size, B concealed it"
}

run_at_scale 1
sys_remove "$KADRIX_HOME" && mkdir -p "$KADRIX_HOME"
run_at_scale 2
