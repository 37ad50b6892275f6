#!/usr/bin/env bash
# Runs the notifier's display tests of test_services on an X display: the one
# scripts/test started (KADRIX_TEST_DISPLAY), else a private Xvfb with
# openbox. The system-notification case runs on a private session bus with a
# fake notification server; the others on a bus without one.
set -euo pipefail
binary=$1
here=$(cd "$(dirname "$0")" && pwd)
# One exit hook for the display and the home (a trap of our own would drop
# the session's and leave its Xvfb and openbox running).
source "$here/../../scripts/xvfb-session"
if [ -n "${KADRIX_TEST_DISPLAY:-}" ]; then
  export DISPLAY=$KADRIX_TEST_DISPLAY
else
  xvfb_session_start 1280x800x24
fi
home=$(mktemp -d)
on_exit 'rm -rf "$home"'
export KADRIX_HOME=$home KADRIX_DISPLAY_TESTS=1 QT_QPA_PLATFORM=xcb
export KADRIX_SCREENSHOT_DIR=${KADRIX_SCREENSHOT_DIR:-$home}

# No notification server: the toast stands in. At scale 1 and at scale 2.
dbus-run-session -- "$binary" --gtest_filter='ToastOnDisplay.*-*SystemNotification*'
QT_SCALE_FACTOR=2 dbus-run-session -- "$binary" --gtest_filter='ToastOnDisplay.*-*SystemNotification*'

# A fake server on a private bus: the notice goes to it and its click runs the action.
export KADRIX_FAKE_SERVER_LOG=$home/notices.log
dbus-run-session -- bash -c '
  binary=$1
  QT_QPA_PLATFORM=offscreen "$binary" --gtest_filter=FakeNotificationServer.Serve >"$KADRIX_HOME/server.out" 2>&1 &
  server=$!
  trap "kill $server 2>/dev/null || true; wait $server 2>/dev/null || true" EXIT INT TERM
  for i in $(seq 1 100); do
    gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
      --method org.freedesktop.DBus.NameHasOwner org.freedesktop.Notifications 2>/dev/null | grep -q true && break
    sleep 0.1
  done
  "$binary" --gtest_filter="ToastOnDisplay.SystemNotification*"
' bash "$binary"
