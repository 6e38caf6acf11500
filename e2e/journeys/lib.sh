# shellcheck shell=bash
# What the user journeys share: one Xvfb and one Wine prefix for the whole
# run (e2e/rig/rig.sh), and per journey fresh module models (simports)
# and a fresh nlconf.exe with the modem shim in its process only.
#
#   jr_setup <native build> <windows build> <out dir>   once, before any journey
#   jr_begin <name> <port spec>...   simports with e.g. 5=master 6=slave:baud=5,
#                                    then nlconf.exe; returns 1 if either does not come up
#   jr_end                           stops both; keeps the evidence of a failing journey
#   jr_ctl <command words>           one simports control command; prints its reply
#   jr_transcript COMn               path of that port's transcript
#   expect NAME EXPECTED ACTUAL      one check: PASS or FAIL
#   check NAME COMMAND...            a check that the command succeeds
#   note TEXT                        an INFO line
#
# Every wait is bounded; rig_cleanup (run.sh's trap) stops whatever is left.

# shellcheck source=../rig/rig.sh
source "$(dirname "${BASH_SOURCE[0]}")/../rig/rig.sh"

readonly JR_APPEAR_MS=30000
readonly JR_READY_LIMIT_S=10
readonly JR_SIMPORTS_LIMIT_S=300
readonly JR_EXIT_LIMIT_S=20
readonly JR_STOP_LIMIT_S=5
readonly JR_COM_NAME="Simulated Module Port"

JR_NATIVE=""
JR_OUT=""
JR_PASSED=0
JR_FAILED=0
JR_NAME=""
JR_DIR=""
JR_JOURNEY_FAILED=0
JR_SIMPORTS_PID=""
JR_DRIVER_LOG_START=0
JR_SHOT_TAKEN=0
JR_STARTED_AT=0
declare -a JR_FAILED_JOURNEYS=()

pass() {
  echo "PASS $JR_NAME/$1"
  JR_PASSED=$((JR_PASSED + 1))
}

fail() {
  echo "FAIL $JR_NAME/$1: $2$(jr_driver_complaint)"
  JR_FAILED=$((JR_FAILED + 1))
  JR_JOURNEY_FAILED=1
  # The screen as it was at the first fault is the one worth keeping.
  if ((JR_SHOT_TAKEN == 0)) && [[ -n $JR_DIR ]]; then
    JR_SHOT_TAKEN=1
    rig_shot "$JR_DIR/at-first-failure.png"
  fi
}

# What the driver said when its last command failed: its complaints go to
# the driver log, not into the values a check compares.
jr_driver_complaint() {
  local log=${RIG_WORK:-}/driver.log last
  [[ -f $log ]] || return 0
  last=$(tail -n 50 "$log" | awk '/^ui_driver: / { why = $0 } /^\(exit / { status = $2; if (status != "0)") shown = why; else shown = ""; why = "" } END { print shown }')
  [[ -n $last ]] && printf ' (%s)' "$last"
  return 0
}

# A failure outside any journey's run (before it could begin).
jr_fail_outside() {
  local JR_NAME=$1
  fail "$2" "$3"
}

