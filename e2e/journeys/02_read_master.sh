# shellcheck shell=bash
# A master at 9600 8-N-1 is read: its values appear, every field black
# (the module holds the combination of mode values the pane shows), the
# whole channel list offered, Write and Set Default enabled. The port then
# arriving again empties the pane.
journey_read_master() {
  jr_begin 5=master:d6=1 6=slave || return
  drv click 3001 >/dev/null
  expect progress-says-reading "present Reading parameters... cancel=enabled" "$(drv progress)"
  expect read-ends-without-a-box "done" "$(jr_outcome 20000)"
  jr_shot after-read
  expect values-shown "3003 KOV-NL001/M
3004 4E4C303031
3005 02004E4C
3006 40B0A002
3007 15
3008 9600
3009 No Parity
3010 One Stop Bit
3011 Highest
3012 Enable
3013 Enable
3014 Flow Control
3015 Flow Control" "$(jr_pane_values 3000)"
  expect every-field-black "$(jr_pane_all black 3000)" "$(jr_pane_colors 3000)"
  expect channel-list-full "$(for c in {11..26}; do echo "$((c - 11)) $c"; done)" "$(drv items 3007)"
  expect write-and-set-default-enabled \
    $'3001 enabled\n3002 enabled\n4001 enabled\n4002 disabled\n1000 disabled\n1001 disabled\n1002 enabled\n1003 disabled' \
    "$(drv state 3001 3002 4001 4002 1000 1001 1002 1003)"
  expect slave-pane-untouched "$(jr_cleared_values 4000)" "$(jr_pane_values 4000)"
  expect_match module-left-command-mode 'host>   "ATCN\\r".*' "$(grep -E 'host>' "$(jr_transcript COM5)" | tail -n 1)"
  # The port arrives again, as after a removal nobody was told of: perhaps
  # another module is behind it now. Its pane is emptied; it stays listed once.
  drv devicechange arrive COM5 >/dev/null
  expect repeated-arrival-empties-the-pane "$(jr_cleared_values 3000)" "$(jr_pane_values 3000)"
  expect repeated-arrival-disables-write '3002 disabled' "$(drv state 3002)"
  expect repeated-arrival-lists-the-port-once \
    $'0 Simulated Module Port (COM5)\n1 Simulated Module Port (COM6)' "$(drv items 3000)"
  jr_exit_with exit-ends-with-0 drv click 1
}
