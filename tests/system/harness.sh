# Sourced by the system tests. Gives each test a display, a private KADRIX_HOME,
# the real programs, synthetic input and a look at the screen and clipboard.
# ctest runs each test under tests/system/supervise, which gives it its folder
# and its time, and ends it and all it started should it run past that time.
#   sys_begin                      display (of size SYS_SCREEN when set) + private home
#                                  (KADRIX_HOME, HOME and the XDG folders); everything
#                                  is undone on exit
#   sys_own PATH… / sys_remove PATH…  fail unless the paths are inside the test's folder /
#                                  and then rm -rf them
#   sys_keep_shot FILE NAME        FILE kept as NAME in KADRIX_SHOT_DIR, when that is set
#   sys_app [args…]                start kadrix in the background (pid in SYS_APP_PID)
#   sys_stop_app                   ask kadrix to quit; one that has not ended in
#                                  SYS_STOP_SECONDS (default 5) fails the test with a
#                                  HANG: line and its threads' backtraces, and is killed
#   sys_kill_app                   kill kadrix at once (SIGKILL), as a test of a hard end
#   sys_reap_app                   wait for kadrix to end; a crash fails the test
#                                  (at its end: every kadrix it started is checked)
#   SYS_EXPECT_DECODER_CRASH=1     a decoder that dies on the test's file is expected:
#                                  otherwise kadrix's "decoder crashed:" line fails the test
#   sys_check_end PID STATUS       the same for a kadrix the test waited for itself
#   sys_running PID                true while PID runs (not ended, not a zombie)
#   sys_naming_library             the library that holds a save's naming (in $naming)
#   sys_wait_for CMD… [--timeout S]  retry a command until it succeeds (S scaled)
#   sys_wait_window NAME [S]       wait for a window whose name matches (S scaled)
#   sys_seconds S                  S seconds scaled by how slow the machine is now
#                                  (measured by the run as it goes), rounded up
#   sys_timeout S CMD…             CMD, ended after S scaled seconds (a hang's ceiling)
#   sys_sleep S                    a pause of S scaled seconds, for what no event tells
#   sys_step TEXT                  what the test does now, said should it run past its time
#   sys_ms_since START_NS          milliseconds since START_NS (from date +%s%N)
#   sys_within MS REF_MS RATIO WHAT  fails unless MS is at most RATIO times REF_MS, a
#                                  reference the test measured the same way beside it
#   sys_end_within MS REF_MS WHAT  an end something held came by the way out's hard end,
#                                  give or take what an end with nothing held takes now
#   sys_term_app                   SIGTERM to kadrix and a wait for its end (not reaped)
#   SYS_START_MS / SYS_STOP_MS     how long the last sys_start took until kadrix was
#                                  ready, and the last sys_stop_app or sys_term_app
#                                  until it ended
#   sys_focus WINDOW [WHAT]        give WINDOW the keyboard; fails when it never gets it
#   sys_key KEYS… / sys_type TEXT / sys_click X Y [BUTTON] / sys_drag X1 Y1 X2 Y2
#   sys_clip_text / sys_clip_png FILE / sys_clip_types
#   sys_screenshot FILE            the whole root window as PNG
#   sys_pixel FILE X Y             "R,G,B" of one pixel of a PNG
#   sys_colour_near FILE X Y COLOUR  1 when COLOUR (give or take 25 %) shows within 4 px of X Y, else 0
#   sys_each_scale PROGRAM [args…]  run a test program of ours at QT_SCALE_FACTOR 1 and 2
#   sys_first_save_into FOLDER     answer the first save's folder chooser, wait for the file
#   fail MSG / expect_eq A B MSG
set -euo pipefail
SYS_SRC=${KADRIX_SOURCE_DIR:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}
SYS_BIN=${KADRIX_BIN_DIR:-$SYS_SRC/build/dev/bin}
SYS_APP_PID=""
SYS_TMP=""
# Every wait and bound of a test is drawn from how slow the machine is now,
# as it is when the wait begins (sys_seconds) or as it goes (sys_wait_for).
source "$(dirname "${BASH_SOURCE[0]}")/speed.sh"
sys_seconds() { awk -v s="$1" -v f="$(sys_scale)" 'BEGIN { t = s * f; print (t == int(t)) ? t : int(t) + 1 }'; }
# The test programs a system test runs (the live cases of the kit, the
# capture's) give each case the watchdog's minute and a half of a quiet machine.
export KADRIX_TEST_TIMEOUT=${KADRIX_TEST_TIMEOUT:-$(sys_seconds 90)}
sys_timeout() {
  local s
  s=$(sys_seconds "$1")
  shift
  timeout "$s" "$@"
}
sys_sleep() { sleep "$(awk -v s="$1" -v f="$(sys_scale)" 'BEGIN { print s * f }')"; }
# The step a test that runs past its time was on: kept where the supervisor
# that runs the test (tests/system/supervise) reads it, with when it began.
sys_step() {
  SYS_STEP=$*
  [ -z "${KADRIX_STEP_FILE:-}" ] || printf '%s\t%s\n' "$(date +%s)" "$*" >"$KADRIX_STEP_FILE" 2>/dev/null || true
}
sys_ms_since() { echo $((($(date +%s%N) - $1) / 1000000)); }
# A timing the program promises is held against a reference measured beside
# it in the same test, the same way: a loaded machine slows both. A reference
# counts as at least 100 ms: below that, a wait on the clock's resolution or
# one busy moment of the machine would pass for the program's.
sys_within() {
  local ms=$1 ref=$2 ratio=$3 what=$4
  [ "$ref" -ge 100 ] || ref=100
  awk -v m="$ms" -v r="$ref" -v q="$ratio" 'BEGIN { exit !(m <= r * q) }' ||
    fail "$what took $ms ms, more than $ratio times the $ref ms of its reference"
  echo "$what took $ms ms, $(awk -v m="$ms" -v r="$ref" 'BEGIN { printf "%.2f", m / r }') times its reference ($ref ms)"
}
# The way out's hard end: however long what kadrix waits for at its end
# takes, it ends this long after SIGTERM (kWayOutHardEnd), and then as fast
# as an end with nothing held, which REF_MS measured beside it (counted as at
# least 200 ms, and four times over for a machine's moments).
sys_end_within() {
  local ms=$1 ref=$2 what=$3 counted=$2
  [ "$counted" -ge 200 ] || counted=200
  [ "$ms" -le $((1800 + 4 * counted)) ] ||
    fail "$what: kadrix took $ms ms to end after SIGTERM, more than the hard end's 1800 ms and four times the $counted ms of an end with nothing held ($ref ms)"
  echo "$what: kadrix ended $ms ms after SIGTERM (an end with nothing held: $ref ms)"
}

