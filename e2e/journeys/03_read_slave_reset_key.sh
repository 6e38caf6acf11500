# shellcheck shell=bash
# A slave at 38400, even parity, two stop bits does not answer at 9600: the
# program asks for the reset key, the user presses it while the prompt is
# up, and the slave's values appear.
journey_read_slave_reset_key() {
  jr_begin 5=master 6=slave:baud=5,nb=1,sb=1 || return
  drv select 4000 "Simulated Module Port (COM6)" >/dev/null
  drv click 4001 >/dev/null
  drv wait prompt 15000 >/dev/null
  expect prompt-asks-for-the-key "visible Please press the reset key." "$(drv prompt)"
  expect prompt-names-pane-and-port "Slave - COM6" "$(jr_caption prompt)"
  expect progress-names-pane-and-port "Slave - COM6" "$(jr_caption progress)"
  jr_shot prompt
  expect key-pressed-under-break "ok: pressed under break" "$(jr_press_when_prompted COM6)"
  expect read-ends-without-a-box "done" "$(jr_outcome 20000)"
  expect prompt-gone-after-the-read absent-or-hidden "$(drv prompt | sed -E 's/^(absent|hidden).*/absent-or-hidden/')"
  expect values-shown "4003 KOV-NL001/S
4004 4E4C303031
4005 02004E4C
4006 40B0A001
4007 15
4008 38400
4009 Even Parity
4010 Two Stop Bits" "$(jr_values 4003 4004 4005 4006 4007 4008 4009 4010)"
  expect serial-fields-black $'4008 black\n4009 black\n4010 black' "$(jr_colors 4008 4009 4010)"
  # The queries ran at the module's own settings once the key had told them.
  expect_match queries-at-38400-8E2 'host>   "ATNI\\r" .* 38400 8E2$' \
    "$(grep -F 'host>   "ATNI\r"' "$(jr_transcript COM6)")"
  # The dialog would now find this module at 38400 8-E-2 at once: another
  # one takes its place, at 19200 8-E-2, which only its reset key tells.
  rig_ctl set COM6 BD 4 >/dev/null || fail other-module "set BD"
  a_read_that_runs_out_leaves_nothing
  cancel_beside_the_prompt
  jr_exit_confirmed exit-ends-with-0 drv click 1
}

# A red channel, then a Read whose prompt runs out: only Read is offered.
a_read_that_runs_out_leaves_nothing() {
  jr_pick 4007 20
  drv click 4001 >/dev/null
  expect unanswered-communication-error "box: Communication error." "$(jr_outcome 25000)"
  expect unanswered-then-done "done" "$(jr_ok_then_outcome 20000)"
  expect unanswered-pane-cleared "$(jr_cleared_values 4000)" "$(jr_pane_values 4000)"
  expect unanswered-only-read-offered $'4001 enabled\n4002 disabled\n1002 disabled' \
    "$(drv state 4001 4002 1002)"
}

# The prompt leaves Cancel in sight and clickable; Escape in the prompt
# cancels as Cancel does.
cancel_beside_the_prompt() {
  drv click 4001 >/dev/null
  drv wait prompt 15000 >/dev/null
  check cancel-clickable-beside-the-prompt drv click 2 --in progress --mouse --as-seen
  expect cancel-beside-the-prompt-cancels "box: Cancelled." "$(jr_outcome 20000)"
  drv msgbox-ok >/dev/null
  drv click 4001 >/dev/null
  drv wait prompt 15000 >/dev/null
  check escape-pressed-in-the-prompt drv key escape --in prompt --input
  expect escape-in-the-prompt-cancels "box: Cancelled." "$(jr_outcome 20000)"
  drv msgbox-ok >/dev/null
}