note() {
  echo "INFO $JR_NAME: $*"
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

now_ms() {
  date +%s%3N
}

jr_setup() {
  JR_NATIVE=$1
  local windows=$2
  JR_OUT=$3
  local tool
  for tool in wine wineboot wineserver timeout Xvfb import; do
    command -v "$tool" >/dev/null || { echo "$tool not installed"; return 1; }
  done
  local f
  for f in simports simports-ctl modemshim.so; do
    [[ -e $JR_NATIVE/e2e/rig/simports/$f ]] || { echo "no $JR_NATIVE/e2e/rig/simports/$f (build the native preset)"; return 1; }
  done
  mkdir -p "$JR_OUT" || return 1
  local work
  work=$(mktemp -d) || return 1
  rig_init "$work" "$windows" || return 1
  rig_start_display || return 1
  rig_boot_prefix || return 1
  # The registry half of two ports; simports provides their data path.
  rig_ports add 5 "$JR_COM_NAME (COM5)" 6 "$JR_COM_NAME (COM6)" || { echo "ports.sh add failed"; return 1; }
  rig_port_state ""
  # Wine ends its desktop and device services when its last program ends,
  # and a program that starts while they go down can wait 10 s for its
  # first window. A windowless program that outlives every journey keeps
  # them up: the driver waiting for a window that never comes.
  rig_start keep-wine-up ui_driver.exe wait caption=journeys-keep-wine-up $((RIG_PROGRAM_LIMIT_S * 1000))
}

# The loader the wine script would run, so that the shim is preloaded into
# the Windows program's process and nothing else (not the wrapper script, not
# timeout); the wrapper itself when the layout is unknown.
jr_wine_loader() {
  local loader
  for loader in /usr/lib/wine/wine /usr/lib/wine/wine64; do
    [[ -x $loader ]] && { echo "$loader"; return; }
  done
  command -v wine
}

jr_begin() {
  JR_NAME=$1
  shift
  JR_DIR=$JR_OUT/$JR_NAME
  JR_JOURNEY_FAILED=0
  JR_SHOT_TAKEN=0
  JR_STARTED_AT=$SECONDS
  rm -rf "$JR_DIR"
  mkdir -p "$JR_DIR" "$RIG_WORK/$JR_NAME/run" "$RIG_WORK/$JR_NAME/transcripts" || return 1
  echo "== journey $JR_NAME"
  JR_DRIVER_LOG_START=$(wc -l <"$RIG_WORK/driver.log")
  : >"$RIG_WORK/nlconf.out"
  : >"$RIG_WORK/nlconf.err"
  local run=$RIG_WORK/$JR_NAME/run spec args=()
  : >"$RIG_WORK/$JR_NAME/simports.out"
  for spec in "$@"; do
    args+=(--port "$spec")
  done
  "$JR_NATIVE/e2e/rig/simports/simports" --dosdevices "$WINEPREFIX/dosdevices" --run-dir "$run" \
    --transcripts "$RIG_WORK/$JR_NAME/transcripts" --time-limit "$JR_SIMPORTS_LIMIT_S" "${args[@]}" \
    </dev/null >"$RIG_WORK/$JR_NAME/simports.out" 2>"$RIG_WORK/$JR_NAME/simports.err" &
  JR_SIMPORTS_PID=$!
  local i
  for ((i = 0; i < JR_READY_LIMIT_S * 10; i++)); do
    grep -q '^ready' "$RIG_WORK/$JR_NAME/simports.out" && break
    kill -0 "$JR_SIMPORTS_PID" 2>/dev/null || break
    sleep 0.1
  done
  if ! grep -q '^ready' "$RIG_WORK/$JR_NAME/simports.out"; then
    fail simports-ready "$(tail -n 3 "$RIG_WORK/$JR_NAME/simports.err" | tr '\n' '|')"
    return 1
  fi
  jr_start_nlconf
  if ! drv wait main "$JR_APPEAR_MS" >/dev/null; then
    fail nlconf-appears "no main dialog within $JR_APPEAR_MS ms: $(tr -d '\r' <"$RIG_WORK/nlconf.err" | tail -n 3 | tr '\n' '|')"
    return 1
  fi
}

# rig_start's way, with the shim and its run directory given to the program.
jr_start_nlconf() {
  local loader shim run=$RIG_WORK/$JR_NAME/run
  loader=$(jr_wine_loader)
  shim=$(cd "$JR_NATIVE/e2e/rig/simports" && pwd)/modemshim.so
  rm -f "$RIG_WORK/nlconf.status"
  (
    export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;cfgmgr32=n,b"
    [[ -n ${JR_WINEDEBUG:-} ]] && export WINEDEBUG=$JR_WINEDEBUG
    [[ $loader == */wine64 ]] && export WINELOADER=$loader
    # shellcheck disable=SC2016 # expanded by the inner shell
    timeout -k 5 "$RIG_PROGRAM_LIMIT_S" bash -c 'LD_PRELOAD=$1 NLCONF_SIMPORTS_DIR=$2 exec "${@:3}"' \
      _ "$shim" "$run" "$loader" "$RIG_RUN/nlconf.exe" </dev/null \
      >>"$RIG_WORK/nlconf.out" 2>>"$RIG_WORK/nlconf.err"
    echo $? >"$RIG_WORK/nlconf.status"
  ) &
  RIG_PIDS[nlconf]=$!
}

# Processes of nlconf.exe in this run's prefix.
jr_programs_left() {
  local pid
  for pid in $(pgrep -u "$(id -u)" -f 'nlconf\.exe'); do
    tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" && echo "$pid"
  done
}

# Open descriptors of pseudo-terminals in the program's process and in the
# prefix's wineserver, which keeps its own for every open handle: both are
# 0 when no port is open, and a handle that was never closed shows here.
jr_pty_fds() {
  local pid total=0 n
  for pid in $(pgrep -u "$(id -u)" -f 'nlconf\.exe|wineserver'); do
    tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" || continue
    n=$(find "/proc/$pid/fd" -maxdepth 1 -lname '/dev/pts/*' 2>/dev/null | wc -l)
    total=$((total + n))
  done
  echo "$total"
}

jr_ctl() {
  timeout 10 "$JR_NATIVE/e2e/rig/simports/simports-ctl" "$RIG_WORK/$JR_NAME/run" "$@"
}

jr_transcript() {
  echo "$RIG_WORK/$JR_NAME/transcripts/transcript-$1.log"
}

# Lines of the port's transcript matching the regex, counted.
jr_count() {
  grep -cE -- "$2" "$(jr_transcript "$1")" 2>/dev/null
}

# Waits until the port's transcript has N lines (1 unless given) matching
# the regex.
jr_wait_transcript() {
  local port=$1 pattern=$2 limit_ms=${3:-10000} n=${4:-1} i
  for ((i = 0; i < limit_ms / 20; i++)); do
    (($(jr_count "$port" "$pattern") >= n)) && return 0
    sleep 0.02
  done
  return 1
}

# Whether the program is still running.
jr_nlconf_running() {
  [[ $(rig_exit_status nlconf 0) == running ]]
}

jr_stop_simports() {
  [[ -n $JR_SIMPORTS_PID ]] || return 0
  if kill -0 "$JR_SIMPORTS_PID" 2>/dev/null; then
    kill -TERM "$JR_SIMPORTS_PID" 2>/dev/null
    timeout "$JR_STOP_LIMIT_S" tail --pid="$JR_SIMPORTS_PID" -f /dev/null ||
      kill -KILL "$JR_SIMPORTS_PID" 2>/dev/null
  fi
  wait "$JR_SIMPORTS_PID" 2>/dev/null
  JR_SIMPORTS_PID=""
}

jr_end() {
  if jr_nlconf_running; then
    # A journey that stopped half-way may leave a box up: the program goes
    # the hard way then, which is no part of what is checked.
    ((JR_SHOT_TAKEN)) || rig_shot "$RIG_WORK/$JR_NAME/at-end.png"
    rig_stop_pid "${RIG_PIDS[nlconf]}"
  fi
  wait "${RIG_PIDS[nlconf]}" 2>/dev/null
  unset 'RIG_PIDS[nlconf]'
  # A program left up would hold its boxes and ports into the next journey.
  local left
  left=$(jr_programs_left | paste -sd' ')
  if [[ -n $left ]]; then
    fail program-stopped "still running after the journey: pid $left"
    # shellcheck disable=SC2086 # one pid per word
    kill -KILL $left 2>/dev/null
  fi
  jr_stop_simports
  # Wine reports a crash on standard error even with its debug output off.
  if grep -qiE 'unhandled|page fault|exception|assertion' "$RIG_WORK/nlconf.err"; then
    fail program-crashed "$(grep -iE 'unhandled|page fault|exception|assertion' "$RIG_WORK/nlconf.err" | head -n 3 | tr '\n' '|')"
  fi
  local kept=""
  if ((JR_JOURNEY_FAILED)) || [[ ${JOURNEYS_KEEP:-} == all ]]; then
    cp "$RIG_WORK/$JR_NAME"/transcripts/* "$RIG_WORK/$JR_NAME"/simports.* "$RIG_WORK/$JR_NAME"/*.png \
      "$RIG_WORK"/nlconf.out "$RIG_WORK"/nlconf.err "$JR_DIR"/ 2>/dev/null
    tail -n +"$((JR_DRIVER_LOG_START + 1))" "$RIG_WORK/driver.log" >"$JR_DIR/driver.log"
    kept=" (kept in $JR_DIR)"
  fi
  if ((JR_JOURNEY_FAILED)); then
    JR_FAILED_JOURNEYS+=("$JR_NAME")
    echo "== journey $JR_NAME FAILED in $((SECONDS - JR_STARTED_AT)) s$kept"
  else
    rmdir "$JR_DIR" 2>/dev/null
    echo "== journey $JR_NAME passed in $((SECONDS - JR_STARTED_AT)) s$kept"
  fi
  rm -rf "${RIG_WORK:?}/$JR_NAME"
  JR_NAME=""
  JR_DIR=""
}

# A screenshot kept with the journey's evidence.
jr_shot() {
  rig_shot "$RIG_WORK/$JR_NAME/$1.png"
}

# ---------------------------------------------------------------- the user's view

# Kinds of the program's visible top-level windows, one per line.
jr_visible_kinds() {
  drv windows 2>/dev/null | tr -d '\r' | awk '$3 == "visible" { print $2 }'
}

# Until an operation has ended or stops at a message box: prints
# "box: <text>", "done" (no progress dialog and no box) or "timeout".
jr_outcome() {
  local limit_ms=${1:-20000} started kinds
  started=$(now_ms)
  while (($(now_ms) - started < limit_ms)); do
    kinds=$(jr_visible_kinds)
    if grep -qx msgbox <<<"$kinds"; then
      echo "box: $(drv msgbox)"
      return 0
    fi
    if ! grep -qx progress <<<"$kinds"; then
      # The box of a result comes right after the progress dialog ends: once
      # the main thread has answered, it is up if it is coming.
      drv sync main >/dev/null 2>&1
      if grep -qx msgbox <<<"$(jr_visible_kinds)"; then
        echo "box: $(drv msgbox)"
      else
        echo "done"
      fi
      return 0
    fi
    sleep 0.1
  done
  echo timeout
}

# Presses OK on the box, then the next outcome.
jr_ok_then_outcome() {
  drv msgbox-ok >/dev/null
  jr_outcome "$@"
}

# One line per control: "<id> <text>" for a field, "<id> <selected entry>"
# for a combo box ("-1" when nothing is selected).
jr_values() {
  local id script="" kinds=()
  for id in "$@"; do
    if jr_is_combo "$id"; then
      kinds+=(selected)
    else
      kinds+=(text)
    fi
    script+="${kinds[-1]} $id"$'\n'
  done
  local out
  out=$(drv_script <<<"$script")
  # A selection reads "<position> <entry>"; the user sees the entry.
  paste -d' ' <(printf '%s\n' "$@") <(printf '%s\n' "${kinds[@]}") <(printf '%s\n' "$out") |
    sed -E 's/^([0-9]+) selected [0-9]+ /\1 /; s/^([0-9]+) (selected|text) /\1 /'
}

# Combo boxes of either pane, by identifier.
jr_is_combo() {
  local offset=$(($1 % 1000))
  case $1 in
    3*) [[ $offset == 0 || ($offset -ge 7 && $offset -le 13) ]] ;;
    4*) [[ $offset == 0 || ($offset -ge 7 && $offset -le 13) || $offset == 15 ]] ;;
    *) return 1 ;;
  esac
}

# "<id> <colour>" per control, from the screen's pixels.
jr_colors() {
  local out
  out=$(printf 'color %s\n' "$@" | drv_script)
  paste -d' ' <(printf '%s\n' "$@") <(cut -d' ' -f1 <<<"$out")
}

# Every value control of a pane, base 3000 or 4000.
jr_pane_ids() {
  if (($1 == 3000)); then
    echo 3003 3004 3005 3006 3007 3008 3009 3010 3011 3012 3013 3014 3015
  else
    echo 4003 4004 4005 4006 4007 4008 4009 4010 4011 4012 4013 4014 4015 4016 4017
  fi
}

# What a pane shows, control by control.
jr_pane_values() {
  # shellcheck disable=SC2046 # one identifier per word
  jr_values $(jr_pane_ids "$1")
}

# Every coloured control of a pane (not the node identifier).
jr_colored_ids() {
  jr_pane_ids "$1" | cut -d' ' -f2-
}

# The colours of every coloured control of a pane, and the same colour for
# each of them.
jr_pane_colors() {
  # shellcheck disable=SC2046 # one identifier per word
  jr_colors $(jr_colored_ids "$1")
}

jr_pane_all() {
  # shellcheck disable=SC2046 # one identifier per word
  jr_all "$1" $(jr_colored_ids "$2")
}

# A cleared pane: empty fields and combo boxes without a selection.
jr_cleared_values() {
  local id
  for id in $(jr_pane_ids "$1"); do
    if jr_is_combo "$id"; then
      echo "$id -1"
    else
      echo "$id "
    fi
  done
}

# The same colour for each of the controls.
jr_all() {
  local color=$1 id
  shift
  for id in "$@"; do
    echo "$id $color"
  done
}

# Reads a pane that needs no reset key; checks that it ends without a box.
jr_read_clean() {
  local base=$1 what=$2
  drv click $((base + 1)) >/dev/null
  expect "$what-read-ends-without-a-box" "done" "$(jr_outcome 20000)"
}

# Clicks Exit (or whatever the caller gives) and checks the exit status.
jr_exit_with() {
  local name=$1
  shift
  "$@" >/dev/null
  expect "$name" 0 "$(rig_exit_status nlconf "$JR_EXIT_LIMIT_S")"
}

# The user's part of a reset: waits for the prompt, then presses the key of
# the module on PORT while the program holds the line in break (a press
# between two pulses only restarts the module, as a real one would; the
# user tries again). Prints simports' last reply.
jr_press_when_prompted() {
  local port=$1 reply="" try
  drv wait prompt 15000 >/dev/null || { echo "no prompt within 15 s"; return 1; }
  for try in 1 2 3; do
    ((try > 1)) && sleep 0.3
    reply=$(jr_ctl press "$port")
    [[ $reply == "ok: pressed under break" ]] && break
  done
  echo "$reply"
  [[ $reply == "ok: pressed under break" ]]
}

# Milliseconds on the module's clock from the last transcript line matching
# the first regex to the next line matching the second; empty if none.
jr_gap_ms() {
  awk -v a="$2" -v b="$3" '
    $0 ~ a { t = $1; found = 0; next }
    t != "" && !found && $0 ~ b { gap = int(($1 - t) * 1000 + 0.5); found = 1 }
    END { if (found) print gap }' "$(jr_transcript "$1")"
}

# The transcript's traffic, "<direction> <bytes>" per line, without time
# and line settings.
jr_lines() {
  sed -nE 's/^ *[0-9.]+ (host>|module>) +("([^"\\]|\\.)*").*/\1 \2/p' "$(jr_transcript "$1")"
}

# The user picks an entry. The driver selects it (the combo box paints at
# once) and then tells the dialog; a pick in the drop-down list tells the
# dialog first and paints after. Picking the same entry once more leaves
# the program's state as it is and paints the field as the user would see it.
jr_pick() {
  drv select "$1" "$2" >/dev/null && drv select "$1" "$2" >/dev/null
}

# A module takes "+++" for the escape only after its guard time (1 s) of
# silence; the first "+++" of a Read comes at once. A user reading the same
# module again right after a box lets it rest that long first.
jr_module_rests() {
  sleep 1.2
}
