#!/usr/bin/env bash
# The kit tests that need a real X server: painting, input, clipboard,
# stacking, global monitors, tray menu, alerts, popovers, drags.
source "$(dirname "$0")/harness.sh"
sys_begin
QT_QPA_PLATFORM=xcb "$SYS_BIN/test_kit" --gtest_filter='KitLive*' --gtest_brief=1
