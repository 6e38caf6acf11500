# shellcheck shell=bash
# The slave written to 115200 on its pane: the next Read finds it there at
# once, without the reset prompt or a break, since the dialog remembers
# what it set the module talking at.
journey_found_again() {
  jr_begin 5=master 6=slave || return
  drv select 4000 "Simulated Module Port (COM6)" >/dev/null
  jr_read_clean 4000 slave
  jr_pick 4008 115200
  drv click 4002 >/dev/null
  expect baud-write-ends-without-a-box "done" "$(jr_outcome 30000)"
  local written
  written=$(wc -l <"$(jr_transcript COM6)")
  jr_module_rests
  drv click 4001 >/dev/null
  expect read-again-ends-without-a-box "done" "$(jr_outcome 20000)"
  local again
  again=$(tail -n +"$((written + 1))" "$(jr_transcript COM6)")
  expect read-again-asks-no-key "" "$(grep -E 'break on|reset key' <<<"$again")"
  expect_match one-try-at-115200 'host> +"\+\+\+" .* 115200 8N1' \
    "$(grep -F '"+++"' <<<"$again")"
  expect read-again-one-try 1 "$(grep -cF '"+++"' <<<"$again")"
  expect baud-shown $'4008 115200\n4003 KOV-NL001/S' "$(jr_values 4008 4003)"
  jr_exit_with exit-ends-with-0 drv click 1
}
