# shellcheck shell=bash
# USB serial adapters come and go while the program runs: both COM Port
# lists hold the ports by friendly name, only the Read buttons are enabled,
# arrivals and removals change both lists and move a selection that lost
# its port, a port that is not started is not listed, a port is never listed
# twice, a printer port's name acts on no COM port, and the last removal
# leaves nothing to read.
journey_ports_come_and_go() {
  local com5="$JR_COM_NAME (COM5)" com7="$JR_COM_NAME (COM7)"
  local com9="$JR_COM_NAME (COM9)" com11="$JR_COM_NAME (COM11)"
  local two=$'0 '"$com5"$'\n1 '"$com7"
  : >"$RIG_STUB_DIR/cfgmgr32_calls.log"
  JR_DEVICES="5 7" jr_begin || return
  pass nlconf-appears
  drv windows | grep ' main ' | sed 's/^/INFO main dialog: /'
  expect master-list "$two" "$(drv items 3000)"
  expect slave-list "$two" "$(drv items 4000)"
  expect master-selects-the-first "0 $com5" "$(drv selected 3000)"
  expect slave-selects-the-first "0 $com5" "$(drv selected 4000)"
  expect only-read-enabled $'3001 enabled\n4001 enabled\n3002 disabled\n4002 disabled\n1000 disabled\n1001 disabled\n1002 disabled\n1003 disabled\n1 enabled' \
    "$(drv state 3001 4001 3002 4002 1000 1001 1002 1003 1)"
  expect_line nlconf-asked-the-stub "$RIG_STUB_DIR/cfgmgr32_calls.log" '^ROOT\\PORTS\\0007 COM7 started$'
  jr_shot start

  rig_ports add 9 "$com9" && drv devicechange arrive COM9 >/dev/null
  local three="$two"$'\n2 '"$com9"
  expect arrival-adds-to-master "$three" "$(drv items 3000)"
  expect arrival-adds-to-slave "$three" "$(drv items 4000)"
  expect arrival-keeps-the-selection "0 $com5" "$(drv selected 3000)"
  drv devicechange arrive COM9 >/dev/null
  expect repeated-arrival-lists-it-once "$three" "$(drv items 3000)"
  expect repeated-arrival-lists-it-once-in-slave "$three" "$(drv items 4000)"
  # A printer port's name is no COM port's: LPT7 must not take COM7 away.
  drv devicechange remove LPT7 >/dev/null
  expect printer-port-leaves-com7 "$three" "$(drv items 3000)"

  rig_ports remove 5 && drv devicechange remove COM5 --via broadcast >/dev/null
  local left=$'0 '"$com7"$'\n1 '"$com9"
  expect removal-takes-from-master "$left" "$(drv items 3000)"
  expect removal-takes-from-slave "$left" "$(drv items 4000)"
  expect removal-moves-master-selection "0 $com7" "$(drv selected 3000)"
  expect removal-moves-slave-selection "0 $com7" "$(drv selected 4000)"

  rig_port_state "COM11 not-started"
  rig_ports add 11 "$com11" && drv devicechange arrive COM11 >/dev/null
  expect not-started-port-is-not-listed "$left" "$(drv items 3000)"
  expect_line not-started-port-was-asked "$RIG_STUB_DIR/cfgmgr32_calls.log" '^ROOT\\PORTS\\0011 COM11 not-started$'
  rig_ports remove 11 && drv devicechange remove COM11 >/dev/null
  expect unlisted-removal-changes-nothing "$left" "$(drv items 4000)"
  rig_port_state

  rig_ports remove 7 9 && drv devicechange remove COM7 >/dev/null && drv devicechange remove COM9 >/dev/null
  expect last-removal-empties-master "" "$(drv items 3000)"
  expect last-removal-empties-slave "" "$(drv items 4000)"
  expect empty-lists-disable-read $'3001 disabled\n4001 disabled' "$(drv state 3001 4001)"
  rig_ports add 5 "$com5" && drv devicechange arrive COM5 >/dev/null
  expect arrival-into-empty-master "0 $com5" "$(drv items 3000)"
  expect arrival-into-empty-selects-nothing $'-1\n-1' "$(drv selected 3000; drv selected 4000)"
  expect arrival-enables-read $'3001 enabled\n4001 enabled' "$(drv state 3001 4001)"
  jr_shot after-changes

  drv key escape >/dev/null
  expect escape-ends-nlconf-with-0 0 "$(rig_exit_status nlconf "$EXIT_LIMIT_S")"
}
