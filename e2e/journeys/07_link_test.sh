# shellcheck shell=bash
# Link Test on a pair that points at each other: "Link OK." in blue; with
# the radio between them cut: "Link NG." in red.
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
  drv click 1003 >/dev/null
  # The GUI thread waits 4.8 s for each line that does not come.
  drv wait linkresult 30000 >/dev/null
  expect cut-radio-fails "Link NG. red" "$(drv linkresult)"
  jr_shot link-ng
  drv close linkresult >/dev/null
  expect close-box-closes-the-verdict "gone" "$(drv wait-gone linkresult 5000 | cut -d' ' -f1)"
  expect panes-unchanged-by-the-test $'3003 KOV-NL001/M\n4003 KOV-NL001/S\n1003 enabled' \
    "$(jr_values 3003 4003; drv state 1003)"
  jr_exit_confirmed exit-ends-with-0 drv click 1
}
