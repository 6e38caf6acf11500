# shellcheck shell=bash
# Four ways out, each ending the program with exit status 0: the Exit
# button, Enter with the focus in the Master COM Port list (no default
# button, so Enter is the command of Exit), Escape, and the close box.
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
}

exit_fresh_program() {
  rig_stop nlconf
  jr_start_nlconf || return 1
  # Shown is not yet settled: the focus and first paint come after.
  drv sync main >/dev/null
}
