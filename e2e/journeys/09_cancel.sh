# shellcheck shell=bash
# Cancel during a Read. Cancel only sets an event: a wait on the line ends
# on it at once (a link error: "Communication error."), while a check
# between two steps gives "Cancelled." and clears the pane. What decides is
# where the reader is when the user clicks.
journey_cancel() {
  jr_begin "$1" 5=master 6=slave:baud=5,nb=1,sb=1 || return
  cancel_at_a_step
  cancel_while_waiting_for_a_reply
  no_cancel_same_wait
  cancel_under_the_reset_prompt
  jr_exit_with exit-ends-with-0 drv click 1
  jr_end
}

# Before "+++" the reader sleeps out the guard time, deaf to Cancel. The
# module answered the first "+++" (the quick test at 9600) with two "OK"
# lines, so the reply to the second one already waits in the port: the next
# thing that looks at the event is the check before the first query, unless
# Wine completes the "+++" write or read after the wait for it has begun, in
# which case the cancel ends that transfer instead. The transcript tells
# which happened: "+++" and then "ATCN" (command mode was entered and left
# again, no query) is the check; "+++" alone is the transfer. Each must give
# its own message; the check is tried again until it has been seen (about
# seven tries in ten reach it).
cancel_at_a_step() {
  local attempt tail message
  for attempt in 1 2 3 4 5 6; do
    ((attempt > 1)) && sleep 2.2  # the module's own "OK" to the last "+++" comes 1 s late
    jr_ctl fault COM5 replace +++ 'OK\rOK\r' >/dev/null
    drv click 3001 >/dev/null
    if ! jr_wait_transcript COM5 'module> "OK\\rOK\\r"' 10000 "$attempt"; then
      fail at-a-step-quick-test "no reply to the quick test within 10 s"
      return
    fi
    drv click 2 --in progress >/dev/null
    message=$(jr_outcome 20000)
    ((attempt == 1)) && jr_shot cancelled
    # What the host sent after the quick test's double "OK".
    tail=$(jr_lines COM5 | awk '/^module> "OK\\rOK\\r"$/ { sent = ""; next }
      /^host> / { sub(/^host> "/, ""); sub(/"$/, ""); sent = sent $0 } END { print sent }')
    if [[ $tail == '+++ATCN\r' ]]; then
      expect at-a-step-cancelled "box: Cancelled." "$message"
      expect at-a-step-then-done "done" "$(jr_ok_then_outcome 20000)"
      expect at-a-step-pane-cleared "$(jr_cleared_values 3000)" "$(jr_pane_values 3000)"
      expect at-a-step-port-closed 0 "$(jr_pty_fds)"
      return
    fi
    drv msgbox-ok >/dev/null
    if [[ $tail == '+++' && $message == "box: Communication error." ]]; then
      note "attempt $attempt: the cancel ended the \"+++\" transfer (Communication error., as a cancelled transfer gives); again"
    else
      fail at-a-step-cancelled "attempt $attempt: host sent [$tail] after the quick test, then [$message]"
      return
    fi
  done
  fail at-a-step-cancelled "in 6 attempts the cancel never reached the check before the first query"
}

# The module keeps its answer to "ATNI": the reader waits for its first
# byte (1.2 s at most) when Cancel comes. A cancelled wait and the time-out
# give the same message; the module's clock tells them apart: the reader
# leaves command mode ("ATCN") at once after a cancel, and only 1.2 s after
# "ATNI" when its wait runs out (measured without Cancel next).
cancel_while_waiting_for_a_reply() {
  sleep 2.2
  jr_ctl fault COM5 withhold NI >/dev/null
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
  jr_ctl fault COM5 withhold NI >/dev/null
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

# Cancel under the prompt: no settings can be found once the reads end at
# once, so the Read fails with a link error, whether the pulses go on to the
# end of the 10 s or stop (the time is reported, not checked).
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
  expect prompt-cancel-communication-error "box: Communication error." "$(jr_outcome 20000)"
  note "box up $(($(now_ms) - shown_at)) ms after the prompt appeared"
  expect prompt-cancel-prompt-gone absent-or-hidden \
    "$(drv prompt | sed -E 's/^(absent|hidden).*/absent-or-hidden/')"
  expect prompt-cancel-then-done "done" "$(jr_ok_then_outcome 20000)"
  expect prompt-cancel-port-closed 0 "$(jr_pty_fds)"
  expect prompt-cancel-no-query "0" "$(jr_lines COM6 | grep -c 'host> "ATNI')"
}
