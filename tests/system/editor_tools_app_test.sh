#!/usr/bin/env bash
# Every tool of the editor's tool bar, clicked as a user clicks it in the
# running kadrix, at scale 1 and 2: a full-screen capture opens in the editor;
# each drawing tool, picked from the bar or from its "More tools" menu, draws
# on its own row of the canvas (Text types a word, Paste Image adds the
# clipboard's picture), the arrow in a colour picked from its settings' colour
# button; Ruler shows its help, Backdrop puts the capture on a
# backdrop and Add Capture starts the screenshot tool.
source "$(dirname "${BASH_SOURCE[0]}")/harness.sh"
sys_begin
sys_solid_window Ground 0 0 1800 1000 '#3366cc'
sleep 0.5
# A stripe across every row, over the ground, so that even a blur over it shows.
"$SYS_BIN/kadrix-testclient" solid Stripe 820 0 80 1000 '#dd3322' &
stripe=$!
on_exit 'kill $stripe 2>/dev/null || true'
sys_wait_window '^Stripe$' 5 || fail "the stripe did not show"
xdotool search --name '^Stripe$' | head -1 | xargs xdotool windowraise
sleep 0.5

sticker="$SYS_TMP/sticker.png"
convert -size 90x60 xc:'#22cc44' "$sticker"

# How many windows of kadrix show.
kadrix_windows() { xdotool search --onlyvisible --classname '^kadrix$' 2>/dev/null | wc -l; }

# Pixels of a band (WxH+X+Y) that differ between two screenshots.
changed() {
  convert "$1" -crop "$3" +repage "$SYS_TMP/band-a.png"
  convert "$2" -crop "$3" +repage "$SYS_TMP/band-b.png"
  { compare -metric AE -fuzz 6% "$SYS_TMP/band-a.png" "$SYS_TMP/band-b.png" null: 2>&1 >/dev/null || true; } \
    | awk '{print int($1); exit}'
}

