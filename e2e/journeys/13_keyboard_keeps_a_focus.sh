# shellcheck shell=bash
# A keyboard user never loses the focus: with it on a Write button that the
# button rules then disable (the port pulled out, or a Write that ends in
# "Cancelled." and empties the pane), it moves to the pane's Read button, and
# Tab and Enter go on working, without Read becoming the button that Enter
# presses from a list box. All keys are real keyboard input.
journey_keyboard_keeps_a_focus() {
  jr_begin 5=master 6=slave || return
  local com6="$JR_COM_NAME (COM6)"
  focus_on_write 3000
  jr_shot focus-on-write
  expect write-has-the-focus 3002 "$(drv focus)"

  # The port goes while the focus is on Write: Write is disabled under it.
  rig_ctl unplug COM5 >/dev/null
  drv devicechange remove COM5 --via broadcast >/dev/null
  rig_ports remove 5 >/dev/null
  expect removal-disables-write $'3002 disabled\n3001 enabled' "$(drv state 3002 3001)"
  jr_shot after-removal
  expect focus-moves-to-read 3001 "$(drv focus)"
  check enter-presses-read drv key enter --input
  # Keys are input, taken when the program gets to them: the Read must have
  # begun before its end is awaited.
  drv wait progress 5000 >/dev/null
  # The master pane now lists only the slave's port: its module is no master
  # (refused by its role byte, before its node identifier is asked).
  expect enter-reads-the-master-pane 'box: Network ID "" is not a master.' "$(jr_outcome 20000)"
  expect refused-then-done "done" "$(jr_ok_then_outcome 20000)"
  expect focus-stays-on-read 3001 "$(focus_settles_on 3001)"
  check tab-still-works drv key tab --input
  # Tab order is template order: past the disabled Write to the channel list.
  expect tab-moves-the-focus-on 3007 "$(drv focus)"

  # A Write pressed with Enter and cancelled empties the pane: the focus
  # leaves the disabled Write for Read again.
  drv select 4000 "$com6" >/dev/null
  jr_module_rests
  focus_on_write 4000
  expect slave-write-has-the-focus 4002 "$(drv focus)"
  rig_ctl hold COM6 1 >/dev/null  # the reply to the Write's "+++"
  check enter-presses-write drv key enter --input
  jr_wait_transcript COM6 'hold: host read held' 15000 || fail cancel-held "the write never got going"
  drv click 2 --in progress >/dev/null
  rig_ctl release COM6 >/dev/null
  expect write-cancelled "box: Cancelled." "$(jr_outcome 20000)"
  expect cancelled-then-done "done" "$(jr_ok_then_outcome 20000)"
  expect cancel-disables-write '4002 disabled' "$(drv state 4002)"
  expect focus-after-cancel 4001 "$(focus_settles_on 4001)"
  jr_shot after-cancel
  # Moving the focus made Read no default button: a port picked with the
  # arrow keys in the list the mouse went to, Enter still closes like Exit.
  drv click 4000 --mouse >/dev/null
  drv click 4000 --mouse >/dev/null
  expect combo-has-the-focus 4000 "$(drv focus)"
  check arrow-picks-a-port drv key down --input
  jr_exit_with enter-on-a-list-ends-with-0 drv key enter --input
}

# As a keyboard user gets there: Tab to the pane's Read, Enter to read it,
# then Tab to its Write.
focus_on_write() {
  local base=$1
  tab_to $((base + 1)) || return
  drv key enter --input >/dev/null
  drv wait progress 5000 >/dev/null
  expect "$base-read-ends-without-a-box" "done" "$(jr_outcome 20000)"
  drv sync >/dev/null
  drv key tab --input >/dev/null
}

# After a box the dialog takes the focus back when Windows activates it
# again, which a busy machine may do a moment later.
focus_settles_on() {
  local focus="" i
  for ((i = 0; i < 20; i++)); do
    focus=$(drv focus)
    [[ $focus == "$1" ]] && break
    sleep 0.1
  done
  echo "$focus"
}

tab_to() {
  local id=$1 i
  for ((i = 0; i < 40; i++)); do
    [[ $(drv focus) == "$id" ]] && return 0
    drv key tab --input >/dev/null
  done
  fail "tab-to-$id" "Tab never reached control $id"
  return 1
}
