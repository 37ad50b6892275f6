#!/usr/bin/env bash
# Gallery thumbnails as a user meets them: the library popover shows each
# screenshot's picture (not just its colour), the thumbnails land in the
# desktop's shared thumbnail folder in the form file managers read (named by
# the MD5 of the file URI, the URI and modification time inside, private
# modes), and after a restart the gallery shows them from that folder
# without decoding the screenshots again; at scale 2 they are made at twice
# the size.
source "$(dirname "$0")/harness.sh"
sys_begin
sys_tray

lib="$SYS_TMP/my shots"
mkdir -p "$lib"
# Left half red, right half blue: the record's base colour is neither, so a
# red left and a blue right in the gallery can only be the thumbnail.
for i in $(seq 1 8); do
  convert -size 240x360 xc:'#ff0000' -size 240x360 xc:'#0000ff' +append \
    "$lib/Screenshot 2024-03-05 at 15.07.$(printf %02d "$i").png"
done
sys_library_on "$lib"
thumbs="$KADRIX_HOME/cache/thumbnails"

# The library view's top-left inside the popover (a window 392 pixels wide).
open_popover() {
  sys_click_tray_icon
  local id
  popover=""
  for id in $(xdotool search --onlyvisible --classname '^kadrix$' 2>/dev/null); do
    eval "$(xdotool getwindowgeometry --shell "$id")"
    [ "$WIDTH" -eq 392 ] && { popover=$id; cx=$((X + 6)); cy=$((Y + 6)); }
  done
  [ -n "$popover" ] || fail "the tray click opened no library popover"
}

# The first gallery item shows red on its left and blue on its right.
expect_thumbnail_shown() {
  local shot="$SYS_TMP/$1.png" left right
  sys_wait_for --timeout 10 bash -c "
    QT_SCALE_FACTOR=1 QT_QPA_PLATFORM=xcb '$SYS_BIN/kadrix-testclient' shot '$shot' &&
    [ \"\$(convert '$shot' -format '%[fx:int(255*p{$((cx + 40)),$((cy + 130))}.r)]' info:)\" -gt 200 ]" \
    || true
  left=$(sys_pixel "$shot" $((cx + 40)) $((cy + 130)))
  right=$(sys_pixel "$shot" $((cx + 150)) $((cy + 130)))
  [[ "$left" =~ ^2[0-9][0-9],[0-4]?[0-9],[0-4]?[0-9]$ ]] || fail "$2: the first item's left is $left, not the picture's red"
  [[ "$right" =~ ^[0-4]?[0-9],[0-4]?[0-9],2[0-9][0-9]$ ]] || fail "$2: the first item's right is $right, not the picture's blue"
}

sys_app_in_tray
open_popover
# The screenshots are offered; "Add Screenshots" indexes them.
sys_click $((cx + 190)) $((cy + 397))
sys_wait_for --timeout 40 bash -c "[ -f '$lib/imagelib.kxdb' ] && [ \$(wc -l <'$lib/imagelib.kxdb') -ge 8 ]" \
  || fail "the screenshots were not indexed"
expect_thumbnail_shown gallery "first opening"

# The shared cache holds them as file managers expect.
sys_wait_for --timeout 10 bash -c "ls '$thumbs'/*/*.png" || fail "no thumbnail was written to $thumbs"
python3 - "$lib" "$thumbs" <<'PY' || fail "the thumbnails on disk are not in the shared form"
import hashlib, os, stat, struct, sys, urllib.parse, zlib
folder, root = sys.argv[1], sys.argv[2]
def chunks(path):
    data = open(path, "rb").read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", path
    pos, text = 8, {}
    while pos < len(data):
        n, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + n]
        if kind == b"tEXt":
            k, v = body.split(b"\0", 1); text[k.decode()] = v.decode("latin-1")
        elif kind == b"zTXt":
            k, v = body.split(b"\0", 1); text[k.decode()] = zlib.decompress(v[1:]).decode("latin-1")
        elif kind == b"iTXt":
            k, rest = body.split(b"\0", 1); flag = rest[0]; rest = rest[2:]
            rest = rest.split(b"\0", 2)[2]
            text[k.decode()] = (zlib.decompress(rest) if flag else rest).decode()
        pos += 12 + n
    return text
found = 0
for name in sorted(os.listdir(folder)):
    if not name.endswith(".png"):
        continue
    path = os.path.join(folder, name)
    uri = "file://" + urllib.parse.quote(path)
    digest = hashlib.md5(uri.encode()).hexdigest() + ".png"
    for size in ("normal", "large", "x-large", "xx-large"):
        thumb = os.path.join(root, size, digest)
        if not os.path.exists(thumb):
            continue
        found += 1
        text = chunks(thumb)
        assert text["Thumb::URI"] == uri, (text["Thumb::URI"], uri)
        assert text["Thumb::MTime"] == str(int(os.stat(path).st_mtime)), text["Thumb::MTime"]
        assert stat.S_IMODE(os.stat(thumb).st_mode) == 0o600, oct(os.stat(thumb).st_mode)
        assert stat.S_IMODE(os.stat(os.path.dirname(thumb)).st_mode) == 0o700
assert found >= 2, f"only {found} thumbnails under the names file managers look for"
PY

# After a restart the thumbnails come from disk: the screenshots now hold
# other pixels, but keep their times, so the cached pictures are current.
sys_stop_app
for f in "$lib"/*.png; do
  touch -r "$f" "$SYS_TMP/time"
  convert -size 480x360 xc:'#00ff00' "$f"
  touch -r "$SYS_TMP/time" "$f"
done
sys_app_in_tray
open_popover
expect_thumbnail_shown restarted "after a restart"
sys_stop_app

# At scale 2 the gallery asks for twice the pixels, so the pictures stay sharp.
QT_SCALE_FACTOR=2 sys_app_in_tray
sys_click_tray_icon
sys_wait_for --timeout 15 bash -c "ls '$thumbs'/x-large/*.png" || fail "at scale 2 no thumbnail of twice the size was made"
sys_stop_app
echo "gallery thumbnails are shown, shared on disk and reused after a restart"
