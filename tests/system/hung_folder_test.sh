#!/usr/bin/env bash
# A picture on a folder that does not answer (the kernel holds its open, as a
# network folder whose server stopped does) holds nothing up, whichever road
# names it: listed on the clipboard for Load From Clipboard, or named on the
# command line. Meanwhile a settings link is handed over and shows its window
# about as soon as with nothing waiting; the load is given up at one decode's
# time, told as a picture that cannot be read, and the picture shown stays;
# once the folder answers again, the open that came late leaves no descriptor
# in kadrix; and SIGTERM during the wait ends kadrix by the way out's hard end.
source "$(dirname "$0")/harness.sh"
sys_begin
sys_tray
if [ "$(id -u)" != 0 ]; then
  echo "SKIP: holding a folder's opens needs root"
  exit 0
fi
sys_notify_server

held="$SYS_TMP/net"
mkdir -p "$held"
convert -size 300x200 xc:'#3366cc' "$held/picture.png"
convert -size 900x600 xc:'#33cc66' "$SYS_TMP/green.png"

hold() { sys_hold_opens "$held" '^picture'; }
release() { sys_release_opens; }
on_exit release
held_open() { sys_wait_for --timeout 10 grep -q '^held picture' "$SYS_TMP/held" || fail "kadrix never opened the held $1"; }

# The settings link is handed over by a second launch (a quarter of a
# second on a quiet machine, over one on a busy one), then the window shows
# while the main thread turns its loop: the times into handed and shown, and
# the window closed, so that it covers none of the picture shown.
settings_round() {
  local start
  start=$(date +%s%N)
  sys_link 'kadrix://settings'
  handed=$(sys_ms_since "$start")
  start=$(date +%s%N)
  sys_wait_for --timeout 10 xdotool search --onlyvisible --name '^Kadrix Settings$' \
    || fail "kadrix://settings opened no window while $1 waited"
  shown=$(sys_ms_since "$start")
  sys_focus "$(xdotool search --onlyvisible --name '^Kadrix Settings$' | head -1)" "the settings window"
  sys_key alt+F4
  sys_wait_for --timeout 5 bash -c "! xdotool search --onlyvisible --name '^Kadrix Settings\$'" \
    || fail "the settings window did not close"
}
# Both about as soon as with nothing waiting.
settings_meanwhile() {
  settings_round "$1"
  sys_within "$handed" "$handed_ref" 8 "the settings link handed over while $1 waited"
  sys_within "$shown" "$shown_ref" 10 "the settings window shown while $1 waited"
  settings_ms+=("$1: handed over in $handed ms, shown $shown ms later")
}
settings_ms=()
# The references, in a home of their own: the same with nothing waiting, and an end.
home=$KADRIX_HOME
export KADRIX_HOME="$SYS_TMP/reference"
sys_start
settings_round "nothing"
handed_ref=$handed shown_ref=$shown
sys_stop_app
end_ref=$SYS_STOP_MS
export KADRIX_HOME=$home

green_shown() {
  sys_screenshot "$SYS_TMP/shot.png"
  [ "$(sys_count_colour "$SYS_TMP/shot.png" '#33CC66')" -gt 20000 ]
}
# kadrix with the green picture open in the editor, its notices going to
# the test's notification server.
start_with_green() {
  sys_start '"notificationType": "system"'
  sys_link "$SYS_TMP/green.png"
  sys_wait_for --timeout 15 green_shown || fail "the green picture did not open"
}

# The load given up at its bound (one decode's time, 31 s) and not much
# later (later grows on a busy machine).
given_up_in_time() {
  local ms=$1 what=$2
  [ "$ms" -ge 25000 ] && [ "$ms" -lt $((31000 + $(sys_seconds 14) * 1000)) ] || fail "$what ended after $ms ms, not at the read's bound"
  green_shown || fail "the picture shown did not stay after $what failed"
}

# The descriptor of an open that came late is closed by the thread that made it.
no_descriptor_left() {
  release
  sys_wait_for --timeout 5 bash -c "! ls -l /proc/$SYS_APP_PID/fd 2>/dev/null | grep -qF '$held/picture.png'" \
    || fail "kadrix holds the late-opened file: $(ls -l "/proc/$SYS_APP_PID/fd" | grep -F "$held")"
}

sigterm_ends_it() {
  sys_term_app
  sys_end_within "$SYS_STOP_MS" "$end_ref" "waiting for $1"
  sys_reap_app
  ended_ms+=("$1: $SYS_STOP_MS ms")
}
ended_ms=()

# 1. Load From Clipboard, another program listing the held file.
printf 'file://%s\r\n' "$held/picture.png" >"$SYS_TMP/list"
# One process, in the foreground, so that the test's end ends it.
xclip -quiet -selection clipboard -t text/uri-list -i "$SYS_TMP/list" >/dev/null 2>&1 &
sys_wait_for --timeout 10 bash -c "xclip -selection clipboard -o -t TARGETS 2>/dev/null | grep -qx text/uri-list" \
  || fail "xclip lists no file"
start_with_green
hold
start=$(date +%s%N)
sys_link 'kadrix://load/clipboard'
held_open "file listed on the clipboard"
settings_meanwhile "a load from the clipboard"
sys_wait_for --timeout 60 sys_log_has 'Load from clipboard: ' || fail "the load from the clipboard never ended"
clip_ms=$(sys_ms_since "$start")
grep -F 'Load from clipboard: ' "$SYS_TMP/kadrix.log" | grep -qF 'its folder did not answer in time' \
  || fail "the load ended for another reason: $(grep -F 'Load from clipboard: ' "$SYS_TMP/kadrix.log")"
grep -qF "Can't load image from the clipboard" "$SYS_NOTICES" || fail "the failed load was not told"
given_up_in_time "$clip_ms" "the load from the clipboard"
no_descriptor_left
hold
sys_link 'kadrix://load/clipboard'
held_open "file listed on the clipboard"
sigterm_ends_it "a listed file"
release

# 2. kadrix FILE.
start_with_green
hold
start=$(date +%s%N)
sys_link "$held/picture.png"
held_open "file named on the command line"
settings_meanwhile "an open of a file"
sys_wait_for --timeout 60 grep -qF "Can't open image" "$SYS_NOTICES" \
  || { tail -15 "$SYS_TMP/kadrix.log" >&2; fail "the open of the held file never ended (notices: $(cat "$SYS_NOTICES"))"; }
file_ms=$(sys_ms_since "$start")
grep -F "Can't open image" "$SYS_NOTICES" | grep -qF 'The file could not be opened: its folder did not answer in time.' \
  || fail "the open ended for another reason: $(grep -F "Can't open image" "$SYS_NOTICES")"
sys_log_has 'Failed to open image file' || fail "the failed open was not reported"
given_up_in_time "$file_ms" "the open of a file"
no_descriptor_left
hold
sys_link "$held/picture.png"
held_open "file named on the command line"
sigterm_ends_it "a named file"
release

echo "hung folder test: settings ${settings_ms[*]}; given up after $clip_ms ms (clipboard) and $file_ms ms (file); SIGTERM ended kadrix after ${ended_ms[*]}"