road() {
  local s=$1
  sys_start
  sys_link 'kadrix://grab/fullscreen?then=edit'
  sys_wait_editor 15
  local editor; editor=$(xdotool getactivewindow)
  # The same room in points at both scales: ten tools and "More tools".
  xdotool windowmove "$editor" 0 0 windowsize "$editor" $((900 * s)) $((520 * s))
  sleep 1
  sys_geom "$editor"
  sys_screenshot "$SYS_TMP/open.png"
  # Where the capture's blue shows in the editor (the canvas).
  local bw bh bx by
  read -r bw bh bx by < <(convert "$SYS_TMP/open.png" -crop "${WIDTH}x${HEIGHT}+$X+$Y" +repage -fill black \
    -fuzz 4% +opaque '#3366cc' -trim -format '%w %h %X %Y\n' info:)
  bx=$((X + ${bx#+})) by=$((Y + ${by#+}))
  [ "$bw" -gt $((300 * s)) ] && [ "$bh" -gt $((200 * s)) ] || fail "scale $s: the capture shows only ${bw}x${bh}"

  local row=0 rows=12 step=$((bh / 13))
  local x0=$((bx + bw * 15 / 100)) x1=$((bx + bw * 85 / 100))
  tool() { sys_click $((X + (24 + 32 * $1) * s)) $((Y + 42 * s)); sleep 0.3; }
  more() {
    tool 10
    local i
    for i in $(seq 1 "$1"); do sys_key Down; done
    sys_key Return
    sleep 0.3
  }
  # Draws on the next row with the tool just picked and checks the row changed.
  draw() {
    local name=$1 y=$((by + step * (row + 1) - step / 3)) before="$SYS_TMP/before.png" after="$SYS_TMP/after-$row.png"
    sys_screenshot "$before"
    sys_drag "$x0" "$y" "$x1" $((y + step * 2 / 3))
    [ "$name" == Text ] && { sleep 0.3; sys_type "Kadrix"; sleep 0.3; }
    # The crop tool ends the object's editing, so the row shows the object alone.
    tool 0
    sys_screenshot "$after"
    local n; n=$(changed "$before" "$after" "${bw}x${step}+${bx}+$((y - step / 3))")
    [ "$n" -gt $((60 * s)) ] || { sys_keep_shot "$before" "$(basename "$before")"
      sys_keep_shot "$after" "$(basename "$after")"
      fail "scale $s: $name drew nothing on its row ($n pixels changed)"; }
    # A drag with no tool armed makes a crop selection, which dims the whole
    # canvas: the bottom row stays as it was (the spotlight dims it on purpose,
    # a new text zooms the view).
    if [ "$name" != Spotlight ] && [ "$name" != Text ]; then
      local far; far=$(changed "$before" "$after" "${bw}x$((step / 2))+${bx}+$((by + step * 12))")
      [ "$far" -lt 20 ] || fail "scale $s: $name changed the whole canvas ($far pixels of the bottom row)"
    fi
    row=$((row + 1))
  }

  # A swatch picked from the colour button of an arrow's settings becomes the
  # colour the next arrow is drawn in.
  local draft=$((by + step * 11 - step / 3)) launcher=$((X + WIDTH - 86 * s))
  tool 1
  sys_drag "$x0" "$draft" "$x1" $((draft + step / 2))
  sys_sleep 0.4
  # The colour popover is a window of its own: clicked once it shows, and
  # the next arrow drawn once it has gone.
  local windows
  windows=$(kadrix_windows)
  sys_click "$launcher" $((Y + 88 * s))
  sys_wait_for --timeout 5 bash -c "[ \$(xdotool search --onlyvisible --classname '^kadrix\$' 2>/dev/null | wc -l) -gt $windows ]" \
    || fail "scale $s: the arrow's colour button opened no popover"
  sys_sleep 0.3
  # The popover opens below the button here (no room above): the first swatch of its lower row.
  sys_click $((launcher - 48 * s)) $((Y + (100 + 64) * s))
  sys_wait_for --timeout 5 bash -c "[ \$(xdotool search --onlyvisible --classname '^kadrix\$' 2>/dev/null | wc -l) -le $windows ]" \
    || fail "scale $s: the colour popover stayed after a swatch was picked"
  tool 0
  tool 1; draw Arrow
  local teal
  teal=$(convert "$SYS_TMP/after-0.png" -crop "${bw}x${step}+${bx}+$((by + step * 2 / 3))" +repage -alpha off \
    -fuzz 12% -fill black +opaque '#00a490' -fill white -opaque '#00a490' -format '%[fx:int(mean*w*h+0.5)]' info:)
  [ "$teal" -gt $((100 * s)) ] || fail "scale $s: the arrow after the pick shows $teal pixels of the picked colour"
  tool 4; draw Rectangle
  tool 6; draw Freehand
  tool 8; draw Blur
  tool 9; draw Highlighter
  more 2; draw Counter
  more 3; draw Oval
  more 4; draw Line
  # A text begun in a zoomed-out view zooms to actual size around it: after the others.
  tool 2; draw Text
  # Spotlight dims all but its own shape: drawn last so it hides no row.
  more 1; draw Spotlight
  # Paste Image takes the clipboard's picture.
  xclip -selection clipboard -t image/png -i "$sticker"
  sleep 0.3
  sys_screenshot "$SYS_TMP/before-paste.png"
  more 5
  sleep 0.5
  sys_screenshot "$SYS_TMP/pasted.png"
  # The spotlight dims the picture a little: its green is counted loosely.
  local green
  green=$(convert "$SYS_TMP/pasted.png" -alpha off -fuzz 25% -fill black +opaque '#22cc44' -fill white -opaque '#22cc44' \
    -format '%[fx:int(mean*w*h+0.5)]' info:)
  [ "$green" -gt 2000 ] || fail "scale $s: Paste Image added no picture ($green pixels of it)"
  tool 0

  # Ruler arms nothing and shows its help.
  tool 3
  sleep 0.6
  sys_screenshot "$SYS_TMP/ruler.png"
  local help=$(changed "$SYS_TMP/pasted.png" "$SYS_TMP/ruler.png" "${WIDTH}x$((90 * s))+$X+$((Y + 70 * s))")
  [ "$help" -gt $((2000 * s)) ] || fail "scale $s: Ruler showed no help ($help pixels changed)"
  # Escape puts the help away (and nothing else while it shows).
  sys_key Escape
  sleep 0.5

  # Backdrop puts the capture on a backdrop: the canvas changes around it.
  sys_screenshot "$SYS_TMP/plain.png"
  tool 5
  sleep 1
  sys_screenshot "$SYS_TMP/backdrop.png"
  local around=$(changed "$SYS_TMP/plain.png" "$SYS_TMP/backdrop.png" "${WIDTH}x$((HEIGHT - 80 * s))+$X+$((Y + 80 * s))")
  [ "$around" -gt $((20000 * s)) ] || fail "scale $s: Backdrop changed only $around pixels"

  # Add Capture starts the screenshot tool; Escape leaves it.
  tool 7
  sys_wait_for --timeout 10 xdotool search --name '^kadrix-screencapture$' \
    || fail "scale $s: Add Capture started no screenshot tool"
  sleep 0.5
  sys_key Escape
  sys_wait_for --timeout 10 bash -c "! xdotool search --name '^kadrix-screencapture$'" \
    || fail "scale $s: the screenshot tool stayed"
  [ "${KADRIX_KEEP_SHOTS:-}" ] && cp "$SYS_TMP"/*.png "$KADRIX_KEEP_SHOTS"/
  return 0
}

sys_road editor-tools road
