#!/usr/bin/env bash
# Saves cut short by Kadrix's end, and the end's bound, with the folder held
# by a library loaded into kadrix (tests/system/naming).
# - A quick save over its own earlier file (Overwrite on: Ctrl+S, an edit,
#   Ctrl+S) cut at its rename: the old file stays as it was, the log names
#   the save and its hidden file, and the next start puts the new version
#   beside the old one by the clash rule (NAME-3 when NAME-2 was taken
#   meanwhile), with the library line of its capture; the old line stays.
# - A save cut while the main thread is held: SIGTERM ends kadrix by the
#   way out's hard end all the same, the log names the save it cut, and the
#   next start gives it its line with its capture mode and time; another
#   program's files named like a save's hidden files (young, old, marked, held
#   open, a second link of a file outside, one beside an empty file of the
#   user's under its name) are all left as they were by that start.
# - Save As over a picture in another folder cut at its rename (on the main
#   thread): SIGTERM ends kadrix by the hard end, the log names the save, and
#   the next start puts the new version beside the old picture.
# - The same Save As into another folder cut by SIGKILL: the next start
#   finishes it as photo-2.png all the same, and forgets its record.
# - A save named while the main thread is held: the hard end tells of its
#   line owed, and the next start writes it.
# - A writer whose hidden file's lock another process takes first gives way:
#   the save is named, with its line, and no failure is told.
# - The main thread held with nothing under way: SIGTERM ends kadrix by the
#   hard end.
# The hard end is the program's own 1.8 s, and then as fast as an end with
# nothing held, measured at the start beside the rest.
# - The second save's rename refused: the old file stays, nothing hidden is
#   left, and the user is asked for another folder.
source "$(dirname "$0")/harness.sh"
sys_begin
xsetroot -solid '#808080'
sys_tray

sys_naming_library
shots="$SYS_TMP/shots"
arm="$SYS_TMP/arm"
held="$SYS_TMP/held"
mkdir -p "$shots" "$SYS_TMP/reader"

# The library's records of the save folder, one JSON object a line.
lines() {
  KADRIX_HOME="$SYS_TMP/reader" KADRIX_TEST_LIBRARY_FOLDER="$shots" QT_QPA_PLATFORM=offscreen \
    "$SYS_BIN/test_library" --gtest_filter=LibraryLines.Print 2>/dev/null | sed -n 's/^LINE //p'
}
line_of() { lines | grep -F "\"filename\":\"$1\""; }
settings() {
  local ino dev bookmark
  read -r ino dev < <(stat -c '%i %d' "$shots")
  bookmark=$(printf '{"device":%s,"inode":%s,"path":"%s"}' "$dev" "$ino" "$shots" | base64 -w0)
  mkdir -p "$KADRIX_HOME/config"
  cat >"$KADRIX_HOME/config/defaults.json" <<EOT
{"everVisitedHotkeys": true, "showIntro": 0, "libEnabled": true, "autosaveOverwrite": true,
 "defaultFolderBookmark": {"\$data": "$bookmark"}}
EOT
}
export XDG_DATA_HOME="$SYS_TMP/data"

