# shellcheck shell=bash
# Writes of the master: a new channel moves the module (it waits to join
# its network again) and the verifying read shows every field black; a new
# baud rate moves the module and the host port with it, and the read-back at
# the new rate succeeds.
journey_write() {
  jr_begin 5=master 6=slave || return
  jr_read_clean 3000 master
  jr_pick 3007 20
  expect new-channel-red "3007 red" "$(jr_colors 3007)"
  drv click 3002 >/dev/null
  expect progress-says-writing "present Writing parameters... cancel=enabled" "$(drv progress)"
  expect channel-write-ends-without-a-box "done" "$(jr_outcome 30000)"
  # Channel 20 is bit 9 of SC. The write also sends D7 4: the pane shows
  # flow control off, the module held D7 1.
  local lines
  lines=$(jr_lines COM5 | grep -vE '^module> ')
  expect channel-write-commands $'host> "ATSC200\\r"\nhost> "ATAC\\r"\nhost> "ATNR0\\r"' \
    "$(grep -A2 -F 'host> "ATSC200\r"' <<<"$lines")"
  expect_match waits-for-association 'host> "ATAI\\r"' "$lines"
  expect_match stores-then-leaves $'host> "ATD74\\\\r"\nhost> "ATWR\\\\r"\nhost> "ATCN\\\\r"' "$lines"
  expect module-reports-the-new-channel 'module> "200\r"' \
    "$(jr_lines COM5 | grep -A1 -F 'host> "ATSC\r"' | tail -n 1)"
  expect channel-shown $'3007 20\n3014 High Level Out' "$(jr_values 3007 3014)"
  expect after-channel-write-every-field-black "$(jr_pane_all black 3000)" "$(jr_pane_colors 3000)"
  jr_shot after-channel-write

  jr_pick 3008 19200
  drv click 3002 >/dev/null
  expect baud-write-ends-without-a-box "done" "$(jr_outcome 30000)"
  expect_match baud-sent 'host>   "ATBD4\\r" .* 9600 8N1' "$(grep -F 'ATBD4' "$(jr_transcript COM5)")"
  # The read-back: the same queries, now at 19200 on both sides.
  expect_match read-back-at-19200 'host>   "ATNI\\r" .* 19200 8N1' \
    "$(grep -F 'host>   "ATNI\r"' "$(jr_transcript COM5)" | tail -n 1)"
  expect baud-shown $'3008 19200\n3007 20\n3003 KOV-NL001/M' "$(jr_values 3008 3007 3003)"
  expect after-baud-write-every-field-black "$(jr_pane_all black 3000)" "$(jr_pane_colors 3000)"
  jr_exit_with exit-ends-with-0 drv click 1
}
