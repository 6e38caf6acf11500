#!/usr/bin/env bash
# Takes the user's guide's pictures again: the run command's guided tour on
# a private display, each picture cut to the program's windows (the screen's
# empty background trimmed away), into docs/pictures/.
set -euo pipefail
cd "$(dirname "$0")/.."
env -u DISPLAY scripts/run.sh
mkdir -p docs/pictures
for name in 02-slave-read 03-channel-changed 06-link-test 07-line-log 08-link-ng 09-reset-prompt \
  07b-range-test 07c-terminal 10-production 11-pass 12-fail-swapped 13-record; do
  convert "build/demo/$name.png" -trim +repage "docs/pictures/$name.png"
done
ls -l docs/pictures
