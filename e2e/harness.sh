#!/usr/bin/env bash
# The Windows tests under Wine, as one run: one Xvfb display and one Wine
# prefix for everything; then the console checks (e2e/checks), the rig's own
# checks and the user's journeys (e2e/journeys), each a step with fresh
# module models and a fresh program where it needs them.
#
#   e2e/harness.sh <native build> <windows build> <out dir> [step...]
#
# Naming steps (by name, a journey also by its number) runs only those. A
# failing step keeps its evidence in <out dir>/<step>/: the screen at the
# first failure, the programs' output, the driver's transcript and the
# modules' transcripts; E2E_KEEP=all keeps every step's. E2E_SHARD=K/N runs
# only the Kth (0-based) of N parts of the selected steps, so that N runs
# with their own display and prefix share the work. RIG_WINEDEBUG (for
# example +file,+timestamp) puts a Wine trace into each program's .err.
# Every process started here is stopped on the way out. Prints each step's
# time, and ends with "e2e: N passed, M failed", counting checks.
set -uo pipefail

if [[ $# -lt 3 ]]; then
  echo "usage: $0 <native build> <windows build> <out dir> [step...]" >&2
  exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
native=$(cd "$1" 2>/dev/null && pwd) || { echo "no native build dir $1"; exit 2; }
windows=$(cd "$2" 2>/dev/null && pwd) || { echo "no windows build dir $2"; exit 2; }
if ! mkdir -p "$3"; then
  echo "cannot make $3"
  exit 2
fi
E2E_OUT=$(cd "$3" && pwd)
shift 3
selection=("$@")

readonly CHECK_LIMIT_S=120
# shellcheck disable=SC2034 # the steps' own limits
readonly EXIT_LIMIT_S=20 APPEAR_MS=30000

# shellcheck source=rig/rig.sh
source "$here/rig/rig.sh"
# shellcheck source=journeys/lib.sh
source "$here/journeys/lib.sh"
# shellcheck source=rig/selfcheck.sh
source "$here/rig/selfcheck.sh"
# shellcheck source=driver/selfcheck.sh
source "$here/driver/selfcheck.sh"

# ---------------------------------------------------------------- checks

PASSED=0
FAILED=0
SKIPPED=0
STEP=""
STEP_FAILED=0
STEP_SHOT=0
declare -a STEP_TIMES=() FAILED_STEPS=()

pass() {
  echo "PASS $STEP/$1"
  PASSED=$((PASSED + 1))
}

fail() {
  echo "FAIL $STEP/$1: $2$(jr_driver_complaint)"
  FAILED=$((FAILED + 1))
  step__failed
}

# The screen as it was at the first fault is the one worth keeping.
step__failed() {
  STEP_FAILED=1
  if ((STEP_SHOT == 0)) && [[ -n $STEP ]]; then
    STEP_SHOT=1
    rig_shot "$RIG_LOGS/at-first-failure.png"
  fi
}

note() {
  echo "INFO $STEP: $*"
}

# expect NAME EXPECTED ACTUAL
expect() {
  if [[ $3 == "$2" ]]; then
    pass "$1"
  else
    fail "$1" "expected [${2//$'\n'/|}], got [${3//$'\n'/|}]"
  fi
}

# expect_match NAME EXTENDED-REGEX ACTUAL
expect_match() {
  if [[ $3 =~ $2 ]]; then
    pass "$1"
  else
    fail "$1" "expected /$2/, got [${3//$'\n'/|}]"
  fi
}

# check NAME COMMAND...: the command succeeds (its output is dropped).
check() {
  local name=$1
  shift
  local output status
  output=$("$@" 2>&1)
  status=$?
  if ((status == 0)); then
    pass "$name"
  else
    fail "$name" "exit status $status: $(tail -n 3 <<<"$output" | tr '\n' '|')"
  fi
}

# expect_status NAME STATUS COMMAND...: the command's exit status.
expect_status() {
  local name=$1 want=$2
  shift 2
  "$@" >/dev/null
  local got=$?
  if [[ $got -eq $want ]]; then
    pass "$name"
  else
    fail "$name" "exit status $got, expected $want"
  fi
}

lines_matching() {
  tr -d '\r' <"$1" 2>/dev/null | grep -Ec -- "$2"
}

# expect_count NAME FILE REGEX N: N matching lines, given 5 s to come.
expect_count() {
  local i
  for ((i = 0; i < 50; i++)); do
    (($(lines_matching "$2" "$3") >= $4)) && break
    sleep 0.1
  done
  expect "$1" "$4" "$(lines_matching "$2" "$3")"
}

# expect_line NAME FILE REGEX: a matching line, given 5 s to come.
expect_line() {
  local i
  for ((i = 0; i < 50; i++)); do
    (($(lines_matching "$2" "$3") >= 1)) && { pass "$1"; return; }
    sleep 0.1
  done
  fail "$1" "no line /$3/ in $(basename "$2"): $(tr -d '\r' <"$2" | tail -n 3 | tr '\n' '|')"
}

# run_check NAME LIMIT EXE [ARGS]: a console check under Wine; its PASS,
# FAIL and SKIP lines shown under the step's name and counted.
run_check() {
  local name=$1 limit=$2
  shift 2
  rig_run "$name" "$limit" "$@"
  local status=$? label=$STEP/
  [[ $name == "$STEP" ]] || label="$STEP/$name: "
  sed -E "s#^(PASS|FAIL|SKIP) #\\1 $label#" "$RIG_LOGS/$name.out"
  local ok bad skipped
  ok=$(grep -c '^PASS ' "$RIG_LOGS/$name.out")
  bad=$(grep -c '^FAIL ' "$RIG_LOGS/$name.out")
  skipped=$(grep -c '^SKIP ' "$RIG_LOGS/$name.out")
  PASSED=$((PASSED + ok))
  FAILED=$((FAILED + bad))
  SKIPPED=$((SKIPPED + skipped))
  ((bad == 0)) || step__failed
  if [[ $status -eq 124 || $status -eq 137 ]]; then
    fail "$name" "no end within $limit s; the check after the last line above hung"
  elif [[ $status -ne 0 && $bad -eq 0 ]]; then
    fail "$name" "exit status $status without a FAIL line; $(tr -d '\r' <"$RIG_LOGS/$name.err" | tail -n 3)"
  elif [[ $ok -eq 0 && $bad -eq 0 ]]; then
    fail "$name" "no check ran"
  fi
}

# ---------------------------------------------------------------- steps

shard=${E2E_SHARD:-0/1}
if [[ ! $shard =~ ^([0-9]+)/([1-9][0-9]*)$ ]] || ((BASH_REMATCH[1] >= BASH_REMATCH[2])); then
  echo "E2E_SHARD is K/N with 0 <= K < N, not $shard" >&2
  exit 2
fi
SHARD_INDEX=${BASH_REMATCH[1]}
SHARD_COUNT=${BASH_REMATCH[2]}
# About how long a step takes here, in seconds (measured alone on two cores).
step_estimate() {
  case $1 in
    screen_fit) echo 50 ;;
    cli | 16_* | 19_*) echo 36 ;;
    03_*) echo 31 ;;
    17_* | 14_*) echo 24 ;;
    15_* | 07_* | link_over_wine) echo 21 ;;
    21_* | view_thread_check) echo 25 ;;
    05_* | 06_* | 18_*) echo 16 ;;
    09_* | 11_*) echo 13 ;;
    04_* | 10_* | 20_found_again | text_fit_dpi) echo 11 ;;
    13_*) echo 10 ;;
    text_fit | 02_* | 20_terminal) echo 6 ;;
    *) echo 3 ;;
  esac
}

