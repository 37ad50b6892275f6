#!/usr/bin/env bash
# How fast the machine is now, as the system tests meet it: kadrix started on
# a private display until it is ready, and ended.
#   measure_speed.sh [ROUNDS]
#     a few rounds now: prints the median of the times in milliseconds, and
#     then the factor by which this machine is slower than a quiet one (never
#     below 1, at most 5), which the system phase starts with
#     (KADRIX_TIME_SCALE).
#   measure_speed.sh --watch FILE
#     a round every few seconds for as long as the system phase runs, beside
#     its tests: FILE always holds the factor of the last three rounds'
#     median against the same rounds on a quiet machine beside the same tests
#     (and FILE.rounds each round's own factor, a line each),
#     and the harness's waits and the supervisor's clock read it as they go.
#     A machine that gets busier halfway through (a build starts beside the
#     run) stretches the tests' times from then on.
# The quiet machine's figures: the median on two free cores of the machine
# the run was written on with nothing else running, alone (QUIET_MS) and
# beside the system phase's four tests and the compile check (QUIET_PHASE_MS,
# three times as long: what the tests' times were set beside). The start is mostly
# the loading of the libraries and the first drawing, whose memory costs two
# to three times as much when other cores are busy. A faster machine gets 1,
# not less: the tests' own times were set on it.
QUIET_MS=${KADRIX_QUIET_START_MS:-450}
QUIET_PHASE_MS=${KADRIX_QUIET_PHASE_START_MS:-1400}
source "$(dirname "${BASH_SOURCE[0]}")/harness.sh"
# The figure measures the machine as it is: no scale of its own.
SYS_SCALE=1
unset KADRIX_SPEED_FILE

factor() { awk -v m="$1" -v q="$2" 'BEGIN { f = m / q; if (f < 1) f = 1; if (f > 5) f = 5; printf "%.1f\n", f }'; }
median() { printf '%s\n' "$@" | sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }

# One round: the milliseconds from kadrix's start until it is ready, and its
# end; fails when it was not ready within a minute.
round() {
  local start end
  start=$(date +%s%N)
  sys_app
  # Looked at often: the figure is the time to ready, not the polling's.
  end=$((SECONDS + 60))
  until sys_log_has 'AppLogic initialized'; do
    [ $SECONDS -lt $end ] || { tail -20 "$SYS_TMP/kadrix.log" >&2; kill -KILL "$SYS_APP_PID"; return 1; }
    sleep 0.02
  done
  sys_stop_app
  sys_ms_since "$start"
}

sys_begin
mkdir -p "$KADRIX_HOME/config"
echo '{"everVisitedHotkeys": true, "showIntro": 0}' >"$KADRIX_HOME/config/defaults.json"

if [ "${1:-}" = --watch ]; then
  file=${2:?the file the factor is kept in}
  every=${KADRIX_SPEED_WATCH_SECONDS:-10}
  times=() nap=""
  on_exit 'kill $nap 2>/dev/null || true'
  while :; do
    if ms=$(round); then
      times=("${times[@]: -2}" "$ms")
      m=$(median "${times[@]}")
      # Replaced whole: a reader never sees half a figure. Each round's
      # figure is kept beside it too, for the phase's summary.
      echo "$(factor "$m" "$QUIET_PHASE_MS") $m" >"$file.new" && mv -f "$file.new" "$file"
      echo "$(factor "$ms" "$QUIET_PHASE_MS")" >>"$file.rounds"
    fi
    # Waited for, so that SIGTERM ends the watch (and its display) at once.
    sleep "$every" &
    nap=$!
    wait $nap
  done
fi

rounds=${1:-5}
times=()
for _ in $(seq 1 "$rounds"); do
  ms=$(round) || fail "kadrix was not ready within 60 s"
  times+=("$ms")
done
m=$(median "${times[@]}")
echo "measure_speed: kadrix started and ended in ${times[*]} ms; median $m ms (a quiet machine: $QUIET_MS ms)" >&2
echo "$m"
factor "$m" "$QUIET_MS"
