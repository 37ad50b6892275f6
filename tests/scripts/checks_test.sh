#!/usr/bin/env bash
# The test run's own checks and the system tests' harness, each run on a
# small planted tree, a made-up program or made-up ctest output. Each row of
# the table names a case and whether the check must pass or fail on it: a
# check that passes what it exists to stop is caught here, and so is one
# that fails on a clean tree.
#   checks_test.sh UNIT-PROGRAM
# UNIT-PROGRAM is a test program built on the tests' shared main, whose case
# Watchdog.HangProbe sleeps until its watchdog stops it.
set -uo pipefail
src=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
unit_program=$(realpath -e "${1:?the path of a unit test program (test_kit)}") || exit 1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export TMPDIR=$scratch

# ---- check-layers on a tree of its own: the script beside a src/ of a few headers ----
layers() {
  local t=$scratch/layers.$1 line
  mkdir -p "$t/scripts"
  cp "$src/scripts/check-layers" "$t/scripts/"
  put() { mkdir -p "$(dirname "$t/src/$1")" && printf '%s\n' "${@:2}" >>"$t/src/$1"; }
  put kit/base/Bytes.h '#pragma once'
  put kit/desktop/x11/Connection.h '#include "kit/base/Bytes.h"'
  put kit/desktop/Grab.h '#include "x11/Connection.h"'
  put kit/ui/View.h '#include "../desktop/Grab.h"'
  put objects/Obj.h '#include "kit/ui/View.h"'
  put controls/Ctrl.h '#include <kit/ui/View.h>'
  shift
  for line in "$@"; do put ${line%%:*} "${line#*:}"; done
  python3 "$t/scripts/check-layers"
}
layers_clean() { layers clean; }
layers_one_floor() { layers one-floor 'objects/Obj.h:#include "controls/Ctrl.h"'; }
layers_x11_up() { layers x11-up 'kit/desktop/x11/Connection.h:#include "kit/desktop/Grab.h"'; }
layers_beside_up() { layers beside-up 'kit/base/Bytes.h:#include "../ui/View.h"'; }

# ---- check-machine on a home of its own ----
machine() {
  local home=$scratch/home.$1
  mkdir -p "$home/.cache"
  (
    unset XDG_CONFIG_HOME XDG_DATA_HOME XDG_CACHE_HOME
    export HOME=$home
    "$src/scripts/check-machine" snapshot "$scratch/machine.$1" &&
      eval "$2" && "$src/scripts/check-machine" compare "$scratch/machine.$1"
  )
}
machine_elsewhere() { machine elsewhere 'echo ls >"$HOME/.history"'; }
machine_thumbnail() { machine thumbnail 'mkdir -p "$HOME/.cache/thumbnails/normal" && echo png >"$HOME/.cache/thumbnails/normal/a.png"'; }

