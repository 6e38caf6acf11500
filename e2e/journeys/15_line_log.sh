# shellcheck shell=bash
# The line log: the user opens it, reads the master and finds every byte of
# the read in the order it went over the line; reads a slave by its reset
# key and finds the break pulses and the settings queries; runs the Link
# Test and sees the text go both ways; cuts the radio and sees where the
# Link Test went silent. The log opens while an operation runs, says the
# date, and Ctrl+S in it saves the log.

JR_LOG_WINDOW="caption=NLCONF - Line Log"

# The log's lines as shown.
jr_log_shown() {
  drv text 100 --in "$JR_LOG_WINDOW" | sed 's/\\r\\n/\n/g' | sed '/^$/d'
}

# The log's lines, without their time stamps and date lines.
jr_log() {
  jr_log_shown | sed -E '/^---- /d; s/^[0-9:.]+ //'
}

# The log once a line matching the regex has come (the window catches up
# twice a second), or as it stands after 5 s.
jr_log_after() {
  local i text
  for ((i = 0; i < 50; i++)); do
    text=$(jr_log)
    grep -qE -- "$1" <<<"$text" && break
    sleep 0.1
  done
  printf '%s\n' "$text"
}

# The port's traffic as its transcript has it, in the log's terms. One
# write that reached the module in pieces (a "+++" on a busy machine) is
# one line in the log: host pieces are joined up to their CR.
jr_wire() {
  jr_lines "$1" | awk '
    /^host> "/ && open { sub(/"$/, "", held); held = held substr($0, 8); open = $0 !~ /\\r"$/; next }
    { if (held != "") print held; held = $0; open = $0 ~ /^host> "/ && $0 !~ /\\r"$/ }
    END { if (held != "") print held }' |
    sed -E "s/^host> \"(.*)\"\$/$1 > \\1/; s/^module> \"(.*)\"\$/$1 < \\1/; s/\\\\r\$//"
}

# The lines after the last that matches the regex.
jr_after_last() {
  awk -v last="$1" '$0 ~ last { n = NR } { line[NR] = $0 } END { for (i = n + 1; i <= NR; i++) print line[i] }'
}

jr_log_clear() {
  drv click 102 --in "$JR_LOG_WINDOW" >/dev/null
}

