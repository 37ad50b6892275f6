#!/usr/bin/env bash
# kadrix puts its icon in the system tray, holding no library it loads only on
# first use; a left click opens its menu with the capture commands and their
# keys, which work while the menu is open; the menu's Quit ends the program
# cleanly with the unsent events on disk.
source "$(dirname "$0")/harness.sh"
sys_begin
sys_tray
# The icon is embedded (and so shown) in the tray at the top-right corner.
sys_app_in_tray
# Idle, it holds none of the libraries it loads only when first asked for
# (sealing, sounds, web requests, text recognition, image formats read from
# files): each would cost every running instance its memory.
loaded=$({ grep -oE 'lib(crypto|canberra|curl|tesseract)\.so[.0-9]*|imageformats/lib[a-z]+\.so' \
  "/proc/$SYS_APP_PID/maps" || true; } | sort -u | xargs)
[ -z "$loaded" ] || fail "the idle program has loaded $loaded"
w=$(xdpyinfo | awk '/dimensions:/ {split($2, d, "x"); print d[1]}')
shot="$SYS_TMP/before.png"
sys_screenshot "$shot"
[ "$(sys_pixel "$shot" $((w - 60)) 33)" == "0,0,0" ] || fail "something covers the menu's place before the click"
# Only the glyph shows, light, on the dark panel's own colour: no square of
# another colour under it.
for id in $(xdotool search --onlyvisible --classname '^kadrix$'); do
  sys_geom "$id"
  [ "$HEIGHT" -le 24 ] && { ix=$X iy=$Y iw=$WIDTH ih=$HEIGHT; break; }
done
[ -n "${ix:-}" ] || fail "no tray icon window"
for corner in "$ix $iy" "$((ix + iw - 1)) $iy" "$ix $((iy + ih - 1))" "$((ix + iw - 1)) $((iy + ih - 1))"; do
  # shellcheck disable=SC2086
  rgb=$(sys_pixel "$shot" $corner)
  IFS=, read -r r g b <<<"$rgb"
  [ $(((r - 48) * (r - 48) + (g - 48) * (g - 48) + (b - 48) * (b - 48))) -le 108 ] \
    || fail "the tray icon's corner at $corner is $rgb, not the panel's 48,48,48"
done
light=$(convert "$shot" -crop "${iw}x${ih}+$ix+$iy" +repage -colorspace gray -format '%[fx:maxima>0.8?1:0]' info:)
expect_eq "$light" 1 "a light glyph on the dark panel"

sys_click_tray_icon
shot="$SYS_TMP/menu.png"
sys_screenshot "$shot"
[ "$(sys_pixel "$shot" $((w - 60)) 33)" != "0,0,0" ] || fail "the tray click opened no menu"
# The menu is as tall as its sixteen entries (three of them separators, two hidden).
height=$(convert "$shot" -crop 1x600+$((w - 60))+0 -fuzz 5% -fill white -opaque white txt:- \
  | awk -F'[,:]' 'NR > 1 && $0 !~ /#000000/ {n++} END {print n}')
[ "$height" -gt 200 ] || fail "the menu is only $height pixels tall"

# The keys the menu shows work while it is open: Ctrl+, opens the settings.
sys_key ctrl+comma
sys_wait_window "Kadrix Settings" 5 || fail "Ctrl+, in the open menu opened no settings window"
# The window manager closes what has the focus, which the menu may still hold.
sys_focus "$(xdotool search --onlyvisible --name 'Kadrix Settings' | head -1)" "the settings window"
sys_key alt+F4
sys_wait_for --timeout 5 sh -c "! xdotool search --onlyvisible --name 'Kadrix Settings'" || fail "the settings window did not close"

# Up from nothing selects the last entry, Quit.
sys_click_tray_icon
sys_key Up Return
for i in $(seq 1 50); do
  kill -0 "$SYS_APP_PID" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$SYS_APP_PID" 2>/dev/null && fail "Quit did not end kadrix"
status=0
wait "$SYS_APP_PID" || status=$?
sys_check_end "$SYS_APP_PID" "$status"
SYS_APP_PID=""
expect_eq "$status" 0 "kadrix exit status"
grep -q '"type": *"quit"' "$KADRIX_HOME/config/defaults.json" || fail "the quit event is not on disk"
echo "tray icon, menu and Quit work"
