#!/usr/bin/env bash
# The user's journeys through nlconf.exe under Wine, end to end: module models
# behind COM ports (simports, with the modem shim in the program's process),
# the program driven and read from outside as a user would (ui_driver).
#
#   e2e/journeys/run.sh <native build> <windows build> <out dir> [journey...]
#
# One Xvfb and one Wine prefix serve the whole run; each journey gets fresh
# modules and a fresh program. A journey is a file NN_name.sh here defining
# journey_name; naming journeys (by name or number) runs only those. A
# failing journey keeps its screenshots, port transcripts, driver log and
# program output in <out dir>/<journey>/; JOURNEYS_KEEP=all keeps every
# journey's; JR_WINEDEBUG (for example +file,+timestamp) puts a Wine trace of
# the program into its nlconf.err. Every process started here is stopped on
# the way out. Ends with
# "journeys: N passed, M failed", counting checks.
set -uo pipefail

if [[ $# -lt 3 ]]; then
  echo "usage: $0 <native build> <windows build> <out dir> [journey...]" >&2
  exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
native=$(cd "$1" 2>/dev/null && pwd) || { echo "no native build dir $1"; exit 2; }
windows=$(cd "$2" 2>/dev/null && pwd) || { echo "no windows build dir $2"; exit 2; }
out=$3
shift 3

# shellcheck source=lib.sh
source "$here/lib.sh"

summary() {
  if ((${#JR_FAILED_JOURNEYS[@]})); then
    echo "failing journeys: ${JR_FAILED_JOURNEYS[*]} (evidence in $out/<journey>/)"
  fi
  echo "journeys: $JR_PASSED passed, $JR_FAILED failed"
}

finish() {
  local status=$?
  # A journey cut short (a signal) still loses its processes, not its evidence.
  [[ -n $JR_NAME ]] && jr_end
  rig_cleanup
  summary
  exit $((status != 0 || JR_FAILED != 0))
}
trap finish EXIT
trap 'exit 130' INT TERM HUP

started=$SECONDS
if ! jr_setup "$native" "$windows" "$out"; then
  jr_fail_outside setup rig "no display, prefix or ports (see above)"
  exit 1
fi
echo "display $DISPLAY, prefix booted, ports COM5 and COM6 registered in $((SECONDS - started)) s"

wanted() {
  local file=$1 want
  ((${#selection[@]} == 0)) && return 0
  for want in "${selection[@]}"; do
    [[ $file == "$want"_* || $file == *_"$want" || $file == "$want" ]] && return 0
  done
  return 1
}

selection=("$@")
for file in "$here"/[0-9][0-9]_*.sh; do
  base=$(basename "$file" .sh)
  wanted "$base" || continue
  # shellcheck source=/dev/null
  source "$file"
  name=${base#[0-9][0-9]_}
  if ! declare -F "journey_$name" >/dev/null; then
    jr_fail_outside "$base" defined "$file defines no journey_$name"
    continue
  fi
  "journey_$name" "$base"
  [[ -n $JR_NAME ]] && jr_end
done
echo "whole run $((SECONDS - started)) s"
