#!/usr/bin/env bash
# The editor canvas in the running kadrix, in the light and the dark look and
# at scale 1 and 2: a picture opened from a file sits on the checkerboard of
# the look (white and light grey squares, or two dark greys). A PDF dragged
# from another program onto the canvas (a JPEG behind it) is refused. A
# picture another program drags as bytes, no file (as the toolkit's own
# picture type, which the toolkit would decode itself, and as PNG), is not
# even asked for: no decoder starts, memory stays flat, the picture stays
# and a link is answered. A picture built to keep its decoder busy past its time, handed over by a
# second launch, holds nothing up: meanwhile the editor zooms in, and a
# drawing handed over next opens at its declared size once the busy one is
# given up.
source "$(dirname "${BASH_SOURCE[0]}")/harness.sh"
sys_begin
sys_tray
[ -x "$SYS_BIN/kadrix-dragsource" ] || fail "kadrix-dragsource is not built"

convert -size 400x300 xc:'#c03030' "$SYS_TMP/red.png"
convert -size 240x160 xc:'#2040e0' "$SYS_TMP/BLUE.JPG"
cp "$SYS_TMP/red.png" "$SYS_TMP/paper.pdf"

# A desktop in the dark look: the palette comes from the desktop's colour file.
dark_desktop() {
  export XDG_CONFIG_HOME="$SYS_TMP/xdg" XDG_CURRENT_DESKTOP=KDE KDE_SESSION_VERSION=5 KDE_FULL_SESSION=true
  mkdir -p "$XDG_CONFIG_HOME"
  printf '[Colors:%s]\nBackgroundNormal=35,38,41\nForegroundNormal=239,240,241\n' Window View Button >"$XDG_CONFIG_HOME/kdeglobals"
}
light_desktop() { unset XDG_CONFIG_HOME XDG_CURRENT_DESKTOP KDE_SESSION_VERSION KDE_FULL_SESSION; }

# Where the picture of colour $2 is inside the window of geometry X Y WIDTH HEIGHT in $1: "w h x y".
picture_box() {
  local box w h bx by
  # The fuzz takes in the canvas's thin edge line, drawn over the picture's outer pixels.
  box=$(convert "$1" -crop "${WIDTH}x${HEIGHT}+$X+$Y" +repage -fuzz 10% -fill black +opaque "$2" -trim \
    -format '%w %h %X %Y' info:)
  read -r w h bx by <<<"$box"
  echo "$w $h $((X + ${bx#+})) $((Y + ${by#+}))"
}

# Drags the files from a source window in the bottom-left corner to (x, y);
# prints what the drop target answered ("copy" or "none").
drag_files_to() {
  local x=$1 y=$2
  shift 2
  env -u QT_SCALE_FACTOR QT_QPA_PLATFORM=xcb "$SYS_BIN/kadrix-dragsource" 0 940 "$@" >"$SYS_TMP/drag.log" 2>&1 &
  local source=$!
  sys_wait_window '^kadrix-dragsource$' 10 || fail "no drag source"
  sleep 0.5
  xdotool mousemove 60 1000 mousedown 1
  local step
  for step in 1 2 3 4 5 6 7 8; do
    xdotool mousemove $((60 + (x - 60) * step / 8)) $((1000 + (y - 1000) * step / 8))
    sleep 0.1
  done
  # The drop lands where the target last heard of the pointer: let it catch up.
  xdotool mousemove $((x + 1)) "$y"
  sleep 0.3
  xdotool mousemove "$x" "$y"
  sleep 0.7
  xdotool mouseup 1
  sys_wait_for --timeout 5 grep -q '^drag ' "$SYS_TMP/drag.log" || fail "the drag did not end"
  kill $source 2>/dev/null || true
  wait $source 2>/dev/null || true
  sed -n 's/^drag //p' "$SYS_TMP/drag.log"
}

look() {
  local s=$1 squares=$2
  sys_start
  "$SYS_BIN/kadrix" "$SYS_TMP/red.png" >/dev/null 2>&1 &
  sys_wait_editor 15
  local editor
  editor=$(xdotool getactivewindow)
  # Out of the drag source's way.
  xdotool windowmove "$editor" 200 0
  sleep 1
  sys_geom "$editor"
  sys_screenshot "$SYS_TMP/open.png"
  local w h bx by
  read -r w h bx by <<<"$(picture_box "$SYS_TMP/open.png" '#c03030')"
  # Below 100 % never: 400 × 300 device pixels.
  expect_eq "${w}x$h" "400x300" "scale $s: the picture on screen"
  # Left of the picture: the checkerboard, in the look's two greys only.
  local margin=$(((bx - X) / 2)) colours
  [ "$margin" -ge 8 ] || fail "scale $s: no canvas left of the picture"
  colours=$(convert "$SYS_TMP/open.png" -crop "$((margin))x$((h - 20))+$((X + margin / 2))+$((by + 10))" +repage \
    -format %c histogram:info:- | sed -n 's/.*#\([0-9A-F]\{6\}\).*/\1/p' | sort | tr '\n' ' ')
  expect_eq "$colours" "$squares " "scale $s: the checkerboard's colours"

  # A PDF is refused and changes nothing.
  expect_eq "$(drag_files_to $((X + margin)) $((by + h / 2)) "$SYS_TMP/paper.pdf" "$SYS_TMP/BLUE.JPG")" none \
    "scale $s: the drop of a PDF"
  sleep 0.5
  sys_screenshot "$SYS_TMP/after.png"
  expect_eq "$(picture_box "$SYS_TMP/after.png" '#c03030' | cut -d' ' -f1-4)" "$w $h $bx $by" "scale $s: the picture after the PDF"

  if [ "$s" == 1 ] && [ "$squares" == "F2F2F2 FFFFFF" ]; then
    bytes_dragged $((X + margin)) $((by + h / 2)) "$w $h $bx $by"
    busy_decoder
  fi
}

