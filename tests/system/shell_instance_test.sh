#!/usr/bin/env bash
# One kadrix per user: launches at the same moment leave one process, a later
# launch hands its link or file to the running one and leaves at once, and
# SIGTERM ends kadrix with its unsent events on disk.
source "$(dirname "$0")/harness.sh"
sys_begin
sys_tray

# This test's own instances: other tests may run kadrix beside it.
running() {
  local pid n=0
  for pid in $(pgrep -f -x "$SYS_BIN/kadrix"); do
    tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "KADRIX_HOME=$KADRIX_HOME" && n=$((n + 1))
  done
  echo "$n"
}

# The reference for how fast a launch hands over: kadrix started to ready
# beside it, in a home of its own (this test's home stays a first run's).
KADRIX_HOME="$SYS_TMP/reference" sys_start
sys_stop_app

# Three launches at once.
"$SYS_BIN/kadrix" >"$SYS_TMP/a.log" 2>&1 &
a=$!
"$SYS_BIN/kadrix" >"$SYS_TMP/b.log" 2>&1 &
b=$!
"$SYS_BIN/kadrix" >"$SYS_TMP/c.log" 2>&1 &
c=$!
sys_sleep 3
[ "$(running)" == 1 ] || fail "$(running) kadrix processes run after three launches at once"
alive=""
for p in $a $b $c; do
  if kill -0 "$p" 2>/dev/null; then alive=$p; else wait "$p" || fail "a forwarding launch failed"; fi
done
[ -n "$alive" ] || fail "no launch stayed"
SYS_APP_PID=$alive

# A later launch forwards its link and leaves quickly, well before a start
# of its own would be ready; the running one takes it apart (a broken one
# shows up as its error report).
start=$(date +%s%N)
sys_timeout 5 "$SYS_BIN/kadrix" 'kadrix://grab:x' || fail "the forwarding launch failed"
sys_within "$(sys_ms_since "$start")" "$SYS_START_MS" 2 "forwarding a link"
sys_timeout 5 "$SYS_BIN/kadrix" 'kadrix://show' || fail "forwarding show failed"
sys_wait_for --timeout 5 grep -q "Invalid url: kadrix://grab:x" "$SYS_TMP"/[abc].log \
  || fail "the running instance never got the forwarded link"
[ "$(running)" == 1 ] || fail "a forwarding launch stayed"

# A file whose name is not UTF-8, handed over by a later launch, opens in the
# running editor under its own name.
file=$(printf '%s/caf\xe9 shot.png' "$SYS_TMP")
convert -size 120x80 xc:'#cc3366' "$file"
sys_timeout 5 "$SYS_BIN/kadrix" "$file" || fail "forwarding a file failed"
shown() { sys_screenshot "$SYS_TMP/file.png"; [ "$(convert "$SYS_TMP/file.png" -fill black +opaque '#cc3366' -fill white -opaque '#cc3366' -format '%[fx:int(mean*w*h)]' info:)" -gt 1000 ]; }
sys_wait_for --timeout 10 shown || fail "the handed-over file did not open in the editor"

# SIGTERM: a clean end with the queue on disk.
sys_term_app
sys_running "$SYS_APP_PID" && fail "SIGTERM did not end kadrix"
SYS_APP_PID=""
grep -q '"type": *"quit"' "$KADRIX_HOME/config/defaults.json" || fail "the quit event is not on disk after SIGTERM"
[ ! -e "$KADRIX_HOME/kadrix.sock" ] || fail "the socket was left behind"
echo "single instance, forwarding and SIGTERM work"
