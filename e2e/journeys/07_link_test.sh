# shellcheck shell=bash
# Link Test on a pair that points at each other: "Link OK." in blue; with
# the radio between them cut: "Link NG." in red, the window answering while
# it waits, and Cancel ending it without a verdict.
journey_link_test() {
  jr_begin 5=master 6=slave || return
  jr_read_clean 3000 master
  drv select 4000 "$JR_COM_NAME (COM6)" >/dev/null
  jr_read_clean 4000 slave
  expect link-test-offered "1003 enabled" "$(drv state 1003)"
  drv click 1003 >/dev/null
  drv wait linkresult 30000 >/dev/null
  expect linked-pair-passes "Link OK. blue" "$(drv linkresult)"
  jr_shot link-ok
  drv key enter >/dev/null
  expect enter-closes-the-verdict "gone" "$(drv wait-gone linkresult 5000 | cut -d' ' -f1)"
  # Both ways over the radio: the data went out of one port, into the other.
  expect_match data-through-the-radio 'module> "abcdefghijklmnop\\r"' "$(jr_lines COM6)"

  expect_match radio-cut "^ok" "$(rig_ctl radio cut on)"
  drv sysmenu 304 >/dev/null
  drv wait "caption=NLCONF - Line Log" 5000 >/dev/null
  drv click 1003 >/dev/null
  expect cut-radio-progress "present Link Test... cancel=enabled" "$(drv progress)"
  expect progress-names-both-panes "Master - COM5, Slave - COM6" "$(jr_caption progress)"
  jr_shot link-test-progress
  keeps_answering_until_the_verdict
  expect cut-radio-fails "Link NG. red" "$(drv linkresult)"
  # Transfers 1 and 2 each wait 4.8 s for their line.
  local took
  took=$(drv took)
  note "the verdict came ${took} ms after the click"
  if ((took >= 9600 && took < 15000)); then
    pass cut-radio-fails-after-two-waits
  else
    fail cut-radio-fails-after-two-waits "${took} ms"
  fi
  jr_shot link-ng
  drv close linkresult >/dev/null
  expect close-box-closes-the-verdict "gone" "$(drv wait-gone linkresult 5000 | cut -d' ' -f1)"
  cancel_ends_the_test
  expect panes-unchanged-by-the-test $'3003 KOV-NL001/M\n4003 KOV-NL001/S\n1003 enabled' \
    "$(jr_values 3003 4003; drv state 1003)"
  unplug_during_the_test
  jr_exit_with exit-ends-with-0 drv click 1
}

# While the test waits for a line that does not come, the window takes its
# messages (the driver's own round trip) and the line log shows what went out.
keeps_answering_until_the_verdict() {
  local started worst=0 t dt rounds=0 logged=no
  started=$(now_ms)
  while [[ $(drv progress) == present* ]] && (($(now_ms) - started < 30000)); do
    t=$(now_ms)
    drv sync main >/dev/null
    dt=$(($(now_ms) - t))
    ((dt > worst)) && worst=$dt
    rounds=$((rounds + 1))
    if [[ $logged == no ]] &&
      drv text 100 --in "caption=NLCONF - Line Log" | grep -q 'COM6 > 0123456789abcdef'; then
      [[ $(drv progress) == present* ]] && logged=yes
    fi
    sleep 0.2
  done
  drv wait linkresult 5000 >/dev/null
  note "$rounds round trips during the test, the slowest ${worst} ms"
  if ((rounds >= 10 && worst < 1000)); then
    pass answers-within-1s-throughout
  else
    fail answers-within-1s-throughout "$rounds round trips, the slowest ${worst} ms"
  fi
  expect line-log-follows-the-test yes "$logged"
}

# Cancel during the first wait: the test ends at once, with neither verdict,
# and nothing more goes out.
cancel_ends_the_test() {
  local sent
  sent=$(jr_count COM6 'host> +"0123456789abcdef')
  drv click 1003 >/dev/null
  sleep 1.5
  check cancel-clicked drv click 2 --in progress
  expect cancel-ends-the-test done "$(jr_outcome 5000)"
  local took
  took=$(drv took)
  if ((took < 1000)); then
    pass cancel-ends-within-1s
  else
    fail cancel-ends-within-1s "${took} ms"
  fi
  sleep 0.5
  expect cancelled-shows-no-verdict absent "$(drv linkresult)"
  expect cancelled-sends-nothing-more "$((sent + 1))" "$(jr_count COM6 'host> +"0123456789abcdef')"
  expect cancelled-closes-both-ports 0 "$(jr_pty_fds)"
}

# The slave's port goes away while the test waits: that is no Cancel of the
# user's, and the test says "Link NG." at once; the slave's pane empties.
unplug_during_the_test() {
  drv click 1003 >/dev/null
  sleep 1.5
  drv devicechange remove COM6 >/dev/null
  expect_match unplugged-fails-at-once "^found" "$(drv wait linkresult 2000)"
  expect unplugged-says-ng "Link NG. red" "$(drv linkresult)"
  drv key enter >/dev/null
  drv wait-gone linkresult 5000 >/dev/null
  expect unplugged-slave-pane-emptied "4003 " "$(jr_values 4003)"
  expect unplugged-closes-both-ports 0 "$(jr_pty_fds)"
}
