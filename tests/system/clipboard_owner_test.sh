#!/usr/bin/env bash
# Load From Clipboard never holds kadrix up behind the program that offers
# the picture. While an owner that never hands its picture over is waited
# for, a settings link shows its window within a second, links forwarded
# meanwhile are all taken, and SIGTERM ends kadrix within two seconds. An
# owner that hands each of four picture types and its list of files over
# late, the file listed slow to decode: the whole load ends within the time
# of one decode.
source "$(dirname "$0")/harness.sh"
sys_begin
sys_tray

ms_since() { echo $(( ($(date +%s%N) - $1) / 1000000 )); }
running() { [ -n "$1" ] && ps -o stat= -p "$1" 2>/dev/null | grep -qv '^Z'; }
# The test client owns the clipboard with DELAY_MS and FILEs as given.
offer() {
  "$SYS_BIN/kadrix-testclient" offer "$@" >"$SYS_TMP/owner.log" 2>&1 &
  owner=$!
  sys_wait_for --timeout 10 bash -c "xclip -selection clipboard -o -t TARGETS 2>/dev/null | grep -qx image/png" \
    || fail "the test client offers no picture"
}
end_offer() {
  kill "$owner" 2>/dev/null || true
  wait "$owner" 2>/dev/null || true
}

# An owner that never hands over.
sys_start
offer -1
sys_link 'kadrix://load/clipboard'
sleep 1                                      # the load waits for the owner now
start=$(date +%s%N)
sys_link 'kadrix://settings'
sys_wait_for --timeout 5 xdotool search --onlyvisible --name '^Kadrix Settings$' \
  || fail "kadrix://settings opened no window while the clipboard's owner was waited for"
settings_ms=$(ms_since "$start")
[ "$settings_ms" -lt 1000 ] || fail "the settings window showed $settings_ms ms after its link, behind the clipboard's owner"
for i in 1 2 3; do
  out=$(timeout 5 "$SYS_BIN/kadrix" 'kadrix://show' 2>&1) || fail "forwarded link $i was lost: $out"
done
start=$(date +%s%N)
kill -TERM "$SYS_APP_PID"
for i in $(seq 1 40); do running "$SYS_APP_PID" || break; sleep 0.05; done
running "$SYS_APP_PID" && fail "kadrix still ran 2 s after SIGTERM, waiting for the clipboard's owner"
sys_reap_app
end_offer

# An owner that keeps each request waiting four seconds (less than the toolkit gives up after): four picture types
# that are no pictures, then the list naming a picture slow to decode.
slow="$SYS_TMP/slow.jpg"
cp "$SYS_SRC/tests/data/repro/jpeg-progressive-4096-60000-scans.jpg" "$slow"
sys_start
offer 4000 "$slow"
start=$(date +%s%N)
sys_link 'kadrix://load/clipboard'
sys_wait_for --timeout 60 sys_log_has 'Load from clipboard: ' || fail "the load from the clipboard never ended"
load_ms=$(ms_since "$start")
# One decode's time: the decoder's 20 s of processor time, half again for
# waiting on the disk, and a second.
[ "$load_ms" -lt 33000 ] || fail "the load from the clipboard took $load_ms ms, more than one decode's time"
grep -F 'Load from clipboard: ' "$SYS_TMP/kadrix.log" | grep -qF 'too long' \
  || fail "the load ended for another reason: $(grep -F 'Load from clipboard: ' "$SYS_TMP/kadrix.log")"
sys_stop_app
end_offer
echo "clipboard owner test: settings $settings_ms ms behind a hung owner, which ends nothing; a slow one's load $load_ms ms"