# kadrix with WORDS for the naming library, armed by $arm when ARMED is 1.
start_with() {
  : >"$held"
  rm -f "$arm"
  export LD_PRELOAD="$naming" KADRIX_TEST_NAMING="$1" KADRIX_TEST_NAMING_REPORT="$held"
  [ "${2:-0}" = 1 ] && export KADRIX_TEST_NAMING_ARM="$arm"
  sys_app
  unset LD_PRELOAD KADRIX_TEST_NAMING KADRIX_TEST_NAMING_REPORT KADRIX_TEST_NAMING_ARM
  sys_wait_for --timeout 15 sys_log_has 'AppLogic initialized' || fail "$1: kadrix did not start"
}
# An end with nothing held, in a home of its own: the reference of the ends below.
KADRIX_HOME="$SYS_TMP/reference" sys_start
sys_stop_app
end_ms=$SYS_STOP_MS
# SIGTERM; kadrix has ended by the hard end.
end_within() {
  local what=$1
  sys_term_app
  sys_running "$SYS_APP_PID" && { tail -5 "$SYS_TMP/kadrix.log" >&2; fail "$what: kadrix still runs $SYS_STOP_MS ms after SIGTERM"; }
  sys_reap_app
  sys_end_within "$SYS_STOP_MS" "$end_ms" "$what"
}
held_temp() {
  sys_wait_for --timeout 15 grep -q "^held " "$held" || { ls -la "$shots" >&2; tail -5 "$SYS_TMP/kadrix.log" >&2; fail "$1: the save never came to naming its file"; }
  TEMP=$(sed -n 's/^held //p' "$held" | head -1)
}
logged_cut() {
  sys_log_has "a save was cut short as Kadrix ended: $shots/$1 is left as $shots/$2" \
    || { tail -8 "$SYS_TMP/kadrix.log" >&2; fail "$3: the log does not name the cut save"; }
}
# The next start finishes the hidden file as NAME.
finished_as() {
  sys_wait_for --timeout 20 sys_log_has "is finished: $shots/$1" \
    || { ls -la "$shots" >&2; tail -8 "$SYS_TMP/kadrix.log" >&2; fail "$2: the next start did not finish $1"; }
  [ -e "$shots/$TEMP" ] && fail "$2: $TEMP is left: $(ls -a "$shots")"
  sys_wait_for --timeout 30 line_of "$1" || { lines >&2; fail "$2: the library has no line for $1"; }
  LINE=$(line_of "$1")
}
mode_of() { python3 -c 'import json, sys; print(json.loads(sys.argv[1]).get(sys.argv[2], "none"))' "$1" "${2:-mode}"; }

settings

