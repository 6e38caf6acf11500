# shellcheck shell=bash
# What the user journeys share, on top of the rig (e2e/rig/rig.sh) and the
# harness's checks (pass, fail, expect, ...). Each journey runs as one step
# of e2e/harness.sh, which stops its program and modules afterwards.
#
#   jr_begin <port spec>...   the port devices (JR_DEVICES, "5 6" unless set),
#                             simports with e.g. 5=master 6=slave:baud=5, then
#                             nlconf.exe; returns 1 if either does not come up
#   jr_start_nlconf           nlconf.exe again (JR_NLCONF_EXE, the build's
#                             unless set), and its main dialog waited for
#   jr_transcript COMn        path of that port's transcript
#   jr_outcome, jr_values, jr_colors, ...   what the user sees (below)

readonly JR_COM_NAME="Simulated Module Port"

now_ms() {
  date +%s%3N
}

# What the driver said when its last command failed: its complaints go to
# the driver log, not into the values a check compares.
jr_driver_complaint() {
  local log=${RIG_LOGS:-}/driver.log last
  [[ -f $log ]] || return 0
  last=$(tail -n 50 "$log" | awk '/^ui_driver: / { why = $0 } /^\(exit / { status = $2; if (status != "0)") shown = why; else shown = ""; why = "" } END { print shown }')
  [[ -n $last ]] && printf ' (%s)' "$last"
  return 0
}

# reg.exe in the prefix, for what NLCONF remembers per user.
jr_reg() {
  (
    rig__close_driver
    loader=$(rig__loader)
    [[ $loader == */wine64 ]] && export WINELOADER=$loader
    WINEDEBUG=-all timeout 30 "$loader" reg.exe "$@"
  ) </dev/null >/dev/null 2>&1
  return 0
}

jr_begin() {
  drv_start
  jr_bench "$@" && jr_start_nlconf
}

# The bench without the program: nothing remembered, the ports listed
# ($JR_DEVICES, or COM5 and COM6) and the modules MODULE... behind them.
jr_bench() {
  local n devices=()
  # What NLCONF remembers must not carry from one journey into the next.
  jr_reg delete 'HKCU\Software\NLCONF' /f
  # Nor what it noted of the ports (the line settings a module was found at).
  rm -rf "$WINEPREFIX"/drive_c/ProgramData/NLCONF
  for n in ${JR_DEVICES-5 6}; do
    devices+=("$n" "$JR_COM_NAME (COM$n)")
  done
  if ! rig_ports_set "${devices[@]}" >"$RIG_LOGS/port_devices.out" 2>&1; then
    fail port-devices "$(tail -n 3 "$RIG_LOGS/port_devices.out" | tr '\n' '|')"
    return 1
  fi
  rig_port_state
  if (($#)) && ! rig_modules_start "$RIG_LOGS" "$@" >"$RIG_LOGS/modules.out"; then
    fail simports-ready "$(tr '\n' '|' <"$RIG_LOGS/modules.out")"
    return 1
  fi
}

jr_start_nlconf() {
  rig_start nlconf "${JR_NLCONF_EXE:-nlconf.exe}"
  if ! drv wait main "$APPEAR_MS" >/dev/null; then
    fail nlconf-appears "no main dialog within $APPEAR_MS ms: $(tr -d '\r' <"$RIG_LOGS/nlconf.err" | tail -n 3 | tr '\n' '|')"
    return 1
  fi
  # Shown is not yet ready: a key pressed before the dialog has put its focus
  # on a control goes nowhere, on a busy machine as on a person's.
  local started
  started=$(now_ms)
  until [[ $(drv focus) =~ ^[0-9]+$ ]]; do
    if (($(now_ms) - started > APPEAR_MS)); then
      fail nlconf-takes-input "no control of the main dialog had the focus within $APPEAR_MS ms"
      return 1
    fi
    sleep 0.05
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

jr_transcript() {
  echo "$RIG_LOGS/transcripts/transcript-$1.log"
}

# Lines of the port's transcript matching the regex, counted.
jr_count() {
  grep -cE -- "$2" "$(jr_transcript "$1")" 2>/dev/null
}

# Waits until the port's transcript has N lines (1 unless given) matching
# the regex.
jr_wait_transcript() {
  local port=$1 pattern=$2 limit_ms=${3:-10000} n=${4:-1} waited=0 pause
  # Short looks at first; a long wait looks less often, for the machine's sake.
  while ((waited < limit_ms)); do
    (($(jr_count "$port" "$pattern") >= n)) && return 0
    pause=$((waited < 500 ? 20 : 100))
    sleep "0.$(printf '%03d' "$pause")"
    waited=$((waited + pause))
  done
  return 1
}

# A screenshot kept with the journey's evidence.
jr_shot() {
  rig_shot "$RIG_LOGS/$1.png"
}

# ---------------------------------------------------------------- the user's view

# Until an operation has ended or stops at a message box: prints
# "box: <text>", "done" (no progress dialog and no box) or "timeout".
jr_outcome() {
  drv outcome "${1:-20000}"
}

# Presses OK on the box, then the next outcome.
jr_ok_then_outcome() {
  drv msgbox-ok >/dev/null
  jr_outcome "$@"
}

# One line per control: "<id> <text>" for a field, "<id> <selected entry>"
# for a combo box ("-1" when nothing is selected).
jr_values() {
  local id value
  for id in "$@"; do
    if jr_is_combo "$id"; then
      value=$(drv selected "$id")
      # A selection reads "<position> <entry>"; the user sees the entry.
      [[ $value == -1 ]] || value=${value#* }
    else
      value=$(drv text "$id")
    fi
    echo "$id $value"
  done
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
  local id
  for id in "$@"; do
    echo "$id $(drv color "$id" | cut -d' ' -f1)"
  done
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

# The caption of the program's visible window of that kind (progress, prompt).
jr_caption() {
  drv windows | awk -v k=" $1 visible " 'index($0, k) { sub(/.*caption="/, ""); sub(/"$/, ""); print; exit }'
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
  expect "$name" 0 "$(rig_exit_status nlconf "$EXIT_LIMIT_S")"
}

# The same after Reads or with a record kept: red values (a pick, or a mode
# the module holds otherwise) or the record make the program ask first, and
# the user says Yes.
jr_exit_confirmed() {
  "${@:2}" >/dev/null
  [[ $(rig_exit_status nlconf 1) == running ]] && drv wait msgbox 30000 >/dev/null &&
    [[ $(drv msgbox) == *" Exit anyway?" || $(drv msgbox) == *"Exit NLCONF?" ]] &&
    drv click 6 --in msgbox >/dev/null
  expect "$1" 0 "$(rig_exit_status nlconf "$EXIT_LIMIT_S")"
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
    reply=$(rig_ctl press "$port")
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

# "apart" when the visible window of that caption and the main dialog do
# not overlap.
jr_apart_from_dialog() {
  drv windows | awk -v caption="caption=\"$1\"" '
    / visible / && (/ main / || index($0, caption)) {
      match($0, /rect=[-0-9]+,[-0-9]+,[0-9]+x[0-9]+/); split(substr($0, RSTART + 5, RLENGTH - 5), r, /[,x]/)
      if (/ main /) { dl = r[1]; dt = r[2]; dr = r[1] + r[3]; db = r[2] + r[4] }
      else { ll = r[1]; lt = r[2]; lr = r[1] + r[3]; lb = r[2] + r[4] }
    }
    END { print (ll >= dr || lr <= dl || lt >= db || lb <= dt) ? "apart" : "overlap: dialog " dl "," dt "-" dr "," db ", window " ll "," lt "-" lr "," lb }'
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
