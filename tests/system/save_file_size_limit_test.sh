#!/usr/bin/env bash
# Kadrix under a limit on the size of the files it writes (ulimit -f, a
# service manager's limit): a save whose picture goes past it fails as on a
# full disk, told by the save's own failure notice, and Kadrix keeps running
# with its library as it was.
source "$(dirname "${BASH_SOURCE[0]}")/harness.sh"
sys_begin
sys_notify_server
folder="$SYS_TMP/shots"
mkdir -p "$folder"
"$SYS_BIN/kadrix-testclient" text Page 100 100 900 500 900 500 top "$SYS_TMP/page.info" &
client=$!
on_exit 'kill $client 2>/dev/null || true'
sys_wait_window '^Page$' 5 || fail "the text window did not show"

db="$folder/imagelib.kxdb"
# A first save with no limit puts a line in the library.
sys_start '"notificationType": "system", "afterGrabSave": true, "afterGrabShow": false, "libEnabled": true, "libAllowOCR": false'
sys_first_save "$folder"
sys_wait_for --timeout 30 test -s "$db" || {
  tail -20 "$SYS_TMP/kadrix.log"
  fail "the first save never reached the library"
}
sleep 1
sys_stop_app
cp "$db" "$SYS_TMP/library-before"

# Now the limit lies just past the library's size: any picture goes past it.
limit=$(($(stat -c %s "$db") + 64))
# Its output goes through a pipe, which no limit on file sizes touches.
: >"$SYS_TMP/kadrix.log"
prlimit --fsize="$limit" "$SYS_BIN/kadrix" > >(cat >>"$SYS_TMP/kadrix.log") 2>&1 &
SYS_APP_PID=$!
sys_wait_for --timeout 15 sys_log_has 'AppLogic initialized' || fail "kadrix did not start under the limit"
sleep 0.5
: >"$SYS_NOTICES"
sys_link 'kadrix://grab/fullscreen?then=save'
# The first failure offers another folder; the same one fails again and is told.
sys_dialog_enter 'Choose default folder' "$folder"
sys_wait_for --timeout 15 grep -qF "Can't save file" "$SYS_NOTICES" || {
  tail -20 "$SYS_TMP/kadrix.log"
  fail "no notice of the failed save"
}
grep -F "Can't save file" "$SYS_NOTICES" | grep -qi "large" || fail "the notice does not say the file was too large: $(cat "$SYS_NOTICES")"
sleep 1
kill -0 "$SYS_APP_PID" 2>/dev/null || fail "kadrix ended under the file-size limit"
cmp -s "$db" "$SYS_TMP/library-before" || fail "the library changed"
expect_eq "$(ls "$folder" | grep -c '^SCR-')" 1 "pictures in the folder"
sys_stop_app