# With KADRIX_SHOT_DIR set, a failing test leaves the screen it failed on there.
fail() {
  echo "FAIL: $*" >&2
  [ -n "${KADRIX_SHOT_DIR:-}" ] && [ -n "${DISPLAY:-}" ] &&
    import -window root "$KADRIX_SHOT_DIR/fail-$(basename "$0" .sh).png" 2>/dev/null || true
  exit 1
}
expect_eq() { [ "$1" == "$2" ] || fail "${3:-values differ}: expected '$2', got '$1'"; }

# A program of ours that dies by a signal no one sent it has crashed, and one
# that does not end when asked hangs: the test fails for it whatever else it
# saw, and says so with a CRASH: or HANG: line, which scripts/test never runs
# a second time.
_sys_crashes=""
_sys_crash() {
  echo "CRASH: $*" >&2
  _sys_crashes+="$*; "
}
# The kadrix processes the harness killed itself (sys_stop_app, sys_kill_app).
_sys_killed=" "
# kadrix PID ended with STATUS (as wait gives it). Besides the faults of the
# program itself, a write to a closed pipe, a CPU or file size limit and a
# SIGKILL from elsewhere (the kernel's out-of-memory killer) are crashes.
sys_check_end() {
  local sig=$(($2 - 128))
  case $sig in
    4 | 5 | 6 | 7 | 8 | 11 | 13 | 24 | 25 | 31) _sys_crash "kadrix (pid $1) died by signal SIG$(kill -l $sig)" ;;
    9) [[ "$_sys_killed" == *" $1 "* ]] || _sys_crash "kadrix (pid $1) was killed (SIGKILL) by someone other than the test" ;;
  esac
}
# The programs kadrix starts: kadrix logs how a failed screenshot tool ended,
# and each decoder that died by a signal other than its own limits.
_sys_check_log() {
  [ -f "${SYS_TMP:-}/kadrix.log" ] || return 0
  local line
  if line=$(grep -m1 -E 'ended by signal (Segmentation|Aborted|Bus error|Floating point|Illegal instruction|Trace|Bad system call|Broken pipe|CPU time|File size)' \
    "$SYS_TMP/kadrix.log"); then
    _sys_crash "a program kadrix started: $line"
  fi
  if [ "${SYS_EXPECT_DECODER_CRASH:-0}" != 1 ] && line=$(grep -m1 'decoder crashed:' "$SYS_TMP/kadrix.log"); then
    _sys_crash "$line"
  fi
  return 0
}
_sys_crash_verdict() {
  [ -z "$_sys_crashes" ] && return 0
  echo "FAIL: a program crashed or hung: $_sys_crashes" >&2
  exit 1
}
# What a kadrix that does not end is doing: each thread's stack, when gdb is there.
_sys_hang() {
  local pid=$1 why=$2
  echo "HANG: kadrix (pid $pid) $why; its threads:" >&2
  if command -v gdb >/dev/null; then
    local out stacks
    out=$(timeout 60 gdb -p "$pid" -batch -nx -ex 'set print thread-events off' -ex 'thread apply all bt' 2>&1)
    stacks=$(grep -E '^(Thread|#)' <<<"$out" || true)
    [ -n "$stacks" ] || stacks="(gdb could not read them: $(grep -m1 -i -E 'error|denied|not permitted' <<<"$out"))"
    sed 's/^/HANG:   /' <<<"$stacks" >&2
  else
    echo "HANG:   (no gdb to show them)" >&2
    tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | sed 's/^/HANG:   /' >&2 || true
  fi
  _sys_crashes+="kadrix (pid $pid) $why; "
}
sys_running() { [ -n "$1" ] && ps -o stat= -p "$1" 2>/dev/null | grep -qv '^Z'; }
# The library loaded into kadrix that holds the naming of a save's file (as a
# hung folder or a power cut would hold it): tests/system/naming.
sys_naming_library() {
  naming="$SYS_BIN/libkadrix_test_naming.so"
  [ -f "$naming" ] || fail "no $naming: build the target kadrix_test_naming"
}
# Waits for kadrix (started by sys_app) to end and checks how it ended.
sys_reap_app() {
  [ -n "$SYS_APP_PID" ] || return 0
  local rc=0
  wait "$SYS_APP_PID" 2>/dev/null || rc=$?
  sys_check_end "$SYS_APP_PID" "$rc"
  SYS_APP_PID=""
}