# ---- how scripts/test runs a phase, on a test folder of one test labelled system ----
source "$src/scripts/lib/ctest-phase.sh"
phase() {
  local t=$scratch/ctest.$1
  mkdir -p "$t"
  printf 'add_test(t "/bin/true")\nset_tests_properties(t PROPERTIES LABELS "system")\n' >"$t/CTestTestfile.cmake"
  counted_ctest "a phase" "$t/log" ctest --test-dir "$t" -L "$1"
}
phase_labelled() { phase system; }
phase_no_test() { phase unit; }
# Whether a first failure whose test logged LINE gets a second run.
second_run() { printf '%s\n' "$1" >"$scratch/last.log" && ! no_second_run "$scratch/last.log"; }
second_run_failure() { second_run "FAIL: the dialog did not take the keyboard"; }
second_run_exception() { second_run " 4/60 Test  #4: test_kit_1 .......***Exception: SegFault  3.10 sec"; }
second_run_crash_line() { second_run "CRASH: kadrix (pid 12) died by signal SIGABRT"; }
second_run_timeout() { second_run "12/44 Test #12: system_tray_test .....***Timeout 150.02 sec"; }
second_run_hang() { second_run "HANG: kadrix (pid 12) had not ended 5 s after SIGTERM; its threads:"; }
second_run_watchdog() { second_run "TIMEOUT: Fuzz.Pictures still running after 90 s; stopping the run"; }
# Whether the failure lines of a test folder whose log holds LINE name it.
failure_line() {
  local t=$scratch/lines.$RANDOM
  mkdir -p "$t/Testing/Temporary"
  printf '[ RUN      ] A.B\n%s\n<end of output>\n' "$1" >"$t/Testing/Temporary/LastTest.log"
  failure_lines "$t" | grep -qxF "$1"
}
failure_line_gtest() { failure_line "[  FAILED  ] A.B (3 ms)"; }
failure_line_watchdog() { failure_line "TIMEOUT: A.B still running after 90 s; stopping the run"; }
failure_line_timing() { failure_line "Decode JSON: 0.04ms"; }
# The whole phase on a unit program whose case sleeps past a one-second
# KADRIX_TEST_TIMEOUT: the phase fails, the watchdog's line is printed among
# the failure lines, and the case is not run again.
phase_watchdog() {
  local t=$scratch/ctest.watchdog
  mkdir -p "$t"
  printf 'add_test(t "%s" "--gtest_filter=Watchdog.HangProbe")\n' "$unit_program" >"$t/CTestTestfile.cmake"
  printf 'set_tests_properties(t PROPERTIES LABELS "unit" ENVIRONMENT "%s")\n' \
    "QT_QPA_PLATFORM=offscreen;KADRIX_WATCHDOG_PROBE=1;KADRIX_TEST_TIMEOUT=1" >>"$t/CTestTestfile.cmake"
  local run_tmp=$t first_failures=""
  if run_tests "$t" unit 1 60 env >"$t/out" 2>&1; then
    cat "$t/out"
    echo "the phase passed"
    return 1
  fi
  cat "$t/out"
  sed -n '/their failure lines:$/,$p' "$t/out" | grep -q '^TIMEOUT: Watchdog.HangProbe still running' ||
    { echo "the watchdog's line is not among the failure lines"; return 1; }
  grep -q 'no second run$' "$t/out" && ! grep -q 'running them once more' "$t/out" ||
    { echo "the case was run a second time"; return 1; }
}

# ---- the harness with a made-up kadrix: how it ends, and what it logs ----
harness() {
  local bin=$scratch/bin.$1
  mkdir -p "$bin"
  printf '#!/usr/bin/env bash\n%s\n' "$2" >"$bin/kadrix"
  chmod +x "$bin/kadrix"
  (
    KADRIX_BIN_DIR=$bin SYS_STOP_SECONDS=1
    source "$src/tests/system/harness.sh"
    SYS_TMP=$bin
    sys_app
    eval "$3"
    _sys_check_log
    _sys_crash_verdict
  )
}
harness_ends_on_term() { harness term 'exec sleep 30' sys_stop_app; }
harness_ignores_term() { harness ignore "trap '' TERM; echo started; while :; do sleep 0.1; done" \
  'sys_wait_for grep -q started "$SYS_TMP/kadrix.log"; sys_stop_app'; }
harness_killed_by_test() { harness kill 'exec sleep 30' sys_kill_app; }
harness_killed_by_other() { harness other 'kill -KILL $$' sys_reap_app; }
harness_broken_pipe() { harness pipe 'kill -PIPE $$' sys_reap_app; }
harness_cpu_limit() { harness cpu 'kill -XCPU $$' sys_reap_app; }
harness_file_size_limit() { harness xfsz 'kill -XFSZ $$' sys_reap_app; }
harness_bus_error() { harness bus 'kill -BUS $$' sys_reap_app; }
# A kadrix that has ended but is not yet reaped (a zombie) is no hang: here
# one made by a parent that never reaps it stands in for the app.
harness_zombie() {
  harness zombie 'exec sleep 30' 'sys_kill_app
    SYS_APP_PID=$(perl -e '"'"'my $c = fork; if (!$c) { exit 0 } print "$c\n"; close STDOUT; sleep 5'"'"' &)
    sleep 0.3; sys_stop_app'
}
harness_decoder_crash() { harness decoder 'echo "decoder crashed: SIGSEGV on /tmp/a.png"' sys_reap_app; }
harness_decoder_crash_expected() { SYS_EXPECT_DECODER_CRASH=1 harness_decoder_crash; }

