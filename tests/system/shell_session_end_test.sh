#!/usr/bin/env bash
# However the desktop session ends kadrix, it ends without a crash and with
# what it had to write on disk: its unsent events with "quit" the last of
# them, and the settings changed in its last moment (the event counter that
# "quit" raised). The ways: SIGTERM, SIGHUP and SIGINT; the window manager
# and the session bus going first; the X server going away without a word.
source "$(dirname "$0")/harness.sh"
if [ -n "${KADRIX_TEST_DISPLAY:-}" ]; then
  echo "skipped: the display is shared and cannot be taken away"
  exit 0
fi
sys_begin

# What the kadrix that just ended left on disk, after ending in the way HOW.
expect_ended_well() {
  local why
  why=$(python3 - "$KADRIX_HOME/config/defaults.json" <<'EOF'
import json, sys
try:
    stored = json.load(open(sys.argv[1]))
except (OSError, ValueError) as e:
    sys.exit(f"the settings file cannot be read: {e}")
events = stored.get("GATelemetry") or [{}]
if events[-1].get("type") != "quit":
    sys.exit(f"the quit event is not the last on disk (last: {events[-1].get('type')})")
counter = stored.get("localEventCounter")
if counter != events[-1].get("lec", -2) + 1:
    sys.exit(f"the event counter on disk ({counter}) is not the one after the quit event ({events[-1].get('lec')})")
EOF
  ) || fail "$1: $why"
}

# Ends the running kadrix by SIGNAL; it must end by itself, with status 0.
end_by() {
  local pid=$SYS_APP_PID status=0 i
  kill "-$1" "$pid"
  for i in $(seq 1 50); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$pid" 2>/dev/null && fail "SIG$1 did not end kadrix"
  wait "$pid" || status=$?
  sys_check_end "$pid" "$status"
  SYS_APP_PID=""
  expect_eq "$status" 0 "kadrix's exit status after SIG$1"
  expect_ended_well "SIG$1"
}

for signal in TERM HUP INT; do
  sys_start
  end_by "$signal"
done

# The window manager and the session bus go first; kadrix stays until told.
sys_start
for p in "${_xvfb_pids[@]:1}"; do kill "$p" 2>/dev/null || true; done
[ -n "${_sys_bus_pid:-}" ] && kill "$_sys_bus_pid" 2>/dev/null || true
sleep 1
kill -0 "$SYS_APP_PID" 2>/dev/null || { sys_reap_app; fail "kadrix ended with the window manager or the bus"; }
end_by TERM

# The X server goes away.
sys_start
pid=$SYS_APP_PID
xvfb_session_stop
for i in $(seq 1 50); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$pid" 2>/dev/null && fail "kadrix outlived its display"
sys_reap_app
expect_ended_well "the display gone"
echo "kadrix ends cleanly by SIGTERM, SIGHUP, SIGINT, after its window manager and bus, and with its display"
