#!/usr/bin/env bash
# A camera photo stored on its side opens upright: a JPEG of 120×60 pixels
# (blue left half, red right half) whose EXIF orientation says "turn a
# quarter clockwise" is chosen in the Open Image panel that kadrix://load/file
# shows; the editor shows it 60 wide and 120 high with blue on top, and
# Ctrl+C copies it that way; the panel keeps its state inside KADRIX_HOME.
# Scale 1 and 2.
source "$(dirname "${BASH_SOURCE[0]}")/harness.sh"
sys_begin
xsetroot -solid '#808080'

convert -size 120x60 xc:'#e02020' -fill '#2040e0' -draw 'rectangle 0,0 59,59' -quality 95 "$SYS_TMP/side.jpg"
# An EXIF segment holding only the orientation (6: turn a quarter clockwise to view).
python3 - "$SYS_TMP/side.jpg" "$SYS_TMP/photo.jpg" <<'PY'
import struct, sys
data = open(sys.argv[1], 'rb').read()
ifd = struct.pack('<H', 1) + struct.pack('<HHIHH', 0x0112, 3, 1, 6, 0) + struct.pack('<I', 0)
body = b'Exif\0\0' + b'II*\0' + struct.pack('<I', 8) + ifd
open(sys.argv[2], 'wb').write(data[:2] + b'\xff\xe1' + struct.pack('>H', len(body) + 2) + body + data[2:])
PY
expect_eq "$(identify -format '%[orientation]' "$SYS_TMP/photo.jpg")" "RightTop" "orientation written"

# "R,G,B" is mostly blue / mostly red (JPEG colours are near, not exact).
bluish() { IFS=, read -r r g b <<<"$1"; [ "$b" -gt 150 ] && [ "$r" -lt 100 ]; }
reddish() { IFS=, read -r r g b <<<"$1"; [ "$r" -gt 150 ] && [ "$b" -lt 100 ]; }

run_at_scale() {
  local scale=$1
  sys_start
  sleep 1
  sys_link 'kadrix://load/file'
  sys_wait_window '^Open Image$' 10 || { tail -20 "$SYS_TMP/kadrix.log"; fail "scale $scale: no Open Image panel"; }
  sys_dialog_enter 'Open Image' "$SYS_TMP/photo.jpg"
  sys_wait_for --timeout 10 sys_active_is Kadrix || fail "scale $scale: the editor did not show the photo"
  # The panel's own state (its last folder) stays in KADRIX_HOME, not in the user's ~/.config.
  sys_wait_for --timeout 5 test -s "$KADRIX_HOME/config/QtProject.conf" ||
    fail "scale $scale: the file panel kept its state outside KADRIX_HOME"
  sleep 1.5
  sys_screenshot "$SYS_TMP/open_exif_scale$scale.png"

  # On the canvas (under the tool bar, whose colour swatch may be blue too):
  # the blue half above the red one, 60 device pixels square.
  local X Y WIDTH HEIGHT w h x y ey
  sys_geom "$(xdotool search --onlyvisible --name '^Kadrix$' | head -1)"
  ey=$((Y + 80 * scale))
  read -r w h x y <<<"$(convert "$SYS_TMP/open_exif_scale$scale.png" -crop "x1000+0+$ey" +repage -alpha off -fuzz 12% \
    -fill black +opaque '#2040e0' -fill white -opaque '#2040e0' -trim -format '%w %h %X %Y' info: | tr -d '+')"
  y=$((y + ey))
  [ $((w - 60)) -le 2 ] && [ $((60 - w)) -le 2 ] && [ $((h - 60)) -le 2 ] && [ $((60 - h)) -le 2 ] ||
    fail "scale $scale: the blue half shows as ${w}x${h}"
  reddish "$(sys_pixel "$SYS_TMP/open_exif_scale$scale.png" $((x + 30)) $((y + 90)))" ||
    fail "scale $scale: no red under the blue half"

  sys_key ctrl+c
  sys_wait_for --timeout 10 bash -c "xclip -selection clipboard -o -t image/png 2>/dev/null | identify -format '%wx%h' - | grep -qx 60x120" ||
    fail "scale $scale: the copy is not 60x120"
  sys_clip_png "$SYS_TMP/copied.png"
  bluish "$(sys_pixel "$SYS_TMP/copied.png" 30 15)" || fail "scale $scale: the copy's top is not blue"
  reddish "$(sys_pixel "$SYS_TMP/copied.png" 30 105)" || fail "scale $scale: the copy's bottom is not red"
  echo "scale $scale: the photo opened upright"
}

sys_road open-exif run_at_scale
