#!/usr/bin/env bash
# Capture routes and scrolling captures on a real X display: runs the
# systest_capture program (GoogleTest) with the xcb platform.
source "$(dirname "${BASH_SOURCE[0]}")/harness.sh"
sys_begin
[ -x "$SYS_BIN/systest_capture" ] || fail "systest_capture is not built"
QT_QPA_PLATFORM=xcb "$SYS_BIN/systest_capture" --gtest_filter='-ScaleTwo.*' "$@"
