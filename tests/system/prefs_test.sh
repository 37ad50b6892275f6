#!/usr/bin/env bash
# The settings open from the tray menu and from a kadrix:// link given to the
# running kadrix; "Launch at login" on the general tab writes the autostart
# entry (tried only while the running program is there) into the private XDG
# home and takes it away again; a shortcut recorded
# on the Hotkeys tab is stored, one that the editor's menu uses is refused
# with an alert, and the ⊗ of a field clears its shortcut; "Save" after
# capture asks for the folder, and the next capture is saved there.
# KADRIX_SHOTS=dir keeps the screenshots.
source "$(dirname "$0")/harness.sh"
sys_begin
sys_tray
sys_app_in_tray
keep() { [ -n "${KADRIX_SHOTS:-}" ] && cp "$1" "$KADRIX_SHOTS/" || true; }

sys_click_tray_icon
sys_key Up Up Return
sys_wait_window "Kadrix Settings" || fail "the tray's Settings item opened no settings window"
sleep 1
win=$(xdotool search --onlyvisible --name "Kadrix Settings" | head -1)
eval "$(xdotool getwindowgeometry --shell "$win")"
echo "window at $X,$Y" >&2
# The window shows the program's logo, not the toolkit's stand-in.
sys_wait_for --timeout 5 bash -c "xprop -id '$win' _NET_WM_ICON | grep -q 'Icon (24 x 24)'" ||
  fail "the settings window carries no icon of 24 pixels"
shot="$SYS_TMP/prefs-general.png"
sys_screenshot "$shot"
keep "$shot"

# The check box sits at the pane's last line; its place comes from the window's.
entry="$KADRIX_HOME/autostart/kadrix.desktop"
[ -e "$entry" ] && fail "an autostart entry exists before the check box was touched"
sys_click $((X + ${PREFS_CHECK_X:-196})) $((Y + ${PREFS_CHECK_Y:-431}))
sys_wait_for --timeout 5 test -e "$entry" || fail "checking Launch at login wrote no autostart entry"
grep -q '^Exec=' "$entry" || fail "the autostart entry runs nothing"
# The desktop skips the entry once the program it names is gone.
expect_eq "$(sed -n 's/^TryExec=//p' "$entry")" "$(readlink "/proc/$SYS_APP_PID/exe")" "the autostart entry's TryExec"
desktop-file-validate "$entry" || fail "the autostart entry does not validate"
sys_click $((X + ${PREFS_CHECK_X:-196})) $((Y + ${PREFS_CHECK_Y:-431}))
sys_wait_for --timeout 5 test ! -e "$entry" || fail "unchecking Launch at login left the autostart entry"

# A shortcut recorded on the Hotkeys tab is stored.
sys_click $((X + 107)) $((Y - 8))
sleep 0.5
sys_click $((X + 289)) $((Y + 118))
sleep 0.5
sys_key ctrl+shift+3
defaults="$KADRIX_HOME/config/defaults.json"
stored() { grep "\"KeyboardShortcuts_$1\"" "$defaults" | grep -q "$2"; }
sys_wait_for --timeout 5 stored repeatArea 'carbonKeyCode\\":20,' || fail "Ctrl+Shift+3 was not stored"

# Ctrl+S is Save's in the editor's menu: the field refuses it with an alert
# that names the item, and keeps Ctrl+Shift+3.
sys_click $((X + 289)) $((Y + 118))
sleep 0.5
sys_key ctrl+s
sys_wait_window 'taken by the menu item' 5 || fail "recording Ctrl+S, the menu's Save, brought no alert"
shot="$SYS_TMP/prefs-menu-alert.png"
sys_screenshot "$shot"
keep "$shot"
sys_key Return
sys_wait_for --timeout 5 bash -c "! xdotool search --onlyvisible --name 'taken by the menu item'" || fail "the alert stayed"
sys_key Escape
stored repeatArea 'carbonKeyCode\\":20,' || fail "the refused Ctrl+S replaced Ctrl+Shift+3"

# The ⊗ of the full-screen field clears its shortcut, and Ctrl+Shift+1 captures no more.
sys_click $((X + 373)) $((Y + 54))
sys_wait_for --timeout 5 stored fullscreen ': *false' || fail "the clear button left the full-screen shortcut"
sys_key Escape
shown=$(grep -c 'Layers Initialised' "$SYS_TMP/kadrix.log" || true)
sys_key ctrl+shift+1
sleep 1.5
expect_eq "$(grep -c 'Layers Initialised' "$SYS_TMP/kadrix.log" || true)" "$shown" "captures shown after Ctrl+Shift+1 was cleared"

# Closed, and opened again by a link given to the running kadrix.
sys_focus "$win" "the settings window"
sys_key alt+F4
sys_wait_for --timeout 5 sh -c "! xdotool search --onlyvisible --name 'Kadrix Settings'" || fail "the settings window did not close"
"$SYS_BIN/kadrix" 'kadrix://settings' >/dev/null 2>&1 || fail "the link was not handed over"
# The closed window still exists, hidden: wait for it to show.
sys_wait_for --timeout 10 xdotool search --onlyvisible --name "Kadrix Settings" \
  || fail "kadrix://settings opened no settings window"

# "Save" after capture, checked on the general tab, asks for the save folder
# at once; the next capture without a word of its own lands there.
sleep 1
win=$(xdotool search --onlyvisible --name "Kadrix Settings" | head -1)
eval "$(xdotool getwindowgeometry --shell "$win")"
sys_click $((X + 40)) $((Y - 8))
sleep 0.5
sys_click $((X + 346)) $((Y + 331))
folder="$SYS_TMP/shots"
mkdir -p "$folder"
sys_wait_window 'Choose default folder' 10 || fail "checking Save asked for no folder"
sys_dialog_enter 'Choose default folder' "$folder"
sys_wait_for --timeout 5 grep -q '"afterGrabSave": *true' "$KADRIX_HOME/config/defaults.json" \
  || fail "the Save check box stored nothing"
"$SYS_BIN/kadrix" 'kadrix://grab/fullscreen' >/dev/null 2>&1 || fail "the capture link was not handed over"
sys_wait_for --timeout 15 bash -c "ls '$folder'/SCR-*.* >/dev/null 2>&1" || fail "a capture with Save checked wrote no file"

# Quitting with the window made ends cleanly, and the recorded shortcut is on disk.
kill -TERM "$SYS_APP_PID"
status=0
wait "$SYS_APP_PID" || status=$?
sys_check_end "$SYS_APP_PID" "$status"
SYS_APP_PID=""
expect_eq "$status" 0 "kadrix exit status"
grep '"KeyboardShortcuts_repeatArea"' "$KADRIX_HOME/config/defaults.json" | grep -q 'carbonKeyCode' \
  || fail "the shortcut recorded for Repeat last area was not stored"
echo "settings open from the tray and the link; launch at login writes and removes the entry; a recorded shortcut is stored; Save after capture saves the next capture"
