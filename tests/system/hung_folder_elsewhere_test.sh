#!/usr/bin/env bash
# A folder that does not answer (the kernel holds its opens, as a network
# folder whose server stopped does) holds up only what lies on its own file
# system. With four opens held there, a file on another file system named
# after them shows, and an area capture is copied, each within a second of
# the same done with nothing held; the opens held are given up without a
# word once the later picture has landed. Five files named in a row on the
# held folder and one elsewhere after them: that one shows within a second.
# The held folder is a file system of the test's own: a tmpfs in a mount
# namespace of the test's own, gone with it.
source "$(dirname "$0")/harness.sh"
sys_own_mount_namespace "$@"
sys_begin
sys_tray
sys_need_own_mounts
sys_notify_server

held="$SYS_TMP/net"
mkdir -p "$held"
mount -t tmpfs -o size=8m kadrix-test "$held" || { echo "SKIP: no tmpfs could be mounted"; exit 0; }
on_exit "umount -l '$held' 2>/dev/null || true"
for i in 1 2 3 4 5; do convert -size 300x200 xc:'#3366cc' "$held/picture$i.png"; done
convert -size 900x600 xc:'#33cc66' "$SYS_TMP/green.png"
convert -size 900x600 xc:'#cc3366' "$SYS_TMP/red.png"
convert -size 900x600 xc:'#cccc33' "$SYS_TMP/yellow.png"

hold() { sys_hold_opens "$held" '^picture'; }
release() { sys_release_opens; }
on_exit release
opens_held() { [ "$(grep -c '^held picture' "$SYS_TMP/held")" -ge "$1" ]; }

shows() {
  sys_screenshot "$SYS_TMP/shot.png"
  [ "$(sys_count_colour "$SYS_TMP/shot.png" "$1")" -gt 20000 ]
}
# Milliseconds from handing FILE over until it shows (COLOUR).
open_ms() {
  local start
  start=$(date +%s%N)
  sys_link "$1"
  sys_wait_for --timeout 40 shows "$2" || fail "$1 did not show"
  sys_ms_since "$start"
}
# Milliseconds from the end of an area selection until its picture is on the clipboard.
capture_ms() {
  local start
  echo none | xclip -selection clipboard -i >/dev/null 2>&1
  sys_wait_for --timeout 5 bash -c "[ \"\$(xclip -selection clipboard -o 2>/dev/null)\" = none ]"
  sys_key ctrl+shift+2
  sys_wait_for --timeout 10 xdotool search --onlyvisible --name '^kadrix-screencapture$' \
    || fail "Ctrl+Shift+2 started no screenshot tool ($1)"
  sys_sleep 0.5
  start=$(date +%s%N)
  sys_drag 20 20 220 170
  sys_wait_for --timeout 40 bash -c "xclip -selection clipboard -o -t TARGETS 2>/dev/null | grep -qx image/png" \
    || fail "the area capture was not copied ($1)"
  sys_ms_since "$start"
}
# Each of the held folder's first N pictures named in a row.
name_held() {
  for i in $(seq 1 "$1"); do
    sys_link "$held/picture$i.png"
    sleep 0.3
  done
}
# Within a second (as slow as the machine is now) of the same with nothing
# held, and twice that for a moment of the machine's.
in_time() {
  [ "$1" -le $((2 * $2 + $(sys_seconds 1) * 1000)) ] || fail "$3 took $1 ms, $2 ms with nothing held"
}

sys_start '"notificationType": "system", "afterGrabCopy": true, "afterGrabShow": false'
ref_open=$(open_ms "$SYS_TMP/green.png" '#33CC66')
ref_capture=$(capture_ms "nothing held")

# 1. Four opens held on the folder's file system, then a file elsewhere and a capture.
hold
name_held 4
sys_wait_for --timeout 20 opens_held 4 || fail "the files on the held folder were not opened side by side: $(cat "$SYS_TMP/held")"
red_ms=$(open_ms "$SYS_TMP/red.png" '#CC3366')
in_time "$red_ms" "$ref_open" "a file elsewhere with four opens held"
held_capture=$(capture_ms "four opens held")
in_time "$held_capture" "$ref_capture" "an area capture with four opens held"
sys_wait_for --timeout 10 bash -c "[ \$(grep -c 'given up, a later picture replaced it' '$SYS_TMP/kadrix.log') -ge 4 ]" \
  || fail "the opens behind the later picture were not given up: $(grep -F 'Open image' "$SYS_TMP/kadrix.log")"
grep -qF "Can't open image" "$SYS_NOTICES" && fail "an open given up was told: $(cat "$SYS_NOTICES")"
release
sys_wait_for --timeout 10 bash -c "! ls -l /proc/$SYS_APP_PID/fd 2>/dev/null | grep -qF '$held/'" \
  || fail "kadrix holds a late-opened file: $(ls -l "/proc/$SYS_APP_PID/fd" | grep -F "$held")"

# 2. Five files named in a row on the held folder, and one elsewhere after them.
hold
name_held 5
sys_wait_for --timeout 20 opens_held 4 || fail "the five files were not opened side by side: $(cat "$SYS_TMP/held")"
yellow_ms=$(open_ms "$SYS_TMP/yellow.png" '#CCCC33')
in_time "$yellow_ms" "$ref_open" "a file elsewhere named after five on the held folder"
release
sleep 1
shows '#CCCC33' || fail "a file named earlier replaced the last one"

echo "hung folder elsewhere test: a file shown in $ref_open ms with nothing held, $red_ms ms with four opens held, $yellow_ms ms after five named; a capture copied in $ref_capture ms, $held_capture ms with four held"