# ---- An overwrite save cut at its rename ----
start_with hold 1
sys_link 'kadrix://grab/fullscreen?then=edit'
sys_wait_editor 15
sys_key ctrl+s
sys_wait_for --timeout 15 bash -c "ls '$shots' | grep -q '^SCR-'" || fail "the first Ctrl+S saved nothing"
NAME=$(ls "$shots" | grep '^SCR-' | head -1)
cp "$shots/$NAME" "$SYS_TMP/old"
sys_wait_for --timeout 30 line_of "$NAME" || fail "the first save has no library line"
old_line=$(line_of "$NAME")
"$SYS_BIN/kadrix" 'kadrix://show'
sys_wait_editor 15
sys_geom "$(xdotool getactivewindow)"
sys_key a
sleep 0.3
sys_drag $((X + WIDTH / 3)) $((Y + HEIGHT / 2)) $((X + 2 * WIDTH / 3)) $((Y + 3 * HEIGHT / 4))
sleep 0.3
sys_key Escape
sys_wait_editor 5
touch "$arm"
sys_key ctrl+s
held_temp "overwrite"
[[ "$TEMP" == ".$NAME.new-"* ]] || fail "overwrite: the save held $TEMP, not a new version of $NAME"
end_within "overwrite cut at its rename"
cmp -s "$shots/$NAME" "$SYS_TMP/old" || fail "overwrite: the old $NAME was changed"
[ -s "$shots/$TEMP" ] || fail "overwrite: no new version left in $TEMP"
cmp -s "$shots/$TEMP" "$SYS_TMP/old" && fail "overwrite: the new version is the old picture (the edit is not in it)"
cp "$shots/$TEMP" "$SYS_TMP/new"
logged_cut "$NAME" "$TEMP" "overwrite"
# Another file takes the first name the clash rule would give meanwhile.
base=${NAME%.*} ext=${NAME##*.}
echo taken >"$shots/$base-2.$ext"
start_with ''
finished_as "$base-3.$ext" "overwrite"
cmp -s "$shots/$base-3.$ext" "$SYS_TMP/new" || fail "overwrite: $base-3.$ext is not the new version"
cmp -s "$shots/$NAME" "$SYS_TMP/old" || fail "overwrite: the next start changed the old $NAME"
expect_eq "$(cat "$shots/$base-2.$ext")" taken "overwrite: the file that took $base-2.$ext"
expect_eq "$(mode_of "$LINE")" fullscreen "overwrite: the capture mode of $base-3.$ext's line"
expect_eq "$(line_of "$NAME")" "$old_line" "overwrite: the old file's line"
expect_eq "$(lines | wc -l)" 2 "overwrite: the library's lines"
sys_stop_app

# ---- A save cut while the main thread is held ----
start_with 'hold holdmain'
t_asked=$(date +%s)
sys_link 'kadrix://grab/fullscreen?then=save'
held_temp "main held"
NAME=${TEMP#.}
NAME=${NAME%.new-*}
sys_wait_for --timeout 10 grep -qx 'main held' "$held" || fail "main held: the main thread was not held"
end_within "a save cut, the main thread held"
sys_log_has 'the way out was cut short at its deadline' || fail "main held: the log does not say the end was cut short"
logged_cut "$NAME" "$TEMP" "main held"
# Another program's files named as a save's hidden files are (young, old,
# marked, held open, a second link of a file outside, one beside an empty
# file of the user's under its name): the start touches none of them.
mark_of() { python3 -c 'import os, sys; sys.stdout.buffer.write(os.getxattr(sys.argv[1], "user.com.apple.metadata:kMDItemIsScreenCapture"))' "$1" 2>/dev/null || true; }
set_mark() { python3 -c 'import os, sys; os.setxattr(sys.argv[1], "user.com.apple.metadata:kMDItemIsScreenCapture", open(sys.argv[2], "rb").read())' "$1" "$2" 2>/dev/null || true; }
# The screen-capture mark as Kadrix writes it.
python3 -c 'import struct, sys; open(sys.argv[1], "wb").write(b"bplist00\x09\x08" + bytes(6) + struct.pack(">BBQQQ", 1, 1, 1, 0, 9))' "$SYS_TMP/mark"
foreign=(.their-young.png.new-abcd1234 .their-old.png.new-abcd1235 .their-marked.png.new-abcd1236
  .their-open.png.new-abcd1237 .their-link.png.new-abcd1238 .their-empty.png.new-abcd1239)
cp "$SYS_TMP/old" "$SYS_TMP/outside.png"
set_mark "$SYS_TMP/outside.png" "$SYS_TMP/mark"
for f in "${foreign[@]}"; do
  case $f in
    *link*) ln "$SYS_TMP/outside.png" "$shots/$f" ;;
    *old*) head -c 200 "$SYS_TMP/old" >"$shots/$f" ;;
    *) cp "$SYS_TMP/old" "$shots/$f" ;;
  esac
  case $f in *marked* | *open* | *empty*) set_mark "$shots/$f" "$SYS_TMP/mark" ;; esac
  case $f in *young* | *open*) ;; *) touch -d '-10 minutes' "$shots/$f" ;; esac
done
: >"$shots/their-empty.png"
python3 -c 'import fcntl, sys, time; f = open(sys.argv[1], "ab"); fcntl.flock(f, fcntl.LOCK_EX); time.sleep(600)' \
  "$shots/.their-open.png.new-abcd1237" &
opener=$!
for f in "${foreign[@]}"; do cp -p "$shots/$f" "$SYS_TMP/before$f"; done
start_with ''
finished_as "$NAME" "main held"
kill "$opener"; wait "$opener" 2>/dev/null || true
for f in "${foreign[@]}"; do
  cmp -s "$shots/$f" "$SYS_TMP/before$f" || fail "others' files: $f was taken or changed: $(ls -a "$shots")"
