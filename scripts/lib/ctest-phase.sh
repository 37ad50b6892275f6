# Sourced by scripts/test (and its own test): how a phase runs ctest, and
# which first failures are never run a second time.
#
# counted_ctest WHAT LOG [env VAR=value...] ctest ARGS...: runs ctest, its
# output also into LOG, and says how many tests it ran. A phase that runs
# none fails (--no-tests=error): a label no test carries any more, or a
# registration that broke, would otherwise pass the run with nothing tested.
counted_ctest() {
  local - what=$1 log=$2 status=0 ran
  set -o pipefail  # ctest's status, not tee's, whatever the caller's options
  shift 2
  "$@" --no-tests=error 2>&1 | tee "$log" || status=$?
  ran=$(sed -n 's/.* tests failed out of \([0-9][0-9]*\)$/\1/p' "$log" | tail -1)
  echo "scripts/test: $what ran ${ran:-no} tests"
  return $status
}

# no_second_run LOG...: whether the failures that ctest's LOG and the tests'
# logs show are faults a second run must not hide, each named: a sanitizer's
# report; a test program that died by a signal (ctest's "Exception", a
# system test's CRASH: line for a program it started); a test that ran into
# its time-out, or a program a system test could not end (HANG:). A hang
# that passes on a second run is still a hang.
no_second_run() {
  _phase_found 'runtime error:|ERROR: [A-Za-z]+Sanitizer' "a sanitizer reported a fault" "$@" ||
    _phase_found '\*\*\*Exception|Subprocess aborted|Child aborted|^CRASH: ' "a program crashed" "$@" ||
    _phase_found '\*\*\*Timeout|^HANG: ' "a test ran out of its time, or a program did not end when asked" "$@"
}
# _phase_found PATTERN WHY LOG...: the first lines of the logs matching PATTERN, and WHY.
_phase_found() {
  local pattern=$1 why=$2 lines
  shift 2
  lines=$(grep -h -E "$pattern" "$@" 2>/dev/null || true)
  [ -n "$lines" ] || return 1
  head -20 <<<"$lines"
  echo "scripts/test: $why; no second run"
}
