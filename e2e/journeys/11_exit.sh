# shellcheck shell=bash
# Four ways out, each ending the program with exit status 0: the Exit
# button, Enter with the focus in the Master COM Port list (no default
# button, so Enter is the command of Exit), Escape, and the close box.
# With a pick not yet written, the way out asks first: No keeps it all.
journey_exit() {
  jr_begin 5=master 6=slave || return
  jr_exit_with exit-button-ends-with-0 drv click 1

  exit_fresh_program enter || return
  # The dialog starts with the focus in its first control; a focused list
  # shows its entry highlighted, white on the selection colour.
  expect focus-in-master-port-list "3000 white" "$(jr_colors 3000)"
  jr_exit_with enter-ends-with-0 drv key enter --input

  exit_fresh_program escape || return
  jr_exit_with escape-ends-with-0 drv key escape --input

  exit_fresh_program close-box || return
  jr_exit_with close-box-ends-with-0 drv close

  local yes=6 no=7  # the box's buttons
  exit_fresh_program unwritten || return
  jr_read_clean 3000 master
  jr_pick 3008 19200
  drv key escape --input >/dev/null && drv wait msgbox >/dev/null
  expect escape-asks-before-a-pick-is-lost \
    "The Master's changes have not been written. Exit anyway?" "$(drv msgbox)"
  drv click "$no" --in msgbox >/dev/null && drv wait-gone msgbox >/dev/null
  expect no-keeps-the-program running "$(rig_exit_status nlconf 1)"
  expect no-keeps-the-red-pick $'3008 19200\n3008 red' "$(jr_values 3008; jr_colors 3008)"
  drv key escape --input >/dev/null && drv wait msgbox >/dev/null
  jr_exit_with yes-ends-with-0 drv click "$yes" --in msgbox
}

exit_fresh_program() {
  rig_stop nlconf
  jr_start_nlconf || return 1
  # Shown is not yet settled: the focus and first paint come after.
  drv sync main >/dev/null
}
