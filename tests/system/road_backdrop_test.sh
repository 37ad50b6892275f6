#!/usr/bin/env bash
# The backdrop road: a full-screen capture from its shortcut opens in the
# editor, K puts it on the backdrop, Ctrl+S saves: the file in the folder is
# the composition, the capture unchanged inside a padding of the backdrop's
# colours on every side. At scale 1 and 2.
source "$(dirname "${BASH_SOURCE[0]}")/harness.sh"
sys_begin
xsetroot -solid '#3366cc'
read -r sw sh <<<"$(xdpyinfo | awk '/dimensions:/ {split($2, d, "x"); print d[1], d[2]}')"

road() {
  local s=$1 folder="$SYS_TMP/shots-$1"
  mkdir -p "$folder"
  sys_start
  # The first save asks for the folder; the captures after it open in the editor.
  sys_first_save "$folder"
  sys_remove "$folder"/SCR-*
  sys_key ctrl+shift+1
  sys_wait_editor
  sys_key k
  sleep 1
  sys_key ctrl+s
  sys_wait_for --timeout 15 bash -c "ls '$folder'/SCR-* >/dev/null 2>&1" || fail "Ctrl+S saved nothing"
  sleep 0.5
  local file w h pad
  file=$(ls "$folder"/SCR-* | head -1)
  read -r w h <<<"$(identify -format '%w %h' "$file")"
  pad=$(((w - sw) / 2))
  [ "$pad" -gt 0 ] && [ "$((h - sh))" -eq "$((2 * pad))" ] || fail "the saved file is ${w}x${h} for a ${sw}x${sh} screen"
  expect_eq "$(sys_pixel "$file" $((pad + 20)) $((pad + 20)))" "51,102,204" "the capture inside its padding"
  expect_eq "$(sys_pixel "$file" $((w / 2)) $((h / 2)))" "51,102,204" "the capture's middle"
  [ "$(sys_pixel "$file" $((pad / 2)) $((h / 2)))" != "51,102,204" ] || fail "no backdrop left of the capture"
  [ "$(sys_pixel "$file" $((w / 2)) $((h - pad / 2)))" != "51,102,204" ] || fail "no backdrop under the capture"
  echo "scale $s: $(basename "$file") is the ${sw}x${sh} capture on a backdrop of $pad pixels"
}
sys_road backdrop road
