# Sourced by scripts/test (and its own test): how a phase runs ctest, what
# it prints of a failure, and which first failures are never run a second
# time.
#
# counted_ctest WHAT LOG [env VAR=value...] ctest ARGS...: runs ctest, its
# output also into LOG, and says how many tests it ran. A phase that runs
# none fails (--no-tests=error): a label no test carries any more, or a
# registration that broke, would otherwise pass the run with nothing tested.
counted_ctest() {
  local - what=$1 log=$2 status=0 ran
  set -o pipefail  # ctest's status, not tee's, whatever the caller's options
  shift 2
  # Waited for, not run in the foreground: a shell runs its traps only once
  # its foreground command returns, and a run stopped by SIGTERM ends its
  # tests now, not after them.
  "$@" --no-tests=error 2>&1 | tee "$log" &
  wait $! || status=$?
  ran=$(sed -n 's/.* tests failed out of \([0-9][0-9]*\)$/\1/p' "$log" | tail -1)
  echo "scripts/test: $what ran ${ran:-no} tests"
  return $status
}

# no_second_run LOG...: whether the failures that ctest's LOG and the tests'
# logs show are faults a second run must not hide, each named: a sanitizer's
# report; a test program that died by a signal (ctest's "Exception", a
# system test's CRASH: line for a program it started); a test that ran into
# its time-out, ctest's or the unit tests' own watchdog's (TIMEOUT:, with
# exit status 124, which ctest's logs do not keep), or a program a system
# test could not end (HANG:). A hang that passes on a second run is still a
# hang.
no_second_run() {
  _phase_found 'runtime error:|ERROR: [A-Za-z]+Sanitizer' "a sanitizer reported a fault" "$@" ||
    _phase_found '\*\*\*Exception|Subprocess aborted|Child aborted|^CRASH: ' "a program crashed" "$@" ||
    _phase_found '\*\*\*Timeout|^TIMEOUT: |^HANG: ' "a test ran out of its time, or a program did not end when asked" "$@"
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

# failure_lines DIR: the lines that tell why the tests in the test folder DIR
# failed: gtest's failures, a system test's FAIL: line, a sanitizer's report,
# and a case the tests' own watchdog stopped (TIMEOUT:).
failure_lines() {
  grep -h -E -A8 ': Failure$|^\[  FAILED  \]|^FAIL: |^TIMEOUT: |runtime error:|ERROR: [A-Za-z]+Sanitizer' \
    "$1/Testing/Temporary/LastTest.log" 2>/dev/null | head -150 || true
}

# run_tests DIR LABEL JOBS TIMEOUT [env VAR=value...]: the tests of DIR that
# carry LABEL, ctest's log in $run_tmp. A test that fails is run once more,
# and fails the phase only when it fails again: system tests drive a real
# desktop with real timing, and a unit test can meet a machine busier than
# any it was tried on. The retry is a safety net, not a pass: the first
# failures, with their failure lines (which the tests' own timing lines
# would drown), are named in the log and added to $first_failures for the
# summary. A fault no_second_run names is never retried.
run_tests() {
  local dir=$1 label=$2 j=$3 timeout=$4 failed
  shift 4
  counted_ctest "the $label phase in $dir" "$run_tmp/ctest.log" \
    "$@" ctest --test-dir "$dir" --output-on-failure -j "$j" -L "$label" --timeout "$timeout" && return 0
  if grep -q '^No tests were found' "$run_tmp/ctest.log"; then
    echo "scripts/test: no test carries the label $label: a registration is broken"
    return 1
  fi
  failed=$(sed 's/^[0-9]*://' "$dir/Testing/Temporary/LastTestsFailed.log" 2>/dev/null | tr '\n' ' ' || true)
  echo "scripts/test: failed on the first run: $failed; their failure lines:"
  failure_lines "$dir"
  no_second_run "$run_tmp/ctest.log" "$dir/Testing/Temporary/LastTest.log" && return 1
  first_failures+="$failed"
  echo "scripts/test: running them once more"
  counted_ctest "the $label phase's second run" "$run_tmp/ctest.log" \
    "$@" ctest --test-dir "$dir" --output-on-failure -j "$j" --rerun-failed --timeout "$timeout" && return 0
  echo "scripts/test: failed again; their failure lines:"
  failure_lines "$dir"
  return 1
}
