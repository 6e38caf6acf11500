# shellcheck shell=bash
# Two ports present at start: both lists offer them, only Read and Exit can
# be pressed.
# A cfgmgr32.dll planted beside the program must never load: the ports are
# listed through the one in system32.
journey_ports_present() {
  local planted=$RIG_RUN/cfgmgr32.dll
  cp "$RIG_WORK/stub/cfgmgr32.dll" "$planted" || { fail plant-a-dll "could not copy"; return; }
  rm -f "$RIG_RUN/cfgmgr32_loads.log" "$RIG_STUB_DIR/cfgmgr32_loads.log"
  jr_begin 5=master 6=slave
  local started=$?
  rm -f "$planted"
  ((started == 0)) || return
  local two=$'0 Simulated Module Port (COM5)\n1 Simulated Module Port (COM6)'
  expect master-list-holds-both-ports "$two" "$(drv items 3000)"
  expect slave-list-holds-both-ports "$two" "$(drv items 4000)"
  expect_line system32-cfgmgr32-was-loaded "$RIG_STUB_DIR/cfgmgr32_loads.log" 'nlconf\.exe'
  expect planted-cfgmgr32-never-loaded "absent" \
    "$([[ -e $RIG_RUN/cfgmgr32_loads.log ]] && tr -d '\r' <"$RIG_RUN/cfgmgr32_loads.log" || echo absent)"
  expect only-read-and-exit-enabled \
    $'3001 enabled\n4001 enabled\n3002 disabled\n4002 disabled\n1000 disabled\n1001 disabled\n1002 disabled\n1003 disabled\n1 enabled' \
    "$(drv state 3001 4001 3002 4002 1000 1001 1002 1003 1)"
  expect both-panes-start-empty "$(jr_cleared_values 3000; jr_cleared_values 4000)" \
    "$(jr_pane_values 3000; jr_pane_values 4000)"
  jr_exit_with exit-ends-with-0 drv click 1
}
