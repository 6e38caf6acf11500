#!/usr/bin/env bash
# Sets up what is missing, builds NLCONF, and opens it under Wine with a
# simulated master module on COM5 and a simulated slave on COM6.
#
#   scripts/run.sh           with $DISPLAY set: NLCONF on your display, until
#                            you close it. Without one: a guided tour of its
#                            main job on a private Xvfb display (read both
#                            modules, change the channel, write, Link Test),
#                            a picture after each step in build/demo/ and a
#                            few lines on what each shows and what went over
#                            each line
#   scripts/run.sh --tour    the same tour on your display, then NLCONF stays
#                            open for you
#
# While it runs, another terminal can act on the modules, e.g.:
#   build/native/e2e/rig/simports/simports-ctl build/demo/run press COM6   (reset key)
#   build/native/e2e/rig/simports/simports-ctl build/demo/run radio cut on
# (the full list: e2e/rig/simports/README.md). Module presets can be changed with
# NLCONF_MASTER / NLCONF_SLAVE, e.g. NLCONF_SLAVE="slave:d6=1,baud=5,nb=1,sb=1".
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD

tour=0
while (($#)); do
  case $1 in
    --tour) tour=1; shift ;;
    *) echo "usage: scripts/run.sh [--tour]"; exit 2 ;;
  esac
done

scripts/setup.sh || exit 1
echo "building..."
{ cmake --preset native && cmake --build --preset native &&
  cmake --preset windows && cmake --build --preset windows; } >build-run.log 2>&1 ||
  { tail -n 30 build-run.log; echo "build failed (build-run.log)"; exit 1; }
rm -f build-run.log

demo=$root/build/demo
rm -rf "$demo"
mkdir -p "$demo"
own_display=0
[[ -n ${DISPLAY:-} ]] && own_display=1
saved_display=${DISPLAY:-}

# A demo session may last a working day.
RIG_PROGRAM_LIMIT_S=28800
# shellcheck source=../e2e/rig/rig.sh
source e2e/rig/rig.sh
trap rig_cleanup EXIT
trap 'exit 130' INT TERM

# The work dir goes at the end; the transcripts and screenshot stay.
rig_init "$demo/rig" "$root/build/native" "$root/build/windows" || exit 1
if ((own_display)); then
  export DISPLAY=$saved_display
else
  rig_start_display || exit 1
fi
echo "preparing a Wine prefix (about 10 s)..."
rig_boot_prefix || exit 1
rig_ports add 5 "Simulated Module Port (COM5)" 6 "Simulated Module Port (COM6)" >/dev/null || exit 1
# Flow control on (D7 1, D6 1), as the Flow Control list offers it: the
# presets alone hold D6 0, a pair that no entry names, and a plain Read
# would show RTS in red.
rig_modules_start "$demo" "5=${NLCONF_MASTER:-master:d6=1}" "6=${NLCONF_SLAVE:-slave:d6=1}" || exit 1
rig_start nlconf nlconf.exe
drv_start
if ! drv wait main 30000 >/dev/null; then
  echo "NLCONF did not come up: $(tail -n 3 "$RIG_LOGS/nlconf.err")"
  exit 1
fi
# Both lists start on the first port; the slave's module is on the second.
drv select 4000 "Simulated Module Port (COM6)" >/dev/null
echo "NLCONF is running: master on COM5, slave on COM6; transcripts in build/demo/transcripts"
if ((tour || !own_display)); then
  # shellcheck source=../e2e/rig/tour.sh
  source e2e/rig/tour.sh
  TOUR_DIR=$demo TOUR_TRANSCRIPTS=$demo/transcripts tour_run
  toured=$?
  if ((!own_display)); then
    drv close main >/dev/null
    echo "NLCONF ended with exit code $(rig_exit_status nlconf 20)"
    exit $((toured == 0 ? 0 : 1))
  fi
fi
status=$(rig_exit_status nlconf 100000)
echo "NLCONF ended with exit code $status"