# The fake notification server serves as long as its test runs, past the
# tests' watchdog (made 2 s here), which stops a case of a test program.
harness_notices_outlive_watchdog() (
  export KADRIX_TEST_TIMEOUT=2 KADRIX_BIN_DIR=$(dirname "$unit_program")
  source "$src/tests/system/harness.sh"
  sys_begin
  sys_notify_server
  sleep 4
  gdbus call --session --dest org.freedesktop.Notifications --object-path /org/freedesktop/Notifications \
    --method org.freedesktop.Notifications.Notify \
    "'kadrix'" 'uint32 0' "''" "'late notice'" "'body'" '@as []' '@a{sv} {}' 'int32 -1' >/dev/null ||
    fail "no notification server after the watchdog's time"
  sys_wait_for --timeout 5 grep -q 'late notice' "$SYS_NOTICES" || fail "the late notice was not recorded"
)

# ---- a system test that runs past its time, under its supervisor ----
# A test on a display of its own (Xvfb, openbox, a session bus that forks
# away from it) stuck in a long command; ctest runs it as the system tests
# are registered, with the test's own time and ctest's. Whatever ends it, no
# process of it and no folder is left once the run has swept (end_leftovers).
source "$src/scripts/xvfb-session"
stuck() {
  local t=$scratch/stuck.$1 own=$2 ceiling=$3
  mkdir -p "$t"
  cat >"$t/stuck_test.sh" <<EOT
echo "\$KADRIX_SYS_TMP" >"$t/folder"
source "$src/tests/system/harness.sh"
sys_begin
sys_step "a wait that never ends"
sleep 1000
EOT
  printf 'add_test(t bash "%s" "%s")\n' "$src/tests/system/supervise" "$t/stuck_test.sh" >"$t/CTestTestfile.cmake"
  printf 'set_tests_properties(t PROPERTIES LABELS "system" TIMEOUT %s ENVIRONMENT "%s")\n' "$ceiling" \
    "KADRIX_SYSTEM_TEST_SECONDS=$own;KADRIX_SOURCE_DIR=$src;KADRIX_BIN_DIR=$t" >>"$t/CTestTestfile.cmake"
}
# What the case's run left: none, or the processes and folders named.
nothing_left() {
  local left
  [ ! -e "$(cat "$1/folder")" ] || echo "its folder $(cat "$1/folder") is still there"
  left=$(end_leftovers) || { echo "left behind: $left"; return 1; }
  [ ! -e "$(cat "$1/folder")" ]
}
# Its own time runs out: the supervisor says the step and ends it all.
stuck_own_time() (
  export KADRIX_RUN_ID="checks-own-$$"
  local t=$scratch/stuck.own run_tmp=$scratch/stuck.own first_failures=""
  stuck own 8 60
  run_tests "$t" system 1 60 env && { echo "the phase passed"; return 1; }
  grep -q '^TIMEOUT: stuck_test ran past its time of 8 s.*its step: a wait that never ends' "$t/ctest.log" ||
    { echo "no TIMEOUT: line with the step"; return 1; }
  nothing_left "$t"
)
# The machine gets five times slower a second and a half in (the run's
# measure of its speed says so): the test's 3 s are a quiet machine's, and
# the supervisor's clock runs slower from then on, so the test ends about 9 s
# in, not 3.
stuck_machine_slows() (
  export KADRIX_RUN_ID="checks-slows-$$" KADRIX_SPEED_FILE=$scratch/stuck.slows/speed
  local t=$scratch/stuck.slows run_tmp=$scratch/stuck.slows first_failures="" start
  stuck slows 3 60
  echo 1.0 >"$KADRIX_SPEED_FILE"
  (sleep 1.5; echo "5.0 4500" >"$KADRIX_SPEED_FILE") &
  start=$SECONDS
  run_tests "$t" system 1 60 env && { echo "the phase passed"; return 1; }
  grep '^TIMEOUT:' "$t/ctest.log" | head -1
  grep -q '^TIMEOUT: stuck_test ran past its time of 3 s on a quiet machine.*speed factor 1.0 to 5.0' "$t/ctest.log" ||
    { echo "no TIMEOUT: line with the factor's range"; return 1; }
  [ $((SECONDS - start)) -ge 8 ] || { echo "ended $((SECONDS - start)) s in, on the quiet machine's clock"; return 1; }
  nothing_left "$t"
)
# ctest's own time-out comes first and kills the supervisor and the test:
# what left their tree (the bus forks away) and the folder are found by the
# run's mark.
stuck_ctest_time() (
  export KADRIX_RUN_ID="checks-ctest-$$"
  local t=$scratch/stuck.ctest run_tmp=$scratch/stuck.ctest first_failures="" left
  stuck ctest 100 6
  run_tests "$t" system 1 60 env && { echo "the phase passed"; return 1; }
  left=$(end_leftovers) && { echo "the sweep found nothing to end"; return 1; }
  echo "the sweep ended: $left"
  [[ "$left" == *"$(cat "$t/folder")"* ]] || { echo "the folder was not named"; return 1; }
  nothing_left "$t"
)
# The run is stopped (SIGTERM to the supervisor, as the run's sweep sends it).
stuck_stopped() (
  export KADRIX_RUN_ID="checks-stop-$$"
  local t=$scratch/stuck.stop
  stuck stop 100 200
  KADRIX_SOURCE_DIR=$src KADRIX_BIN_DIR=$t bash "$src/tests/system/supervise" "$t/stuck_test.sh" 2>"$t/err" &
  local supervisor=$! i
  for i in $(seq 1 300); do
    grep -q 'never ends' "$(cat "$t/folder" 2>/dev/null)/.step" 2>/dev/null && break
    sleep 0.1
  done
  kill -TERM "$supervisor"
  wait "$supervisor"
  cat "$t/err"
  grep -q '^STOPPED: stuck_test was stopped (SIGTERM) on its step: a wait that never ends' "$t/err" ||
    { echo "no STOPPED: line with the step"; return 1; }
  nothing_left "$t"
)

