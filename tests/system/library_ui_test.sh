#!/usr/bin/env bash
# The screenshot library as a user meets it: a save folder of sixty
# screenshots with text in them, the tray click that opens the library, the
# offer to add them and the indexing, a search for a word in one of them,
# quick look with Space, Ctrl+C copying the picture, Ctrl+Backspace in the
# search field deleting nothing and in the gallery moving the file to the trash.
source "$(dirname "$0")/harness.sh"
sys_begin
sys_tray

lib="$SYS_TMP/shots"
mkdir -p "$lib" "$KADRIX_HOME/config"
export XDG_DATA_HOME="$SYS_TMP/data"
for i in $(seq 1 60); do
  word="note $i"
  [ "$i" -eq 17 ] && word="invoice"
  convert -size 360x120 xc:"hsl($((i * 6)),80%,75%)" -fill black -font DejaVu-Sans -pointsize 40 -annotate +20+75 "$word" \
    "$lib/Screenshot 2024-03-05 at 15.$(printf %02d $((i / 60))).$(printf %02d $((i % 60))).png"
done
# The save folder is known (its bookmark: path, inode and device) and the library is on.
read -r ino dev < <(stat -c '%i %d' "$lib")
bookmark=$(printf '{"device":%s,"inode":%s,"path":"%s"}' "$dev" "$ino" "$lib" | base64 -w0)
cat >"$KADRIX_HOME/config/defaults.json" <<EOF
{"everVisitedHotkeys": true, "showIntro": 0, "libEnabled": true, "defaultFolderBookmark": {"\$data": "$bookmark"},
 "KeyboardShortcuts_library": "{\\"carbonKeyCode\\":37,\\"carbonModifiers\\":768}"}
EOF

# The popover of WIDTH × HEIGHT at X, Y that has the keyboard (392 wide, or
# wider when asked: ${1:-392}).
popover_has_keyboard() {
  local id
  id=$(xdotool getactivewindow 2>/dev/null) || return 1
  eval "$(xdotool getwindowgeometry --shell "$id")"
  [ "$WIDTH" -eq "${1:-392}" ] && xdotool search --onlyvisible --classname '^kadrix$' | grep -qx "$id"
}

sys_app_in_tray
sys_click_tray_icon
sys_library_popover_shown || fail "the tray click opened no library popover"
sys_wait_for --timeout 3 popover_has_keyboard || fail "the popover opened from the tray did not take the keyboard"

# The library shortcut (Ctrl+Shift+L here) closes the popover and opens it again.
sys_key ctrl+shift+l
sys_wait_for --timeout 5 bash -c '! xdotool search --onlyvisible --classname "^kadrix$" getwindowgeometry %@ | grep -q "392x"' \
  || fail "the library shortcut left the popover open"
sleep 1
sys_key ctrl+shift+l
sys_wait_for --timeout 5 sys_library_popover_shown || fail "the library shortcut did not open the popover"
sys_wait_for --timeout 3 popover_has_keyboard || fail "the popover opened by its shortcut did not take the keyboard"

cx=$((px + 6)); cy=$((py + 6))  # the library view's top-left

# Sixty screenshots are offered; "Add Screenshots" indexes them.
sys_click $((cx + 190)) $((cy + 397))
# (Each is read for text: on two busy cores that takes a while.)
sys_wait_for --timeout 100 bash -c "[ -f '$lib/imagelib.kxdb' ] && [ \$(wc -l <'$lib/imagelib.kxdb') -ge 60 ]" \
  || fail "the sixty screenshots were not indexed"
sleep 2
shot="$SYS_TMP/gallery.png"
sys_screenshot "$shot"
# Thumbnails (or their colours) fill the first row, the status line is written.
# (the status row shows the background)
background=$(sys_pixel "$shot" $((cx + 150)) $((cy + 566)))
[ "$(sys_pixel "$shot" $((cx + 60)) $((cy + 130)))" != "$background" ] || fail "the gallery shows no items"
[ "$(sys_pixel "$shot" $((cx + 280)) $((cy + 130)))" != "$background" ] || fail "the gallery shows one item only"

# A word drawn in one screenshot finds that one.
sys_click $((cx + 190)) $((cy + 60))
sys_type "invoice"
sleep 1.5
shot="$SYS_TMP/found.png"
sys_screenshot "$shot"
[ "$(sys_pixel "$shot" $((cx + 60)) $((cy + 130)))" != "$background" ] || fail "nothing was found"
[ "$(sys_pixel "$shot" $((cx + 280)) $((cy + 130)))" == "$background" ] || fail "more than one screenshot was found"

# Down selects it and gives the gallery the keys; Space opens quick look, Space closes it.
sys_key Down
sys_key space
sys_wait_for --timeout 5 xdotool search --onlyvisible --name '^Kadrix Quick Look$' || fail "Space opened no quick look"
sys_key space
sleep 0.5
xdotool search --onlyvisible --name '^Kadrix Quick Look$' >/dev/null && fail "the second Space left quick look open"
# With quick look open, the first Escape closes quick look and the popover
# stays; the next closes the popover (the library shortcut opens it again).
sys_key space
sys_wait_for --timeout 5 xdotool search --onlyvisible --name '^Kadrix Quick Look$' || fail "Space opened no quick look again"
sys_key Escape
sys_wait_for --timeout 5 bash -c "! xdotool search --onlyvisible --name '^Kadrix Quick Look\$'" || fail "Escape left quick look open"
sleep 0.5
sys_library_popover_shown || fail "the Escape that closed quick look closed the popover too"
sys_key Escape
sys_wait_for --timeout 5 bash -c '! xdotool search --onlyvisible --classname "^kadrix$" getwindowgeometry %@ | grep -q "392x"' \
  || fail "Escape left the popover open"
