#!/usr/bin/env bash
# The crop selection and the ruler in a window at scale 1 and 2: a dragged
# selection's size label, Return handing over exactly the selected pixels,
# and a held arrow key measuring a bar.
source "$(dirname "${BASH_SOURCE[0]}")/harness.sh"
sys_begin
sys_each_scale systest_crop "$@"