done
expect_eq "$(mark_of "$SYS_TMP/outside.png" | wc -c)" "$(wc -c <"$SYS_TMP/mark")" "others' files: the mark of the file outside"
[ -s "$shots/their-empty.png" ] && fail "others' files: the user's empty file was filled"
ls "$shots" | grep -v '^their-empty.png$' | grep -q '^their-' && fail "others' files: one was named: $(ls "$shots")"
rm -f "${foreign[@]/#/$shots/}" "$shots/their-empty.png"
expect_eq "$(mode_of "$LINE")" fullscreen "main held: the capture mode of $NAME's line"
ts=$(mode_of "$LINE" ts)
[ "$ts" -ge $((t_asked - 2)) ] && [ "$ts" -le "$(date +%s)" ] || fail "main held: the line's time $ts is not the capture's"
sys_stop_app

# ---- Save As over a picture in another folder, cut at its rename ----
# The write holds the main thread itself; the next start finds the picture
# where the way out said it left it, though it looks through no such folder
# of itself.
# Save As onto photo.png in FOLDER, held at its rename; sets TEMP.
save_as_held() {
  mkdir -p "$1"
  cp "$SYS_TMP/old" "$1/photo.png"
  start_with hold 1
  sys_link 'kadrix://grab/fullscreen?then=edit'
  sys_wait_editor 15
  touch "$arm"
  sys_key ctrl+shift+s
  sys_dialog_type 'Save As' "$1/photo.png"
  # The panel asks whether to replace the file: yes.
  for i in $(seq 1 10); do
    grep -q '^held ' "$held" && break
    sleep 0.5
    grep -q '^held ' "$held" || sys_key alt+y
  done
  held_temp "$2"
  [[ "$TEMP" == ".photo.png.new-"* ]] || fail "$2: the save held $TEMP"
  cp "$1/$TEMP" "$SYS_TMP/new"
}
# The next start finishes it in FOLDER as photo-2.png, the old one whole.
save_as_finished() {
  start_with ''
  sys_wait_for --timeout 20 sys_log_has "is finished: $1/photo-2.png" \
    || { ls -la "$1" >&2; tail -8 "$SYS_TMP/kadrix.log" >&2; fail "$2: the next start did not finish it"; }
  cmp -s "$1/photo-2.png" "$SYS_TMP/new" || fail "$2: photo-2.png is not the new version"
  cmp -s "$1/photo.png" "$SYS_TMP/old" || fail "$2: the next start changed the old photo.png"
  ls -a "$1" | grep -q '\.new-' && fail "$2: a hidden file is left: $(ls -a "$1")"
  if [ -e "$KADRIX_HOME/data/cut-saves.json" ]; then fail "$2: the finished save is still remembered"; fi
}
pictures="$SYS_TMP/pictures"
save_as_held "$pictures" "Save As"
end_within "Save As cut at its rename"
sys_log_has "a save was cut short as Kadrix ended: $pictures/photo.png is left as $pictures/$TEMP" \
  || { tail -8 "$SYS_TMP/kadrix.log" >&2; fail "Save As: the log does not name the cut save"; }
cmp -s "$pictures/photo.png" "$SYS_TMP/old" || fail "Save As: the old photo.png was changed"
save_as_finished "$pictures" "Save As"
sys_stop_app

# ---- Save As into another folder, cut by SIGKILL at its rename ----
# Nothing of Kadrix's runs after SIGKILL: the next start knows of the save
# from the record written before its hidden file was.
pictures2="$SYS_TMP/pictures2"
save_as_held "$pictures2" "Save As killed"
sys_kill_app
save_as_finished "$pictures2" "Save As killed"
sys_wait_for --timeout 20 bash -c "! ls '$KADRIX_HOME/data/saves' | grep -q '\.save\$'" \
  || fail "Save As killed: its record is still kept: $(ls "$KADRIX_HOME/data/saves")"
sys_stop_app

