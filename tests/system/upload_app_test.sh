#!/usr/bin/env bash
# Uploading from the editor: a capture opened in the editor goes to a
# loopback upload endpoint with F2; the server sees the multipart request
# with the token, and the link it answers lands on the clipboard and in the
# notice.
source "$(dirname "${BASH_SOURCE[0]}")/harness.sh"
sys_begin
log_has() { grep -qF "$1" "$SYS_TMP/kadrix.log"; }

# A one-request upload server on a free loopback port.
cat >"$SYS_TMP/server.py" <<'EOF'
import http.server, sys
class H(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        body = self.rfile.read(int(self.headers["Content-Length"]))
        open(sys.argv[1], "wb").write(body)
        link = "http://127.0.0.1:%d/i/shot.png" % self.server.server_port
        reply = ("SUCCESS: " + link).encode()
        self.send_response(200)
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)
    def log_message(self, *a): pass
s = http.server.HTTPServer(("127.0.0.1", 0), H)
open(sys.argv[2], "w").write(str(s.server_port))
s.handle_request()
EOF
timeout 50 python3 "$SYS_TMP/server.py" "$SYS_TMP/body" "$SYS_TMP/port" &
server=$!
on_exit 'kill $server 2>/dev/null || true'
sys_wait_for --timeout 5 test -s "$SYS_TMP/port" || fail "the upload server did not start"
port=$(cat "$SYS_TMP/port")

xsetroot -solid '#3366cc'
mkdir -p "$KADRIX_HOME/config"
cat >"$KADRIX_HOME/config/defaults.json" <<EOF
{"everVisitedHotkeys": true, "showIntro": 0, "token": "abc123XYZ",
 "uploadEndpoint": "http://127.0.0.1:$port/up", "notificationType": "custom"}
EOF
KADRIX_TEST=1 sys_app
sys_wait_for --timeout 15 log_has 'AppLogic initialized' || fail "kadrix did not start"
sleep 1
"$SYS_BIN/kadrix" 'kadrix://grab/fullscreen?then=edit'
sys_wait_for --timeout 10 bash -c '[ "$(xdotool getactivewindow getwindowname 2>/dev/null)" == Kadrix ]' \
  || { tail -20 "$SYS_TMP/kadrix.log"; fail "the editor did not open with the capture"; }
sleep 0.5
sys_key F2

link="http://127.0.0.1:$port/i/shot.png"
sys_wait_for --timeout 15 bash -c "[ \"\$(xclip -selection clipboard -o 2>/dev/null)\" == '$link' ]" \
  || { tail -20 "$SYS_TMP/kadrix.log"; fail "the link did not reach the clipboard (got '$(sys_clip_text)')"; }
grep -qa 'name="token"' "$SYS_TMP/body" || fail "no token part in the request"
grep -qa 'abc123XYZ' "$SYS_TMP/body" || fail "the token did not go out"
grep -qa 'filename="SCR-' "$SYS_TMP/body" || fail "no file part in the request"
! grep -qa 'name="uid"' "$SYS_TMP/body" || fail "a user endpoint got the installation fields"
sleep 0.5
sys_screenshot "$SYS_TMP/notice.png"
cp "$SYS_TMP/notice.png" "${KADRIX_SHOT_DIR:-/tmp}/upload_notice.png" 2>/dev/null || true
echo "upload app test: $link on the clipboard"
