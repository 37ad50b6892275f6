#!/usr/bin/env bash
# Where kadrix and kadrix-screencapture cannot work (no X display, a display
# that does not answer, a Wayland session, an unusable KADRIX_HOME) they say
# so in one line and exit 1; a KADRIX_HOME that does not exist yet is made.
source "$(dirname "$0")/harness.sh"
sys_begin

# Runs a program in a cleaned environment; prints "<status>|<stderr lines>|<stderr>".
refused() {
  local err
  err=$(mktemp "$SYS_TMP/err-XXXXXX")
  set +e
  sys_timeout 10 env -u DISPLAY -u WAYLAND_DISPLAY -u XDG_SESSION_TYPE -u QT_QPA_PLATFORM "$@" 2>"$err" >/dev/null
  local rc=$?
  set -e
  echo "$rc|$(wc -l <"$err")|$(cat "$err")"
}

for prog in kadrix kadrix-screencapture; do
  args=()
  [ "$prog" == kadrix-screencapture ] && args=(-x "$SYS_TMP/shot.png")
  out=$(refused "$SYS_BIN/$prog" "${args[@]}")
  [[ "$out" == "1|1|$prog: no X display"* ]] || fail "$prog without DISPLAY: $out"
  out=$(refused DISPLAY=:987 "$SYS_BIN/$prog" "${args[@]}")
  [[ "$out" == "1|1|$prog: cannot open the X display \":987\""* ]] || fail "$prog on a dead display: $out"
  out=$(refused DISPLAY="$DISPLAY" WAYLAND_DISPLAY=wayland-0 "$SYS_BIN/$prog" "${args[@]}")
  [[ "$out" == "1|1|$prog: Kadrix captures X11 sessions only"* ]] || fail "$prog in a Wayland session: $out"
  out=$(refused DISPLAY="$DISPLAY" KADRIX_HOME=/proc/none/home "$SYS_BIN/$prog" "${args[@]}")
  [[ "$out" == "1|1|$prog: KADRIX_HOME \"/proc/none/home\" cannot be made"* ]] || fail "$prog with a bad home: $out"
done
[ ! -e "$SYS_TMP/shot.png" ] || fail "a refused capture wrote a file"

# A home that does not exist yet: made private, and kadrix runs in it.
export KADRIX_HOME="$SYS_TMP/not/yet/home"
sys_app
sys_wait_for --timeout 10 test -S "$KADRIX_HOME/kadrix.sock" || fail "kadrix did not start in a new home: $(cat "$SYS_TMP/kadrix.log")"
expect_eq "$(stat -c %a "$KADRIX_HOME")" 700 "mode of the new KADRIX_HOME"
grep -q "another instance" "$SYS_TMP/kadrix.log" && fail "kadrix took its new home for another instance"
sys_stop_app
echo "missing displays, Wayland sessions and homes are named in one line"
