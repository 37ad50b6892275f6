#!/usr/bin/env bash
# Kadrix at its user's process limit, with no thread and no process more to
# be had, goes on: a picture handed to it fails as one that cannot be read, a
# capture to the clipboard and a kadrix://show link still answer, and once
# the limit is lifted the same picture opens. Kadrix runs as a user of its
# own (root has no process limit), whose only processes are Kadrix's.
source "$(dirname "$0")/harness.sh"
sys_begin
sys_tray
if [ "$(id -u)" != 0 ]; then
  echo "SKIP: running kadrix as a user of its own needs root"
  exit 0
fi
loner=$((3000000 + $$))
as_loner=(setpriv --reuid="$loner" --regid="$loner" --clear-groups)
# The second launches hand over their links and files as that user too.
sys_link() { sys_timeout 10 "${as_loner[@]}" "$SYS_BIN/kadrix" "$1" >/dev/null 2>&1 || fail "$1 was not handed over"; }

export XDG_RUNTIME_DIR="$SYS_TMP/run"
mkdir -m 0700 "$XDG_RUNTIME_DIR"
convert -size 900x600 xc:'#33cc66' "$SYS_TMP/green.png"
: >"$SYS_TMP/kadrix.log"
chown -R "$loner:$loner" "$SYS_TMP"
"${as_loner[@]}" "$SYS_BIN/kadrix" >>"$SYS_TMP/kadrix.log" 2>&1 &
SYS_APP_PID=$!
sys_wait_for --timeout 15 xdotool search --onlyvisible --classname '^kadrix$' || fail "kadrix's icon never showed in the tray"
sleep 1

# Its limit is what the user has running now: no thread or process more.
running=$(ps -L -u "$loner" --no-headers | wc -l)
hard=$("${as_loner[@]}" prlimit --pid "$SYS_APP_PID" --nproc --noheadings --output HARD)
"${as_loner[@]}" prlimit --pid "$SYS_APP_PID" --nproc="$running:"
echo "kadrix held at $running threads"

green() {
  sys_screenshot "$SYS_TMP/shot.png"
  [ "$(convert "$SYS_TMP/shot.png" -fill black +opaque '#33cc66' -fill white -opaque '#33cc66' -format '%[fx:int(mean*w*h)]' info:)" -gt 20000 ]
}
sys_link "$SYS_TMP/green.png"
sleep 3
kill -0 "$SYS_APP_PID" 2>/dev/null || { tail -20 "$SYS_TMP/kadrix.log"; fail "kadrix ended on a picture it could get no thread for"; }
! green || fail "a picture opened with no decoder to read it"
grep -q "Failed to open image file" "$SYS_TMP/kadrix.log" || { tail -20 "$SYS_TMP/kadrix.log"; fail "the picture's failure was not told"; }
echo "a picture with no thread to read it fails as an unreadable one, and kadrix goes on"
sys_key Escape

sys_link 'kadrix://grab/fullscreen?then=copy'
sys_wait_for --timeout 10 bash -c "xclip -selection clipboard -o -t TARGETS 2>/dev/null | grep -q image/png || grep -q 'No image to copy' '$SYS_TMP/kadrix.log'" \
  || fail "a capture at the limit neither reached the clipboard nor said why not"
kill -0 "$SYS_APP_PID" 2>/dev/null || fail "kadrix ended on a capture at the limit"
sys_link 'kadrix://show'
sys_wait_editor 10
echo "at the limit a capture answers, and kadrix://show brings the editor forward"
sys_key Escape

"${as_loner[@]}" prlimit --pid "$SYS_APP_PID" --nproc="$hard:"
sys_link "$SYS_TMP/green.png"
sys_wait_for --timeout 15 green || { tail -20 "$SYS_TMP/kadrix.log"; fail "the picture did not open once the limit was lifted"; }
echo "once threads can be had again, the same picture opens"
