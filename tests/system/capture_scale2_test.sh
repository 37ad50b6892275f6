#!/usr/bin/env bash
# The capture system tests that check physical pixels at a device-pixel ratio of 2.
source "$(dirname "${BASH_SOURCE[0]}")/harness.sh"
sys_begin
[ -x "$SYS_BIN/systest_capture" ] || fail "systest_capture is not built"
QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR=2 "$SYS_BIN/systest_capture" --gtest_filter='ScaleTwo.*' "$@"
