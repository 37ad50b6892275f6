#!/usr/bin/env bash
# The links road: kadrix:// links given to a second launch drive the running
# kadrix. A capture with its "then" actions, the editor shown, a command it
# does not know and one while links are switched off are told as notices;
# the links that change settings (the upload token, the library, its size,
# the companion route) ask first: refused they change nothing, allowed they
# are stored and announced. Then an upload from the editor to a loopback
# server puts the link on the clipboard. At scale 1 and 2.
source "$(dirname "${BASH_SOURCE[0]}")/harness.sh"
sys_begin
sys_notify_server
xsetroot -solid '#3366cc'

stored() { grep -q "$1" "$KADRIX_HOME/config/defaults.json"; }
noticed() { grep -qF "$1" "$SYS_NOTICES"; }
# A link that asks first: the question shows and Return does not answer it
# (a stray key must not allow); Escape is Cancel, Allow takes a click. A
# link that comes while the question is open ($4, asking $5) waits for it.
answer() {
  local link=$1 question=$2 button=$3 s=${QT_SCALE_FACTOR:-1}
  sys_link "$link"
  sys_wait_window "$question" 10 || fail "$link asked nothing"
  sleep 0.5
  sys_key Return
  sleep 0.3
  xdotool search --onlyvisible --name "$question" >/dev/null || fail "Return answered the question of $link"
  if [ -n "${4:-}" ]; then
    sys_link "$4"
    sleep 1
    ! xdotool search --onlyvisible --name "$5" >/dev/null || fail "$4 asked while the question of $link was open"
  fi
  sys_geom "$(xdotool search --onlyvisible --name "$question" | head -1)"
  if [ "$button" == Allow ]; then
    sys_click $((X + WIDTH - 52 * s)) $((Y + HEIGHT - 27 * s))
  else
    sys_key Escape
  fi
  sys_wait_for --timeout 5 bash -c "! xdotool search --onlyvisible --name '$question'" || fail "the question of $link stayed"
}

# A one-request upload server on a free loopback port.
upload_server() {
  cat >"$SYS_TMP/server.py" <<'PY'
import http.server, sys
class H(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        body = self.rfile.read(int(self.headers["Content-Length"]))
        open(sys.argv[1], "wb").write(body)
        reply = ("SUCCESS: http://127.0.0.1:%d/i/shot.png" % self.server.server_port).encode()
        self.send_response(200)
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)
    def log_message(self, *a): pass
s = http.server.HTTPServer(("127.0.0.1", 0), H)
open(sys.argv[2], "w").write(str(s.server_port))
s.handle_request()
PY
  rm -f "$SYS_TMP/port" "$SYS_TMP/body"
  timeout "$(sys_seconds 40)" python3 "$SYS_TMP/server.py" "$SYS_TMP/body" "$SYS_TMP/port" &
  _server=$!
  sys_wait_for --timeout 5 test -s "$SYS_TMP/port" || fail "the upload server did not start"
  port=$(cat "$SYS_TMP/port")
}

road() {
  : >"$SYS_NOTICES"
  upload_server
  sys_start "\"notificationType\": \"system\", \"uploadEndpoint\": \"http://127.0.0.1:$port/up\""

  # A capture copied: one PNG of the whole screen. An unknown "then" word is
  # told and the capture still runs.
  sys_link 'kadrix://grab/fullscreen?then=Copy'
  sys_wait_for --timeout 15 bash -c "xclip -selection clipboard -o -t TARGETS 2>/dev/null | grep -qx image/png" \
    || fail "grab/fullscreen?then=Copy copied nothing"
  sys_clip_png "$SYS_TMP/clip.png"
  expect_eq "$(identify -format '%wx%h' "$SYS_TMP/clip.png")" "$(xdpyinfo | awk '/dimensions:/ {print $2}')" "copied size"
  sys_link 'kadrix://grab/fullscreen?then=later'
  sys_wait_for --timeout 5 noticed 'Unrecognized "then" parameter' || fail "an unknown then word was not told"
  sys_link 'kadrix://frobnicate'
  sys_wait_for --timeout 5 noticed "Kadrix: command is not recognized" || fail "an unknown command was not told"
  sys_link 'kadrix://settings/token=abc-def'
  sys_wait_for --timeout 5 noticed "Kadrix: no valid token provided" || fail "a short token was not refused"
  sleep 1

  # The token: refused, then allowed.
  answer 'kadrix://settings/token=Abc123Def456' "Apply a new upload token?" Cancel
  sleep 0.5
  ! stored Abc123Def456 || fail "a refused token was stored"
  answer 'kadrix://settings/token=Abc123Def456' "Apply a new upload token?" Allow
  sys_wait_for --timeout 5 stored '"token": *"Abc123Def456"' || fail "an allowed token was not stored"
  sys_wait_for --timeout 5 noticed "Token Updated" || fail "the new token was not announced"
  # The library and its size.
  answer 'kadrix://settings/library/enable' "Turn the screenshot library on?" Cancel
  sleep 0.5
  ! stored '"libEnabled": *true' || fail "a refused link turned the library on"
  answer 'kadrix://settings/library/enable' "Turn the screenshot library on?" Allow
  sys_wait_for --timeout 5 stored '"libEnabled": *true' || fail "an allowed link did not turn the library on"
  sys_link 'kadrix://settings/library/limit=abc'
  answer 'kadrix://settings/library/limit=500' "Change the library size?" Allow
  sys_wait_for --timeout 5 stored '"libLimit": *500' || fail "an allowed library size was not stored"
  # The companion route, refused, while a second link comes: its question follows the answer.
  answer 'kadrix://plim/connect' "Connect the companion uploader?" Cancel \
    'kadrix://settings/library/limit=700' "Change the library size?"
  sys_wait_window "Change the library size?" 10 || fail "the link that waited asked nothing"
  sleep 0.5
  sys_key Escape
  sys_wait_for --timeout 5 bash -c "! xdotool search --onlyvisible --name 'Change the library size?'" \
    || fail "the question of the link that waited stayed"
  ! stored '"uploadMode": *"plim"' || fail "a refused link switched uploads to the companion"
  stored '"libLimit": *500' || fail "a refused library size was stored"

  # Upload from the editor: F2 sends the capture, the link comes back to the clipboard.
  sys_link 'kadrix://grab/fullscreen?then=edit'
  sys_wait_editor
  sys_key F2
  local link="http://127.0.0.1:$port/i/shot.png"
  sys_wait_for --timeout 15 bash -c "[ \"\$(xclip -selection clipboard -o 2>/dev/null)\" == '$link' ]" \
    || fail "the upload's link did not reach the clipboard (got '$(sys_clip_text)')"
  grep -qa 'Abc123Def456' "$SYS_TMP/body" || fail "the upload did not carry the token set by the link"
  grep -qa 'filename="SCR-' "$SYS_TMP/body" || fail "no file in the upload"
  ! grep -qa 'name="uid"' "$SYS_TMP/body" || fail "a user endpoint got the installation fields"

  # Links switched off: a link is told it is off and does nothing.
  sys_stop_app
  : >"$SYS_NOTICES"
  sys_start '"notificationType": "system", "allowDeeplinks": false'
  sys_link 'kadrix://show'
  sys_wait_for --timeout 5 noticed "Kadrix: URL Scheme (deeplinks) is disabled" || fail "a switched-off link was not told"
  sleep 0.5
  ! xdotool search --onlyvisible --name '^Kadrix$' >/dev/null || fail "a switched-off link showed the editor"
}
sys_road links road
