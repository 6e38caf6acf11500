# shellcheck shell=bash
# What the user changes shows in red until it matches the module again:
# a picked baud rate, ">> Copy >>" into a slave with other serial settings
# (the master untouched), and Set Default (on the slave: Power Save "On",
# Cyclic Sleep, Flow Control locked on "Enable").
journey_edit_copy_defaults() {
  # The slave: channel 16, 19200 baud, odd parity; it needs the reset key.
  jr_begin 5=master:d6=1 6=slave:sc=20,baud=4,nb=2,d6=1 || return
  jr_read_clean 3000 master
  jr_pick 3008 19200
  expect picked-baud-shown $'3008 19200' "$(jr_values 3008)"
  expect picked-baud-red "3008 red" "$(jr_colors 3008)"
  jr_pick 3008 9600
  expect baud-picked-back-black "3008 black" "$(jr_colors 3008)"
  # Taken while the dialog is idle: right after an operation ends, a read of
  # the controls can come back empty.
  local master_before
  master_before=$(jr_pane_values 3000)
  expect master-snapshot-holds-the-read-module "3003 KOV-NL001/M" "$(head -n 1 <<<"$master_before")"

  drv select 4000 "$JR_COM_NAME (COM6)" >/dev/null
  drv click 4001 >/dev/null
  expect slave-key-pressed "ok: pressed under break" "$(jr_press_when_prompted COM6)"
  expect slave-read-ends-without-a-box "done" "$(jr_outcome 20000)"
  expect slave-values $'4007 16\n4008 19200\n4009 Odd Parity\n4010 One Stop Bit' \
    "$(jr_values 4007 4008 4009 4010)"

  drv click 1000 --mouse >/dev/null
  jr_shot after-copy
  expect copy-takes-master-settings $'4007 15\n4008 9600\n4009 No Parity\n4010 One Stop Bit' \
    "$(jr_values 4007 4008 4009 4010)"
  expect copy-marks-what-differs-from-the-slave \
    $'4007 red\n4008 red\n4009 red\n4010 black\n4004 black\n4005 black\n4006 black\n4011 black' \
    "$(jr_colors 4007 4008 4009 4010 4004 4005 4006 4011)"
  expect copy-leaves-master-values "$master_before" "$(jr_pane_values 3000)"
  # shellcheck disable=SC2086
  expect copy-leaves-master-black "$(jr_pane_all black 3000)" "$(jr_pane_colors 3000)"
  # Enter presses the push button that has the focus: Copy, after its click.
  jr_pick 3008 19200
  check enter-presses-the-focused-button drv key enter --input
  expect enter-copied-again $'4008 19200' "$(jr_values 4008)"
  expect enter-did-not-close running "$(rig_exit_status nlconf 1)"
  jr_pick 3008 9600

  drv click 1002 >/dev/null
  jr_shot after-set-default
  expect slave-defaults "4004 4E4C303031
4005 02004E4C
4006 40B0A001
4007 20
4008 9600
4009 No Parity
4010 One Stop Bit
4011 Highest
4012 Enable
4013 On
4014 Cyclic Sleep
4015 Enable
4016 Flow Control
4017 Flow Control" "$(jr_values 4004 4005 4006 4007 4008 4009 4010 4011 4012 4013 4014 4015 4016 4017)"
  expect slave-flow-control-locked "4015 disabled" "$(drv state 4015)"
  # The module sleeps not, and runs at 19200 odd on channel 16.
  expect slave-defaults-red-where-the-module-differs \
    $'4007 red\n4008 red\n4009 red\n4010 black\n4011 black\n4012 black\n4013 red\n4014 red\n4016 black\n4017 black' \
    "$(jr_colors 4007 4008 4009 4010 4011 4012 4013 4014 4016 4017)"
  expect master-defaults $'3007 20\n3008 9600\n3013 Enable' "$(jr_values 3007 3008 3013)"
  expect master-channel-default-red $'3007 red\n3008 black' "$(jr_colors 3007 3008)"
  jr_exit_confirmed exit-ends-with-0 drv click 1
}
