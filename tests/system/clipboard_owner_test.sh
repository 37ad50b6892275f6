#!/usr/bin/env bash
# Load From Clipboard never holds kadrix up behind the program that offers
# the picture. While an owner that never hands its picture over is waited
# for, a settings link shows its window at once (as soon as with nothing
# waited for), links forwarded meanwhile are all taken, and SIGTERM ends
# kadrix by the way out's hard end. An owner that hands each of four picture
# types and its list of files over late, the file listed slow to decode: the
# whole load ends within the time of one decode. The editor's File menu and Ctrl+V leave
# the editor going behind an owner that hung, and behind one listing a file
# on a folder that hangs.
source "$(dirname "$0")/harness.sh"
sys_begin
sys_tray

# The test client owns the clipboard with DELAY_MS and FILEs as given.
owner=""
offer() {
  "$SYS_BIN/kadrix-testclient" offer "$@" >"$SYS_TMP/owner.log" 2>&1 &
  owner=$!
  sys_wait_for --timeout 10 bash -c "xclip -selection clipboard -o -t TARGETS 2>/dev/null | grep -qx image/png" \
    || fail "the test client offers no picture"
}
# A hung owner never reads its connection, so it outlives the display: it is
# ended here, on every road out of the test, a failure's included.
end_offer() {
  sys_end "$owner"
  owner=""
}
on_exit end_offer
# How long a settings link takes to show its window, into settings_ms. A
# quarter of a second on a quiet machine, most of it the second launch that
# forwards the link; a main thread held behind the owner would show the
# read's whole limit, over thirty seconds.
settings_link() {
  local start
  start=$(date +%s%N)
  sys_link 'kadrix://settings'
  sys_wait_for --timeout 10 xdotool search --onlyvisible --name '^Kadrix Settings$' \
    || fail "kadrix://settings opened no window after $1"
  settings_ms=$(sys_ms_since "$start")
}
# A settings link shows its window while the owner is waited for AFTER
# something, within RATIO times what it took with nothing waited for.
settings_within() {
  local ratio=$1 after=$2
  settings_link "$after"
  sys_within "$settings_ms" "$settings_ref_ms" "$ratio" "the settings window after $after, behind the clipboard's owner"
}

# The references, in a home of their own: a settings link with nothing
# waited for, and an end.
home=$KADRIX_HOME
export KADRIX_HOME="$SYS_TMP/reference"
sys_start
settings_link "a start"
settings_ref_ms=$settings_ms
sys_stop_app
end_ref_ms=$SYS_STOP_MS
export KADRIX_HOME=$home

# An owner that never hands over.
sys_start
offer -1
sys_link 'kadrix://load/clipboard'
sys_sleep 1                                  # the load waits for the owner now
settings_within 10 "a load from the clipboard"
load_settings_ms=$settings_ms
for i in 1 2 3; do
  out=$(sys_timeout 5 "$SYS_BIN/kadrix" 'kadrix://show' 2>&1) || fail "forwarded link $i was lost: $out"
done
sys_term_app
sys_end_within "$SYS_STOP_MS" "$end_ref_ms" "waiting for the clipboard's owner"
sys_reap_app
end_offer

# The editor's File menu and Ctrl+V ask whether a picture is offered, and
# the editor goes on meanwhile: a settings link shows soon after each.
asked_ms=()
asks_go_on() {
  local what=$1 ask
  for ask in menu paste; do
    if [ "$ask" = menu ]; then sys_click $((X + 72)) $((Y + 9)); else sys_key ctrl+v; fi
    settings_within 10 "the $ask, $what"
    asked_ms+=("$ask $settings_ms ms")
    sys_key Escape
    sys_wait_for --timeout 5 bash -c "! xdotool search --onlyvisible --name '^Kadrix Settings\$'" || true
    sys_link 'kadrix://show'
    sys_wait_editor 10
  done
}
editor() {
  sys_start
  sys_link 'kadrix://grab/fullscreen?then=edit'
  sys_wait_editor 15
  sys_geom "$(xdotool search --onlyvisible --name '^Kadrix$' | head -1)"
}

# An owner that has hung altogether, its list of types unanswered too.
editor
offer -1
sys_timeout 1 xclip -selection clipboard -o -t image/png >/dev/null 2>&1 || true  # it hangs from this request on
sys_timeout 2 xclip -selection clipboard -o -t TARGETS >/dev/null 2>&1 && fail "the test client still answers"
asks_go_on "an owner that hung"
sys_stop_app
end_offer

# An owner that lists a file on a folder that hangs (its open never
# returns, as on a network folder whose server stopped answering): the menu
# and the key give the file their second, then count it as no picture.
hung="$SYS_TMP/net"
mkdir -p "$hung"
"$SYS_BIN/kadrix-testclient" hungfolder "$hung" >"$SYS_TMP/folder.log" 2>&1 &
folder=$!
# A thread of kadrix waiting in the file's open waits until the folder ends.
end_folder() {
  [ -n "$folder" ] || return 0
  kill "$folder" 2>/dev/null || true
  wait "$folder" 2>/dev/null || true
  folder=""
  ! mountpoint -q "$hung" || umount -l "$hung"
}
on_exit end_folder
if sys_wait_for --timeout 5 grep -qx mounted "$SYS_TMP/folder.log"; then
  editor
  "$SYS_BIN/kadrix-testclient" late 0 list "$hung/picture.png" >"$SYS_TMP/owner.log" 2>&1 &
  owner=$!
  sys_wait_for --timeout 10 bash -c "xclip -selection clipboard -o -t TARGETS 2>/dev/null | grep -qx text/uri-list" \
    || fail "the test client lists no file"
  asks_go_on "a file listed that never opens"
  end_folder
  sys_stop_app
  end_offer
else
  asked_ms+=("(no folder that hangs here: $(tail -1 "$SYS_TMP/folder.log"))")
fi

# An owner that keeps each request waiting four seconds (less than the toolkit gives up after): four picture types
# that are no pictures, then the list naming a picture slow to decode.
slow="$SYS_TMP/slow.jpg"
cp "$SYS_SRC/tests/data/repro/jpeg-progressive-4096-60000-scans.jpg" "$slow"
sys_start
offer 4000 "$slow"
start=$(date +%s%N)
sys_link 'kadrix://load/clipboard'
sys_wait_for --timeout 60 sys_log_has 'Load from clipboard: ' || fail "the load from the clipboard never ended"
load_ms=$(sys_ms_since "$start")
# One decode's time: the decoder's 20 s of processor time, half again for
# waiting on the disk, and a second; processor time comes slower on a busy
# machine.
[ "$load_ms" -lt $(($(sys_seconds 33) * 1000)) ] || fail "the load from the clipboard took $load_ms ms, more than one decode's time"
grep -F 'Load from clipboard: ' "$SYS_TMP/kadrix.log" | grep -qF 'too long' \
  || fail "the load ended for another reason: $(grep -F 'Load from clipboard: ' "$SYS_TMP/kadrix.log")"
sys_stop_app
end_offer
echo "clipboard owner test: settings $load_settings_ms ms behind a hung owner, which ends nothing; after ${asked_ms[*]}; a slow one's load $load_ms ms"