# What the test started in the background and left running (a window of the
# test client, a clipboard owner that hung and so never reads its connection
# and outlives the display) ends with the test, on every road out; the
# display itself is stopped after.
_sys_end_jobs() {
  local p i left=() keep=" ${_xvfb_pids[*]:-} "
  for p in $(jobs -p); do
    [[ "$keep" == *" $p "* ]] || left+=("$p")
  done
  [ ${#left[@]} -gt 0 ] || return 0
  kill "${left[@]}" 2>/dev/null || true
  for i in $(seq 1 20); do
    kill -0 "${left[@]}" 2>/dev/null || break
    sleep 0.1
  done
  for p in "${left[@]}"; do kill -KILL "$p" 2>/dev/null || true; done
  wait "${left[@]}" 2>/dev/null || true
}

# Ends one process the test started in the background, and waits for it.
sys_end() {
  [ -n "${1:-}" ] || return 0
  kill "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
}

_sys_cleanup() {
  sys_stop_app || true
  _sys_end_jobs
  _sys_check_log
  [ -n "${_sys_tray_pid:-}" ] && kill "$_sys_tray_pid" 2>/dev/null || true
  [ -n "${_sys_bus_pid:-}" ] && kill "$_sys_bus_pid" 2>/dev/null || true
  [ -n "${_sys_own_display:-}" ] && xvfb_session_stop
  # Only the folder sys_begin made or was given is removed.
  case "$SYS_TMP" in /tmp/kadrix-sys-??????) rm -rf "$SYS_TMP" ;; esac
}

# Fails the test unless each PATH lies inside the test's own folder: a
# variable left empty or set from outside never becomes a removal or a move
# elsewhere.
sys_own() {
  local p
  for p in "$@"; do
    case "$(realpath -m "${p:?an empty path}")/" in
      "$(realpath -m "${SYS_TMP:?}")"/?*) ;;
      *) fail "$p is not inside the test's folder $SYS_TMP" ;;
    esac
  done
}
# rm -rf of each PATH, all of them inside the test's folder.
sys_remove() { sys_own "$@" && rm -rf "$@"; }

# A screen a test wants looked at later, only where one asked for them.
sys_keep_shot() {
  [ -n "${KADRIX_SHOT_DIR:-}" ] || return 0
  cp "$1" "$KADRIX_SHOT_DIR/$2" 2>/dev/null || true
}

sys_begin() {
  # The supervisor that runs the test made its folder; by hand, one is made.
  case "${KADRIX_SYS_TMP:-}" in
    /tmp/kadrix-sys-??????) [ -d "$KADRIX_SYS_TMP" ] && SYS_TMP=$KADRIX_SYS_TMP ;;
  esac
  [ -n "$SYS_TMP" ] || SYS_TMP=$(mktemp -d /tmp/kadrix-sys-XXXXXX)
  sys_step "starting the test's display"
  export KADRIX_HOME="$SYS_TMP/home"
  mkdir -p "$KADRIX_HOME"
  # What the programs on the display keep for their user (the window
  # manager's log, the toolkit's caches and recent files) stays in the test's
  # folder too, never in the real user's.
  export HOME="$SYS_TMP/user" XDG_CONFIG_HOME="$SYS_TMP/user/.config" XDG_DATA_HOME="$SYS_TMP/user/.local/share"
  export XDG_CACHE_HOME="$SYS_TMP/user/.cache" XDG_STATE_HOME="$SYS_TMP/user/.local/state"
  mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_STATE_HOME"
  # The window manager's cache folder, too.
  export XVFB_SESSION_TMP=$SYS_TMP
  source "$SYS_SRC/scripts/xvfb-session"
  # The verdict on crashes comes last, after everything is stopped; the
  # display goes after the programs on it (the exit hooks run last first):
  # kadrix, whose display vanished, wrote into a closed connection and was
  # ended by the signal that brings.
  on_exit _sys_crash_verdict
  if [ -n "${KADRIX_TEST_DISPLAY:-}" ]; then
    export DISPLAY="$KADRIX_TEST_DISPLAY"
    unset WAYLAND_DISPLAY
    export XDG_SESSION_TYPE=x11
  else
    _sys_own_display=1
    xvfb_session_start ${SYS_SCREEN:-}
  fi
  on_exit _sys_cleanup
  sys_session_bus
}

