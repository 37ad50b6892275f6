#!/usr/bin/env bash
# Copy, save, Save As and print of an annotated screenshot on a real X
# display: runs the systest_export program (GoogleTest) with the xcb platform.
source "$(dirname "${BASH_SOURCE[0]}")/harness.sh"
sys_begin
[ -x "$SYS_BIN/systest_export" ] || fail "systest_export is not built"
QT_QPA_PLATFORM=xcb timeout 120 "$SYS_BIN/systest_export" "$@"
