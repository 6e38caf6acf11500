#!/usr/bin/env bash
# How long the module operations take, beside their floor: the guard delays
# the program keeps, the module's guard time after each "+++", the fixed read
# windows and the bytes on the line at their rate. A report for people, not
# a test.
#
#   scripts/bench.sh          in virtual time against simulated modules
#                             (tests/bench/durations.cpp)
#   scripts/bench.sh --wine   through nlconf.exe's window under Wine, against
#                             simports' modules in real time: each operation
#                             three times from a fresh start, the minimum and
#                             median wall time from the click to what the user
#                             sees, beside the same floor, and their ratios;
#                             then as often with the line log recording, its
#                             window closed and open, and the change of the
#                             medians
#   scripts/bench.sh --cli    through the Linux nlconf-cli (the cli preset's
#                             optimised build) against simports' modules in
#                             real time: each operation three times from fresh
#                             modules, from the start of the program to the end
#                             of its results, beside the same floors; then one
#                             pair run beside four fixtures' at once
set -uo pipefail
cd "$(dirname "$0")/.."

cli=0
case ${1:-} in
  "") wine=0 ;;
  --wine) wine=1 ;;
  --cli) wine=0 cli=1 ;;
  *)
    echo "usage: scripts/bench.sh [--wine | --cli]" >&2
    exit 2
    ;;
esac

build() {
  cmake --preset "$1" >/dev/null && cmake --build --preset "$1" "${@:2}" >/dev/null
}

scripts/setup.sh >/dev/null || exit 1
build native --target nlconf_durations || { echo "build failed"; exit 1; }
((wine || cli)) || exec build/native/tests/nlconf_durations
if ((cli)); then
  exec scripts/bench_cli.sh
fi
if ! build native || ! build windows || ! build windows --target nlconf_unlogged; then
  echo "build failed"
  exit 1
fi
virtual=$(build/native/tests/nlconf_durations) || exit 1

readonly RUNS=3
readonly OPERATION_LIMIT_MS=60000
readonly COM5="Simulated Module Port (COM5)" COM6="Simulated Module Port (COM6)"

# floor OPERATION BAUD: the virtual bench's floor for it, in ms.
floor() {
  awk -v op="$1" -v baud="$2" '{ name = substr($0, 1, 30); sub(/ +$/, "", name)
    split(substr($0, 31), f) } name == op && f[1] == baud { print f[3] }' <<<"$virtual"
}

# shellcheck source=../e2e/rig/rig.sh
source e2e/rig/rig.sh
trap rig_cleanup EXIT
trap 'exit 130' INT TERM
rig_init "$(mktemp -d)" "$PWD/build/native" "$PWD/build/windows" || exit 1
rig_start_display && rig_boot_prefix || exit 1
rig_keep_wine_up
rig_ports add 5 "$COM5" 6 "$COM6" >/dev/null || exit 1
rig_port_state
cp build/windows/app/nlconf_unlogged.exe "$RIG_RUN/" || exit 1

# session PORT-SPEC...: fresh modules and a fresh program, its main dialog up;
# with LOGGED=1 the line log records, with 2 its window is open throughout too.
LOGGED=0
session() {
  rig_stop nlconf
  drv_stop
  rig_modules_start "$RIG_LOGS/modules" "$@" >/dev/null || return 1
  if ((LOGGED)); then
    rig_start nlconf nlconf.exe
  else
    rig_start nlconf nlconf_unlogged.exe
  fi
  drv_start
  drv wait main 30000 >/dev/null || return 1
  if ((LOGGED == 2)); then
    drv key ctrl+l --input >/dev/null && drv wait "caption=NLCONF - Line Log" 5000 >/dev/null
  fi
}

# read_pane BASE COMn BAUD: Read, the reset key pressed as soon as the
# program pulses break for it (at 115200); prints the time it took.
read_pane() {
  local base=$1 port=$2 baud=$3
  if ((base == 4000)); then
    drv select 4000 "$COM6" >/dev/null || return 1
  fi
  if ((baud != 9600)); then
    rig_ctl press "$port" after-break 1 >/dev/null || return 1
  fi
  drv click $((base + 1)) >/dev/null || return 1
  [[ $(drv outcome "$OPERATION_LIMIT_MS") == "done" ]] && drv took
}

# write_field ID ENTRY: the master read, one field changed, Write.
write_field() {
  session 5=master 6=slave && read_pane 3000 COM5 9600 >/dev/null &&
    drv select "$1" "$2" >/dev/null && drv click 3002 >/dev/null &&
    [[ $(drv outcome "$OPERATION_LIMIT_MS") == "done" ]] && drv took
}

# link BAUD: both panes read, then Link Test until its verdict shows.
link() {
  local code=3
  ((${1} == 115200)) && code=7
  session "5=master:baud=$code" "6=slave:baud=$code" &&
    read_pane 3000 COM5 "$1" >/dev/null && read_pane 4000 COM6 "$1" >/dev/null &&
    drv click 1003 >/dev/null && drv wait linkresult "$OPERATION_LIMIT_MS" >/dev/null &&
    [[ $(drv linkresult) == "Link OK. blue" ]] && drv took
}

# ---- range test (its own section, kept apart for merges) ----
# range_test: both panes read, then the Range Test window's defaults (100
# packets of 32 bytes each way) from Start until it says it is done.
range_test() {
  local window="caption=NLCONF - Range Test" t0 status
  session 5=master 6=slave && read_pane 3000 COM5 9600 >/dev/null &&
    read_pane 4000 COM6 9600 >/dev/null && drv key ctrl+r --input >/dev/null &&
    drv wait "$window" 5000 >/dev/null || return 1
  t0=$(date +%s%3N)
  drv click 1 --in "$window" >/dev/null || return 1
  while status=$(drv text 210 --in "$window") && [[ $status == Running* ]]; do
    (($(date +%s%3N) - t0 > OPERATION_LIMIT_MS)) && return 1
    sleep 0.05
  done
  [[ $status == "Done in "* ]] && echo $(($(date +%s%3N) - t0))
}
# ---- end of range test ----

