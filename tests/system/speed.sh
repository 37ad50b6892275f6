# Sourced by the system tests' harness and their supervisor: how much slower
# than a quiet machine this one is now. The run measures it before its system
# tests (KADRIX_TIME_SCALE) and keeps measuring beside them (the figure in
# KADRIX_SPEED_FILE, tests/system/measure_speed.sh); SYS_SCALE, when a script
# sets it, stands for the first. 1 when a test is run by hand.
SYS_SCALE=${SYS_SCALE:-${KADRIX_TIME_SCALE:-1}}
sys_scale() {
  local f=""
  [ -z "${KADRIX_SPEED_FILE:-}" ] || read -r f _ <"$KADRIX_SPEED_FILE" 2>/dev/null || true
  echo "${f:-$SYS_SCALE}"
}
# The same factor in tenths, 10 and up.
sys_scale_tenths() {
  local f
  f=$(sys_scale)
  [[ "$f" =~ ^([0-9]+)(\.([0-9]))?$ ]] || { echo 10; return; }
  f=$((10#${BASH_REMATCH[1]} * 10 + 10#${BASH_REMATCH[3]:-0}))
  echo $((f < 10 ? 10 : f))
}
# Microseconds since the epoch: the clock a quiet machine's time is counted on.
sys_now_us() { echo "${EPOCHREALTIME//[!0-9]/}"; }
