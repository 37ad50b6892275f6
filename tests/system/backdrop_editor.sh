# Sourced by the backdrop's system tests: kadrix on a private display with a
# full-screen capture of a plain blue desktop open in the editor, and Save As.
#   backdrop_editor_open     sets sw, sh (screen size), win (the editor) and keep
#   backdrop_save_as FILE    saves the editor's picture there with Save As
source "$(dirname "${BASH_SOURCE[0]}")/harness.sh"

backdrop_editor_open() {
  sys_begin
  export HOME="$SYS_TMP/user"
  mkdir -p "$HOME"
  xsetroot -solid '#3366cc'
  keep=${KADRIX_KEEP_SHOTS:-}
  sys_app_ready
  read -r sw sh < <(xdpyinfo | awk '/dimensions:/ {split($2, d, "x"); print d[1], d[2]}')
  "$SYS_BIN/kadrix" 'kadrix://grab/fullscreen?then=edit'
  sys_wait_window '^Kadrix$' 15 || fail "no editor window"
  sleep 1.5
  win=$(xdotool search --onlyvisible --name '^Kadrix$' | head -1)
  sys_focus "$win"
}

backdrop_save_as() {
  mkdir -p "$(dirname "$1")"
  sys_focus "$win"
  sys_key ctrl+shift+s
  sys_dialog_enter 'Save As' "$1"
  sys_wait_for test -s "$1" --timeout 15 || fail "Save As wrote nothing"
}