# kadrix's memory now (VmRSS) or at its peak since it was last reset (VmHWM), in kB.
memory() { awk -v key="$1:" '$1 == key {print $2}' "/proc/$SYS_APP_PID/status"; }

# A 5000 × 5000 picture (under 100 KB as PNG) dragged from another program as
# bytes of one type, no file, and dropped on the canvas at (x, y), where the
# picture is at BOX ("w h x y"): kadrix asks for none of it, no decoder runs
# (watched every 20 ms: decoding this takes far longer), its memory at its
# peak stays within 60 MB of where it was (the picture's pixels alone are
# 100 MB), the picture stays and a link is answered.
bytes_dragged() {
  local x=$1 y=$2 box=$3 type rss peak watcher
  convert -size 5000x5000 xc:'#20a040' "$SYS_TMP/large.png"
  for type in application/x-qt-image image/png; do
    : >"$SYS_TMP/decoders.log"
    rss=$(memory VmRSS)
    echo 5 >"/proc/$SYS_APP_PID/clear_refs"  # the peak counts from here
    while :; do decoding && echo seen; sleep 0.02; done >>"$SYS_TMP/decoders.log" 2>/dev/null &
    watcher=$!
    "$SYS_BIN/kadrix-dragsource" --offer "$type" "$SYS_TMP/large.png" "$x" "$y" >"$SYS_TMP/offer.log" 2>&1 \
      || fail "the drag of $type bytes did not end: $(tr '\n' ' ' <"$SYS_TMP/offer.log")"
    sleep 0.5
    sys_end "$watcher"
    peak=$(memory VmHWM)
    grep -qx 'status refused' "$SYS_TMP/offer.log" || fail "kadrix did not refuse the $type bytes dragged over it"
    expect_eq "$(sed -n 's/^drag //p' "$SYS_TMP/offer.log")" none "the drop of $type bytes"
    ! grep -q '^asked' "$SYS_TMP/offer.log" || fail "kadrix asked for the $type bytes dragged over it"
    [ ! -s "$SYS_TMP/decoders.log" ] || fail "a decoder started for the $type bytes dragged over kadrix"
    [ $((peak - rss)) -le 61440 ] || fail "kadrix grew from $rss kB to $peak kB with the $type bytes dragged over it"
  done
  sys_screenshot "$SYS_TMP/after-bytes.png"
  expect_eq "$(picture_box "$SYS_TMP/after-bytes.png" '#c03030' | cut -d' ' -f1-4)" "$box" "the picture after the bytes"
  sys_link 'kadrix://show'
}

# A decoder the running program started.
decoding() { pgrep -x -P "$SYS_APP_PID" kadrix-decode >/dev/null; }
not_decoding() { ! decoding; }

# Whether the screen shows the poster (green, a white disc in its middle, 3:2)
# at least 300 pixels wide, wherever the editor now is.
poster_shown() {
  local X=0 Y=0 WIDTH HEIGHT w h
  read -r WIDTH HEIGHT <<<"$(xdotool getdisplaygeometry)"
  sys_screenshot "$SYS_TMP/poster.png"
  read -r w h _ <<<"$(picture_box "$SYS_TMP/poster.png" '#22aa66')"
  [ "$w" -gt 300 ] && [ $((w * 2)) -le $((h * 3 + 6)) ] && [ $((w * 2)) -ge $((h * 3 - 6)) ]
}

busy_decoder() {
  local repro="$SYS_SRC/tests/data/repro" editor
  editor=$(xdotool search --onlyvisible --name '^Kadrix$' | head -1)
  "$SYS_BIN/kadrix" "$repro/jpeg-progressive-4096-60000-scans.jpg" >/dev/null 2>&1 &
  sys_wait_for --timeout 10 decoding || fail "the progressive JPEG went to no decoder"
  # Meanwhile the editor takes keys: zoomed in, the picture grows.
  sys_focus "$editor"
  sys_key ctrl+equal
  sys_wait_for --timeout 5 zoomed_in || fail "the editor did not zoom in while the JPEG was decoding"
  decoding || fail "the JPEG's decoder ended before the editor zoomed in"
  # A file handed over meanwhile opens in its turn, after the JPEG: its
  # decoder is stopped at its time and the program goes on.
  "$SYS_BIN/kadrix" "$repro/svg-170byte-6000x4000-poster.svg" >/dev/null 2>&1 &
  sys_wait_for --timeout 40 not_decoding || fail "the JPEG's decoder was not stopped"
  sys_wait_for --timeout 10 poster_shown || fail "the poster did not open after the JPEG was given up"
  kill -0 "$SYS_APP_PID" || fail "kadrix ended with the JPEG's decoder"
}

zoomed_in() {
  sys_screenshot "$SYS_TMP/zoomed.png"
  [ "$(picture_box "$SYS_TMP/zoomed.png" '#c03030' | cut -d' ' -f1)" -gt 420 ]
}

light() { light_desktop; look "$1" "F2F2F2 FFFFFF"; }
dark() { dark_desktop; look "$1" "2A2A2A 333333"; }
sys_road canvas-light light
sys_road canvas-dark dark
echo "the checkerboard follows the look; PDF drops are refused"
