# shellcheck shell=bash
# The master's adapter is pulled out during a Read: the Read ends with
# "Communication error.", the pane is cleared, the port leaves both lists
# and the program goes on. Plugged back in, the port is listed again and
# can be opened and read: nothing of the old one is left holding it. Done
# twice: while the reader sleeps out the guard time before "+++" (the
# removal comes while the Read still runs), and while it waits for a reply.
journey_unplug_during_read() {
  jr_begin 5=master 6=slave || return
  local com5="$JR_COM_NAME (COM5)" com6="$JR_COM_NAME (COM6)"

  drv click 3001 >/dev/null
  if jr_wait_transcript COM5 'module> "OK\\r"' 10000; then
    unplug_com5 guard
  else
    fail guard-quick-test "no reply to the quick test within 10 s"
  fi
  plug_com5_and_read guard

  jr_module_rests
  rig_ctl fault COM5 withhold NI >/dev/null
  local asked
  asked=$(jr_count COM5 'host> +"ATNI')
  drv click 3001 >/dev/null
  if jr_wait_transcript COM5 'host> +"ATNI' 15000 "$((asked + 1))"; then
    unplug_com5 reply
  else
    fail reply-ni-sent "no ATNI within 15 s"
  fi
  plug_com5_and_read reply
  jr_exit_confirmed exit-ends-with-0 drv click 1
}

# As Windows does it: the device goes, then the removal is broadcast.
unplug_com5() {
  local when=$1
  expect "$when-unplugged" ok "$(rig_ctl unplug COM5)"
  expect_match "$when-removal-delivered" '^broadcast' "$(drv devicechange remove COM5 --via broadcast)"
  rig_ports remove 5 >/dev/null
  expect "$when-communication-error" "box: Communication error." "$(jr_outcome 20000)"
  [[ $when == guard ]] && jr_shot removed-during-read
  expect "$when-then-done" "done" "$(jr_ok_then_outcome 20000)"
  expect "$when-pane-cleared" "$(jr_cleared_values 3000)" "$(jr_pane_values 3000)"
  expect "$when-port-gone-from-both-lists" $'0 '"$com6"$'\n0 '"$com6" "$(drv items 3000; drv items 4000)"
  expect "$when-master-selects-what-is-left" "0 $com6" "$(drv selected 3000)"
  expect "$when-still-answers" $'3001 enabled\n4001 enabled\n3002 disabled' "$(drv state 3001 4001 3002)"
  expect "$when-departed-port-closed" 0 "$(jr_pty_fds)"
}

plug_com5_and_read() {
  local when=$1
  expect_match "$when-plugged" '^ok' "$(rig_ctl plug COM5)"
  rig_ports add 5 "$com5" >/dev/null
  expect_match "$when-arrival-delivered" '^broadcast' "$(drv devicechange arrive COM5 --via broadcast)"
  expect "$when-port-back-in-both-lists" $'0 '"$com6"$'\n1 '"$com5"$'\n0 '"$com6"$'\n1 '"$com5" \
    "$(drv items 3000; drv items 4000)"
  drv select 3000 "$com5" >/dev/null
  jr_read_clean 3000 "$when-plugged-back"
  expect "$when-plugged-back-values" $'3003 KOV-NL001/M\n3004 4E4C303031' "$(jr_values 3003 3004)"
  expect "$when-plugged-back-port-closed" 0 "$(jr_pty_fds)"
}
