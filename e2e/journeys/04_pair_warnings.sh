# shellcheck shell=bash
# Both panes read: a matching pair offers Copy and Link Test. A slave whose
# destination is not the master's serial number, or whose extended PAN ID is
# another network's, is still read, after one warning box each, PAN ID
# first; Link Test then stays disabled. Read the master first, then the
# slave, which is the one compared.
journey_pair_warnings() {
  # COM8: another network's PAN ID and the wrong destination.
  JR_DEVICES="5 6 7 8" jr_begin 5=master 6=slave 7=slave-with-wrong-destination \
    8=slave-with-other-pan-id:dl=40B0A011 || return
  pair_warnings_body
}

pair_warnings_body() {
  local centre=(1000 1001 1003)
  jr_read_clean 3000 master
  # The module holds D7 1 with D6 0, which the pane shows as flow control
  # off (D7 4): RTS differs from the module, and says so in red.
  expect master-rts-normalised-and-red $'3014 High Level Out\n3013 Disable' "$(jr_values 3014 3013)"
  expect master-rts-colour $'3014 red\n3015 black' "$(jr_colors 3014 3015)"

  drv select 4000 "$JR_COM_NAME (COM6)" >/dev/null
  jr_read_clean 4000 matching-slave
  expect matching-pair-offers-copy-and-link-test $'1000 enabled\n1001 enabled\n1003 enabled' \
    "$(drv state "${centre[@]}")"

  drv select 4000 "$JR_COM_NAME (COM7)" >/dev/null
  drv click 4001 >/dev/null
  expect wrong-destination-warns "box: Destination address is not correct." "$(jr_outcome 20000)"
  jr_shot destination-warning
  expect wrong-destination-warns-once "done" "$(jr_ok_then_outcome 20000)"
  expect wrong-destination-slave-is-read $'4003 KOV-NL001/S\n4004 4E4C303031\n4006 40B0A011' \
    "$(jr_values 4003 4004 4006)"
  expect wrong-destination-no-link-test $'1000 enabled\n1001 enabled\n1003 disabled' \
    "$(drv state "${centre[@]}")"

  drv select 4000 "$JR_COM_NAME (COM8)" >/dev/null
  drv click 4001 >/dev/null
  expect both-wrong-pan-id-first "box: Extended PAN ID is not match." "$(jr_outcome 20000)"
  expect both-wrong-destination-second "box: Destination address is not correct." \
    "$(jr_ok_then_outcome 20000)"
  expect both-wrong-then-done "done" "$(jr_ok_then_outcome 20000)"
  expect both-wrong-slave-is-read $'4003 KOV-NL001/S\n4004 4E4C303032\n4006 40B0A011' \
    "$(jr_values 4003 4004 4006)"
  expect both-wrong-no-link-test $'1000 enabled\n1001 enabled\n1003 disabled' "$(drv state "${centre[@]}")"

  # The other direction: the master points at the slave's serial number,
  # so re-reading it finds only the PAN ID wrong.
  drv click 3001 >/dev/null
  expect master-again-pan-id-only "box: Extended PAN ID is not match." "$(jr_outcome 20000)"
  expect master-again-then-done "done" "$(jr_ok_then_outcome 20000)"
  jr_exit_confirmed exit-ends-with-0 drv click 1
}
