#!/usr/bin/env bash
# kadrix FILE, FILE on a file system that never answers (not even a look-up,
# as a hard network mount whose server is gone): the launch hands the name
# over at once, as it hands over a local file, and the running Kadrix tells
# that the file's folder did not answer, at the read's bound; with no Kadrix
# running, Kadrix starts and tells the same. The file system is a FUSE mount
# in a mount namespace of the test's own, gone with it.
source "$(dirname "$0")/harness.sh"
sys_own_mount_namespace "$@"
sys_begin
sys_tray
sys_need_own_mounts
sys_notify_server

dead="$SYS_TMP/dead"
mkdir -p "$dead"
server=""
mount_dead() {
  sys_start_helper "$SYS_TMP/fuse" silent_fuse.py "$dead" "$SYS_TMP/fuse"
  server=$SYS_HELPER_PID
}
# The server's end fails every request still waiting (a thread of kadrix's
# left in one would keep the ended process from going); then the mount goes.
unmount_dead() {
  [ -n "$server" ] || return 0
  sys_end "$server"
  server=""
  umount -l "$dead" 2>/dev/null || true
}
on_exit unmount_dead
mount_dead
convert -size 900x600 xc:'#33cc66' "$SYS_TMP/green.png"

# Milliseconds the launch took to hand FILE over (it fails after 10 s).
handed_ms() {
  local start
  start=$(date +%s%N)
  timeout -s KILL "$(sys_seconds 10)" "$SYS_BIN/kadrix" "$1" >/dev/null 2>&1 || fail "the launch did not hand $1 over"
  sys_ms_since "$start"
}
told_in_time() {
  local start=$1 ms
  sys_wait_for --timeout 60 grep -qF "Can't open image" "$SYS_NOTICES" || fail "the file on the mount was never told of ($2)"
  ms=$(sys_ms_since "$start")
  grep -F "Can't open image" "$SYS_NOTICES" | grep -qF 'its folder did not answer in time' \
    || fail "the open ended for another reason ($2): $(cat "$SYS_NOTICES")"
  [ "$ms" -lt $(($(sys_seconds 50) * 1000)) ] || fail "the file on the mount was told of after $ms ms ($2), past the read's bound"
  echo "$ms"
}

sys_start '"notificationType": "system"'
ref=$(handed_ms "$SYS_TMP/green.png")
start=$(date +%s%N)
dead_ms=$(handed_ms "$dead/picture.png")
[ "$dead_ms" -le $((2 * ref + $(sys_seconds 1) * 1000)) ] || fail "handing over a file on the mount took $dead_ms ms, a local one $ref ms"
sys_wait_for --timeout 10 grep -q '^asked' "$SYS_TMP/fuse" || fail "kadrix never looked for the file on the mount"
running_ms=$(told_in_time "$start" "kadrix running")
unmount_dead
sys_stop_app

# No Kadrix running: this launch is Kadrix.
mount_dead
: >"$SYS_NOTICES"
start=$(date +%s%N)
sys_app "$dead/picture.png"
sys_wait_for --timeout 15 sys_log_has 'AppLogic initialized' || fail "kadrix did not start with a file on the mount"
starting_ms=$(told_in_time "$start" "kadrix starting")
unmount_dead

echo "unanswering mount test: handed over in $dead_ms ms (a local file $ref ms); told of after $running_ms ms (running), $starting_ms ms (starting)"