# The runs side by side share the selected steps out longest first, each to
# the run with the least so far; every run works out the same sharing and
# keeps its own part. A step the plan never saw runs in the first.
PLANNING=0
declare -a PLANNED=()
declare -A SHARD_OF=()
plan_shards() {
  local -a loads=() sorted=()
  local name least i
  for ((i = 0; i < SHARD_COUNT; i++)); do loads[i]=0; done
  mapfile -t sorted < <(for name in "${PLANNED[@]}"; do
    printf '%s %s\n' "$(step_estimate "$name")" "$name"
  done | sort -s -k1,1nr | cut -d' ' -f2)
  for name in "${sorted[@]}"; do
    least=0
    for ((i = 1; i < SHARD_COUNT; i++)); do
      ((loads[i] < loads[least])) && least=$i
    done
    SHARD_OF[$name]=$least
    loads[least]=$((loads[least] + $(step_estimate "$name")))
  done
}

in_shard() {
  ((${SHARD_OF[$1]:-0} == SHARD_INDEX))
}

wanted() {
  local name=$1 want
  ((${#selection[@]} == 0)) && return 0
  for want in "${selection[@]}"; do
    [[ $name == "$want" || $name == "$want"_* || $name == *_"$want" ]] && return 0
  done
  return 1
}

now_ms() {
  date +%s%3N
}

# step NAME FUNCTION [ARGS]: one step, its programs and modules stopped and
# its evidence kept (on a failure) whatever the function leaves.
step() {
  local name=$1
  shift
  wanted "$name" || return 0
  if ((PLANNING)); then
    PLANNED+=("$name")
    return 0
  fi
  in_shard "$name" || return 0
  STEP=$name
  STEP_FAILED=0
  STEP_SHOT=0
  RIG_LOGS=$RIG_WORK/steps/$name
  mkdir -p "$RIG_LOGS"
  echo "== $name"
  local started
  started=$(now_ms)
  "$@"
  step_end "$started"
}

# nlconf.exe processes of this run's prefix.
programs_left() {
  local pid
  for pid in $(pgrep -u "$(id -u)" -f 'nlconf\.exe'); do
    tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" && echo "$pid"
  done
}

step_end() {
  local started=$1 name
  for name in "${!RIG_PIDS[@]}"; do
    [[ $name == keep-wine-up ]] && continue
    # A step that stopped half-way may leave a box up: the program goes the
    # hard way then, which is no part of what is checked.
    if [[ $(rig_exit_status "$name" 0) == running ]] && ((STEP_SHOT == 0)); then
      STEP_SHOT=1
      rig_shot "$RIG_LOGS/at-end.png"
    fi
    rig_stop "$name"
  done
  drv_stop
  # A program left up would hold its boxes and ports into the next step.
  local left
  left=$(programs_left | paste -sd' ')
  if [[ -n $left ]]; then
    fail program-stopped "still running after the step: pid $left"
    # shellcheck disable=SC2086 # one pid per word
    kill -KILL $left 2>/dev/null
  fi
  rig_modules_stop
  # Wine reports a crash on standard error even with its debug output off.
  local crash
  crash=$(grep -hiE 'unhandled|page fault|exception|assertion' "$RIG_LOGS/nlconf.err" 2>/dev/null)
  [[ -z $crash ]] || fail program-crashed "$(head -n 3 <<<"$crash" | tr '\n' '|')"
  local kept="" seconds verdict=passed
  if ((STEP_FAILED)) || [[ ${E2E_KEEP:-} == all ]]; then
    rm -rf "${E2E_OUT:?}/$STEP"
    cp -r "$RIG_LOGS" "$E2E_OUT/$STEP" && kept=" (kept in $E2E_OUT/$STEP)"
  fi
  ((STEP_FAILED)) && verdict=FAILED && FAILED_STEPS+=("$STEP")
  seconds=$(awk -v ms=$(($(now_ms) - started)) 'BEGIN { printf "%.1f", ms / 1000 }')
  echo "== $STEP $verdict in $seconds s$kept"
  STEP_TIMES+=("$(printf '%-28s %-7s %6s s' "$STEP" "$verdict" "$seconds")")
  rm -rf "$RIG_LOGS"
  RIG_LOGS=$RIG_WORK/logs
  STEP=""
}

summary() {
  if ((${#STEP_TIMES[@]})); then
    echo "-- step times"
    printf '%s\n' "${STEP_TIMES[@]}"
  fi
  if ((${#FAILED_STEPS[@]})); then
    echo "failing steps: ${FAILED_STEPS[*]} (evidence in $E2E_OUT/<step>/)"
  fi
  local skipped=""
  ((SKIPPED == 0)) || skipped=", $SKIPPED skipped"
  echo "e2e: $PASSED passed, $FAILED failed$skipped"
}

finish() {
  local status=$?
  ((status == 130)) && STEP=${STEP:-harness} fail interrupted "stopped by a signal"
  # A step cut short still loses its processes, not its evidence.
  [[ -n $STEP ]] && step_end "$(now_ms)"
  rig_cleanup
  summary
  exit $((status != 0 || FAILED != 0))
}
trap finish EXIT
trap 'exit 130' INT TERM HUP

# ---------------------------------------------------------------- console checks

check_alone() {
  run_check "$STEP" "$CHECK_LIMIT_S" "$STEP.exe"
}

# The view's rule over real operations too: a master and a slave of its own.
check_view_thread() {
  jr_bench 5=master 6=slave || return
  run_check view_thread_check "$CHECK_LIMIT_S" view_thread_check.exe 5 6
  rig_modules_stop
}

# The Win32 binding on a plain line that answers at once.
check_serial_smoke() {
  rig_modules_start "$RIG_LOGS" 5=echo || { fail echo-line "no echo line on COM5"; return; }
  run_check serial_smoke 60 serial_smoke.exe 5
}

windows_path() {
  echo "Z:${1//\//\\}"
}

# The link code against a master at 9600 8N1 and a slave at 38400 8E2; then
# simports itself: its status, and its links gone once it is stopped.
check_link_over_wine() {
  if ! rig_modules_start "$RIG_LOGS" 5=master 6=slave:baud=5,nb=1,sb=1; then
    fail modules "no modules on COM5 and COM6"
    return
  fi
  run_check link_over_wine "$CHECK_LIMIT_S" link_over_wine.exe \
    "$(windows_path "$RIG_MODULES_RUN/control")" "$(windows_path "$RIG_LOGS/transcripts")" 5 6
  if rig_ctl status >"$RIG_LOGS/status.out" 2>&1; then
    sed 's/^/INFO simports status: /' "$RIG_LOGS/status.out"
    pass "simports answers on its control socket"
  else
    fail simports-ctl "no status from simports: $(tail -n 2 "$RIG_LOGS/status.out")"
  fi
  rig_modules_stop
  local status=$? left="" n
  for n in 5 6; do
    [[ -L $WINEPREFIX/dosdevices/com$n ]] && left+=" com$n"
  done
  if [[ $status -eq 0 && -z $left ]]; then
    pass "simports stops on SIGTERM and removes its links"
  else
    fail simports-stop "exit status $status, links left:${left:- none}"
  fi
}

# The Linux runs' modules: twins of the Wine runs' behind a simports of their
# own (with its own radio), so that both runs of a command go at once and
# neither meets the other's bytes within the module's guard time.
CLI_TWINS_RUN=""
CLI_TWINS_DEV=""
cli__twins_start() {
  local dir=$RIG_LOGS/linux spec args=() i
  CLI_TWINS_RUN=$dir/run CLI_TWINS_DEV=$dir/dev
  mkdir -p "$CLI_TWINS_RUN" "$CLI_TWINS_DEV" "$dir/transcripts" || return 1
  for spec in "$@"; do
    args+=(--port "$spec")
  done
  (
    rig__close_driver
    exec "$RIG_NATIVE/e2e/rig/simports/simports" --dosdevices "$CLI_TWINS_DEV" \
      --run-dir "$CLI_TWINS_RUN" --transcripts "$dir/transcripts" \
      --time-limit "$RIG_PROGRAM_LIMIT_S" "${args[@]}"
  ) </dev/null >"$dir/simports.out" 2>"$dir/simports.err" &
  RIG_PIDS[linux-modules]=$!
  for ((i = 0; i < RIG_READY_LIMIT_S * 10; i++)); do
    grep -q '^ready' "$dir/simports.out" && return 0
    sleep 0.1
  done
  return 1
}

cli__press_both() {
  rig_ctl press "$1" after-break 1 >/dev/null
  timeout 10 "$RIG_NATIVE/e2e/rig/simports/simports-ctl" "$CLI_TWINS_RUN" press "$1" after-break 1 \
    >/dev/null
}

# nlconf-cli.exe prints what the Linux nlconf-cli prints, and ends the same,
# for the same commands on the same modules.
check_cli() {
  local -a modules=(5=master 6=slave 7=slave:baud=5,nb=1,sb=1 8=master)
  if ! rig_modules_start "$RIG_LOGS" "${modules[@]}" || ! cli__twins_start "${modules[@]}"; then
    fail modules "no modules on COM5 to COM8, or no twins of them"
    return
  fi
  local dev=$CLI_TWINS_DEV cmd i=0 status native_status wine_run
  # The Linux twin's port notes are its own, as Wine's are in its prefix: a
  # note another run left would spare it a reset key the other is asked for.
  local notes=$RIG_LOGS/native-notes
  printf '[Master]\nChannel = 12\nBaud Rate = 12345\n' >"$RIG_LOGS/bad.ini"
  local -a args native_args commands=(
    "read COM5" "read COM6 --json" "write COM6 --role slave --set Channel=12 --dry-run"
    "write COM5 --role master $(windows_path "$RIG_LOGS/bad.ini")" "link-test COM5 COM6"
    "pair COM5 COM6 --make-pair" "read COM7" "write COM8 --role master --set Channel=13"
    "help write" "read COM5 --log --set x" "pair COM5 COM5" "pair COM5 COM6 --json"
    "link-test COM5 COM6 --json" "write COM6 --role slave --set Channel=12 --dry-run --json"
    "at COM5 ATCH ATZZ" "at COM5 ATNI --json")
  for cmd in "${commands[@]}"; do
    i=$((i + 1))
    read -ra args <<<"$cmd"
    # The module on COM7 talks at 38400 8E2: its reset key, pressed at the pulses.
    [[ $cmd == *COM7* ]] && cli__press_both COM7
    rig_run "cli$i" 60 nlconf-cli.exe "${args[@]}" &
    wine_run=$!
    native_args=("${args[@]/#COM/$dev/com}")
    native_args=("${native_args[@]/#Z:*/$RIG_LOGS/bad.ini}")
    NLCONF_PORT_NOTES=$notes LD_PRELOAD=$RIG_NATIVE/e2e/rig/simports/modemshim.so \
      ASAN_OPTIONS=verify_asan_link_order=0 NLCONF_SIMPORTS_DIR=$CLI_TWINS_RUN \
      timeout 60 "$RIG_NATIVE/cli/nlconf-cli" \
      "${native_args[@]}" >"$RIG_LOGS/cli$i.native.out" 2>"$RIG_LOGS/cli$i.native.err"
    native_status=$?
    wait "$wine_run"
    status=$?
    [[ $cmd == *COM7* ]] && cli__press_both COM7
    # A refusal names the file, and the outputs the ports, as each system
    # spells them; a run's duration is its own.
    sed -i 's/^.*bad\.ini, line/bad.ini, line/' "$RIG_LOGS/cli$i.native.err" "$RIG_LOGS/cli$i.err"
    sed -i "s|$dev/com\([0-9]\)|COM\1|g" "$RIG_LOGS/cli$i.native.out" "$RIG_LOGS/cli$i.native.err"
    sed -i 's/"duration_ms": [0-9]*/"duration_ms": 0/; s/"ms": [0-9]*/"ms": 0/g' "$RIG_LOGS/cli$i.native.out" "$RIG_LOGS/cli$i.out"
    tr -d '\r' <"$RIG_LOGS/cli$i.err" >"$RIG_LOGS/cli$i.err.lf"
    if [[ -s $RIG_LOGS/cli$i.out || -s $RIG_LOGS/cli$i.err.lf ]] &&
      [[ $status == "$native_status" ]] && cmp -s "$RIG_LOGS/cli$i.out" "$RIG_LOGS/cli$i.native.out" &&
      cmp -s "$RIG_LOGS/cli$i.err.lf" "$RIG_LOGS/cli$i.native.err"; then
      pass "nlconf-cli $cmd: the same on both systems (exit $status)"
    else
      fail "cli$i" "nlconf-cli $cmd: exit $status under Wine, $native_status on Linux; see cli$i.*"
    fi
  done
  rig_stop linux-modules
  # range-test names the ports as each system does: its JSON is checked instead.
  # A packet later than its wait counts as lost, and a loaded machine makes
  # some late under Wine: the counts must add up and packets get through.
  rig_run cli-range 60 nlconf-cli.exe range-test COM5 COM6 --count 20 --json
  status=$?
  if ((status == 0 || status == 6)) && python3 -c 'import json, sys; j = json.load(open(sys.argv[1]))
d = j["directions"]
sys.exit(0 if [(x["from"], x["to"], x["sent"]) for x in d] == [("COM5", "COM6", 20),
         ("COM6", "COM5", 20)] and all(x["received"] + x["lost"] == 20 and x["received"] >= 10
         and (x["received"] == 20) == (x["received_percent"] == 100) for x in d)
         and (sys.argv[2] == "0") == all(x["received"] == 20 for x in d) else 1)' \
    "$RIG_LOGS/cli-range.out" "$status"; then
    pass "nlconf-cli range-test: 20 packets each way, the JSON names COM5 and COM6"
  else
    fail cli-range "nlconf-cli range-test: exit $status; see cli-range.*"
  fi
  # Ctrl+C while the read waits for the module's reset key, as long as the
  # program holds it (Wine makes the console's Ctrl+C of a SIGINT to the
  # program's own process, not to timeout, which would pass it on twice):
  # Cancel, and the module is left out of command mode.
  local p program="" i
  rig_ctl fault COM5 replace +++ 'ERROR\r' >/dev/null
  rm -f "$RIG_LOGS/cli-cancel.err"
  rig__spawn cli-cancel 60 nlconf-cli.exe read COM5
  for ((i = 0; i < 600; i++)); do
    grep -q "Please press the reset key" "$RIG_LOGS/cli-cancel.err" 2>/dev/null && break
    sleep 0.05
  done
  for p in $(rig__tree "${RIG_PIDS[cli-cancel]}"); do
    [[ $(cat "/proc/$p/comm" 2>/dev/null) == nlconf-cli.exe ]] && program=$p
  done
  [[ -n $program ]] && kill -INT "$program"
  status=$(rig_exit_status cli-cancel 30)
  if [[ $status == 5 ]] && rig_ctl status | grep -q "COM5 .* command-mode 0"; then
    pass "nlconf-cli.exe read: Ctrl+C while it waits for the reset key cancels"
  else
    fail cli-cancel "Ctrl+C: exit $status; $(rig_ctl status | grep COM5 | head -1)"
  fi
  rig_stop cli-cancel
  # A device's name with a colon is the device: refused by its name, before
  # anything is opened, with its own reason.
  rig_run cli-device 30 nlconf-cli.exe read COM5 --log COM7:
  status=$?
  expect "nlconf-cli --log COM7: is refused as the device it names" \
    "2 The log file COM7: is a device, not a file." "$status $(tr -d '\r' <"$RIG_LOGS/cli-device.err")"
  rig_modules_stop
  # ports: the Ports class's devices, by number, as the dialog lists them.
  if rig_ports_set 6 "Simulated Module Port (COM6)" 5 "Simulated Module Port (COM5)" \
    >/dev/null && rig_run cli-ports 60 nlconf-cli.exe ports; then
    expect "nlconf-cli ports lists COM5 and COM6" \
      "$(printf 'COM5\tSimulated Module Port (COM5)\nCOM6\tSimulated Module Port (COM6)')" \
      "$(cat "$RIG_LOGS/cli-ports.out")"
  else
    fail cli-ports "no port devices, or nlconf-cli.exe ports failed"
  fi
  rig_ports_set >/dev/null || fail cli-ports "the port devices stayed"
}

# The dialogs' texts with Wine's own fonts, then with Japanese gothic fonts
# standing in for a Japanese system's: the proportional one for the
# templates' "MS UI Gothic", the fixed one for "MS Gothic". The stand-ins go
# again afterwards.
readonly FONT_REPLACEMENTS='HKCU\Software\Wine\Fonts\Replacements'
check_text_fit() {
  run_check default-fonts "$CHECK_LIMIT_S" text_fit_check.exe
  if ! fc-list | grep -q 'IPAPGothic'; then
    fail japanese-font "no IPA gothic fonts installed (fonts-ipafont-gothic)"
    return
  fi
  local face stand_in
  for face in 'MS UI Gothic=IPAPGothic' 'MS Gothic=IPAGothic'; do
    stand_in=${face#*=}
    face=${face%=*}
    rig_bounded timeout -k 5 60 wine reg add "$FONT_REPLACEMENTS" /v "$face" /d "$stand_in" /f \
      </dev/null >/dev/null 2>&1 || fail japanese-font "could not map $face to $stand_in"
  done
  run_check japanese-fonts "$CHECK_LIMIT_S" text_fit_check.exe
  rig_bounded timeout -k 5 60 wine reg delete "$FONT_REPLACEMENTS" /f </dev/null >/dev/null 2>&1
}

# The same at the scalings of today's laptops (125 %, 150 %, 200 %), and back
# to 96 DPI for the steps that follow.
readonly DESKTOP_KEY='HKCU\Control Panel\Desktop'
set_dpi() {
  rig_bounded timeout -k 5 60 wine reg add "$DESKTOP_KEY" /v LogPixels /t REG_DWORD /d "$1" /f \
    </dev/null >/dev/null 2>&1
}
check_text_fit_dpi() {
  local dpi
  for dpi in 120 144 192; do
    if set_dpi "$dpi"; then
      run_check "dpi-$dpi" "$CHECK_LIMIT_S" text_fit_check.exe
    else
      fail "dpi-$dpi" "could not set LogPixels"
    fi
  done
  set_dpi 96 || fail dpi-96 "could not set LogPixels back"
}

# The dialog on the screens users have, each a Wine virtual desktop for the
# check alone, on a display of their own as large as the largest (X keeps
# the pointer on its screen); the check reserves a 40-pixel taskbar, which
# Wine on a bare X display does not have.
readonly CHECK_DESKTOP_KEY='HKCU\Software\Wine\AppDefaults\text_fit_check.exe\Explorer'
wine_reg() {
  rig_bounded timeout -k 5 60 wine reg "$@" </dev/null >/dev/null 2>&1
}
check_screen_fit() {
  local screen own=$DISPLAY first=$RIG_XVFB_PID large
  rig_start_display 2560x1440 || { fail display "no second display"; return; }
  large=$DISPLAY RIG_PIDS[large-display]=$RIG_XVFB_PID DISPLAY=$own RIG_XVFB_PID=$first
  for screen in 1366x768@96 1920x1080@120 1920x1080@144 2560x1440@168; do
    if wine_reg add 'HKCU\Software\Wine\Explorer\Desktops' /v "$screen" /d "${screen%@*}" /f &&
      wine_reg add "$CHECK_DESKTOP_KEY" /v Desktop /d "$screen" /f && set_dpi "${screen#*@}"; then
      # The smallest screen with the line log and the Range Test beside the dialog.
      local beside=()
      [[ $screen == 1366x768@96 ]] && beside=(--beside)
      DISPLAY=$large run_check "$screen" "$CHECK_LIMIT_S" text_fit_check.exe --taskbar 40 "${beside[@]}"
    else
      fail "$screen" "could not set up the screen"
    fi
  done
  rig_stop large-display
  wine_reg delete "$CHECK_DESKTOP_KEY" /f || fail back "could not drop the check's desktop"
  set_dpi 96 || fail back "could not set LogPixels back"
  # Later programs see the last desktop's size: one of this display's size.
  rig_bounded timeout -k 5 60 wine explorer /desktop=back,1280x1024 cmd /c exit </dev/null \
    >/dev/null 2>&1 || fail back "could not set the screen size back"
}

# ---------------------------------------------------------------- the run

started=$(now_ms)
work=$(mktemp -d) || exit 1
if ! rig_init "$work" "$native" "$windows" || ! rig_start_display || ! rig_boot_prefix; then
  STEP=setup fail rig "no display or Wine prefix (see above)"
  exit 1
fi
rig_keep_wine_up
echo "display $DISPLAY, prefix booted in $((($(now_ms) - started) / 1000)) s"

all_steps() {
  step ui_rules_check check_alone
  step runner_format_check check_alone
  step app_format_check check_alone
  step runner_check check_alone
  step view_thread_check check_view_thread
  step text_fit check_text_fit
  step text_fit_dpi check_text_fit_dpi
  step screen_fit check_screen_fit
  step serial_smoke check_serial_smoke
  step link_over_wine check_link_over_wine
  step cli check_cli
  step port_devices selfcheck_port_devices
  step ui_driver selfcheck_ui_driver
  for file in "$here"/journeys/[0-9][0-9]_*.sh; do
    base=$(basename "$file" .sh)
    wanted "$base" || continue
    # shellcheck source=/dev/null
    source "$file"
    name=${base#[0-9][0-9]_}
    if declare -F "journey_$name" >/dev/null; then
      step "$base" "journey_$name"
    else
      ((PLANNING)) || STEP=$base fail defined "$file defines no journey_$name"
    fi
  done
}

PLANNING=1
all_steps
PLANNING=0
plan_shards
all_steps
echo "whole run $((($(now_ms) - started) / 1000)) s"
