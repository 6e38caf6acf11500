# shellcheck shell=bash
# How a pair run ends when it cannot or should not go on: both panes on one
# port is refused before a byte is sent; Cancel in the master's Write lets
# the write store what it sent; an unplug is the run's result, recorded so.

pe_win_path() { echo "Z:${1//\//\\}"; }

pe_one_port_for_both() {
  local com5="$JR_COM_NAME (COM5)"
  drv select 4000 "$com5" >/dev/null
  drv key f5 >/dev/null
  expect_match one-port-refused-naming-it '^box: Master and Slave are both set to COM5: ' \
    "$(jr_outcome 5000)"
  drv msgbox-ok >/dev/null
  expect one-port-no-byte-sent 0 "$(jr_count COM5 'host> ')"
  drv select 4000 "$JR_COM_NAME (COM6)" >/dev/null
}

# What the master was sent from its Write's first setter on, up to the
# command that left command mode.
pe_write_session() {
  awk '/host> +"ATSC[0-9A-F]+\\r/ { on = 1 }
    on && /host> / { sub(/^[^"]*"/, ""); sub(/" \[.*$/, ""); s = s $0 }
    END { i = index(s, "ATCN\\r"); print i ? substr(s, 1, i + 5) : s }' "$(jr_transcript COM5)"
}

pe_cancel_in_write_master() {
  rig_ctl set COM5 SC 10 >/dev/null
  drv key f5 >/dev/null
  if ! jr_wait_transcript COM5 'host> +"ATSC[0-9A-F]+\\r' 60000; then
    fail cancel-write-started "no channel change sent to the master within 60 s"
    return
  fi
  drv click 2 --in progress >/dev/null
  expect_match cancel-write-says-it-finishes 'Finishing Write Master' "$(drv progress)"
  drv wait linkresult 60000 >/dev/null
  expect_match cancel-write-cancelled 'Write Master: Cancelled\.' \
    "$(drv text 2002 --in linkresult)"
  jr_shot cancel-in-write-master
  drv key enter >/dev/null
  drv wait-gone linkresult 5000 >/dev/null
  expect_match cancel-write-stored-before-leaving 'ATWR\\r.*ATCN\\r$' "$(pe_write_session)"
  expect cancel-write-recorded 1 "$(grep -c ',FAIL,Write Master,Cancelled\.,' "$PE_DIR/pairs.csv")"
}

pe_unplug_during_run() {
  local answered
  sleep 1.5  # the modules' guard time after the last run
  answered=$(jr_count COM6 'module> "OK\\r"')
  drv key f5 >/dev/null
  if ! jr_wait_transcript COM6 'module> "OK\\r"' 60000 "$((answered + 1))"; then
    fail unplug-slave-answered "no answer from the slave within 60 s"
    return
  fi
  expect unplug-slave "ok" "$(rig_ctl unplug COM6)"
  drv devicechange remove COM6 --via broadcast >/dev/null
  rig_ports remove 6 >/dev/null
  drv wait linkresult 30000 >/dev/null
  expect_match unplug-ends-with-the-port 'Read Slave: Communication error\. \(COM6 removed\)' \
    "$(drv text 2002 --in linkresult)"
  drv key enter >/dev/null
  drv wait-gone linkresult 5000 >/dev/null
  expect unplug-recorded-as-such 1 \
    "$(grep -c ',FAIL,Read Slave,Communication error\. (COM6 removed),' "$PE_DIR/pairs.csv")"
  expect unplug-port-closed 0 "$(jr_pty_fds)"
}

journey_pair_run_ends() {
  PE_DIR=$RIG_LOGS/pair-ends
  mkdir -p "$PE_DIR"
  printf '%s\r\n' '[Master]' 'Channel = 14' '[Slave]' 'Channel = 14' >"$PE_DIR/pair.ini"
  jr_begin 5=master 6=slave || return
  jr_exit_with first-start-ends drv click 1
  rig_start nlconf nlconf.exe "$(pe_win_path "$PE_DIR/pair.ini")" \
    --record "$(pe_win_path "$PE_DIR/pairs.csv")"
  drv wait main "$APPEAR_MS" >/dev/null
  drv wait msgbox 10000 >/dev/null && drv msgbox-ok >/dev/null
  pe_one_port_for_both
  pe_cancel_in_write_master
  pe_unplug_during_run
  jr_exit_confirmed exit-ends-with-0 drv click 1
}
