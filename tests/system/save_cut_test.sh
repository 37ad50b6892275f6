#!/usr/bin/env bash
# A save that Kadrix's end cuts off as its file is being given its name (the
# step held by a library loaded into kadrix, as a hung folder or a power cut
# would hold it): the log names the file it was to be and the hidden file
# left, the name shows no empty or partial file, and the next start finishes
# it: the very picture under the name it was to have, with the screen-capture
# mark, and the library's line its save would have made. On a folder as
# most are; on one without links (vfat); and on one without renames that
# replace nothing either, cut between claiming the name and moving the
# picture over the claim, whose next start is refused the naming.
source "$(dirname "$0")/harness.sh"
sys_begin
xsetroot -solid '#808080'
sys_tray

sys_naming_library
shots="$SYS_TMP/shots"
mkdir -p "$shots"
sys_library_on "$shots"


# kadrix with WORDS for the naming library and a save held as its file is
# named, then SIGTERM: it ends within three seconds. Sets TEMP (the hidden
# file's name) and NAME (the name it was to get) and keeps a copy of the
# picture written.
start_with() {
  export LD_PRELOAD="$naming" KADRIX_TEST_NAMING="$1" KADRIX_TEST_NAMING_REPORT="$SYS_TMP/held"
  sys_app
  unset LD_PRELOAD KADRIX_TEST_NAMING KADRIX_TEST_NAMING_REPORT
  sys_wait_for --timeout 15 sys_log_has 'AppLogic initialized' || fail "$1: kadrix did not start"
}
cut_save() {
  : >"$SYS_TMP/held"
  start_with "$1"
  sleep 1
  sys_link 'kadrix://grab/fullscreen?then=save'
  sys_wait_for --timeout 15 grep -q '^held ' "$SYS_TMP/held" || fail "$1: the save never came to naming its file"
  TEMP=$(sed -n 's/^held //p' "$SYS_TMP/held" | head -1)
  NAME=${TEMP#.}
  NAME=${NAME%.new-*}
  kill -TERM "$SYS_APP_PID"
  local i
  for i in $(seq 1 30); do sys_running "$SYS_APP_PID" || break; sleep 0.1; done
  sys_running "$SYS_APP_PID" && fail "$1: kadrix still runs three seconds after SIGTERM"
  sys_reap_app
  [ -s "$shots/$TEMP" ] || fail "$1: no picture left in $TEMP"
  cp "$shots/$TEMP" "$SYS_TMP/picture"
  sys_log_has "a save was cut short as Kadrix ended: $shots/$NAME is left as $shots/$TEMP" \
    || { tail -5 "$SYS_TMP/kadrix.log" >&2; fail "$1: the log does not name the cut save"; }
}
# The next start (with WORDS) finishes the picture under its name.
expect_finished() {
  start_with "$1"
  sys_wait_for --timeout 20 sys_log_has "is finished: $shots/$NAME" \
    || { ls -la "$shots" >&2; tail -5 "$SYS_TMP/kadrix.log" >&2; fail "$1: the next start did not finish $NAME"; }
  cmp -s "$shots/$NAME" "$SYS_TMP/picture" || fail "$1: $NAME is not the picture the save wrote"
  [ -e "$shots/$TEMP" ] && fail "$1: $TEMP is still there"
  ls -a "$shots" | grep -q '\.new-' && fail "$1: a hidden file is left: $(ls -a "$shots")"
  mark=$(python3 -c 'import os, sys; print(len(os.getxattr(sys.argv[1], "user.com.apple.metadata:kMDItemIsScreenCapture")))' \
    "$shots/$NAME" 2>/dev/null || echo none)
  expect_eq "$mark" 42 "$1: the screen-capture mark of $NAME"
}

cut_save hold
[ -e "$shots/$NAME" ] && fail "the cut save shows a file under its name before the next start"
# Finished slowly, after the library's first walk of the folder.
expect_finished slow
# The start gave it its library line, with the facts of its capture (a
# sealed line: counted, the only picture, read by the program's own store).
sys_wait_for --timeout 30 grep -q . "$shots/imagelib.kxdb" \
  || { tail -20 "$SYS_TMP/kadrix.log" >&2; fail "the library has no line for $NAME"; }
expect_eq "$(grep -c . "$shots/imagelib.kxdb")" 1 "the library's lines"
line=$(KADRIX_HOME="$SYS_TMP/reader" KADRIX_TEST_LIBRARY_FOLDER="$shots" QT_QPA_PLATFORM=offscreen \
  "$SYS_BIN/test_library" --gtest_filter=LibraryLines.Print 2>/dev/null | sed -n 's/^LINE //p')
expect_eq "$(python3 -c 'import json, sys; r = json.loads(sys.argv[1]); print(r["filename"], r["mode"])' "$line")" \
  "$NAME fullscreen" "the line of $NAME"
sys_stop_app

cut_save 'nolinks hold'
[ -e "$shots/$NAME" ] && fail "nolinks: the cut save shows a file under its name before the next start"
expect_finished nolinks
sys_stop_app

cut_save 'nolinks noexclusive hold'
# All the cut leaves under the name is the claim, empty, until the next start.
if [ -e "$shots/$NAME" ]; then [ -s "$shots/$NAME" ] && fail "nolinks: the claim holds a part of the picture"; fi
# A start whose naming is refused keeps the picture where it is, says so,
# and leaves no empty file under the name.
start_with 'nolinks noexclusive refuse'
sys_wait_for --timeout 20 sys_log_has "could not be given its name $shots/$NAME" \
  || { ls -la "$shots" >&2; tail -5 "$SYS_TMP/kadrix.log" >&2; fail "refused: the log does not say so"; }
sys_stop_app
cmp -s "$shots/$TEMP" "$SYS_TMP/picture" || fail "refused: the picture is not kept"
[ -e "$shots/$NAME" ] && fail "refused: a file under the name: $(ls -la "$shots")"
expect_finished 'nolinks noexclusive'
sys_stop_app

echo "a save cut off at its naming is in its place after the next start, with or without links"
