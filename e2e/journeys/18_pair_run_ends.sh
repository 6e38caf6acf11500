# shellcheck shell=bash
# How a pair run ends when it should not go on: both panes on one port is
# refused before a byte is sent; Cancel in the master's Write lets the write
# store what it sent; an unplug is the run's result, recorded as such.

# The result window once it comes: its details, then Enter.
pe_run() {
  drv wait linkresult 60000 >/dev/null
  PE_DETAILS=$(drv text 2002 --in linkresult)
  drv key enter >/dev/null
  drv wait-gone linkresult 5000 >/dev/null
  sleep 1.5  # the modules' guard time before the next run
}

# Wine's own end of the session: WM_QUERYENDSESSION to every program's
# windows, then WM_ENDSESSION. Its exit status: 1 when a program refused.
pe_end_session() {
  (
    rig__close_driver
    loader=$(rig__loader)
    [[ $loader == */wine64 ]] && export WINELOADER=$loader
    WINEDEBUG=-all exec timeout 30 "$loader" wineboot.exe -e
  ) </dev/null >/dev/null 2>&1
}

journey_pair_run_ends() {
  local dir=$RIG_LOGS/pair-ends session
  mkdir -p "$dir"
  printf '%s\r\n' '[Master]' 'Channel = 14' '[Slave]' 'Channel = 14' >"$dir/pair.ini"
  jr_begin 5=master 6=slave || return
  jr_exit_with first-start-ends drv click 1
  rig_start nlconf nlconf.exe "Z:${dir//\//\\}\\pair.ini" --record "Z:${dir//\//\\}\\pairs.csv"
  drv wait main "$APPEAR_MS" >/dev/null
  drv wait msgbox 10000 >/dev/null && drv msgbox-ok >/dev/null

  drv key f5 >/dev/null
  expect_match one-port-refused '^box: Master and Slave are both set to COM5: ' "$(jr_outcome 5000)"
  drv msgbox-ok >/dev/null
  expect one-port-no-byte-sent 0 "$(jr_count COM5 'host> ')"
  drv select 4000 "$JR_COM_NAME (COM6)" >/dev/null

  rig_ctl set COM5 SC 10 >/dev/null
  drv key f5 >/dev/null
  jr_wait_transcript COM5 'host> +"ATSC[0-9A-F]+\\r' 60000 && drv click 2 --in progress >/dev/null
  expect_match cancel-in-write-says-it-finishes 'Finishing Write Master' "$(drv progress)"
  pe_run
  # Both writes had begun: each went through, and the result says so.
  local held='Master: stored and read back\. Slave: stored and read back\.'
  expect_match cancel-in-write-says-what-each-holds "^Write Master: Cancelled\. $held" "$PE_DETAILS"
  # What the master was sent from its first setter to leaving command mode.
  session=$(awk '/host> +"ATSC[0-9A-F]+\\r/ { on = 1 }
    on && /host> / { sub(/^[^"]*"/, ""); sub(/" \[.*$/, ""); s = s $0 }
    END { i = index(s, "ATCN\\r"); print substr(s, 1, i + 5) }' "$(jr_transcript COM5)")
  expect_match cancel-in-write-stores-first 'ATWR\\r.*ATCN\\r$' "$session"

  # Removal told while the slave's read waits: the run's cancel event meets it.
  local answered
  answered=$(jr_count COM6 'module> "OK\\r"')
  drv key f5 >/dev/null
  jr_wait_transcript COM6 'module> "OK\\r"' 60000 "$((answered + 1))" &&
    drv devicechange remove COM6 --via broadcast >/dev/null
  expect unplugged ok "$(rig_ctl unplug COM6)"
  rig_ports remove 6 >/dev/null
  pe_run
  expect_match unplug-is-the-result '^Read Slave: Communication error\. \(COM6 removed\)' \
    "$PE_DETAILS"
  expect ends-recorded-as-such "1 1" "$(grep -c ",FAIL,Write Master,Cancelled\\. $held," "$dir/pairs.csv") \
$(grep -c ',FAIL,Read Slave,Communication error\. (COM6 removed),' "$dir/pairs.csv")"
  expect unplug-port-closed 0 "$(jr_pty_fds)"
  drv key ctrl+l --input >/dev/null && drv wait "caption=NLCONF - Line Log" 5000 >/dev/null
  expect line-log-ends-runs-as-the-result-window \
    $'Write Master: Cancelled. Master: stored and read back. Slave: stored and read back.\nRead Slave: Communication error. (COM6 removed)' \
    "$(drv text 100 --in 'caption=NLCONF - Line Log' | grep -oE 'Run Pair: (PASS|FAIL - [^\\]*)' | sed 's/^Run Pair: FAIL - //')"
  drv key escape --in "caption=NLCONF - Line Log" >/dev/null

  # A logoff while the record is kept is refused, with nothing asked.
  expect_status session-end-refused-while-recording 1 pe_end_session
  expect session-goes-on "running absent" \
    "$(rig_exit_status nlconf 1) $(drv wait msgbox 500 >/dev/null && echo box || echo absent)"
  # A logoff forced during a write's wait for the join: the write stores
  # what it set and the module leaves command mode within the system's wait.
  jr_read_clean 3000 master-before-the-end
  rig_ctl fault COM5 never-associates on >/dev/null
  jr_pick 3007 13
  local polls ended
  polls=$(jr_count COM5 'host> +"ATAI\\r')
  drv click 3002 >/dev/null
  jr_wait_transcript COM5 'host> +"ATAI\\r' 10000 "$((polls + 1))"
  ended=$(drv endsession)
  expect_match forced-end-within-the-systems-wait '^ended in [0-9]{1,3} ms|^ended in [0-3][0-9]{3} ms' "$ended"
  session=$(sed -nE 's/^ *[0-9.]+ host> +"([^"]*)".*/\1/p' "$(jr_transcript COM5)" | tail -n 2 | tr -d '\n')
  expect forced-end-stores-and-leaves 'ATWR\rATCN\r' "$session"
  expect_match forced-end-module-out-of-command-mode "COM5 .*command-mode 0" "$(rig_ctl status | grep COM5)"
  # Not ended by the driver's message alone: the cancelled Write's box, then Exit.
  drv wait msgbox 5000 >/dev/null && drv msgbox-ok >/dev/null
  jr_exit_confirmed exit-ends-with-0 drv click 1
}
