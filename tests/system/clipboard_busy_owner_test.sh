#!/usr/bin/env bash
# A program that owns the clipboard and is merely busy, answering every
# request 400 ms late, the list of its types too, is taken at its word: in
# the editor Ctrl+V pastes its picture, and File ▸ Open from Clipboard comes
# on while the menu is open and opens it. Its answers reach a window that
# still exists (one put on a window that is gone is an error to the owner).
source "$(dirname "${BASH_SOURCE[0]}")/harness.sh"
sys_begin
xsetroot -solid '#3366cc'

owner=""
end_owner() {
  sys_end "$owner"
  owner=""
}
# Whatever road the test leaves by, the owner it started ends with it.
on_exit end_owner
# The test client owns the clipboard with one PNG of COLOUR, answering late.
own() {
  end_owner
  convert -size 120x80 "xc:$1" "$SYS_TMP/offered.png"
  # The toolkit tells the errors the server sent the owner only at its debug level.
  QT_LOGGING_RULES='qt.qpa.xcb=true' "$SYS_BIN/kadrix-testclient" late 400 png "$SYS_TMP/offered.png" \
    >>"$SYS_TMP/owner.log" 2>&1 &
  owner=$!
  sys_wait_for --timeout 10 bash -c "xclip -selection clipboard -o -t TARGETS 2>/dev/null | grep -qx image/png" \
    || fail "the test client offers no picture"
}
# How many pixels of the editor's window show COLOUR now.
shown() {
  sys_snap "$2"
  convert "$SYS_TMP/shot.png" -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage -fuzz 10% -fill black +opaque "$1" \
    -fill white -opaque "$1" -format '%[fx:int(mean*w*h+0.5)]' info:
}
# Whether COLOUR comes to fill more than MIN pixels within ten seconds.
comes() {
  local i
  for i in $(seq 1 10); do
    [ "$(shown "$1" "$3")" -gt "$2" ] && return 0
    sleep 0.4
  done
  return 1
}

sys_start
sys_link 'kadrix://grab/fullscreen?then=edit'
sys_wait_editor 15
sys_geom "$(xdotool search --onlyvisible --name '^Kadrix$' | head -1)"
[ "$(shown '#FF00FF' before)" -eq 0 ] || fail "the screenshot shows the magenta of the offer already"

# Ctrl+V waits for the owner's answer, then pastes its picture.
own '#FF00FF'
sys_key ctrl+v
comes '#FF00FF' 1000 pasted \
  || fail "Ctrl+V pasted nothing from an owner that answers 400 ms late ($(shown '#FF00FF' pasted) magenta pixels)"

# File ▸ Open from Clipboard, the second item, is on once the answer came:
# walked to with the keys after the menu opened, it opens the picture (off,
# the second item is Save, which asks for a folder).
own '#00FF00'
sys_click $((X + 72)) $((Y + 9))
sleep 1.5
sys_key Down Down Return
comes '#00FF00' 1000 opened || {
  xdotool search --onlyvisible --name 'Choose default folder' >/dev/null 2>&1 &&
    fail "File > Open from Clipboard was off after the owner answered: the keys reached Save"
  fail "File > Open from Clipboard did not open the picture of an owner that answers 400 ms late"
}
sys_stop_app
end_owner
if grep -q 'BadWindow' "$SYS_TMP/owner.log"; then
  fail "the owner's answer found its window gone: $(grep -m1 BadWindow "$SYS_TMP/owner.log")"
fi
echo "a busy owner's picture is pasted and opened from the menu; its answers reach their window"
