#!/usr/bin/env bash
# The saving road. A window of text on screen; the full-screen shortcut with
# "save" after capture asks once for the folder (on a real file system, with
# user attributes) and writes the screen there under the template's name,
# marked as a screen capture; the library finds it by a word on screen.
# Then kadrix quits and starts again: the settings, the library and the
# unsent events survive. Killed outright in the middle of a
# save and of indexing, it loses nothing saved before. At scale 1 and 2.
source "$(dirname "${BASH_SOURCE[0]}")/harness.sh"
sys_begin
sys_tray
# /tmp may be memory-backed, without user attributes: the folder goes under the build tree.
base=$(mktemp -d "$SYS_BIN/../road-save-XXXXXX")
on_exit "rm -rf '$base'"
python3 -c "import os,sys; os.setxattr(sys.argv[1], 'user.probe', b'1')" "$base" \
  || fail "$base has no user attributes: the road needs a file system that has them"

"$SYS_BIN/kadrix-testclient" text Page 100 100 900 500 900 500 top "$SYS_TMP/page.info" &
client=$!
on_exit 'kill $client 2>/dev/null || true'
sys_wait_window '^Page$' 5 || fail "the text window did not show"

db() { echo "$folder/imagelib.kxdb"; }
saved() { ls "$folder" | grep -cE '^SCR-[0-9]{8}-[b-u][a-z]{3}\.(png|jpeg)$' || true; }
# The library's records are sealed, one a line: how many whole lines it holds,
# and that none is torn.
records() { [ -f "$(db)" ] && grep -c . "$(db)" || echo 0; }
db_whole() {
  python3 -c "
import base64, sys
for line in open(sys.argv[1], 'rb').read().split(b'\\n'):
    if line: base64.b64decode(line, validate=True)
" "$(db)"
}
quit_event_on_disk() { grep -q '"type": *"quit"' "$KADRIX_HOME/config/defaults.json"; }
# The screen-capture mark, whatever its name's prefix.
marked() { python3 -c "import os,sys; sys.exit(0 if any('ScreenCapture' in a for a in os.listxattr(sys.argv[1])) else 1)" "$1"; }

# The library popover (a window of ours 392 points wide) after a search link:
# whether its first gallery cell shows an item.
popover_at() {
  local id
  for id in $(xdotool search --onlyvisible --classname '^kadrix$' 2>/dev/null); do
    sys_geom "$id"
    [ "$WIDTH" -eq $((392 * $1)) ] && return 0
  done
  return 1
}
search_for() {
  sys_link "kadrix://lib/search?search=$1"
  sys_wait_for --timeout 10 popover_at "$2" || fail "the search link opened no library"
}
# Whether the library's gallery shows a first item.
first_item_shown() {
  local s=$1 background below
  popover_at "$s"
  sys_screenshot "$SYS_TMP/lib.png"
  # The empty gallery below the first row; a screen lower than the popover's
  # usual height cuts it to the screen, so the probe stays inside it.
  below=$((572 * s < HEIGHT - 60 * s ? 572 * s : HEIGHT - 60 * s))
  background=$(sys_pixel "$SYS_TMP/lib.png" $((X + 156 * s)) $((Y + below)))
  [ "$(sys_pixel "$SYS_TMP/lib.png" $((X + 66 * s)) $((Y + 136 * s)))" != "$background" ]
}
search_finds() {
  search_for "$1" "$2"
  sleep 1.5
  first_item_shown "$2"
}

road() {
  local s=$1 first
  folder="$base/scale$s"
  mkdir -p "$folder"
  sys_start '"afterGrabSave": true, "afterGrabShow": false, "libEnabled": true'
  sys_first_save "$folder" ctrl+shift+1
  first=$(ls "$folder" | grep '^SCR-' | head -1)
  expect_eq "$(saved)" 1 "files named by the template"
  marked "$folder/$first" || fail "$first is not marked as a screen capture"
  expect_eq "$(identify -format '%wx%h' "$folder/$first")" "$(xdpyinfo | awk '/dimensions:/ {print $2}')" "saved size"
  # In the library.
  sys_wait_for --timeout 30 bash -c "[ \$(grep -c . '$(db)' 2>/dev/null || echo 0) -ge 1 ]" || fail "$first never reached the library"
  # The library finds it by a word shown in the test window, and finds
  # nothing by a word that was not on screen.
  local found=""
  for _ in 1 2 3 4 5 6; do
    search_finds brown "$s" && { found=1; break; }
    sleep 2
  done
  [ -n "$found" ] || fail "the library does not find the capture by a word on screen"
  # The gallery of the last search may still show while the new one runs.
  search_for zebra "$s"
  local gone=""
  for _ in 1 2 3 4 5 6 7 8; do
    sleep 1
    first_item_shown "$s" || { gone=1; break; }
  done
  [ -n "$gone" ] || fail "the library finds the capture by a word that was not on screen"
  sys_key Escape
  local kept
  kept=$(records)

  # Quit and start again: the folder, "save" after capture and the library hold.
  sys_stop_app
  quit_event_on_disk || fail "the quit event was not kept"
  sys_app
  sys_wait_for --timeout 15 sys_log_has 'AppLogic initialized' || fail "kadrix did not start again"
  sleep 1
  sys_key ctrl+shift+1
  sys_wait_for --timeout 15 bash -c "[ \$(ls '$folder' | grep -c '^SCR-') -ge 2 ]" || fail "after a restart Ctrl+Shift+1 saved nothing"
  xdotool search --onlyvisible --name 'Choose default folder' >/dev/null && fail "the folder was asked again after a restart"
  [ "$(records)" -ge "$kept" ] || fail "the library lost records over a restart"
  sleep 1

  # Killed in the middle of a save, and again while indexing: nothing saved before is lost.
  local before
  before=$(ls "$folder" | grep '^SCR-' | sort)
  sys_key ctrl+shift+1
  sleep 0.15
  sys_kill_app
  sys_app
  sys_wait_for --timeout 15 sys_log_has 'AppLogic initialized' || fail "kadrix did not start after kill -9"
  # Its keys are taken after that line: a busy machine's second.
  sys_sleep 1
  sys_key ctrl+shift+1
  sys_wait_for --timeout 15 bash -c "[ \$(ls '$folder' | grep -c '^SCR-') -gt $(echo "$before" | wc -l) ]" \
    || fail "no save after kill -9"
  sleep 0.3
  sys_kill_app
  local f
  for f in $before; do
    [ -f "$folder/$f" ] || fail "$f was lost to kill -9"
    identify "$folder/$f" >/dev/null 2>&1 || fail "$f is broken after kill -9"
  done
  ls "$folder" | grep -v '^SCR-\|^imagelib' && fail "kill -9 left a stray file in the folder"
  sys_app
  sys_wait_for --timeout 15 sys_log_has 'AppLogic initialized' || fail "kadrix did not start after the second kill -9"
  db_whole || fail "kill -9 left a torn record in the library"
  [ "$(records)" -ge "$kept" ] || fail "the library lost records to kill -9"
}
sys_road save road
