#!/usr/bin/env bash
# Prints how long each module operation takes in virtual time, beside its floor.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset native >/dev/null
cmake --build --preset native --target nlconf_durations >/dev/null
build/native/tests/nlconf_durations
