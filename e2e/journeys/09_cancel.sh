# shellcheck shell=bash
# Cancel during a Read. Cancel only sets an event: a wait on the line ends
# on it at once (a link error: "Communication error."), while a check
# between two steps gives "Cancelled." and clears the pane. What decides is
# where the reader is when the user clicks. While the module is still being
# sought, every stage looks: "Cancelled.".
journey_cancel() {
  jr_begin 5=master 6=slave:baud=5,nb=1,sb=1 || return
  cancel_at_a_step
  cancel_while_waiting_for_a_reply
  no_cancel_same_wait
  cancel_while_the_module_is_sought
  cancel_under_the_reset_prompt
  jr_exit_with exit-ends-with-0 drv click 1
}

# The check between the first two queries. The quick test's "+++" leaves
# the module in command mode, and the Read goes on with "ATGT". Under Wine
# every serial read completes asynchronously, so a Cancel clicked before a
# reply has been taken ends the read (a transfer, not a step). The port
# therefore pauses the program inside the read that takes the carriage
# return of the "ATGT" reply (the second of the Read: the first ends the
# quick test's "OK"), Cancel is clicked while it waits there, and then the
# read goes on: the reply is complete, the next thing that sees the cancel
# is the check. The module's traffic shows it: one query, then command mode
# left ("ATCN").
cancel_at_a_step() {
  local message sent
  rig_ctl hold COM5 2 >/dev/null
  drv click 3001 >/dev/null
  if ! jr_wait_transcript COM5 'hold: host read held' 15000; then
    rig_ctl release COM5 >/dev/null
    fail at-a-step-held "the program never took the reply to \"ATGT\" within 15 s"
    return
  fi
  pass at-a-step-held
  check at-a-step-clicked-while-held drv click 2 --in progress
  rig_ctl release COM5 >/dev/null
  message=$(jr_outcome 20000)
  jr_shot cancelled
  expect at-a-step-cancelled "box: Cancelled." "$message"
  # What the host sent from the pause's arming on, joined.
  sent=$(awk '/hold: armed/ { on = 1; next }
    on && /^ *[0-9.]+ host> / { sub(/^[^"]*"/, ""); sub(/" \[.*$/, ""); s = s $0 } END { print s }' \
    "$(jr_transcript COM5)")
  expect at-a-step-one-query '+++ATGT\rATCN\r' "$sent"
  expect at-a-step-then-done "done" "$(jr_ok_then_outcome 20000)"
  expect at-a-step-pane-cleared "$(jr_cleared_values 3000)" "$(jr_pane_values 3000)"
  expect at-a-step-port-closed 0 "$(jr_pty_fds)"
}

# The module keeps its answer to "ATNI": the reader waits for its first
# byte (1.2 s at most) when Cancel comes. A cancelled wait and the time-out
# give the same message; the module's clock tells them apart: the reader
# leaves command mode ("ATCN") at once after a cancel, and only 1.2 s after
# "ATNI" when its wait runs out (measured without Cancel next).
cancel_while_waiting_for_a_reply() {
  jr_module_rests
  rig_ctl fault COM5 withhold NI >/dev/null
  local before seen clicked gap
  before=$(jr_count COM5 'host> +"ATNI')
  drv click 3001 >/dev/null
  if ! jr_wait_transcript COM5 'host> +"ATNI' 15000 "$((before + 1))"; then
    fail in-a-transfer-ni-sent "no ATNI within 15 s"
    return
  fi
  seen=$(now_ms)
  drv click 2 --in progress >/dev/null
  clicked=$(now_ms)
  expect in-a-transfer-communication-error "box: Communication error." "$(jr_outcome 20000)"
  gap=$(jr_gap_ms COM5 'host> +"ATNI' 'host> +"ATCN')
  note "Cancel clicked $((clicked - seen)) ms after ATNI was seen; ATCN followed ATNI by ${gap:-?} ms"
  if [[ -n $gap ]] && ((gap < 1000)); then
    pass in-a-transfer-ended-by-the-cancel
  else
    fail in-a-transfer-ended-by-the-cancel "ATCN came ${gap:-never} ms after ATNI, as after a time-out"
  fi
  expect in-a-transfer-then-done "done" "$(jr_ok_then_outcome 20000)"
  expect in-a-transfer-port-closed 0 "$(jr_pty_fds)"
}

# The same withheld reply without Cancel: the reply time-out ends it.
no_cancel_same_wait() {
  jr_module_rests
  rig_ctl fault COM5 withhold NI >/dev/null
  local before gap
  before=$(jr_count COM5 'host> +"ATNI')
  drv click 3001 >/dev/null
  if ! jr_wait_transcript COM5 'host> +"ATNI' 15000 "$((before + 1))"; then
    fail no-cancel-ni-sent "no ATNI within 15 s"
    return
  fi
  expect no-cancel-communication-error "box: Communication error." "$(jr_outcome 20000)"
  gap=$(jr_gap_ms COM5 'host> +"ATNI' 'host> +"ATCN')
  note "without Cancel ATCN followed ATNI by ${gap:-?} ms"
  if [[ -n $gap ]] && ((gap >= 1150)); then
    pass no-cancel-waits-for-the-time-out
  else
    fail no-cancel-waits-for-the-time-out "ATCN came ${gap:-never} ms after ATNI"
  fi
  expect no-cancel-then-done "done" "$(jr_ok_then_outcome 20000)"
}

# Cancel while the quick test waits for the slave at 38400 (it does not
# answer at 9600): no frame, no pulse rate, no reset key asked, no break.
cancel_while_the_module_is_sought() {
  local sent before
  drv select 4000 "$JR_COM_NAME (COM6)" >/dev/null
  sent=$(jr_count COM6 'host> ')
  before=$(jr_lines COM6 | wc -l)
  drv click 4001 >/dev/null
  jr_wait_transcript COM6 'host> ' 5000 "$((sent + 1))"
  check sought-clicked drv click 2 --in progress
  expect sought-cancelled "box: Cancelled." "$(jr_outcome 20000)"
  expect sought-only-the-quick-test '+++' \
    "$(jr_lines COM6 | tail -n +"$((before + 1))" | sed -nE 's/^host> "(.*)"$/\1/p' | tr -d '\n')"
  expect sought-no-break 0 "$(jr_count COM6 'break on')"
  expect sought-then-done "done" "$(jr_ok_then_outcome 20000)"
}

# Cancel under the prompt: the pulses stop at once and the Read is cancelled.
cancel_under_the_reset_prompt() {
  drv select 4000 "$JR_COM_NAME (COM6)" >/dev/null
  drv click 4001 >/dev/null
  if ! drv wait prompt 15000 >/dev/null; then
    fail prompt-cancel-prompt "no reset prompt within 15 s"
    return
  fi
  local shown_at
  shown_at=$(now_ms)
  check prompt-cancel-clicked drv click 2 --in progress
  expect prompt-cancel-cancelled "box: Cancelled." "$(jr_outcome 20000)"
  note "box up $(($(now_ms) - shown_at)) ms after the prompt appeared"
  expect prompt-cancel-prompt-gone absent-or-hidden \
    "$(drv prompt | sed -E 's/^(absent|hidden).*/absent-or-hidden/')"
  expect prompt-cancel-then-done "done" "$(jr_ok_then_outcome 20000)"
  expect prompt-cancel-port-closed 0 "$(jr_pty_fds)"
  expect prompt-cancel-no-query "0" "$(jr_lines COM6 | grep -c 'host> "ATNI')"
}
