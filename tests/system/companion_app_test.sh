#!/usr/bin/env bash
# The hand-off to the companion uploader: with the upload route set to the
# companion, F2 in the editor writes the image into the shared folder and
# opens a plim://upload= link, which a stand-in handler (a desktop entry in a
# private XDG home) receives.
source "$(dirname "${BASH_SOURCE[0]}")/harness.sh"
sys_begin
log_has() { grep -qF "$1" "$SYS_TMP/kadrix.log"; }
command -v xdg-mime >/dev/null && command -v xdg-open >/dev/null || fail "xdg-utils are missing (scripts/setup-deps)"

export XDG_DATA_HOME="$SYS_TMP/data" XDG_CONFIG_HOME="$SYS_TMP/xdgconfig"
mkdir -p "$XDG_DATA_HOME/applications" "$XDG_CONFIG_HOME"
cat >"$SYS_TMP/handler.sh" <<EOF
#!/bin/sh
printf '%s' "\$1" >"$SYS_TMP/received"
EOF
chmod +x "$SYS_TMP/handler.sh"
cat >"$XDG_DATA_HOME/applications/fake-plim.desktop" <<EOF
[Desktop Entry]
Type=Application
Name=Fake companion
Exec=$SYS_TMP/handler.sh %u
MimeType=x-scheme-handler/plim;
NoDisplay=true
EOF
xdg-mime default fake-plim.desktop x-scheme-handler/plim
[ "$(xdg-mime query default x-scheme-handler/plim)" == fake-plim.desktop ] || fail "the stand-in handler is not registered"

xsetroot -solid '#3366cc'
mkdir -p "$KADRIX_HOME/config"
echo '{"everVisitedHotkeys": true, "showIntro": 0, "uploadMode": "plim"}' >"$KADRIX_HOME/config/defaults.json"
KADRIX_TEST=1 sys_app
sys_wait_for --timeout 15 log_has 'AppLogic initialized' || fail "kadrix did not start"
sleep 1
"$SYS_BIN/kadrix" 'kadrix://grab/fullscreen?then=edit'
sys_wait_for --timeout 10 sys_active_is Kadrix \
  || { tail -20 "$SYS_TMP/kadrix.log"; fail "the editor did not open with the capture"; }
sleep 0.5
sys_key F2
sys_wait_for --timeout 15 test -s "$SYS_TMP/received" \
  || { tail -20 "$SYS_TMP/kadrix.log"; fail "the stand-in handler got no link"; }
link=$(cat "$SYS_TMP/received")
[[ "$link" =~ ^plim://upload=[A-Za-z0-9%]+$ ]] || fail "unexpected link '$link'"
ls "$KADRIX_HOME/kadrix.companion/"SCR-*.png >/dev/null 2>&1 || fail "no image in the shared folder"
[ "$(stat -c %a "$KADRIX_HOME/kadrix.companion")" == 700 ] || fail "the shared folder is not private"
echo "companion app test: the handler received ${link:0:40}…"