journey_line_log() {
  jr_begin 5=master 6=slave || return
  drv key ctrl+l --input >/dev/null
  expect_match ctrl-l-opens-the-log "^found" "$(drv wait "$JR_LOG_WINDOW" 5000)"
  # Side by side where the screen has room, else the log below the dialog.
  expect log-clear-of-the-dialog apart "$(jr_apart_from_dialog "NLCONF - Line Log")"

  jr_read_clean 3000 master
  local log
  log=$(jr_log_after 'COM5 Read: done')
  expect master-read-as-on-the-wire "$(jr_wire COM5)" "$(grep -E '^COM5 [<>] ' <<<"$log")"
  expect master-read-begins-with-the-escape $'COM5 > +++\nCOM5 < OK\nCOM5 > ATGT' \
    "$(grep -E '^COM5 [<>] ' <<<"$log" | head -n 3)"
  expect master-read-ends-leaving-command-mode $'COM5 > ATCN\nCOM5 < OK' \
    "$(grep -E '^COM5 [<>] ' <<<"$log" | tail -n 2)"
  expect master-read-framed $'COM5 Read started\nCOM5 = 9600 8-N-1\nCOM5 Read: done.' \
    "$(grep -vE '^COM5 [<>] ' <<<"$log")"
  expect date-on-top "---- $(date +%F) ----" "$(jr_log_shown | head -n 1)"
  jr_shot master-read-logged

  jr_log_clear
  expect clear-empties-the-log "" "$(jr_log)"
  # A slave that answers the first "+++" with ERROR is read by its reset key.
  expect_match error-set-up "^ok" "$(rig_ctl fault COM6 replace +++ 'ERROR\r')"
  drv select 4000 "$JR_COM_NAME (COM6)" >/dev/null
  drv key escape --in "$JR_LOG_WINDOW" >/dev/null
  drv wait-gone "$JR_LOG_WINDOW" 5000 >/dev/null
  drv click 4001 >/dev/null
  drv wait prompt 15000 >/dev/null
  drv key ctrl+l --input --in progress >/dev/null
  expect_match ctrl-l-opens-the-log-during-a-read "^found" "$(drv wait "$JR_LOG_WINDOW" 5000)"
  expect key-pressed-under-break "ok: pressed under break" "$(jr_press_when_prompted COM6)"
  expect slave-read-ends-without-a-box "done" "$(jr_outcome 20000)"
  log=$(jr_log_after 'COM6 Read: done')
  expect_match error-shown $'^COM6 Read started\nCOM6 = 9600 8-N-1\nCOM6 > \\+\\+\\+\nCOM6 < ERROR\n' "$log"
  # The key is asked for, then the line held in break until the module speaks.
  expect_match key-asked-before-the-pulses $'COM6 = 38400 8-N-1\nCOM6 reset key asked\nCOM6 break on\n' "$log"
  expect break-pulses-end-as-they-begin "$(grep -c '^COM6 break on$' <<<"$log")" \
    "$(grep -c '^COM6 break off$' <<<"$log")"
  expect_match module-spoke-under-the-last-pulse $'COM6 < [^\n]+\nCOM6 break off$' \
    "$(grep -B1 '^COM6 break off$' <<<"$log" | tail -n 2)"
  expect slave-settings-asked-at-9600 'COM6 = 9600 8-N-1
COM6 > ATBD
COM6 < 3
COM6 > ATNB
COM6 < 0
COM6 > ATSB
COM6 < 0
COM6 > ATCN
COM6 < OK
COM6 = 9600 8-N-1
COM6 > +++
COM6 < OK' "$(jr_after_last '^COM6 break off$' <<<"$log" | head -n 12)"

  jr_log_clear
  drv click 1003 >/dev/null
  drv wait linkresult 30000 >/dev/null
  expect linked-pair-passes "Link OK. blue" "$(drv linkresult)"
  # Once the verdict has painted and waits, the log has caught up with it:
  # no refresh interval later.
  drv sync linkresult >/dev/null && drv sync linkresult >/dev/null
  expect_match log-keeps-up-with-the-verdict 'Link Test: Link OK' "$(jr_log | tail -n 1)"
  drv key enter >/dev/null
  log=$(jr_log_after 'Link Test: Link OK')
  expect link-test-both-ways 'COM5 > abcdefghijklmnop
COM6 < abcdefghijklmnop
COM6 > abcdefghijklmnop
COM5 < abcdefghijklmnop
COM5 > 0123456789abcdef
COM6 < 0123456789abcdef' "$(grep -E '^COM[56] [<>] ' <<<"$log" | tail -n 6)"
  jr_shot link-test-logged

  drv key ctrl+a --input --in "$JR_LOG_WINDOW" >/dev/null
  drv key ctrl+c --input --in "$JR_LOG_WINDOW" >/dev/null
  local shown
  shown=$(drv text 100 --in "$JR_LOG_WINDOW")
  expect_match log-holds-the-verdict 'Link Test: Link OK' "$shown"
  # The keys are input: the copy happens when the window takes them.
  local copied="" tries
  for ((tries = 0; tries < 30; tries++)); do
    copied=$(drv clipboard) && [[ $copied == "$shown" ]] && break
    sleep 0.1
  done
  expect ctrl-a-ctrl-c-copy-the-log "$shown" "$copied"

  # Ctrl+S in the log (Save... there) keeps what the log shows in a file of
  # the user's choosing, and leaves nothing else beside it.
  local saved="$RIG_LOGS/saved/line log.txt"
  mkdir -p "$RIG_LOGS/saved"
  drv key ctrl+s --input --in "$JR_LOG_WINDOW" >/dev/null
  expect_match save-asks-where "^found" "$(drv wait "caption=Save As" 10000)"
  # Saved only where the journey says: a name not typed would land in the
  # program's folder.
  if drv type 1148 "Z:${saved//\//\\}" --in "caption=Save As" >/dev/null; then
    drv click 1 --in "caption=Save As" >/dev/null
  else
    drv click 2 --in "caption=Save As" >/dev/null
  fi
  drv wait-gone "caption=Save As" 10000 >/dev/null
  expect saved-as-shown "$(jr_log_shown)" "$(tr -d '\r' <"$saved" 2>&1)"
  expect only-the-file-saved "line log.txt" "$(ls "$RIG_LOGS/saved")"

  jr_log_clear
  drv key escape --in "$JR_LOG_WINDOW" >/dev/null
  expect_match escape-hides-the-log "^gone" "$(drv wait-gone "$JR_LOG_WINDOW" 5000)"
  expect_match radio-cut "^ok" "$(rig_ctl radio cut on)"
  drv click 1003 >/dev/null
  drv wait linkresult 40000 >/dev/null
  expect cut-radio-fails "Link NG. red" "$(drv linkresult)"
  drv key enter >/dev/null
  # Hidden, the log went on; the system menu brings it back.
  drv sysmenu 304 >/dev/null
  expect_match system-menu-opens-the-log "^found" "$(drv wait "$JR_LOG_WINDOW" 5000)"
  log=$(jr_log_after 'Link Test: Link NG')
  expect silent-after-the-slave-sent 'COM5 Link Test with COM6 started
COM6 > 0123456789abcdef
COM5 no reply within 4800 ms
COM6 > 0123456789abcdef
COM5 no reply within 4800 ms
COM5 Link Test: Link NG.' "$log"
  jr_shot link-silence-logged
  jr_exit_confirmed exit-ends-with-0 drv click 1
}
