#!/usr/bin/env bash
# How fast the machine is now, as the system tests meet it: kadrix started on
# a private display until it is ready, and ended, a few times. Prints the
# median of the times in milliseconds, and then the factor by which this
# machine is slower than a quiet one (never below 1, at most 5), which the
# system tests' waits and time-outs are drawn from (KADRIX_TIME_SCALE).
#   measure_speed.sh [ROUNDS]
# The quiet machine's figure, QUIET_MS: the median on two free cores of the
# machine the run was written on with nothing else running (the start is
# mostly the loading of the libraries and the first drawing, whose memory
# costs twice to three times as much when other cores are busy). A faster
# machine gets 1, not less: the tests' own times were set on it.
QUIET_MS=${KADRIX_QUIET_START_MS:-450}
source "$(dirname "${BASH_SOURCE[0]}")/harness.sh"
# The figure measures the machine as it is: no scale of its own.
SYS_SCALE=1
rounds=${1:-5}
sys_begin
mkdir -p "$KADRIX_HOME/config"
echo '{"everVisitedHotkeys": true, "showIntro": 0}' >"$KADRIX_HOME/config/defaults.json"
times=()
for _ in $(seq 1 "$rounds"); do
  start=$(date +%s%N)
  sys_app
  # Looked at often: the figure is the time to ready, not the polling's.
  end=$((SECONDS + 60))
  until sys_log_has 'AppLogic initialized'; do
    [ $SECONDS -lt $end ] || { tail -20 "$SYS_TMP/kadrix.log" >&2; fail "kadrix was not ready within 60 s"; }
    sleep 0.02
  done
  sys_stop_app
  times+=("$(sys_ms_since "$start")")
done
median=$(printf '%s\n' "${times[@]}" | sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }')
echo "measure_speed: kadrix started and ended in ${times[*]} ms; median $median ms (a quiet machine: $QUIET_MS ms)" >&2
echo "$median"
awk -v m="$median" -v q="$QUIET_MS" 'BEGIN { f = m / q; if (f < 1) f = 1; if (f > 5) f = 5; printf "%.1f\n", f }'