# ---- check-compile on a tree of its own: two files a unity build joins ----
compile_alone() {
  local t=$scratch/compile.$1
  mkdir -p "$t/scripts" "$t/src"
  cp "$src/scripts/check-compile" "$t/scripts/"
  printf 'cmake_minimum_required(VERSION 3.20)\nproject(p CXX)\nadd_library(p STATIC src/a.cpp src/b.cpp)\n' >"$t/CMakeLists.txt"
  printf '#include <vector>\nint a() { return 1; }\n' >"$t/src/a.cpp"
  printf '%s\nint b() { std::vector<int> v(2); return int(v.size()); }\n' "$2" >"$t/src/b.cpp"
  "$t/scripts/check-compile" "$t/build"
}
compile_alone_clean() { compile_alone clean '#include <vector>'; }
# b.cpp compiles only after a.cpp in one unity file.
compile_alone_leans() { compile_alone leans ''; }

# ---- unit-seeds on a test folder of one made-up test program ----
# LABELS "unit;gtest" make it a GoogleTest program, run in each order;
# "unit" alone a script, run once.
seeds() {
  local t=$scratch/seeds.$1
  mkdir -p "$t"
  printf '#!/usr/bin/env bash\n%s\n' "$2" >"$t/program"
  chmod +x "$t/program"
  printf 'add_test(p "%s")\nset_tests_properties(p PROPERTIES LABELS "%s")\n' "$t/program" "${3:-unit;gtest}" >"$t/CTestTestfile.cmake"
  "$src/scripts/unit-seeds" -b "$t" -n 2 -j 1 -t 20
}
# The program writes gtest's report where it is told to, and passes.
passes='for a; do case $a in --gtest_output=json:*) echo "{\"testsuites\": []}" >"${a#*json:}" ;; esac; done'
seeds_passing() { seeds passing "$passes"; }
# With the second seed, the program ends the shell that runs it: that run
# never writes its result.
seeds_no_result() { seeds no-result '[ "$GTEST_RANDOM_SEED" = 2 ] && kill -KILL "$(ps -o ppid= -p $PPID)"; '"$passes"; }
# A GoogleTest program that ends well but writes no report did not finish its cases.
seeds_no_report() { seeds no-report 'exit 0'; }
seeds_script_passes() { seeds script-passes '[ $# = 0 ]' unit; }
# A long failure message (a death test's, with all its child said) is
# shown with its end, where the child's last word is.
seeds_failure_end_shown() {
  seeds failure-end 'for a; do case $a in --gtest_output=json:*)
      jq -n --arg m "$(seq 1 40; echo "the child could not set its row up")" \
        "{testsuites: [{name: \"A\", testsuite: [{name: \"B\", failures: [{failure: \$m}]}]}]}" >"${a#*json:}" ;;
    esac; done; exit 1' >"$scratch/seeds-end.out"
  cat "$scratch/seeds-end.out"
  grep -q "^ *the child could not set its row up$" "$scratch/seeds-end.out"
}
# Every folder from the run's TMPDIR up to this test's own scratch lets
# other users through, as /tmp does: a test's ordinary user reaches its
# files there.
seeds_tmpdir_passable() {
  local status=0
  chmod o+x "$scratch"
  SEEDS_UP_TO=$scratch seeds tmpdir-passable '
    d=$TMPDIR
    while [ "$d" != "$SEEDS_UP_TO" ] && [ "$d" != / ]; do
      [ $((0$(stat -c %a "$d") & 1)) = 1 ] || { echo "$d lets no other user through"; exit 1; }
      d=$(dirname "$d")
    done
    '"$passes" || status=$?
  chmod o-x "$scratch"
  return $status
}
seeds_script_fails() { seeds script-fails 'echo "2 of 3 cases wrong"; exit 1' unit; }

