#!/usr/bin/env bash
# A first start shows the welcome view. It names the shortcut the user has
# stored, and sends the user to the tray icon only when a tray shows it;
# without a tray it says how to bring the window back. At scale 1 and 2.
source "$(dirname "${BASH_SOURCE[0]}")/harness.sh"
sys_begin

# The welcome view's hint line, read off the screen.
welcome_text() {
  local editor
  sys_wait_for --timeout 15 sys_active_is Kadrix || fail "the welcome view did not show"
  sleep 1
  editor=$(xdotool getactivewindow)
  sys_geom "$editor"
  sys_screenshot "$SYS_TMP/welcome.png"
  # The hint sits under the middle of the window; large for the reader.
  convert "$SYS_TMP/welcome.png" -crop "$((500 * $1))x$((40 * $1))+$((X + WIDTH / 2 - 250 * $1))+$((Y + HEIGHT / 2 + 80 * $1))" \
    +repage -resize "$((400 / $1))%" "$SYS_TMP/hint.png"
  # The reader takes the "l" of Ctrl for an "i" at times.
  sys_ocr "$SYS_TMP/hint.png" | tr '\n' ' ' | sed 's/Ctri/Ctrl/g'
}

road() {
  local s=$1 text
  mkdir -p "$KADRIX_HOME/config"
  # Ctrl+Alt+5 for the whole screen: the key 5 (code 23) with command and option.
  echo '{"KeyboardShortcuts_fullscreen": "{\"carbonKeyCode\":23,\"carbonModifiers\":2304}"}' \
    >"$KADRIX_HOME/config/defaults.json"
  sys_app
  text=$(welcome_text "$s")
  [[ "$text" == *"with Ctrl+Alt+5"* ]] || fail "scale $s: the welcome view does not name the stored shortcut: $text"
  [[ "$text" != *tray* ]] || fail "scale $s: without a tray the welcome view points at the tray icon: $text"
  [[ "$text" == *"kadrix again"* ]] || fail "scale $s: without a tray the welcome view says nothing of running kadrix again: $text"
  sys_stop_app

  sys_tray
  sys_app
  text=$(welcome_text "$s")
  [[ "$text" == *"tray icon or with Ctrl+Alt+5"* ]] || fail "scale $s: with a tray the welcome view reads: $text"
  kill "$_sys_tray_pid" 2>/dev/null || true
}
sys_road welcome road
echo "the welcome view names the stored shortcut, and the tray only where it shows"