sleep 1
sys_key ctrl+shift+l
sys_wait_for --timeout 5 popover_has_keyboard || fail "the library shortcut did not open the popover after Escape"
sys_key Down

# Ctrl+C copies the screenshot as a picture.
sys_key ctrl+c
sleep 1
sys_clip_png "$SYS_TMP/copied.png"
expect_eq "$(identify -format '%wx%h' "$SYS_TMP/copied.png" 2>/dev/null)" "360x120" "copied picture"
# The copy closed the popover; a kadrix://lib link opens it again.
"$SYS_BIN/kadrix" 'kadrix://lib' >/dev/null 2>&1
sys_wait_for --timeout 5 sys_library_popover_shown || fail "kadrix://lib opened no popover"
sleep 0.5

# Ctrl+Backspace in the search field edits the text and deletes no file.
sys_click $((cx + 190)) $((cy + 60))
sys_key End ctrl+BackSpace
sleep 1
expect_eq "$(ls "$lib"/*.png | wc -l)" 60 "screenshots after Ctrl+Backspace in the search field"

# In the gallery, Ctrl+Backspace moves the selected screenshot to the trash.
sleep 1
sys_click $((cx + 60)) $((cy + 130))
sys_key ctrl+BackSpace
sys_wait_for --timeout 5 bash -c "[ \$(ls '$lib'/*.png | wc -l) -eq 59 ]" || fail "Ctrl+Backspace in the gallery deleted nothing"
expect_eq "$(ls "$XDG_DATA_HOME/Trash/files" | wc -l)" 1 "files in the trash"

# Escape closes the popover from the search field too; a search link opens
# it with the search done, and the keyboard, also when it comes at once.
sys_click $((cx + 190)) $((cy + 60))
sys_key Escape
sys_wait_for --timeout 5 bash -c '! xdotool search --onlyvisible --classname "^kadrix$" getwindowgeometry %@ | grep -q "392x"' \
  || fail "Escape in the search field left the popover open"
"$SYS_BIN/kadrix" 'kadrix://lib/search?search=invoice' >/dev/null 2>&1
sys_wait_for --timeout 3 popover_has_keyboard || fail "the popover opened again at once by a link did not take the keyboard"
sleep 1.5
shot="$SYS_TMP/linked.png"
sys_screenshot "$shot"
[ "$(sys_pixel "$shot" $((cx + 60)) $((cy + 130)))" != "$background" ] || fail "the search link found nothing"
[ "$(sys_pixel "$shot" $((cx + 280)) $((cy + 130)))" == "$background" ] || fail "the search link found more than one"

# With the popover open, the desktop's shortcuts still reach the program:
# Ctrl+Shift+2 starts an area capture (and the popover goes).
sys_key ctrl+shift+2
sys_wait_for --timeout 5 xdotool search --name '^kadrix-screencapture$' || fail "Ctrl+Shift+2 did nothing while the popover showed"
sys_wait_for --timeout 3 bash -c '! xdotool search --onlyvisible --classname "^kadrix$" getwindowgeometry %@ | grep -q "392x"' \
  || fail "the popover stayed open through the area capture"
sleep 0.5
sys_key Escape
sys_wait_for --timeout 5 bash -c '! xdotool search --name "^kadrix-screencapture$"' || fail "the screenshot tool stayed"

# Enlarged (⤢) below the tray icon at the screen's right edge, the popover
# stays on the screen, right beside the icon, and opens so the next time.
sys_key ctrl+shift+l
sys_wait_for --timeout 5 popover_has_keyboard || fail "the library shortcut did not open the popover"
sys_click $((cx + 331)) $((cy + 565))
sys_wait_for --timeout 5 popover_has_keyboard 572 || fail "⤢ did not enlarge the popover"
screen_w=$(xdpyinfo | awk '/dimensions:/ {split($2, d, "x"); print d[1]}')
[ $((X + WIDTH)) -eq "$screen_w" ] && [ "$Y" -eq "$py" ] \
  || fail "the enlarged popover went to $X,$Y..$((X + WIDTH)) (the screen is $screen_w wide, the icon's popover opens at y $py)"
big="$X,$Y"
sys_click_tray_icon
sys_click_tray_icon
sys_wait_for --timeout 3 popover_has_keyboard 572 || fail "the enlarged popover did not open again from the tray"
expect_eq "$X,$Y" "$big" "the enlarged popover's place when opened again"

sys_stop_app
python3 - "$KADRIX_HOME/config/defaults.json" <<'PY' || fail "the search did not find exactly one screenshot"
import json, sys
events = json.load(open(sys.argv[1])).get("GATelemetry", [])
assert sum(e.get("type") == "lib:search" and e.get("count") == 1 for e in events) >= 2, "no two searches found one"
PY
echo "library popover, indexing, search, quick look, copy and delete work"