# A session bus of the test's own, stopped with it. Without one, the first
# D-Bus client (kadrix's notifications) autolaunches a bus tied to the display
# that outlives the test, and leaves its address in a home: where none can be
# had, the address names no bus, so no client autolaunches one.
sys_session_bus() {
  [ -n "${KADRIX_KEEP_BUS:-}" ] && return 0
  export DBUS_SESSION_BUS_ADDRESS="unix:path=$SYS_TMP/no-bus"
  command -v dbus-daemon >/dev/null || return 0
  local info addr pid
  info=$(dbus-daemon --session --fork --print-address=1 --print-pid=1) || return 0
  addr=$(echo "$info" | sed -n 1p)
  pid=$(echo "$info" | sed -n 2p)
  [ -n "$addr" ] && [ -n "$pid" ] || return 0
  export DBUS_SESSION_BUS_ADDRESS="$addr"
  _sys_bus_pid=$pid
}

# The log is emptied here, not by the redirection: that runs in the forked
# shell, which a loaded machine may schedule late, and until then a wait for
# a line of the log would find the previous run's and go on before this one
# holds the instance lock (a link sent then becomes the instance itself).
sys_app() {
  # The kadrix before this one, when the test ended it itself.
  if [ -n "$SYS_APP_PID" ] && ! kill -0 "$SYS_APP_PID" 2>/dev/null; then sys_reap_app; fi
  _sys_check_log
  : >"$SYS_TMP/kadrix.log"
  "$SYS_BIN/kadrix" "$@" >>"$SYS_TMP/kadrix.log" 2>&1 &
  SYS_APP_PID=$!
}

# SIGTERM to kadrix, and a wait for its end, SYS_STOP_SECONDS (5) scaled at
# most; the time until it ended goes to SYS_STOP_MS. Not reaped.
sys_term_app() {
  local start end
  start=$(date +%s%N)
  kill -TERM "$SYS_APP_PID" 2>/dev/null || true
  end=$((SECONDS + $(sys_seconds "${SYS_STOP_SECONDS:-5}")))
  while sys_running "$SYS_APP_PID" && [ $SECONDS -lt $end ]; do sleep 0.05; done
  SYS_STOP_MS=$(sys_ms_since "$start")
}
sys_stop_app() {
  [ -n "$SYS_APP_PID" ] || return 0
  local state
  sys_term_app
  # Still there, and not only waiting to be reaped (a zombie has ended).
  state=$(ps -o stat= -p "$SYS_APP_PID" || true)
  if [ -n "$state" ] && [[ "$state" != *Z* ]]; then
    _sys_hang "$SYS_APP_PID" "had not ended $(sys_seconds "${SYS_STOP_SECONDS:-5}") s after SIGTERM"
    _sys_killed+="$SYS_APP_PID "
    kill -KILL "$SYS_APP_PID" 2>/dev/null || true
  fi
  sys_reap_app
}
sys_kill_app() {
  _sys_killed+="$SYS_APP_PID "
  kill -KILL "$SYS_APP_PID"
  sys_reap_app
}

