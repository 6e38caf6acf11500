# shellcheck shell=bash
# The terminal: Ctrl+T opens it on the port of the pane in use (the
# Master's), the module found and in command mode; while it holds the port
# the pane's Read is not offered. The user types ATCH, reads the channel
# the module answers, closes the window with Escape: the port's traffic
# ends with "ATCN", and Read is offered again.

JR_TERM_WINDOW="caption=NLCONF - Terminal - Master (COM5)"

jr_term() {
  drv text "$1" --in "$JR_TERM_WINDOW" | sed 's/\\r\\n/\n/g' | sed '/^$/d'
}

# The terminal's exchange once a line matching the regex has come.
jr_term_after() {
  local i text
  for ((i = 0; i < 100; i++)); do
    text=$(jr_term 230)
    grep -qE -- "$1" <<<"$text" && break
    sleep 0.1
  done
  printf '%s\n' "$text"
}

journey_terminal() {
  jr_begin 5=master 6=slave || return
  drv key ctrl+t --input >/dev/null
  expect_match ctrl-t-opens-the-terminal "^found" "$(drv wait "$JR_TERM_WINDOW" 5000)"
  # Beside the dialog, covering neither pane: the dialog makes room.
  expect terminal-clear-of-the-dialog apart "$(jr_apart_from_dialog "${JR_TERM_WINDOW#caption=}")"
  jr_term_after ' -- in command mode$' >/dev/null
  expect_match terminal-in-command-mode "^Command mode: [0-9]+ s left$" "$(jr_term 231)"
  expect read-not-offered-while-held "3001 disabled" "$(drv state 3001)"
  drv settext 232 ATCH --in "$JR_TERM_WINDOW" >/dev/null
  drv key enter --in "$JR_TERM_WINDOW" >/dev/null
  local text
  text=$(jr_term_after ' < [0-9A-F]+$')
  expect_match atch-answered-in-the-window $'> ATCH\n[0-9:.]+ < [0-9A-F]+$' "$text"
  expect atch-on-the-wire 'host> "ATCH\r"' "$(jr_lines COM5 | grep -F 'ATCH')"
  jr_shot terminal
  drv key escape --in "$JR_TERM_WINDOW" >/dev/null
  drv wait-gone "$JR_TERM_WINDOW" 5000 >/dev/null
  jr_wait_transcript COM5 'host> +"ATCN' 5000
  expect port-ends-with-atcn 'host> "ATCN\r"' "$(jr_lines COM5 | grep '^host>' | tail -n 1)"
  local i
  for ((i = 0; i < 50; i++)); do
    [[ $(drv state 3001) == "3001 enabled" ]] && break
    sleep 0.1
  done
  expect read-offered-again "3001 enabled" "$(drv state 3001)"
}
