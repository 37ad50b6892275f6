#!/usr/bin/env bash
# The editor canvas in a window at scale 1 and 2: wheel zoom about the
# pointer, Space+drag pan, and the screen against the picture resampled.
source "$(dirname "${BASH_SOURCE[0]}")/harness.sh"
sys_begin
[ -x "$SYS_BIN/systest_canvas" ] || fail "systest_canvas is not built"
for scale in 1 2; do
  echo "== scale $scale"
  QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR=$scale sys_timeout 60 "$SYS_BIN/systest_canvas" "$@"
done
