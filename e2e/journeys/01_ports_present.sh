# shellcheck shell=bash
# Two ports present at start: both lists offer them, only Read and Exit can
# be pressed.
journey_ports_present() {
  jr_begin 5=master 6=slave || return
  local two=$'0 Simulated Module Port (COM5)\n1 Simulated Module Port (COM6)'
  expect master-list-holds-both-ports "$two" "$(drv items 3000)"
  expect slave-list-holds-both-ports "$two" "$(drv items 4000)"
  expect only-read-and-exit-enabled \
    $'3001 enabled\n4001 enabled\n3002 disabled\n4002 disabled\n1000 disabled\n1001 disabled\n1002 disabled\n1003 disabled\n1 enabled' \
    "$(drv state 3001 4001 3002 4002 1000 1001 1002 1003 1)"
  expect both-panes-start-empty "$(jr_cleared_values 3000; jr_cleared_values 4000)" \
    "$(jr_pane_values 3000; jr_pane_values 4000)"
  jr_exit_with exit-ends-with-0 drv click 1
}
