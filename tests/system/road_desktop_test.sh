#!/usr/bin/env bash
# A bare desktop: no tray host and no notification service on the bus.
# Every capture and the settings stay reachable through the global shortcuts
# and kadrix:// links; copying and saving never wait for the missing
# notification service; a tray host started later shows the icon. At scale 1
# and 2.
source "$(dirname "${BASH_SOURCE[0]}")/harness.sh"
sys_begin
xsetroot -solid '#3366cc'
folder="$SYS_TMP/shots"

clip_has_png() { xclip -selection clipboard -o -t TARGETS 2>/dev/null | grep -qx image/png; }
# A copy or a save that waited for the missing service would take the bus's
# time-out (seconds); one that does not takes less than a few starts of
# kadrix to ready, measured beside it (about half a second on a quiet machine).

road() {
  local s=$1 start ms
  sys_remove "$folder" && mkdir -p "$folder"
  # Copy after a capture, no editor.
  sys_start '"notificationType": "system", "afterGrabCopy": true, "afterGrabShow": false'
  xdotool search --onlyvisible --classname '^kadrix$' >/dev/null && fail "an icon shows without a tray host"

  # The full-screen shortcut copies the screen.
  xclip -selection clipboard -i /dev/null
  start=$(date +%s%N)
  sys_key ctrl+shift+1
  sys_wait_for --timeout 10 clip_has_png || { tail -30 "$SYS_TMP/kadrix.log"; fail "Ctrl+Shift+1 copied nothing"; }
  ms=$(sys_ms_since "$start")
  sys_within "$ms" "$SYS_START_MS" 8 "scale $s: the copy by Ctrl+Shift+1 without a notification service"
  sys_clip_png "$SYS_TMP/clip.png"
  expect_eq "$(sys_pixel "$SYS_TMP/clip.png" 20 20)" "51,102,204" "the copied screen"

  # The area shortcut: the screenshot tool, and the dragged area copied.
  xclip -selection clipboard -i /dev/null
  sys_key ctrl+shift+2
  sys_wait_for --timeout 10 xdotool search --name '^kadrix-screencapture$' || fail "Ctrl+Shift+2 started no screenshot tool"
  sys_sleep 0.5
  sys_drag 200 200 400 350
  sys_wait_for --timeout 10 clip_has_png || fail "the area of Ctrl+Shift+2 was not copied"
  sys_clip_png "$SYS_TMP/area.png"
  [[ "$(identify -format '%wx%h' "$SYS_TMP/area.png")" =~ ^20[0-2]x15[0-2]$ ]] \
    || fail "the copied area is $(identify -format '%wx%h' "$SYS_TMP/area.png"), not the 200x150 dragged out"

  # A save from a link: the first one asks for the folder, the next ones do not wait.
  sys_first_save "$folder"
  sleep 1.5
  start=$(date +%s%N)
  sys_link 'kadrix://grab/fullscreen?then=save'
  sys_wait_for --timeout 10 bash -c "[ \$(ls '$folder' | wc -l) -ge 2 ]" || fail "the second save wrote nothing"
  ms=$(sys_ms_since "$start")
  sys_within "$ms" "$SYS_START_MS" 8 "scale $s: the save from a link without a notification service"

  # The settings from a link.
  sys_link 'kadrix://settings'
  sys_wait_window "Kadrix Settings" || fail "kadrix://settings opened no settings window"

  # A tray host started now takes the icon.
  sys_tray
  sys_wait_for --timeout 10 xdotool search --onlyvisible --classname '^kadrix$' || fail "the late tray host shows no icon"
  kill "$_sys_tray_pid" 2>/dev/null || true
  wait "$_sys_tray_pid" 2>/dev/null || true
  _sys_tray_pid=""
  kill -0 "$SYS_APP_PID" || fail "kadrix ended on the way"
}
sys_road desktop road
