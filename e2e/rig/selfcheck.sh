# shellcheck shell=bash
# The rig's port devices checked on their own, as one step of the harness:
# port_devices.sh makes and removes registry devices, the Ports class lists
# them with their friendly names (ports_check.exe), and the test
# cfgmgr32.dll answers started / not-started / fail as cfgmgr32_state.txt
# says at that moment, while Wine's own says "not started".
selfcheck_port_devices() {
  local com5="Simulated Module Port (COM5)" com7="Simulated Module Port (COM7)"
  if ! rig_ports_set 5 "$com5" 7 "$com7"; then
    fail port-devices-add "port_devices.sh add failed"
    return
  fi
  expect port-devices-lists-what-it-added "COM5 $com5"$'\n'"COM7 $com7" "$(rig_ports list)"
  : >"$RIG_STUB_DIR/cfgmgr32_calls.log"

  rig_port_state
  run_check all-started 60 ports_check.exe --stub "$com5=started" "$com7=started" \
    "Simulated Module Port (COM9)=absent"
  rig_port_state "COM7 not-started"
  run_check com7-not-started 60 ports_check.exe --stub "$com5=started" "$com7=not-started"
  rig_port_state "# the last line naming a port decides" "COM7 not-started" "COM5 fail" "com7 started"
  run_check com5-fails-com7-back 60 ports_check.exe "$com5=fail" "$com7=started"
  rig_port_state
  # Without the override Wine's own cfgmgr32 answers, and the check says so.
  RIG_STUB="" rig_run no-override 60 ports_check.exe --stub
  expect_status no-override-is-told-apart 0 grep -q "without the stub's marker" \
    "$RIG_LOGS/no-override.out"
  expect_status wine-builtin-says-not-started 0 \
    grep -q "COM5)\" id ROOT.PORTS.0005 not-started (result 0x0, status 0x00000000" \
    "$RIG_LOGS/no-override.out"
  rig_ports remove 7 || fail port-devices-remove "port_devices.sh remove 7 failed"
  run_check after-unplug 60 ports_check.exe "$com5=started" "$com7=absent"
  rig_ports add 7 "$com7" || fail port-devices-add-again "port_devices.sh add 7 failed"
  expect_line stub-logs-each-answer "$RIG_STUB_DIR/cfgmgr32_calls.log" '^ROOT\\PORTS\\0007 COM7 not-started$'
}
