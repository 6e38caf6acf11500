# shellcheck shell=bash
# A slave module in the master pane. One that may take either place (role
# byte 0x40) gets as far as its node identifier, which the message quotes;
# a plain slave is turned away by its role byte before that, so the quote is
# empty. Either way the pane is cleared afterwards.
journey_wrong_role() {
  jr_begin 5=slave-with-shared-role 6=slave || return
  drv click 3001 >/dev/null
  expect shared-role-slave-named "box: Network ID \"KOV-NL001/S\" is not a master." "$(jr_outcome 20000)"
  jr_shot not-a-master
  expect then-done "done" "$(jr_ok_then_outcome 20000)"
  expect pane-cleared "$(jr_cleared_values 3000)" "$(jr_pane_values 3000)"
  expect no-write-for-a-wrong-module "3002 disabled" "$(drv state 3002)"
  expect port-closed-after-the-refusal 0 "$(jr_pty_fds)"
  expect_match left-command-mode 'host> "ATNI\\r".*host> "ATCN\\r"' "$(jr_lines COM5 | tr '\n' ' ')"

  drv select 3000 "$JR_COM_NAME (COM6)" >/dev/null
  drv click 3001 >/dev/null
  expect plain-slave-turned-away-by-role "box: Network ID \"\" is not a master." "$(jr_outcome 20000)"
  expect plain-slave-then-done "done" "$(jr_ok_then_outcome 20000)"
  expect plain-slave-pane-cleared "$(jr_cleared_values 3000)" "$(jr_pane_values 3000)"
  expect plain-slave-port-closed 0 "$(jr_pty_fds)"
  # Nothing asked after the version but the way out of command mode.
  expect plain-slave-asked-no-further "$(printf 'host> "%s\\r"\n' ATGT ATVR ATCN)" \
    "$(jr_lines COM6 | grep '^host> "AT')"
  jr_exit_with exit-ends-with-0 drv click 1
}
