#!/usr/bin/env bash
# Global shortcuts on a real X display: the systest_shortcuts program.
source "$(dirname "${BASH_SOURCE[0]}")/harness.sh"
sys_begin
[ -x "$SYS_BIN/systest_shortcuts" ] || fail "systest_shortcuts is not built"
QT_QPA_PLATFORM=xcb sys_timeout 90 "$SYS_BIN/systest_shortcuts" "$@"
