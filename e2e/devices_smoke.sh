#!/usr/bin/env bash
# Self-check of the port devices, the test cfgmgr32.dll and the UI driver,
# then of nlconf.exe's port lists with them, under Wine on a private Xvfb
# display with a fresh prefix:
#
#   1. ports_check.exe: the registry ports appear in the Ports class with
#      their friendly names; the stub answers started / not-started / fail
#      as cfgmgr32_state.txt says at that moment; an unplugged port is gone.
#   2. ui_driver.exe against driver_target.exe (a stand-in dialog that logs
#      what it receives): clicks, selections, keys, the close box, texts,
#      colours read from pixels, message box, progress dialog, reset prompt,
#      link result, WM_DEVICECHANGE delivered across processes.
#   3. nlconf.exe: both COM Port lists hold the ports by friendly name, only
#      the Read buttons are enabled, arrivals and removals change both lists,
#      a port that is not started is not listed, Escape ends it with 0.
#
#   e2e/devices_smoke.sh <windows build dir> <out dir>
#
# The out dir keeps screenshots and logs. Every process started here is
# stopped on the way out, whatever happens. Ends with
# "devices smoke: N passed, M failed".
set -uo pipefail

readonly APPEAR_LIMIT_MS=30000
readonly LOG_LIMIT_S=5
readonly EXIT_LIMIT_S=20

# shellcheck source=e2e/check_counts.sh
source "$(dirname "${BASH_SOURCE[0]}")/check_counts.sh"

summary() {
  echo "devices smoke: $passed passed, $failed failed"
}

give_up() {
  fail devices-smoke-setup "$*"
  summary
  exit 1
}