cases=(
  "pass layers_clean"
  "fail layers_one_floor"
  "fail layers_x11_up"
  "fail layers_beside_up"
  "pass machine_elsewhere"
  "fail machine_thumbnail"
  "pass phase_labelled"
  "fail phase_no_test"
  "pass second_run_failure"
  "fail second_run_exception"
  "fail second_run_crash_line"
  "fail second_run_timeout"
  "fail second_run_hang"
  "fail second_run_watchdog"
  "pass phase_watchdog"
  "pass failure_line_gtest"
  "pass failure_line_watchdog"
  "fail failure_line_timing"
  "pass harness_ends_on_term"
  "fail harness_ignores_term"
  "pass harness_killed_by_test"
  "fail harness_killed_by_other"
  "fail harness_broken_pipe"
  "fail harness_cpu_limit"
  "fail harness_file_size_limit"
  "fail harness_bus_error"
  "pass harness_zombie"
  "fail harness_decoder_crash"
  "pass harness_decoder_crash_expected"
  "pass harness_notices_outlive_watchdog"
  "pass stuck_own_time"
  "pass stuck_machine_slows"
  "pass stuck_ctest_time"
  "pass stuck_stopped"
  "pass compile_alone_clean"
  "fail compile_alone_leans"
  "pass seeds_passing"
  "fail seeds_no_result"
  "fail seeds_no_report"
  "pass seeds_script_passes"
  "pass seeds_tmpdir_passable"
  "pass seeds_failure_end_shown"
  "fail seeds_script_fails"
)
wrong=0
for row in "${cases[@]}"; do
  read -r want name <<<"$row"
  got=pass
  "$name" >"$scratch/out" 2>&1 || got=fail
  if [ "$got" == "$want" ]; then
    echo "ok    $name ($got)"
  else
    echo "WRONG $name: should $want, did $got; its output:"
    sed 's/^/      /' "$scratch/out" | tail -30
    wrong=$((wrong + 1))
  fi
done
[ "$wrong" = 0 ] || { echo "checks test: $wrong of ${#cases[@]} cases wrong"; exit 1; }
echo "checks test: all ${#cases[@]} cases as they should be"
