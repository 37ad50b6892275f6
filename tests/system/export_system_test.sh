#!/usr/bin/env bash
# Copy, save, Save As and print of an annotated screenshot on a real X
# display: runs the systest_export program (GoogleTest) with the xcb platform,
# at scale 1 and 2.
source "$(dirname "${BASH_SOURCE[0]}")/harness.sh"
sys_begin
sys_each_scale systest_export "$@"
