#!/usr/bin/env bash
# The preferences road: in the settings window opened from a link, "after
# capture" changes from showing the editor to copying, and the full-screen
# shortcut is recorded anew as Ctrl+Shift+5. The next capture follows both:
# the old keys do nothing, the new ones copy the screen without the editor;
# after a restart the new shortcut and the choice still hold. At scale 1 and 2.
source "$(dirname "${BASH_SOURCE[0]}")/harness.sh"
sys_begin
xsetroot -solid '#3366cc'

clip_has_png() { xclip -selection clipboard -o -t TARGETS 2>/dev/null | grep -qx image/png; }
editor_shown() { xdotool search --onlyvisible --name '^Kadrix$' >/dev/null; }
# Ctrl+Shift+5 copies the screen and shows no editor.
new_keys_copy() {
  xclip -selection clipboard -i /dev/null
  sys_key ctrl+shift+5
  sys_wait_for --timeout 10 clip_has_png || fail "$1: Ctrl+Shift+5 copied nothing"
  sys_clip_png "$SYS_TMP/clip.png"
  expect_eq "$(identify -format '%wx%h' "$SYS_TMP/clip.png")" "$(xdpyinfo | awk '/dimensions:/ {print $2}')" "$1: copied size"
  sleep 0.5
  ! editor_shown || fail "$1: the editor showed although only copying was chosen"
}

road() {
  local s=$1 win
  sys_start
  sys_link 'kadrix://settings'
  sys_wait_window "Kadrix Settings" || fail "kadrix://settings opened no settings window"
  sleep 1
  win=$(xdotool search --onlyvisible --name "Kadrix Settings" | head -1)
  sys_geom "$win"
  # General tab, "After capture": Copy on, then Show off (one stays ticked).
  sys_click $((X + 273 * s)) $((Y + 351 * s))
  sleep 0.3
  sys_click $((X + 196 * s)) $((Y + 351 * s))
  sleep 0.3
  [ -z "${KADRIX_SHOT_DIR:-}" ] || sys_screenshot "$KADRIX_SHOT_DIR/road_prefs_general_$s.png"
  # Hotkeys tab: the full-screen field records Ctrl+Shift+5.
  sys_click $((X + 108 * s)) $((Y + 13 * s))
  sleep 0.5
  sys_click $((X + 290 * s)) $((Y + 74 * s))
  sleep 0.5
  sys_key ctrl+shift+5
  sleep 0.5
  [ -z "${KADRIX_SHOT_DIR:-}" ] || sys_screenshot "$KADRIX_SHOT_DIR/road_prefs_$s.png"
  sys_focus "$win"
  sys_key alt+F4
  sys_wait_for --timeout 5 bash -c "! xdotool search --onlyvisible --name 'Kadrix Settings'" || fail "the settings window did not close"

  # The old keys do nothing now; the new ones copy.
  xclip -selection clipboard -i /dev/null
  sys_key ctrl+shift+1
  sleep 1.5
  ! clip_has_png || fail "the replaced shortcut still captures"
  ! editor_shown || fail "the replaced shortcut opened the editor"
  new_keys_copy "after the change"

  # And after a restart.
  sys_stop_app
  sys_app
  sys_wait_for --timeout 15 sys_log_has 'AppLogic initialized' || fail "kadrix did not start again"
  sleep 1
  new_keys_copy "after a restart"
}
sys_road prefs road
