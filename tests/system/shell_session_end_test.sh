#!/usr/bin/env bash
# The desktop session ends without a word to kadrix: its X server goes away.
# kadrix ends too, and its unsent events, the "quit" among them, are on disk.
source "$(dirname "$0")/harness.sh"
if [ -n "${KADRIX_TEST_DISPLAY:-}" ]; then
  echo "skipped: the display is shared and cannot be taken away"
  exit 0
fi
sys_begin
sys_start
pid=$SYS_APP_PID
xvfb_session_stop
for i in $(seq 1 50); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$pid" 2>/dev/null && fail "kadrix outlived its display"
wait "$pid" || true
SYS_APP_PID=""
grep -q '"type": *"quit"' "$KADRIX_HOME/config/defaults.json" || fail "the quit event is not on disk"
echo "the display gone, kadrix ends with its unsent events on disk"