sys_wait_for() {
  local timeout=10 args=()
  while [ $# -gt 0 ]; do
    if [ "$1" == --timeout ]; then timeout=$2; shift 2; else args+=("$1"); shift; fi
  done
  sys_step "waiting up to $(sys_seconds "$timeout") s for: ${args[*]}"
  # The time-out is a quiet machine's: each stretch waited counts as its
  # length over how slow the machine is then, so a machine that gets busier
  # during the wait makes it longer.
  local left_us last now
  left_us=$(awk -v s="$timeout" 'BEGIN { print int(s * 1000000) }')
  last=$(sys_now_us)
  until "${args[@]}" >/dev/null 2>&1; do
    now=$(sys_now_us)
    left_us=$((left_us - (now - last) * 10 / $(sys_scale_tenths)))
    last=$now
    [ "$left_us" -gt 0 ] || return 1
    sleep 0.2
  done
}

# xdotool looks for the window under the pointer after it moves it (a walk
# of the window tree), and exits with BadWindow when a window closes during
# the walk, as windows do between the steps of a test: such a run is tried
# again. Any other failure (a search that finds nothing) stands.
xdotool() {
  local i rc err="${SYS_TMP:?}/.xdotool-err.$BASHPID"
  for i in 1 2 3; do
    command xdotool "$@" 2>"$err" && { rm -f "$err"; return 0; }
    rc=$?
    grep -q 'BadWindow' "$err" || break
    sleep 0.1
  done
  cat "$err" >&2
  rm -f "$err"
  return $rc
}
sys_wait_window() { sys_wait_for xdotool search --name "$1" --timeout "${2:-10}"; }
sys_key() { xdotool key --clearmodifiers "$@"; }
# Keys go to the window that has the input focus when the server gets them:
# a window manager that has not yet acted on an activation leaves them to the
# window before. WINDOW is asked for the focus until it has it.
_sys_has_focus() { [ "$(command xdotool getwindowfocus 2>/dev/null)" == "$1" ]; }
sys_focus() {
  local win=$1 i what=${2:-}
  [ -n "$win" ] || fail "${what:-the window} is not there to take the keyboard"
  [ -n "$what" ] || what="the window \"$(xdotool getwindowname "$win" 2>/dev/null)\""
  for i in 1 2 3; do
    xdotool windowactivate "$win" 2>/dev/null || true
    sys_wait_for --timeout 3 _sys_has_focus "$win" && return 0
  done
  fail "$what never got the keyboard focus (it stayed with \"$(xdotool getwindowfocus getwindowname 2>&1)\")"
}
sys_type() { xdotool type --delay 20 "$1"; }
sys_click() { xdotool mousemove "$1" "$2" click "${3:-1}"; }
# Puts TEXT into the name field of the file dialog titled TITLE and gives it
# one Return. The text is pasted, not typed: typed key by key, it reaches a
# loaded program late, and the completion list the dialog opens on the way
# (other tests' folders share the prefix) can take the Return.
sys_dialog_type() {
  local title=$1 text=$2
  sys_wait_window "^$title\$" 15 || fail "no \"$title\" dialog"
  sys_wait_for --timeout 5 sys_active_is "$title" || fail "the \"$title\" dialog did not take the keyboard"
  sys_sleep 0.3
  printf '%s' "$text" | xclip -selection clipboard -i
  sys_key ctrl+a ctrl+v
  sys_sleep 0.8
  sys_key Return
}
# The same, and the dialog accepts it: a Return the list took is given again
# while the dialog stays.
sys_dialog_enter() {
  local title=$1 text=$2 i
  sys_dialog_type "$title" "$text"
  for i in 1 2 3; do
    sys_wait_for --timeout 3 bash -c "! xdotool search --onlyvisible --name '^$title\$'" && return 0
    sys_key Return
  done
  fail "the \"$title\" dialog did not take $text"
}
sys_drag() {
  xdotool mousemove "$1" "$2" mousedown 1
  sleep 0.1
  xdotool mousemove $(( ($1 + $3) / 2 )) $(( ($2 + $4) / 2 ))
  sleep 0.1
  xdotool mousemove "$3" "$4"
  sleep 0.1
  xdotool mouseup 1
}
sys_clip_types() { xclip -selection clipboard -o -t TARGETS 2>/dev/null; }
# The text on the clipboard, once the clipboard offers text (a copy's
# ownership can come late on a loaded machine).
sys_clip_text() {
  sys_wait_for --timeout 10 bash -c "xclip -selection clipboard -o -t TARGETS 2>/dev/null | grep -qx -e UTF8_STRING -e STRING -e text/plain" || true
  xclip -selection clipboard -o 2>/dev/null
}
# The PNG on the clipboard, once the clipboard offers one (a copy can be slow
# on a loaded machine).
sys_clip_png() {
  sys_wait_for --timeout 10 bash -c "xclip -selection clipboard -o -t TARGETS 2>/dev/null | grep -qx image/png" || true
  xclip -selection clipboard -o -t image/png >"$1" 2>/dev/null
}
# Read from the root window alone: ImageMagick's import walks the window
# tree, and a window that closes during the walk makes it fail with BadWindow.
sys_screenshot() {
  QT_SCALE_FACTOR=1 QT_QPA_PLATFORM=xcb "$SYS_BIN/kadrix-testclient" shot "$1" 2>/dev/null && return 0
  sleep 0.2
  QT_SCALE_FACTOR=1 QT_QPA_PLATFORM=xcb "$SYS_BIN/kadrix-testclient" shot "$1"
}
sys_pixel() {
  convert "$1" -format "%[fx:int(255*p{$2,$3}.r)],%[fx:int(255*p{$2,$3}.g)],%[fx:int(255*p{$2,$3}.b)]" info:
}
# sys_count_pixels IMAGE BOUND...: how many pixels of IMAGE meet every BOUND,
# each a channel, < or > and a fraction ('r>0.6', 'g<0.55'). Each bound is a
# threshold of one channel and the pixels counted are where all are white: a
# per-pixel expression (-fx) takes seconds a screen, a minute on a busy machine.
sys_count_pixels() {
  local image=$1 bound args=()
  shift
  for bound in "$@"; do
    args+=("(" "$image" -alpha off -channel "${bound:0:1}" -separate +channel -threshold "$(awk "BEGIN { print 100 * ${bound:2} }")%")
    [ "${bound:1:1}" == "<" ] && args+=(-negate)
    args+=(")")
  done
  convert "${args[@]}" -evaluate-sequence min -format '%[fx:int(mean*w*h+0.5)]' info:
}
# The screen into $SYS_TMP/shot.png a moment after the last input; with
# KADRIX_KEEP_SHOTS set, also kept there as <test>-NAME.png.
sys_snap() {
  sys_sleep 0.6
  sys_screenshot "$SYS_TMP/shot.png"
  [ -z "${KADRIX_KEEP_SHOTS:-}" ] || cp "$SYS_TMP/shot.png" "$KADRIX_KEEP_SHOTS/$(basename "$0" _test.sh)-$1.png"
}
# 1 when the annotation red shows within 4 px of (X, Y) of the last snap, else 0.
sys_red_at() { sys_colour_near "$SYS_TMP/shot.png" "$1" "$2" '#F44723'; }
sys_colour_near() {
  convert "$1" -crop 9x9+$(($2 - 4))+$(($3 - 4)) +repage -fuzz 25% -fill '#00FF00' -opaque "$4" \
    -fill black +opaque '#00FF00' -format '%[fx:maxima.g>0.5?1:0]\n' info:
}

# A window of one colour on screen until the test ends: sys_solid_window TITLE X Y W H COLOUR.
sys_solid_window() { sys_test_window solid "$@"; }

# An XEmbed system tray at the top of the screen, so the tray icon has a host:
# a dark panel (#303030). trayer takes its tint only as a see-through panel
# (fully tinted at alpha 0); an opaque one has the toolkit's light grey.
sys_tray() {
  trayer --edge top --align right --widthtype request --height 24 --transparent true --alpha 0 \
    --tint 0x303030 >/dev/null 2>&1 &
  _sys_tray_pid=$!
  sys_wait_window "^panel$" 5 || true
}

# A GoogleTest program from the build on this display, once at each scale.
sys_each_scale() {
  local program=$1
  shift
  [ -x "$SYS_BIN/$program" ] || fail "$program is not built"
  local scale
  for scale in 1 2; do
    echo "== scale $scale"
    sys_step "$program at scale $scale"
    QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR=$scale sys_timeout 60 "$SYS_BIN/$program" "$@"
  done
}

# The first save asks for the default folder: FOLDER is typed into the
# chooser, and a screenshot named by the template must land there.
sys_first_save_into() {
  local folder=$1
  sys_wait_window 'Choose default folder' 15 || {
    tail -20 "$SYS_TMP/kadrix.log"
    fail "no folder chooser for the first save"
  }
  sys_dialog_enter 'Choose default folder' "$folder"
  sys_wait_for bash -c "ls '$folder'/SCR-*.* >/dev/null 2>&1" --timeout 15 || {
    tail -20 "$SYS_TMP/kadrix.log"
    fail "nothing saved into the chosen folder"
  }
}

# kadrix started with its icon shown in the tray (after sys_tray), and a left
# click on that icon, which opens its menu.
sys_app_in_tray() {
  sys_app "$@"
  sys_wait_for --timeout 15 xdotool search --onlyvisible --classname '^kadrix$' \
    || fail "kadrix's icon never showed in the tray"
  sys_sleep 1
}
sys_click_tray_icon() {
  local w
  w=$(xdpyinfo | awk '/dimensions:/ {split($2, d, "x"); print d[1]}')
  sys_click $((w - 12)) 12
  sys_sleep 1
}

# ---- The roads: kadrix as a user meets it ----
#   sys_start [JSON members]        kadrix for a returning user (first-run questions
#                                   answered), with extra settings; waits until it is ready
#   sys_link URL                    a kadrix:// link given to a second launch
#   sys_geom WINDOW                 X, Y, WIDTH, HEIGHT of a window into the shell
#   sys_count_colour FILE COLOUR    how many pixels of FILE have exactly COLOUR
#   sys_first_save DIR [KEYS]       a full-screen capture saved, from a link or by the
#                                   shortcut KEYS; the first save's folder chooser gets DIR
#   sys_notify_server               a notification server on the test's bus; its
#                                   notices go to $SYS_NOTICES as "title<TAB>body"
#   sys_test_window MODE TITLE X Y W H …  a window of kadrix-testclient, waited for
#   sys_area_to_thumbnail X1 Y1 X2 Y2  an area capture by its shortcut, shown as the thumbnail
#   sys_expect_floating WIN [WHAT] WIN is above all windows on every desktop, and managed
#   sys_road NAME FUNCTION          FUNCTION once at QT_SCALE_FACTOR 1 and once at 2,
#                                   each with a fresh home, timed
sys_log_has() { grep -qF "$1" "$SYS_TMP/kadrix.log"; }
# The text tesseract reads in the picture FILE, on one thread: its OpenMP
# threads spin waiting for each other, and on cores busy with other work a
# second's reading took over a minute.
sys_ocr() { OMP_THREAD_LIMIT=1 sys_timeout 30 tesseract "$1" - 2>/dev/null; }
# The test runs again in a mount namespace of its own (as root, where the
# kernel allows one), so a file system it mounts goes with it; before
# sys_begin. SYS_OWN_MOUNTS is set when it runs so.
sys_own_mount_namespace() {
  [ -n "${SYS_OWN_MOUNTS:-}" ] && return 0
  [ "$(id -u)" = 0 ] && unshare --mount --propagation private true 2>/dev/null || return 0
  exec env SYS_OWN_MOUNTS=1 unshare --mount --propagation private bash "$0" "$@"
}
# A helper of the tests (tests/system/SCRIPT ARGS…, in Python) started in
# the background, its pid in SYS_HELPER_PID, once it has written "ready" into
# REPORT; one that ends with status 3 cannot be had here and skips the test.
sys_start_helper() {
  local report=$1 script=$2
  shift 2
  : >"$report"
  python3 "$SYS_SRC/tests/system/$script" "$@" 2>"$report.err" &
  SYS_HELPER_PID=$!
  sys_wait_for --timeout 30 grep -qx ready "$report" && return 0
  local rc=0
  wait "$SYS_HELPER_PID" || rc=$?
  SYS_HELPER_PID=""
  [ $rc -eq 3 ] || fail "$script did not start: $(cat "$report.err")"
  echo "SKIP: $script cannot run here: $(cat "$report.err")"
  exit 0
}
# The test runs on as root in a mount namespace of its own (a file system of
# the test's own: sys_own_mount_namespace), or is skipped.
sys_need_own_mounts() {
  [ -n "${SYS_OWN_MOUNTS:-}" ] && return 0
  echo "SKIP: a file system of the test's own needs root and a mount namespace"
  exit 0
}
# Every open of a file in FOLDER whose name matches PATTERN waits from here
# until sys_release_opens (tests/system/hold_opens.py); the opens held are
# listed in $SYS_TMP/held. Skips the test where the kernel holds no opens.
sys_hold_opens() {
  sys_start_helper "$SYS_TMP/held" hold_opens.py "$1" "$2" "$SYS_TMP/held" 140
  _sys_holder=$SYS_HELPER_PID
}
sys_release_opens() {
  sys_end "${_sys_holder:-}"
  _sys_holder=""
}
# kadrix started as it is, its process up and given two seconds to settle.
sys_app_ready() {
  sys_app
  sys_wait_for pgrep -f "$SYS_BIN/kadrix" --timeout 10 || fail "kadrix did not start"
  sys_sleep 2
}
# How long that start took, until kadrix was ready, goes to SYS_START_MS: a
# reference for the timings of the program measured beside it.
sys_start() {
  local start
  mkdir -p "$KADRIX_HOME/config"
  echo "{\"everVisitedHotkeys\": true, \"showIntro\": 0${1:+, $1}}" >"$KADRIX_HOME/config/defaults.json"
  start=$(date +%s%N)
  sys_app
  sys_wait_for --timeout 15 sys_log_has 'AppLogic initialized' \
    || { tail -20 "$SYS_TMP/kadrix.log"; fail "kadrix did not start"; }
  SYS_START_MS=$(sys_ms_since "$start")
  sys_sleep 0.5
}
# Whether the library popover shows (a window of ours 392 pixels wide at
# scale 1); its top-left goes to px and py.
sys_library_popover_shown() {
  local id
  for id in $(xdotool search --onlyvisible --classname '^kadrix$' 2>/dev/null); do
    eval "$(xdotool getwindowgeometry --shell "$id")"
    [ "$WIDTH" -eq 392 ] && { px=$X; py=$Y; return 0; }
  done
  return 1
}
sys_link() {
  sys_step "handing over the link $1"
  sys_timeout 10 "$SYS_BIN/kadrix" "$1" >/dev/null 2>&1 || fail "the link $1 was not handed over"
}
sys_geom() {
  local info
  info=$(xwininfo -id "$1") || return 1
  X=$(echo "$info" | awk '/Absolute upper-left X/ {print $4}')
  Y=$(echo "$info" | awk '/Absolute upper-left Y/ {print $4}')
  WIDTH=$(echo "$info" | awk '/^ *Width:/ {print $2}')
  HEIGHT=$(echo "$info" | awk '/^ *Height:/ {print $2}')
}
sys_count_colour() {
  convert "$1" -alpha off -fill black +opaque "$2" -fill white -opaque "$2" -format '%[fx:int(mean*w*h+0.5)]' info:
}
# A window of the test client (kadrix-testclient MODE TITLE X Y W H …), gone
# with the test; waits until it shows.
sys_test_window() {
  "$SYS_BIN/kadrix-testclient" "$@" &
  on_exit "kill $! 2>/dev/null || true"
  sys_wait_window "^$2\$" 5 || fail "the test window $2 did not show"
}
# An area capture by Ctrl+Shift+2, dragged from (X1, Y1) to (X2, Y2), with
# kadrix set to show area captures as the thumbnail; waits for the thumbnail.
sys_area_to_thumbnail() {
  sys_key ctrl+shift+2
  sys_wait_for --timeout 10 xdotool search --name '^kadrix-screencapture$' || fail "Ctrl+Shift+2 started no screenshot tool"
  sys_sleep 0.5
  sys_drag "$@"
  sys_wait_for --timeout 10 xdotool search --onlyvisible --name '^Kadrix Preview$' || fail "no thumbnail after the capture"
}
# WINDOW stays above the others on every desktop, yet is managed by the
# window manager (not override-redirect), so it can take the keyboard.
sys_expect_floating() {
  local props
  props=$(xprop -id "$1" _NET_WM_STATE _NET_WM_DESKTOP)
  [[ "$props" == *_NET_WM_STATE_ABOVE* && "$props" == *4294967295* ]] \
    || fail "${2:-the window} is not above the others on every desktop: $props"
  xwininfo -id "$1" -all | grep 'Override redirection?: No' >/dev/null || fail "${2:-the window} bypasses the window manager"
}
# BX BY BW BH: the part of a window of COLOUR that the active editor window
# shows below its tool bar, from the last snap (at scale SCALE).
sys_editor_box() {
  local colour=$1 scale=$2 top box
  sys_geom "$(xdotool getactivewindow)"
  top=$((110 * scale))
  box=$(convert "$SYS_TMP/shot.png" -crop "${WIDTH}x$((HEIGHT - top))+$X+$((Y + top))" +repage \
    -fill black +opaque "$colour" -trim -format '%w %h %X %Y' info:)
  read -r BW BH BX BY <<<"$box"
  BX=$((X + ${BX#+})) BY=$((Y + top + ${BY#+}))
  [ "$BW" -gt 200 ] && [ "$BH" -gt 100 ] || fail "the capture does not show in the editor (${BW}x$BH)"
}
# The active window is named NAME and has the keyboard.
sys_active_is() {
  local win
  win=$(xdotool getactivewindow 2>/dev/null) && _sys_has_focus "$win" &&
    [ "$(xdotool getwindowname "$win" 2>/dev/null)" == "$1" ]
}
sys_wait_editor() {
  sys_wait_for --timeout "${1:-10}" sys_active_is Kadrix \
    || { tail -20 "$SYS_TMP/kadrix.log"; sys_screenshot "${KADRIX_SHOT_DIR:-$SYS_TMP}/editor-missing.png"
         echo "active: $(xdotool getactivewindow getwindowname 2>&1); focus: $(xdotool getwindowfocus getwindowname 2>&1)" >&2
         echo "shown: $(for w in $(xdotool search --onlyvisible --name . 2>/dev/null); do
           printf '%s ' "$w=$(xdotool getwindowname "$w" 2>/dev/null)"; done)" >&2
         fail "the editor did not come forward (${BASH_SOURCE[1]##*/}:${BASH_LINENO[0]})"; }
  sys_sleep 0.5
}

sys_first_save() {
  if [ -n "${2:-}" ]; then sys_key "$2"; else sys_link 'kadrix://grab/fullscreen?then=save'; fi
  sys_wait_window 'Choose default folder' 15 || fail "no folder chooser for the first save"
  sys_dialog_enter 'Choose default folder' "$1"
  sys_wait_for --timeout 15 bash -c "ls '$1'/SCR-*.* >/dev/null 2>&1" || {
    tail -20 "$SYS_TMP/kadrix.log"
    fail "nothing saved into the chosen folder"
  }
}

sys_notify_server() {
  SYS_NOTICES="$SYS_TMP/notices.log"
  : >"$SYS_NOTICES"
  # The server is a test program with settings of its own: kept in a home of
  # its own, its writes cannot replace the settings a test gives kadrix.
  mkdir -p "$SYS_TMP/notify-home"
  # It serves as long as the test runs: the tests' watchdog, which stops a
  # case of a test program after a minute and a half, is not its clock (a
  # test that ran longer on a busy machine found no server for its last
  # notices, and they went to kadrix's own panel).
  KADRIX_HOME="$SYS_TMP/notify-home" KADRIX_FAKE_SERVER_LOG="$SYS_NOTICES" QT_QPA_PLATFORM=offscreen \
    KADRIX_TEST_TIMEOUT=1000000 \
    "$SYS_BIN/test_services" --gtest_filter=FakeNotificationServer.Serve >"$SYS_TMP/notify.out" 2>&1 &
  _sys_notify_pid=$!
  on_exit 'kill $_sys_notify_pid 2>/dev/null || true'
  sys_wait_for --timeout 10 bash -c "gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
    --method org.freedesktop.DBus.NameHasOwner org.freedesktop.Notifications | grep -q true" \
    || fail "the notification server did not start"
}

sys_road() {
  local name=$1 fn=$2 scale start
  for scale in ${SYS_ROAD_SCALES:-1 2}; do
    start=$SECONDS
    export QT_SCALE_FACTOR=$scale
    sys_remove "$KADRIX_HOME" && mkdir -p "$KADRIX_HOME"
    "$fn" "$scale"
    sys_stop_app
    echo "road $name at scale $scale: passed in $((SECONDS - start)) s"
  done
  unset QT_SCALE_FACTOR
}

# The screenshot library switched on for FOLDER: the save folder is known (its
# bookmark: path, inode and device) and the trash is the test's own.
sys_library_on() {
  local ino dev bookmark
  mkdir -p "$KADRIX_HOME/config"
  export XDG_DATA_HOME="$SYS_TMP/data"
  read -r ino dev < <(stat -c '%i %d' "$1")
  bookmark=$(printf '{"device":%s,"inode":%s,"path":"%s"}' "$dev" "$ino" "$1" | base64 -w0)
  cat >"$KADRIX_HOME/config/defaults.json" <<EOT
{"everVisitedHotkeys": true, "showIntro": 0, "libEnabled": true, "defaultFolderBookmark": {"\$data": "$bookmark"}}
EOT
}