# expect NAME EXPECTED ACTUAL
expect() {
  if [[ $3 == "$2" ]]; then
    pass "$1"
  else
    fail "$1" "expected [${2//$'\n'/|}], got [${3//$'\n'/|}]"
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

# Waits until FILE has a line matching the extended regex.
wait_line() {
  local file=$1 pattern=$2 i
  for ((i = 0; i < LOG_LIMIT_S * 10; i++)); do
    tr -d '\r' <"$file" 2>/dev/null | grep -Eq -- "$pattern" && return 0
    sleep 0.1
  done
  return 1
}

expect_line() {
  if wait_line "$2" "$3"; then
    pass "$1"
  else
    fail "$1" "no line /$3/ in $(basename "$2"): $(tr -d '\r' <"$2" | tail -n 3 | tr '\n' '|')"
  fi
}

lines_matching() {
  tr -d '\r' <"$1" 2>/dev/null | grep -Ec -- "$2"
}

# expect_count NAME FILE PATTERN N: N matching lines, given time to come.
expect_count() {
  local i
  for ((i = 0; i < LOG_LIMIT_S * 10; i++)); do
    [[ $(lines_matching "$2" "$3") -ge $4 ]] && break
    sleep 0.1
  done
  expect "$1" "$4" "$(lines_matching "$2" "$3")"
}

if [[ $# -ne 2 ]]; then
  echo "usage: $0 <windows build dir> <out dir>" >&2
  exit 2
fi
build=$1
out=$2
here=$(cd "$(dirname "$0")" && pwd)
for tool in wine wineboot wineserver timeout Xvfb import; do
  command -v "$tool" >/dev/null || give_up "$tool not installed"
done
mkdir -p "$out" || give_up "cannot make $out"
# shellcheck source=rig/rig.sh
source "$here/rig/rig.sh"

work=$(mktemp -d) || give_up "mktemp failed"
save_and_clean() {
  cp "$work"/*.out "$work"/*.err "$work"/driver.log "$RIG_RUN"/cfgmgr32_calls.log "$out"/ \
    2>/dev/null
  rig_cleanup
}
trap save_and_clean EXIT
trap 'exit 130' INT TERM HUP

started=$SECONDS
rig_init "$work" "$build" || give_up "cannot stage the programs"
rig_start_display || give_up "no display"
rig_boot_prefix || give_up "no Wine prefix"
echo "display $DISPLAY, prefix booted in $((SECONDS - started)) s"

COM5="Simulated Module Port (COM5)"
COM7="Simulated Module Port (COM7)"
COM9="Simulated Module Port (COM9)"
COM11="Simulated Module Port (COM11)"

# ---------------------------------------------------------------- devices
stage=$SECONDS
rig_ports add 5 "$COM5" 7 "$COM7" || give_up "ports.sh add failed"
expect ports-sh-lists-what-it-added "COM5 $COM5"$'\n'"COM7 $COM7" "$(rig_ports list)"

# Runs ports_check.exe with the given DLL overrides; output in <name>.out.
run_ports_check() {
  local name=$1 overrides=$2
  shift 2
  WINEDLLOVERRIDES="$overrides" rig_bounded timeout -k 5 60 wine "$RIG_RUN/ports_check.exe" "$@" \
    </dev/null 2>&1 | tr -d '\r' >"$work/$name.out"
  return "${PIPESTATUS[0]}"
}

# The same, its PASS and FAIL lines counted here.
ports_check() {
  local name=$1
  run_ports_check "$@"
  local status=$?
  sed -n 's/^\(PASS\|FAIL\) /\1 '"$name"': /p' "$work/$name.out"
  passed=$((passed + $(grep -c '^PASS ' "$work/$name.out")))
  failed=$((failed + $(grep -c '^FAIL ' "$work/$name.out")))
  [[ $status -eq 0 ]] || grep -q '^FAIL ' "$work/$name.out" ||
    fail "$name" "exit status $status without a FAIL line: $(tail -n 2 "$work/$name.out")"
}
stub="mscoree,mshtml=;cfgmgr32=n,b"

rig_port_state
ports_check all-started "$stub" --stub "$COM5=started" "$COM7=started" "$COM9=absent"
sed -n 's/^port /INFO port /p' "$work/all-started.out"
rig_port_state "COM7 not-started"
ports_check com7-not-started "$stub" --stub "$COM5=started" "$COM7=not-started"
rig_port_state "# the last line naming a port decides" "COM7 not-started" "COM5 fail" "com7 started"
ports_check com5-fails-com7-back "$stub" "$COM5=fail" "$COM7=started"
rig_port_state
# Without the override Wine's own cfgmgr32 answers, and the check says so.
run_ports_check no-override "mscoree,mshtml=" --stub
expect_status no-override-is-told-apart 0 grep -q "without the stub's marker" "$work/no-override.out"
expect_status wine-builtin-says-not-started 0 \
  grep -q "COM5)\" id ROOT.PORTS.0005 not-started (result 0x0, status 0x00000000" "$work/no-override.out"
rig_ports remove 7 || fail ports-sh-remove "ports.sh remove 7 failed"
ports_check after-unplug "$stub" "$COM5=started" "$COM7=absent"
rig_ports add 7 "$COM7" || fail ports-sh-add-again "ports.sh add 7 failed"
expect_line stub-logs-each-answer "$RIG_RUN/cfgmgr32_calls.log" '^ROOT\\PORTS\\0007 COM7 not-started$'
echo "devices: $((SECONDS - stage)) s"

# ---------------------------------------------------------------- driver
stage=$SECONDS
target_log=$work/target.out
rig_start target driver_target.exe
if drv wait main "$APPEAR_LIMIT_MS" >/dev/null; then
  pass target-appears
  drv click 3001 >/dev/null
  expect_line click-sends-bn-clicked "$target_log" '^command id=3001 code=0 from-control=yes$'
  drv click 3001 --mouse >/dev/null
  expect_count mouse-click-sends-the-same "$target_log" '^command id=3001 code=0 from-control=yes$' 2
  expect_status disabled-button-is-refused 1 drv click 3002
  expect disabled-button-sent-nothing 0 "$(lines_matching "$target_log" 'id=3002')"
  expect items-lists-entries $'0 Alpha Port (COM1)\n1 Beta Port (COM2)\n2 Gamma Port (COM3)' \
    "$(drv items 3000)"
  drv select 3000 "Gamma Port (COM3)" >/dev/null
  expect_line select-sends-cbn-selchange "$target_log" '^command id=3000 code=1 from-control=yes$'
  expect selected-reads-back "2 Gamma Port (COM3)" "$(drv selected 3000)"
  expect_status missing-entry-is-refused 1 drv select 3000 "Delta Port (COM4)"
  expect text-of-a-field "1234" "$(drv text 3004)"
  for pair in 3004:red 3005:black 3006:blue 3007:red 3008:black 3014:none; do
    expect "color-${pair%%:*}-is-${pair#*:}" "${pair#*:}" "$(drv color "${pair%%:*}" | cut -d' ' -f1)"
  done
  echo "INFO PrintWindow across processes reads: $(drv color 3004 --print)"
  expect state-of-buttons $'3001 enabled\n3002 disabled' "$(drv state 3001 3002)"

  drv devicechange arrive COM5 >/dev/null
  expect_line devicechange-send-carries-the-port "$target_log" \
    '^devicechange event=0x8000 header=yes size=22 type=3 name=COM5 sent=sent$'
  drv devicechange remove COM12 --via broadcast >/dev/null
  expect_line devicechange-broadcast-carries-the-port "$target_log" \
    '^devicechange event=0x8004 header=yes size=24 type=3 name=COM12 sent=sent$'
  expect_status devicechange-post-is-refused 1 drv devicechange arrive COM6 --via post
  expect devicechange-post-delivers-nothing 0 "$(lines_matching "$target_log" 'name=COM6')"

  drv click 1000 >/dev/null
  drv wait msgbox 5000 >/dev/null
  expect msgbox-text "Communication error." "$(drv msgbox)"
  expect_status click-under-a-modal-box-is-refused 1 drv click 3001
  drv msgbox-ok >/dev/null
  expect_line msgbox-ok-ends-the-box "$target_log" '^box returned 1$'

  drv click 1001 >/dev/null
  drv wait progress 5000 >/dev/null
  expect progress-is-seen "present Reading parameters... cancel=enabled" "$(drv progress)"
  expect_status progress-has-no-close-box 1 drv close progress
  drv key escape >/dev/null
  expect_line escape-reaches-the-progress-dialog "$target_log" '^progress returned 258$'
  expect progress-is-gone absent "$(drv progress)"

  expect prompt-hidden "hidden Please press the reset key." "$(drv prompt)"
  drv click 1002 >/dev/null
  expect prompt-visible "visible Please press the reset key." "$(drv prompt)"
  drv click 1002 >/dev/null

  drv click 1003 >/dev/null
  drv wait linkresult 5000 >/dev/null
  expect link-result-text-and-colour "Link OK. blue" "$(drv linkresult)"
  drv key enter >/dev/null
  expect_line enter-ends-the-result-with-ok "$target_log" '^result returned 0$'
  drv click 1003 >/dev/null
  drv wait linkresult 5000 >/dev/null
  drv close linkresult >/dev/null
  expect_line close-box-ends-the-result-with-cancel "$target_log" '^result returned 1$'
  drv click 1003 >/dev/null
  drv wait linkresult 5000 >/dev/null
  drv key escape --input >/dev/null
  expect_count escape-as-keyboard-input-cancels-the-result "$target_log" '^result returned 1$' 2

  expect_status mistyped-option-is-refused 2 drv click 3001 --mous
  expect script-mode-runs-each-line $'1234\n2 Gamma Port (COM3)\n3001 enabled' "$(
    drv_script <<'SCRIPT'
# comments and blank lines are passed over

text 3004
selected 3000
state 3001
SCRIPT
  )"
  expect_status script-mode-stops-at-a-failure 1 drv_script <<'SCRIPT'
click 3002
text 3004
SCRIPT

  drv close >/dev/null
  expect_line close-box-sends-sc-close "$target_log" '^syscommand close$'
  expect target-exit-status 0 "$(rig_exit_status target "$EXIT_LIMIT_S")"
else
  fail target-appears "no stand-in dialog within $APPEAR_LIMIT_MS ms: $(tr -d '\r' <"$work/target.err" | tail -n 3)"
fi
echo "driver: $((SECONDS - stage)) s"

# ---------------------------------------------------------------- nlconf
stage=$SECONDS
two=$'0 '"$COM5"$'\n1 '"$COM7"
rig_port_state
: >"$RIG_RUN/cfgmgr32_calls.log"
rig_start nlconf nlconf.exe
if drv wait main "$APPEAR_LIMIT_MS" >/dev/null; then
  pass nlconf-appears
  drv windows | grep ' main ' | sed 's/^/INFO main dialog: /'
  expect master-list "$two" "$(drv items 3000)"
  expect slave-list "$two" "$(drv items 4000)"
  expect master-selects-the-first "0 $COM5" "$(drv selected 3000)"
  expect slave-selects-the-first "0 $COM5" "$(drv selected 4000)"
  expect only-read-enabled $'3001 enabled\n4001 enabled\n3002 disabled\n4002 disabled\n1000 disabled\n1001 disabled\n1002 disabled\n1003 disabled\n1 enabled' \
    "$(drv state 3001 4001 3002 4002 1000 1001 1002 1003 1)"
  expect_line nlconf-asked-the-stub "$RIG_RUN/cfgmgr32_calls.log" '^ROOT\\PORTS\\0007 COM7 started$'
  rig_shot "$out/nlconf-start.png"

  rig_ports add 9 "$COM9" && drv devicechange arrive COM9 >/dev/null
  three="$two"$'\n2 '"$COM9"
  expect arrival-adds-to-master "$three" "$(drv items 3000)"
  expect arrival-adds-to-slave "$three" "$(drv items 4000)"
  expect arrival-keeps-the-selection "0 $COM5" "$(drv selected 3000)"

  rig_ports remove 5 && drv devicechange remove COM5 --via broadcast >/dev/null
  left=$'0 '"$COM7"$'\n1 '"$COM9"
  expect removal-takes-from-master "$left" "$(drv items 3000)"
  expect removal-takes-from-slave "$left" "$(drv items 4000)"
  expect removal-moves-master-selection "0 $COM7" "$(drv selected 3000)"
  expect removal-moves-slave-selection "0 $COM7" "$(drv selected 4000)"

  rig_port_state "COM11 not-started"
  rig_ports add 11 "$COM11" && drv devicechange arrive COM11 >/dev/null
  expect not-started-port-is-not-listed "$left" "$(drv items 3000)"
  expect_line not-started-port-was-asked "$RIG_RUN/cfgmgr32_calls.log" '^ROOT\\PORTS\\0011 COM11 not-started$'
  rig_ports remove 11 && drv devicechange remove COM11 >/dev/null
  expect unlisted-removal-changes-nothing "$left" "$(drv items 4000)"

  rig_ports remove 7 9 && drv devicechange remove COM7 >/dev/null && drv devicechange remove COM9 >/dev/null
  expect last-removal-empties-master "" "$(drv items 3000)"
  expect last-removal-empties-slave "" "$(drv items 4000)"
  expect empty-lists-disable-read $'3001 disabled\n4001 disabled' "$(drv state 3001 4001)"
  rig_ports add 5 "$COM5" && drv devicechange arrive COM5 >/dev/null
  expect arrival-into-empty-master "0 $COM5" "$(drv items 3000)"
  expect arrival-into-empty-selects-nothing $'-1\n-1' "$(drv selected 3000; drv selected 4000)"
  expect arrival-enables-read $'3001 enabled\n4001 enabled' "$(drv state 3001 4001)"
  rig_shot "$out/nlconf-after-changes.png"

  drv key escape >/dev/null
  expect escape-ends-nlconf-with-0 0 "$(rig_exit_status nlconf "$EXIT_LIMIT_S")"
else
  fail nlconf-appears "no main dialog within $APPEAR_LIMIT_MS ms: $(tr -d '\r' <"$work/nlconf.err" | tail -n 3)"
fi
echo "nlconf: $((SECONDS - stage)) s; whole run $((SECONDS - started)) s"

summary
[[ $failed -eq 0 ]]