# ---- A save named while the main thread is held, then the hard end ----
# The folder holds the earlier sections' saves: the one named here is the
# one not among them.
ls "$shots" | grep '^SCR-' | sort >"$SYS_TMP/saved-before" || true
start_with holdmainnaming
sys_link 'kadrix://grab/fullscreen?then=save'
sys_wait_for --timeout 15 grep -qx 'main held' "$held" || fail "named, main held: the main thread was not held"
new_save() { ls "$shots" | grep '^SCR-' | sort | comm -13 "$SYS_TMP/saved-before" - | head -1; }
has_new_save() { [ -n "$(new_save)" ]; }
sys_wait_for --timeout 15 has_new_save || fail "named, main held: nothing was named"
NAME=$(new_save)
TEMP=none
end_within "a save named, the main thread held"
line_of "$NAME" >/dev/null && fail "named, main held: the line was written after all (the test held nothing)"
sys_log_has "the library line of $shots/$NAME is not written as Kadrix ended" \
  || { tail -8 "$SYS_TMP/kadrix.log" >&2; fail "named, main held: the hard end does not tell of the line owed"; }
start_with ''
sys_wait_for --timeout 30 line_of "$NAME" || { lines >&2; fail "named, main held: the next start wrote no line for $NAME"; }
expect_eq "$(mode_of "$(line_of "$NAME")")" fullscreen "named, main held: the capture mode of $NAME's line"
sys_stop_app

# ---- A writer whose lock another process takes first ----
# It gives way and writes under another hidden name: the save is named and
# has its line, and the user is told of no failure.
before=$(ls "$shots" | grep -c '^SCR-' || true)
start_with steal
sys_link 'kadrix://grab/fullscreen?then=save'
sys_wait_for --timeout 15 grep -q '^stole ' "$held" || fail "stolen lock: no lock was taken"
sys_wait_for --timeout 15 bash -c "[ \$(ls '$shots' | grep -c '^SCR-') -gt $before ]" \
  || { tail -8 "$SYS_TMP/kadrix.log" >&2; fail "stolen lock: the save was not named"; }
NAME=$(ls -t "$shots" | grep '^SCR-' | head -1)
sys_wait_for --timeout 30 line_of "$NAME" || { tail -8 "$SYS_TMP/kadrix.log" >&2; fail "stolen lock: the save has no line (it failed)"; }
grep -q 'taker named it' "$held" && fail "stolen lock: the writer named a file whose lock it had lost"
sys_stop_app
stolen=$(sed -n 's/^stole //p' "$held" | head -1)
rm -f "$shots/$stolen"

# ---- The main thread held, nothing under way ----
start_with holdmain 1
touch "$arm"
sys_wait_for --timeout 10 grep -qx 'main held' "$held" || fail "idle: the main thread was not held"
end_within "the main thread held"

# ---- The rename refused ----
start_with refuse 1
sys_link 'kadrix://grab/fullscreen?then=edit'
sys_wait_editor 15
before=$(ls "$shots" | grep -c '^SCR-' || true)
sys_key ctrl+s
sys_wait_for --timeout 15 bash -c "[ \$(ls '$shots' | grep -c '^SCR-') -gt $before ]" || fail "refused: the first Ctrl+S saved nothing"
NAME=$(ls -t "$shots" | grep '^SCR-' | head -1)
cp "$shots/$NAME" "$SYS_TMP/old"
"$SYS_BIN/kadrix" 'kadrix://show'
sys_wait_editor 15
touch "$arm"
sys_key ctrl+s
sys_wait_window 'Choose default folder' 15 || fail "refused: the user was not told the save failed"
cmp -s "$shots/$NAME" "$SYS_TMP/old" || fail "refused: the old $NAME was changed"
ls -a "$shots" | grep -q '\.new-' && fail "refused: a hidden file is left: $(ls -a "$shots")"
sys_stop_app

echo "a save cut by the end is finished beside the file it was to replace, with its line; the end comes by the hard end"
