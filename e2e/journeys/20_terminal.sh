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

# The terminal's exchange (or with a second argument, that control's text)
# once a line matching the regex has come, 10 s at most.
jr_term_after() {
  local i text
  for ((i = 0; i < 100; i++)); do
    text=$(jr_term "${2:-230}")
    grep -qE -- "$1" <<<"$text" && break
    sleep 0.1
  done
  printf '%s\n' "$text"
}

# Its status line once it matches the regex.
jr_term_status() { jr_term_after "$1" 231; }

journey_terminal() {
  jr_begin 5=master 6=slave || return
  drv key ctrl+t --input >/dev/null
  expect_match ctrl-t-opens-the-terminal "^found" "$(drv wait "$JR_TERM_WINDOW" 5000)"
  # Beside the dialog, covering neither pane: the dialog makes room.
  expect terminal-clear-of-the-dialog apart "$(jr_apart_from_dialog "${JR_TERM_WINDOW#caption=}")"
  jr_term_after ' -- in command mode$' >/dev/null
  expect_match terminal-in-command-mode "^Command mode: [0-9]+ s left$" \
    "$(jr_term_status "^Command mode: [0-9]+ s left$")"
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
  a_slave_that_needs_its_key
}

# The slave at 38400 8-E-2: the terminal's search asks for the key with the
# prompt a Read shows, and a search after a Read goes straight to where the
# Read found the module.
a_slave_that_needs_its_key() {
  local reg
  for reg in "BD 5" "NB 1" "SB 1"; do
    # shellcheck disable=SC2086
    rig_ctl set COM6 $reg >/dev/null || fail slave-at-38400 "set $reg"
  done
  local slave="caption=NLCONF - Terminal - Slave (COM6)"
  drv select 4000 "Simulated Module Port (COM6)" >/dev/null
  # The focus in the slave's pane: its port list, its list closed again.
  drv click 4000 --mouse >/dev/null
  drv key escape --input >/dev/null
  drv key ctrl+t --input >/dev/null
  expect_match terminal-on-the-slave "^found" "$(drv wait "$slave" 5000)"
  expect terminal-search-shows-the-prompt "visible Please press the reset key." \
    "$(drv wait prompt 15000 >/dev/null; drv prompt)"
  expect terminal-prompt-names-pane-and-port "Slave - COM6" "$(jr_caption prompt)"
  expect terminal-key-pressed "ok: pressed under break" "$(jr_press_when_prompted COM6)"
  expect_match terminal-finds-the-slave "^Command mode: [0-9]+ s left$" \
    "$(JR_TERM_WINDOW=$slave jr_term_status '^Command mode')"
  drv key escape --in "$slave" >/dev/null
  drv wait-gone "$slave" 5000 >/dev/null
  # Where the terminal found it, a Read tries first, and the other way round.
  drv click 4001 >/dev/null
  expect read-after-the-terminal-needs-no-key "done" "$(jr_outcome 20000)"
  drv click 4000 --mouse >/dev/null
  drv key escape --input >/dev/null
  drv key ctrl+t --input >/dev/null
  drv wait "$slave" 5000 >/dev/null
  JR_TERM_WINDOW=$slave jr_term_status '^Command mode' >/dev/null
  local text
  text=$(JR_TERM_WINDOW=$slave jr_term 230)
  expect terminal-keeps-each-session-under-its-port \
    $'---- Master - COM5 ----\n---- Slave - COM6 ----\n---- Slave - COM6 ----' \
    "$(grep -- '^---- ' <<<"$text")"
  expect terminal-after-a-read-needs-no-key "absent-or-hidden" \
    "$(drv prompt | sed -E 's/^(absent|hidden).*/absent-or-hidden/')"
  # Unplugged under the terminal: said, and taken back once it returns.
  expect terminal-unplugged ok "$(rig_ctl unplug COM6)"
  drv devicechange remove COM6 --via broadcast >/dev/null
  rig_ports remove 6 >/dev/null
  expect terminal-says-the-port-is-gone "COM6 is gone: waiting for it to return" \
    "$(JR_TERM_WINDOW=$slave jr_term_status 'is gone')"
  rig_ctl plug COM6 >/dev/null
  rig_ports add 6 "$JR_COM_NAME (COM6)" >/dev/null
  drv devicechange arrive COM6 --via broadcast >/dev/null
  expect_match terminal-takes-the-port-back "^Command mode: [0-9]+ s left$" \
    "$(JR_TERM_WINDOW=$slave jr_term_status '^Command mode')"
  jr_shot terminal-port-taken-back
  drv key escape --in "$slave" >/dev/null
  drv wait-gone "$slave" 5000 >/dev/null
}
