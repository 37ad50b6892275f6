#!/usr/bin/env bash
# The soak: kadrix kept busy for a while, as a heavy user would. Captures saved
# one after the other from kadrix:// links with the library on, then seeded
# random editor actions (draw, move, undo, redo, crop, uncrop, zoom), then
# pins opened and closed. Nothing may crash; memory after the soak stays
# within 1.5 times what it was after the first 20 captures; every saved file
# reads back and reaches the library; the pins give their memory back to
# within 10 MB. Prints the figures (idle and peak memory, captures and
# actions per second).
#   SOAK_CAPTURES (24), SOAK_ACTIONS (200), SOAK_PINS (10), SOAK_SEED (7);
#   SOAK_MEMORY_BOUNDS=0 reports memory without judging it (a sanitizer build
#   keeps freed memory in quarantine);
#   scripts/soak runs the long soak (200 captures, 2,000 actions, 50 pins).
source "$(dirname "${BASH_SOURCE[0]}")/harness.sh"
sys_begin
captures=${SOAK_CAPTURES:-24}
actions=${SOAK_ACTIONS:-200}
pins=${SOAK_PINS:-10}
RANDOM=${SOAK_SEED:-7}
[ "$captures" -ge 20 ] || fail "the soak needs at least 20 captures"
folder=$(mktemp -d "$SYS_BIN/../soak-XXXXXX")
on_exit "sys_stop_app; rm -rf '$folder'"
xsetroot -solid '#3366cc'
"$SYS_BIN/kadrix-testclient" text Page 100 100 900 500 900 500 top "$SYS_TMP/page.info" &
client=$!
on_exit 'kill $client 2>/dev/null || true'
sys_wait_window '^Page$' 5 || fail "the text window did not show"

mem() { awk -v k="$1:" '$1 == k {print $2}' "/proc/$SYS_APP_PID/status"; }   # kB
mb() { echo "$(($1 / 1024)) MB"; }
alive() { kill -0 "$SYS_APP_PID" 2>/dev/null || { tail -30 "$SYS_TMP/kadrix.log"; fail "kadrix died $1"; }; }
files() { ls "$folder" | grep -c '^SCR-' || true; }
records() { [ -f "$folder/imagelib.kxdb" ] && grep -c . "$folder/imagelib.kxdb" || echo 0; }
now_ms() { echo $(($(date +%s%N) / 1000000)); }

sys_start '"libEnabled": true, "afterGrabShow": false'
sleep 3
idle=$(mem VmRSS)
echo "soak: idle memory after start-up $(mb "$idle") (target under 60 MB)"

# Captures, each once the one before is on disk.
sys_first_save "$folder"
start=$(now_ms)
for i in $(seq 2 "$captures"); do
  sys_link 'kadrix://grab/fullscreen?then=save'
  sys_wait_for --timeout 15 bash -c "[ \$(ls '$folder' | grep -c '^SCR-') -ge $i ]" || { alive "at capture $i"; fail "capture $i was not saved"; }
  [ "$i" -eq 20 ] && after20=$(mem VmRSS)
done
capture_ms=$(($(now_ms) - start))
alive "after the captures"
[ "$(files)" -eq "$captures" ] || { ls -l --time-style=+%T "$folder" >&2; fail "$(files) files saved for $captures captures"; }
for f in "$folder"/SCR-*; do identify "$f" >/dev/null 2>&1 || fail "$(basename "$f") does not read back"; done
sys_wait_for --timeout 120 bash -c "[ \$(grep -c . '$folder/imagelib.kxdb' 2>/dev/null || echo 0) -ge $captures ]" \
  || fail "the library holds $(records) records for $captures captures"

# Random editor actions on a capture, at the editor's middle.
sys_link 'kadrix://grab/fullscreen?then=edit'
sys_wait_editor
sys_geom "$(xdotool getactivewindow)"
ex=$X ey=$Y ew=$WIDTH eh=$HEIGHT
pt() { echo "$((ex + ew / 6 + RANDOM % (ew * 2 / 3))) $((ey + eh / 4 + RANDOM % (eh / 2)))"; }
drag() { xdotool mousemove $1 $2 mousedown 1 mousemove $(( ($1 + $3) / 2 )) $(( ($2 + $4) / 2 )) mousemove $3 $4 mouseup 1; }
tools=(a r o l d h)
zooms=(ctrl+equal ctrl+minus ctrl+0 shift+1)
start=$(now_ms)
for i in $(seq 1 "$actions"); do
  case $((RANDOM % 8)) in
    0 | 1) sys_key "${tools[RANDOM % ${#tools[@]}]}"; drag $(pt) $(pt) ;;          # draw
    2) sys_key v; drag $(pt) $(pt) ;;                                               # move (or select)
    3) sys_key ctrl+z ;;                                                            # undo
    4) sys_key ctrl+shift+z ;;                                                      # redo
    5) sys_key v; drag $(pt) $(pt); sys_key Return ;;                              # crop to a selection
    6) sys_click $((ex + 108)) $((ey + 12)); sleep 0.15; sys_click $((ex + 130)) $((ey + 57)) ;;  # Edit ▸ Uncrop
    7) sys_key "${zooms[RANDOM % ${#zooms[@]}]}" ;;                                # zoom
  esac
  if [ $((i % 50)) -eq 0 ]; then
    alive "after $i editor actions"
    # Whatever a stray click opened, the editor has the keyboard again.
    sys_active_is Kadrix || { sys_key Escape; sys_focus "$(xdotool search --onlyvisible --name '^Kadrix$' | head -1)"; }
  fi
done
action_ms=$(($(now_ms) - start))
alive "after the editor actions"
[ -z "${KADRIX_SHOT_DIR:-}" ] || sys_screenshot "$KADRIX_SHOT_DIR/soak_editor.png"
sys_key Escape
sleep 2
after=$(mem VmRSS)

# Pins opened and closed give their memory back.
sleep 1
before_pins=$(mem VmRSS)
for i in $(seq 1 "$pins"); do
  sys_link 'kadrix://grab/fullscreen?then=pin'
  sys_wait_for --timeout 10 xdotool search --onlyvisible --name '^Kadrix Pin$' || { alive "at pin $i"; fail "pin $i did not open"; }
  pin=$(xdotool search --onlyvisible --name '^Kadrix Pin$' | head -1)
  sys_focus "$pin"
  sys_key ctrl+w
  sys_wait_for --timeout 5 bash -c "! xdotool search --onlyvisible --name '^Kadrix Pin$'" || fail "pin $i did not close"
done
sleep 5  # the grab's segment goes 3 s after the last grab, freed pages a second later
after_pins=$(mem VmRSS)
peak=$(mem VmHWM)
alive "after the pins"

rate() { awk -v n="$1" -v ms="$2" 'BEGIN {printf "%d in %.1f s, %.1f per second", n, ms / 1000, n * 1000 / ms}'; }
echo "soak: captures $(rate $((captures - 1)) "$capture_ms") (after the first); editor actions $(rate "$actions" "$action_ms")"
echo "soak: memory idle $(mb "$idle") → peak $(mb "$peak") → after close $(mb "$after_pins")" \
  "(after 20 captures $(mb "$after20"), after the soak $(mb "$after"), $pins pins: $(mb "$before_pins") before)"
[ "${SOAK_MEMORY_BOUNDS:-1}" == 0 ] && exit 0
[ "$((after * 2))" -le "$((after20 * 3))" ] || fail "memory grew from $(mb "$after20") after 20 captures to $(mb "$after")"
[ "$((after_pins - before_pins))" -le 10240 ] || fail "$pins pins kept $(mb $((after_pins - before_pins)))"
