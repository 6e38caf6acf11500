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
  # A test over in a moment comes without a progress window flashing by: the
  # click returns once what the test opened shows, so a window would be up.
  local quick
  quick=$(drv wait progress 300 >/dev/null && echo found || echo timed out)
  drv wait linkresult 30000 >/dev/null
  expect linked-pair-passes "Link OK. blue" "$(drv linkresult)"
  jr_shot link-ok
  drv key enter >/dev/null
  expect enter-closes-the-verdict "gone" "$(drv wait-gone linkresult 5000 | cut -d' ' -f1)"
  # Both ways over the radio: the data went out of one port, into the other.
  expect_match data-through-the-radio 'module> "abcdefghijklmnop\\r"' "$(jr_lines COM6)"

  expect_match radio-cut "^ok" "$(rig_ctl radio cut on)"
  drv sysmenu 304 >/dev/null
  # On a loaded machine the test itself may last beyond the window's 300 ms:
  # then the window is right to show, as the line log's times tell.
  expect quick-test-shows-no-progress "timed out" "$(quick_test_verdict "$quick")"
  drv click 1003 >/dev/null
  expect cut-radio-progress "present Link Test... cancel=enabled" "$(drv progress)"
  expect progress-names-both-panes "Master - COM5, Slave - COM6" "$(jr_caption progress)"
  jr_shot link-test-progress
  answers_while_it_waits
  expect cut-radio-fails "Link NG. red" "$(drv linkresult)"
  local took
  took=$(drv took)
  note "Link NG. came ${took} ms after the click"
  # Transfers 1 and 2 each wait 4.8 s for their line.
  check cut-radio-fails-after-two-waits test "$took" -ge 9600 -a "$took" -lt 15000
  jr_shot link-ng
  drv close linkresult >/dev/null
  expect close-box-closes-the-verdict "gone" "$(drv wait-gone linkresult 5000 | cut -d' ' -f1)"
  expect panes-unchanged-by-the-test $'3003 KOV-NL001/M\n4003 KOV-NL001/S\n1003 enabled' \
    "$(jr_values 3003 4003; drv state 1003)"
  cancel_and_unplug
  jr_exit_confirmed exit-ends-with-0 drv click 1
}

# "timed out" when no progress window showed, or when one did for a test
# that the line log shows lasting longer than the window waits (300 ms).
quick_test_verdict() {
  [[ $1 != found ]] && { echo "$1"; return; }
  local log ms
  log=$(drv text 100 --in "caption=NLCONF - Line Log" | sed 's/\\r\\n/\n/g')
  ms=$(awk '/Link Test with COM6 started/ && !s { s = $1 } /Link Test: Link OK/ && !e { e = $1 }
    function t(x, f) { split(x, f, ":"); return (f[1] * 3600 + f[2] * 60 + f[3]) * 1000 }
    END { if (s && e) print int(t(e) - t(s)); else print 0 }' <<<"$log")
  note "the quick test lasted ${ms} ms by the line log" >&2
  ((ms > 300)) && echo "timed out" || echo found
}

# The driver's round trip to the window, and the line log, while it waits.
answers_while_it_waits() {
  local worst=0 t rounds=0 logged=no
  while [[ $(drv progress) == present* ]]; do
    t=$(now_ms)
    drv sync main >/dev/null
    t=$(($(now_ms) - t)) rounds=$((rounds + 1))
    ((t > worst)) && worst=$t
    drv text 100 --in "caption=NLCONF - Line Log" | grep -q 'COM6 > 0123456789abcdef' && logged=yes
    sleep 0.2
  done
  drv wait linkresult 5000 >/dev/null
  note "$rounds round trips while it waited, the slowest ${worst} ms"
  check answers-throughout test "$rounds" -ge 3 -a "$worst" -lt 5000
  expect line-log-follows-the-test yes "$logged"
}

# Cancel ends the test at once without a verdict or another line; a port
# that goes away is no Cancel of the user's: "Link NG." at once.
cancel_and_unplug() {
  local sent
  sent=$(jr_count COM6 'host> +"0123456789abcdef')
  drv click 1003 >/dev/null
  sleep 1.5
  drv click 2 --in progress >/dev/null
  expect cancel-ends-the-test done "$(jr_outcome 5000)"
  check cancel-ends-at-once test "$(drv took)" -lt 5000
  expect cancelled-shows-no-verdict absent "$(sleep 0.5; drv linkresult)"
  expect cancelled-sends-nothing-more "$((sent + 1))" "$(jr_count COM6 'host> +"0123456789abcdef')"
  drv click 1003 >/dev/null
  sleep 1.5
  drv devicechange remove COM6 >/dev/null
  expect_match unplugged-fails-at-once "^found" "$(drv wait linkresult 2000)"
  expect unplugged-says-ng "Link NG. red" "$(drv linkresult)"
  drv key enter >/dev/null
  expect unplugged-slave-pane-emptied "4003 " "$(drv wait-gone linkresult 5000 >/dev/null; jr_values 4003)"
  expect ports-closed-after-both 0 "$(jr_pty_fds)"
}