# ---- pair run (its own section, kept apart for merges) ----
# pair_run: modules that are no pair, started with a profile that moves both
# to channel 14 and pairs them; F5 until the result window shows PASS.
pair_run() {
  local t0 profile="$RIG_RUN/pair.ini" port
  printf '%s\r\n' '[Master]' 'Channel = 14' '[Slave]' 'Channel = 14' '[Pair]' 'Make Pair = Yes' \
    >"$profile"
  rig_stop nlconf
  drv_stop
  rig_modules_start "$RIG_LOGS/modules" 5=master 6=slave >/dev/null || return 1
  for port in COM5 COM6; do
    rig_ctl set "$port" DL 40B0A0FF >/dev/null || return 1
  done
  rig_ctl set COM6 ID 4E4C303032 >/dev/null || return 1
  if ((LOGGED)); then
    rig_start nlconf nlconf.exe "Z:${profile//\//\\}"
  else
    rig_start nlconf nlconf_unlogged.exe "Z:${profile//\//\\}"
  fi
  drv_start
  drv wait main 30000 >/dev/null || return 1
  drv wait msgbox 3000 >/dev/null && drv msgbox-ok >/dev/null
  drv select 4000 "$COM6" >/dev/null || return 1
  if ((LOGGED == 2)); then
    drv key ctrl+l --input >/dev/null && drv wait "caption=NLCONF - Line Log" 5000 >/dev/null
  fi
  t0=$(date +%s%3N)
  drv key f5 >/dev/null && drv wait linkresult "$OPERATION_LIMIT_MS" >/dev/null || return 1
  local took=$(($(date +%s%3N) - t0))
  [[ $(drv linkresult) == PASS* ]] && echo "$took"
}
# ---- end of pair run ----

read_master() {
  local code=3
  ((${1} == 115200)) && code=7
  session "5=master:baud=$code" 6=slave && read_pane 3000 COM5 "$1"
}

# median TIMES...: the middle one, sorted (the upper of the two middle ones).
median() {
  printf '%s\n' "$@" | sort -n | awk '{ t[NR] = $1 } END { print t[int(NR / 2) + 1] }'
}

# row LABEL OPERATION BAUD COMMAND...: the command RUNS times without the
# line log, with it and with its window open, in turns, each printing the
# milliseconds it took (nothing when the operation failed).
row() {
  local label=$1 operation=$2 baud=$3 i ms failed=0
  local -a plain=() logged=() shown=()
  shift 3
  for ((i = 0; i < 3 * RUNS; i++)); do
    LOGGED=$((i % 3))
    # Not in a subshell: the rig must know what it started.
    "$@" >"$RIG_WORK/took"
    ms=$(tail -n 1 "$RIG_WORK/took")
    if [[ ! $ms =~ ^[0-9]+$ ]]; then
      failed=$((failed + 1))
    elif ((LOGGED == 0)); then
      plain+=("$ms")
    elif ((LOGGED == 1)); then
      logged+=("$ms")
    else
      shown+=("$ms")
    fi
  done
  local base note=""
  base=$(floor "$operation" "$baud")
  if ((${#plain[@]} == 0 || ${#logged[@]} == 0 || ${#shown[@]} == 0)) || [[ -z $base ]]; then
    printf '%-24s %7s  no measurement (%d of %d runs failed)\n' "$label" "$baud" "$failed" \
      $((3 * RUNS))
    return
  fi
  ((failed == 0)) || note="  ($failed of $((3 * RUNS)) runs failed)"
  local min
  min=$(printf '%s\n' "${plain[@]}" | sort -n | head -n 1)
  awk -v l="$label" -v b="$baud" -v mn="$min" -v md="$(median "${plain[@]}")" -v f="$base" \
    -v lg="$(median "${logged[@]}")" -v sh="$(median "${shown[@]}")" -v n="$note" \
    'BEGIN { printf "%-24s %7s %9d %9d %9.1f %8.2f %9d %+7.2f%% %9d %+7.2f%%%s\n", l, b, mn, md, f,
             md / f, lg, 100 * (lg - md) / md, sh, 100 * (sh - md) / md, n }'
}

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-24s %7s %9s %9s %9s %8s %9s %8s %9s %8s\n' "operation (under Wine)" baud "min ms" \
  "median ms" "floor ms" "med/flr" "logged" "change" "shown" "change"
row "read" read 9600 read_master 9600
row "read, by the reset key" read 115200 read_master 115200
row "write, power level" "write, power level" 9600 write_field 3011 Low
row "write, channel change" "write, channel change" 9600 write_field 3007 12
row "link test" "link test" 9600 link 9600
row "link test" "link test" 115200 link 115200
row "range test, 100 x 32" "range test, 100 x 32 each way" 9600 range_test
row "pair run" "pair run (read, write, link)" 9600 pair_run
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "Wall time from the click (the driver's BM_CLICK) to what the user sees: the progress"
echo "dialog gone with no box, the link verdict shown, or the Range Test's window saying it is"
echo "done (polled every 50 ms); $RUNS runs each, each from a fresh"
echo "program and fresh modules. Floors as in plain scripts/bench.sh, in virtual time."
echo "Without the line log (nlconf_unlogged.exe), then medians with it recording (\"logged\")"
echo "and with its window open too (\"shown\"), the runs in turns; \"change\": against the first."
