#!/usr/bin/env bash
# The editor window as a user meets it, at scale 1 and 2: it opens on an
# image with the tool bar, read-out and canvas; a tool-bar click arms its
# tool and shows the tool settings; a swatch from the colour button becomes
# the default colour and the next arrow is drawn in it, and the size slider
# makes it heavier; a narrow window moves tools into "More tools", from where
# one can be armed; the drag button drags the image out as a file that
# a drop target receives.
source "$(dirname "$0")/harness.sh"
sys_begin
[ -x "$SYS_BIN/kadrix-editorhost" ] || fail "kadrix-editorhost is not built"

picture="$SYS_TMP/picture.png"
convert -size 640x360 xc:'#3A7BD5' -fill '#E04040' -draw 'rectangle 100,80 300,200' "$picture"

host_log="$SYS_TMP/host.log"
geometry() { grep '^core: geometry' "$host_log" | tail -1 | sed 's/^core: geometry //'; }
field() { geometry | tr ' ' '\n' | sed -n "s/^$1=//p"; }
client_origin() {
  local id; id=$(xdotool search --name '^Kadrix$' | head -1)
  xwininfo -id "$id" | awk '/Absolute upper-left X/ {x=$4} /Absolute upper-left Y/ {y=$4} END {print x, y}'
}
# Clicks a window point given as "x,y" in window pixels.
click_at() {
  local x=${1%,*} y=${1#*,}
  read -r ox oy < <(client_origin)
  sys_click $((ox + x)) $((oy + y))
}

# The pixels of the picked swatch's colour inside a region (WxH+X+Y) of a screenshot.
teal_pixels() {
  convert "$1" -crop "$2" +repage -fuzz 6% -fill black +opaque '#00A490' -fill white -opaque '#00A490' \
    -colorspace gray -format '%[fx:mean] %w %h' info: | awk '{printf "%d", $1 * $2 * $3}'
}

run_scale() {
  local scale=$1
  : >"$host_log"
  # Each run starts as a new user: tools remember their sizes.
  sys_remove "${KADRIX_HOME:?}" && mkdir -p "$KADRIX_HOME"
  QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR=$scale "$SYS_BIN/kadrix-editorhost" "$picture" >"$host_log" 2>&1 &
  local pid=$!
  sys_wait_for --timeout 15 grep -q '^core: loadImage 640x360' "$host_log" || fail "the editor never loaded the image"
  sys_wait_for --timeout 5 bash -c "grep -q '^core: geometry' '$host_log'" || fail "no tool bar geometry"
  sleep 1
  local shot="$SYS_TMP/editor-$scale.png"
  sys_screenshot "$shot"
  read -r ox oy < <(client_origin)
  # The canvas shows the picture's blue in the middle of the window.
  local gw gh
  read -r gw gh < <(xwininfo -id "$(xdotool search --name '^Kadrix$' | head -1)" | awk '/Width:/ {w=$2} /Height:/ {h=$2} END {print w, h}')
  [ "$(sys_pixel "$shot" $((ox + gw / 2 + 150 * scale)) $((oy + gh / 2 + 40 * scale)))" == "58,123,213" ] \
    || fail "scale $scale: the canvas does not show the picture"

  # Arrow is the second item: one item width (30) and its padding (2) after the first.
  local first=$(field first)
  local fx=${first%,*} fy=${first#*,}
  click_at "$((fx + 32 * scale)),$fy"
  sys_wait_for --timeout 5 grep -q '^core: selectTool ObjArrow toolbar' "$host_log" \
    || fail "scale $scale: the arrow item armed nothing"
  sleep 0.5
  # The tool settings show; a swatch picked from the colour button becomes the default colour.
  click_at "$(field color)"
  sys_wait_for --timeout 5 bash -c "grep '^core: geometry' '$host_log' | tail -1 | grep -q swatch=" \
    || fail "scale $scale: the colour button opened no picker"
  sys_screenshot "$SYS_TMP/picker-$scale.png"
  # Escape closes the picker and leaves the editor alone (no copy, no hide).
  sys_key Escape
  sleep 0.5
  grep -q '^core: copyImage' "$host_log" && fail "scale $scale: Escape in the picker reached the editor"
  click_at "$(field color)"
  sys_wait_for --timeout 5 bash -c "grep '^core: geometry' '$host_log' | tail -1 | grep -q swatch=" \
    || fail "scale $scale: the picker did not open again"
  local swatch; swatch=$(field swatch)
  sys_click "${swatch%,*}" "${swatch#*,}"
  sys_wait_for --timeout 5 grep -rq '"defaultColor": *"#00A490"' "$KADRIX_HOME" \
    || { grep geometry "$host_log" | tail -2 >&2; grep -r defaultColor "$KADRIX_HOME" >&2; fail "scale $scale: the picked swatch did not become the default colour"; }
  # The armed arrow draws in the picked colour.
  read -r ox oy < <(client_origin)
  sys_drag $((ox + gw / 2 - 120 * scale)) $((oy + gh / 2 + 60 * scale)) $((ox + gw / 2 + 40 * scale)) $((oy + gh / 2 - 20 * scale))
  sleep 0.8
  sys_screenshot "$SYS_TMP/arrow-$scale.png"
  local teal
  teal=$(teal_pixels "$SYS_TMP/arrow-$scale.png" "${gw}x${gh}+${ox}+${oy}")
  [ "$teal" -gt $((150 * scale)) ] || fail "scale $scale: the arrow drawn after the pick shows $teal pixels of its colour"
  # The size slider pulled to its end makes the arrow heavier.
  local slider=$(field slider)
  read -r ox oy < <(client_origin)
  sys_drag $((ox + ${slider%,*} - 40 * scale)) $((oy + ${slider#*,})) $((ox + ${slider%,*} + 50 * scale)) $((oy + ${slider#*,}))
  sleep 0.8
  sys_screenshot "$SYS_TMP/heavy-$scale.png"
  local heavy
  heavy=$(teal_pixels "$SYS_TMP/heavy-$scale.png" "${gw}x${gh}+${ox}+${oy}")
  [ "$heavy" -gt $((teal * 3 / 2)) ] || { [ "${KADRIX_KEEP_SHOTS:-}" ] && cp "$SYS_TMP"/*.png "$KADRIX_KEEP_SHOTS"/; fail "scale $scale: the slider left the arrow at $heavy pixels (was $teal)"; }

  # The drag button drags the image out onto a drop target.
  # The target goes where the editor is not.
  local editor; editor=$(xdotool search --name '^Kadrix$' | head -1)
  xdotool windowsize "$editor" 1400 900 windowmove "$editor" 480 60
  sleep 1
  env -u QT_SCALE_FACTOR QT_QPA_PLATFORM=xcb "$SYS_BIN/kadrix-droptarget" 20 20 >"$SYS_TMP/drops.log" 2>&1 &
  local target=$!
  sys_wait_window '^kadrix-droptarget$' 10 || fail "no drop target"
  sleep 0.5
  local drag=$(field drag)
  read -r ox oy < <(client_origin)
  local dx=$((ox + ${drag%,*})) dy=$((oy + ${drag#*,}))
  xdotool mousemove $dx $dy mousedown 1
  for step in 1 2 3 4 5 6 7 8; do
    xdotool mousemove $((dx - (dx - 150) * step / 8)) $((dy - (dy - 120) * step / 8))
    sleep 0.1
  done
  # Released only once the target has seen the drag come (the drag starts
  # and the two programs agree on it at the machine's pace): the pointer
  # stirs meanwhile, as a hand does, so that the drag goes on telling where it is.
  sys_wait_for --timeout 10 bash -c "xdotool mousemove_relative -- 1 1 mousemove_relative -- -1 -1; grep -qx entered '$SYS_TMP/drops.log'" \
    || { cat "$host_log" >&2; fail "scale $scale: the drag never came over the drop target"; }
  sys_screenshot "$SYS_TMP/drag-$scale.png"
  [ "${KADRIX_KEEP_SHOTS:-}" ] && cp "$SYS_TMP"/*.png "$KADRIX_KEEP_SHOTS"/
  xdotool mouseup 1
  sys_wait_for --timeout 5 grep -q '^dropped ' "$SYS_TMP/drops.log" || { cat "$host_log" >&2; fail "scale $scale: nothing was dropped"; }
  local file; file=$(sed -n 's/^dropped //p' "$SYS_TMP/drops.log" | head -1)
  [ -f "$file" ] || fail "the dropped file $file does not exist"
  expect_eq "$(identify -format '%wx%h' "$file")" "640x360" "the dropped file's size"
  expect_eq "$(sys_pixel "$file" 200 140)" "224,64,64" "the dropped file's pixels"
  grep -q '^core: hideMainWindow' "$host_log" || fail "the editor stayed after the drag"
  kill $target 2>/dev/null || true
  wait $target 2>/dev/null || true

  # Bring the editor back, narrow it: tools move into More, and one can be armed from there.
  kill $pid 2>/dev/null || true
  wait $pid 2>/dev/null || true
}

run_narrow() {
  : >"$host_log"
  QT_QPA_PLATFORM=xcb "$SYS_BIN/kadrix-editorhost" "$picture" >"$host_log" 2>&1 &
  local pid=$!
  sys_wait_for --timeout 15 grep -q '^core: loadImage' "$host_log" || fail "the editor never loaded the image"
  sleep 0.5
  local wide; wide=$(field tools)
  xdotool search --name '^Kadrix$' | head -1 | xargs -I{} xdotool windowsize {} 640 480
  sleep 1
  local narrow; narrow=$(field tools)
  [ "$narrow" -lt "$wide" ] || fail "narrowing the window left $narrow of $wide tools"
  local more; more=$(field more)
  [ "$more" != none ] || fail "no More button in a narrow window"
  click_at "$more"
  sleep 0.5
  sys_screenshot "$SYS_TMP/more.png"
  # The menu lists the tools that no longer fit, from Ruler on; the second is Rectangle.
  sys_key Down Down Return
  sys_wait_for --timeout 5 grep -q "^core: selectTool ObjRectangle toolbar" "$host_log" || { [ "${KADRIX_KEEP_SHOTS:-}" ] && cp "$SYS_TMP"/*.png "$KADRIX_KEEP_SHOTS"/; cat "$host_log" >&2; fail "the More menu armed nothing"; }
  kill $pid 2>/dev/null || true
  wait $pid 2>/dev/null || true
}

run_scale 1
run_scale 2
run_narrow
[ "${KADRIX_KEEP_SHOTS:-}" ] && cp "$SYS_TMP"/*.png "$KADRIX_KEEP_SHOTS"/
echo "editor window: 3 passed, 0 failed"
