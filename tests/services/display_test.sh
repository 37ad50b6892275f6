#!/usr/bin/env bash
# Runs the toast tests of test_services on an X display: the one scripts/test
# started (KADRIX_TEST_DISPLAY), else a private Xvfb with openbox.
set -euo pipefail
binary=$1
here=$(cd "$(dirname "$0")" && pwd)
if [ -n "${KADRIX_TEST_DISPLAY:-}" ]; then
  export DISPLAY=$KADRIX_TEST_DISPLAY
else
  source "$here/../../scripts/xvfb-session"
  xvfb_session_start 1280x800x24
fi
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export KADRIX_HOME=$home KADRIX_DISPLAY_TESTS=1 QT_QPA_PLATFORM=xcb
export KADRIX_SCREENSHOT_DIR=${KADRIX_SCREENSHOT_DIR:-$home}
"$binary" --gtest_filter='ToastOnDisplay.*'
