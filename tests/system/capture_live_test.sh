#!/usr/bin/env bash
# The live capture on a real X server without a compositor: the windows
# under its overlay are redirected while it shows, and no longer once it
# closes, however the capture ends.
source "$(dirname "$0")/harness.sh"
sys_begin
QT_QPA_PLATFORM=xcb "$SYS_BIN/test_capture" --gtest_filter='CaptureLive*' --gtest_brief=1
