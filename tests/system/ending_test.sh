#!/usr/bin/env bash
# Kadrix ends when it is asked to, whatever it waits for. SIGTERM or SIGHUP
# while an area selection is open: kadrix and its screenshot tool are gone
# within two seconds, and so is the selection. So with a message box waiting
# for its answer, and with the library indexing pictures that keep their
# decoders busy: no decoder is left. A screenshot saved just before a SIGTERM
# or SIGHUP has its line in the library all the same.
source "$(dirname "$0")/harness.sh"
sys_begin
xsetroot -solid '#808080'
sys_tray

# Whether process PID runs (a zombie has ended).
# Sends SIG to kadrix; it and its screenshot tool (TOOL, a pid or empty) have
# ended within two seconds, and the selection's window is gone from the display.
signal_and_expect_end() {
  local sig=$1 tool=$2 what=$3 i
  kill -"$sig" "$SYS_APP_PID"
  for i in $(seq 1 20); do
    sys_running "$SYS_APP_PID" || sys_running "$tool" || break
    sleep 0.1
  done
  sys_running "$SYS_APP_PID" && fail "$what: kadrix still runs two seconds after SIG$sig"
  sys_running "$tool" && fail "$what: the screenshot tool outlived kadrix"
  xdotool search --name '^kadrix-screencapture$' >/dev/null 2>&1 && fail "$what: the selection stayed on screen"
  sys_reap_app
}

for sig in TERM HUP; do
  sys_start
  sys_link 'kadrix://grab/area'
  sys_wait_for --timeout 10 xdotool search --onlyvisible --name '^kadrix-screencapture$' \
    || { tail -20 "$SYS_TMP/kadrix.log"; fail "$sig: no area selection"; }
  sleep 0.5
  signal_and_expect_end "$sig" "$(pgrep -P "$SYS_APP_PID" -f kadrix-screencapture)" "an area selection"
done

# A message box: the settings file could not be read.
mkdir -p "$KADRIX_HOME/config"
echo '{"everVisitedHotkeys": tru' >"$KADRIX_HOME/config/defaults.json"
sys_app
sys_wait_for --timeout 15 xdotool search --onlyvisible --name '^Settings were reset$' \
  || { tail -20 "$SYS_TMP/kadrix.log"; fail "no message box about the settings"; }
sleep 0.3
signal_and_expect_end TERM "" "a message box"
xdotool search --onlyvisible --name '^Settings were reset$' >/dev/null 2>&1 && fail "the message box stayed"

# The library indexing pictures whose decoding takes many seconds each.
slow="$SYS_TMP/slow"
mkdir -p "$slow"
for i in 1 2 3; do
  cp "$SYS_SRC/tests/data/repro/jpeg-progressive-4096-60000-scans.jpg" "$slow/Screenshot 2024-03-05 at 15.00.0$i.jpg"
done
sys_library_on "$slow"
sys_app_in_tray
sys_click_tray_icon
sys_wait_for --timeout 5 sys_library_popover_shown || fail "the tray click opened no library popover"
sleep 2                                    # the folder's walk offers the three
sys_click $((px + 6 + 190)) $((py + 6 + 397)) # Add Screenshots
sys_wait_for --timeout 10 pgrep -P "$SYS_APP_PID" -x kadrix-decode || fail "the indexing started no decoder"
decoders=$(pgrep -P "$SYS_APP_PID" -x kadrix-decode | tr '\n' ' ')
signal_and_expect_end TERM "" "indexing"
for pid in $decoders; do
  [ -z "$(ps -o stat= -p "$pid" 2>/dev/null)" ] || fail "the decoder $pid outlived kadrix: $(ps -o stat=,comm= -p "$pid")"
done

shots="$SYS_TMP/shots"
mkdir -p "$shots"
for sig in TERM HUP; do
  sys_library_on "$shots"
  sys_app
  sys_wait_for --timeout 15 sys_log_has 'AppLogic initialized' || fail "kadrix did not start"
  sleep 1
  before=$(ls "$shots" | grep -c '^SCR-' || true)
  sys_link 'kadrix://grab/fullscreen?then=save'
  sys_wait_for --timeout 10 bash -c "[ \$(ls '$shots' | grep -c '^SCR-') -gt $before ]" || fail "$sig: nothing saved"
  sleep 0.1
  signal_and_expect_end "$sig" "" "just after a save"
  lines=$(grep -c . "$shots/imagelib.kxdb" 2>/dev/null || echo 0)
  # What the program said on its way out, should the line be missing.
  [ "$lines" = "$((before + 1))" ] || { ls -la "$shots" >&2; tail -15 "$SYS_TMP/kadrix.log" >&2; }
  expect_eq "$lines" "$((before + 1))" "SIG$sig just after a save: the library's lines"
done
# A save stuck in its write, as on a hung network folder (the kernel holds
# the save's file as it is opened, until the holder ends): SIGTERM still ends
# kadrix within two seconds; the log names the save it cut and what it left,
# the picture's name shows no partial file, and the library holds no line
# for it.
hung="$SYS_TMP/hung"
mkdir -p "$hung"
sys_library_on "$hung"
sys_app
sys_wait_for --timeout 15 sys_log_has 'AppLogic initialized' || fail "kadrix did not start"
sleep 1
# Where the kernel holds no open, the test ends here.
sys_hold_opens "$hung" '^\.SCR-.*\.new-'
sys_link 'kadrix://grab/fullscreen?then=save'
sys_wait_for --timeout 10 grep -q '^held ' "$SYS_TMP/held" || fail "the save never began its write"
signal_and_expect_end TERM "" "a save stuck in its write"
grep -qE "a save was cut short as Kadrix ended: $hung/SCR-[^ ]* is left as $hung/\.SCR-" "$SYS_TMP/kadrix.log" \
  || { tail -5 "$SYS_TMP/kadrix.log" >&2; fail "the log does not name the save its end cut short"; }
expect_eq "$(ls "$hung" | grep -c '^SCR-' || true)" 0 "files under a picture's name after a stuck save"
lines=$(grep -c 'SCR-' "$hung/imagelib.kxdb" 2>/dev/null || true)
expect_eq "${lines:-0}" 0 "library lines of the stuck save"
sys_release_opens

echo "kadrix ends at once while it waits, leaves no decoder, and its last saves are in the library"
