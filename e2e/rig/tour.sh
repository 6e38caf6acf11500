# shellcheck shell=bash
# A short guided tour of NLCONF's main job, driven through its window as a
# user would: read both modules, change the channel (red) and copy it to the
# slave, write both, run the Link Test, open the line log, run a Range Test
# over a radio that loses packets, in the Range Test's window; then a Link
# Test without radio and a Read that asks for the reset key; then a
# production run of two pairs with a profile and a record, the second
# plugged in crosswise and without radio. A picture after each step in
# TOUR_DIR, then what each shows and what went over each line.
# Sourced by scripts/run.sh after the rig (e2e/rig/rig.sh) has started
# NLCONF, its driver and the modules on COM5 and COM6 with transcripts in
# TOUR_TRANSCRIPTS.

declare -a TOUR_LINES=()
TOUR_FAILED=0

tour__lines() {
  local log=$TOUR_TRANSCRIPTS/transcript-$1.log
  [[ -f $log ]] && wc -l <"$log" || echo 0
}

# What the host sent on PORT since line FROM of its transcript, in words.
tour__sent() {
  local port=$1 from=$2 commands count
  commands=$(tail -n +"$((from + 1))" "$TOUR_TRANSCRIPTS/transcript-$port.log" |
    sed -nE 's/.* host> +"([^"]*)".*/\1/p' | sed 's/\\r$//')
  count=$(grep -c . <<<"$commands")
  ((count == 0)) && { echo "$port: nothing"; return; }
  if ((count > 8)); then
    commands="$(head -n 4 <<<"$commands" | paste -sd' ') ... $(tail -n 2 <<<"$commands" | paste -sd' ')"
  else
    commands=$(paste -sd' ' <<<"$commands")
  fi
  echo "$port: $count lines from the host: $commands"
}

# tour__step NAME "WHAT IT SHOWS" COMMAND...: runs the step, takes its
# picture, and notes what the lines carried meanwhile.
tour__step() {
  local name=$1 shows=$2 com5 com6 picture
  shift 2
  com5=$(tour__lines COM5)
  com6=$(tour__lines COM6)
  if ! "$@"; then
    echo "tour: $name did not go as it should (driver log: $RIG_LOGS/driver.log)"
    TOUR_FAILED=1
  fi
  sleep 0.3  # the last repaint
  picture=$TOUR_DIR/$name.png
  rig_shot "$picture"
  TOUR_LINES+=("$picture" "  $shows" "  $(tour__sent COM5 "$com5")" "  $(tour__sent COM6 "$com6")")
}

# Clicks a button whose operation runs behind the progress dialog; true when
# it ends without a message box.
tour__operation() {
  drv click "$1" >/dev/null && [[ $(drv outcome 30000) == done ]]
}

# A pick in the drop-down list tells the dialog first and paints after; the
# driver selects first, so it picks twice to paint the field as a user sees it.
tour__change_channel() {
  drv select 3007 "$1" >/dev/null && drv select 3007 "$1" >/dev/null && drv click 1000 >/dev/null
}

tour__start_write() {
  drv click 3002 >/dev/null && drv wait progress 10000 >/dev/null
}

tour__finish_writes() {
  [[ $(drv outcome 30000) == done ]] && tour__operation 4002
}

tour__link_test() {
  drv click 1003 >/dev/null && drv wait linkresult 30000 >/dev/null &&
    [[ $(drv linkresult) == "Link OK. blue"* ]]
}

tour__close_verdict() {
  drv click 1 --in linkresult >/dev/null
}

tour__open_line_log() {
  drv key ctrl+l --input >/dev/null && drv wait "caption=NLCONF - Line Log" 5000 >/dev/null
}

tour__close_line_log() {
  drv key escape --in "caption=NLCONF - Line Log" >/dev/null
}

# The slave now keeps 38400 baud, even parity, from its next start on: its
# Read asks for the reset key.
tour__ask_for_reset_key() {
  rig_ctl set COM6 BD 5 >/dev/null && rig_ctl set COM6 NB 2 >/dev/null &&
    rig_ctl power COM6 >/dev/null && drv click 4001 >/dev/null && drv wait prompt 15000 >/dev/null
}

# A press between two break pulses only restarts the module: try again.
tour__press_reset_key() {
  local try
  for try in 1 2 3; do
    [[ $(rig_ctl press COM6) == "ok: pressed under break" ]] && break
    sleep 0.3
  done
  [[ $(drv outcome 30000) == done ]]
}

tour__link_test_with_radio_cut() {
  rig_ctl radio cut on >/dev/null && drv click 1003 >/dev/null &&
    drv wait linkresult 30000 >/dev/null && [[ $(drv linkresult) == "Link NG. red"* ]]
}

tour__radio_back() {
  tour__close_verdict
  rig_ctl radio cut off >/dev/null
}

# NLCONF again, as a technician starts it for a batch: a profile and a record.
tour__start_production() {
  local win=Z:${TOUR_DIR//\//\\}
  printf '%s\r\n' '[Master]' 'Channel = 14' '[Slave]' 'Channel = 14' '[Pair]' 'Make Pair = Yes' \
    >"$TOUR_DIR/pair.ini"
  rm -f "$TOUR_DIR/pairs.csv"
  # The slave as it came, not at the reset-key step's 38400 baud.
  rig_ctl set COM6 BD 3 >/dev/null && rig_ctl set COM6 NB 0 >/dev/null &&
    rig_ctl power COM6 >/dev/null || return 1
  drv click 1 >/dev/null
  drv wait msgbox 3000 >/dev/null && drv click 6 --in msgbox >/dev/null
  [[ $(rig_exit_status nlconf 20) == 0 ]] || return 1
  rig_start nlconf nlconf.exe "$win\\pair.ini" --record "$win\\pairs.csv"
  drv wait main 30000 >/dev/null || return 1
  # Loading the profile may tell of sections that wait for a Read.
  drv wait msgbox 3000 >/dev/null && drv msgbox-ok >/dev/null
  drv select 4000 "Simulated Module Port (COM6)" >/dev/null
}

# F5 and its result window; true when its verdict is the one expected.
tour__run_pair() {
  sleep 1.5  # the modules' guard time after the last run's text
  drv key f5 >/dev/null && drv wait linkresult 90000 >/dev/null &&
    [[ $(drv linkresult) == "$1"* ]]
}

# The next pair: each module on the other's port, and its radio cut.
tour__next_pair_crosswise() {
  drv key enter --in linkresult >/dev/null
  local reg
  for reg in "COM5 VR 2241" "COM5 NI KOV-NL001/S" "COM5 SL 40B0A012" "COM6 VR 2041" \
    "COM6 NI KOV-NL001/M" "COM6 SL 40B0A011"; do
    # shellcheck disable=SC2086 # port, register and value are three words
    rig_ctl set $reg >/dev/null || return 1
  done
  rig_ctl radio cut on >/dev/null && tour__run_pair "FAIL red"
}

# The record as a spreadsheet shows it, a few columns of it, as a picture.
tour__record_table() {
  drv key enter --in linkresult >/dev/null
  rig_ctl radio cut off >/dev/null
  python3 - "$TOUR_DIR/pairs.csv" >"$TOUR_DIR/record.txt" <<'PY' || return 1
import csv, sys
cols = ('Result', 'Failed Step', 'Ports Swapped', 'Master Port', 'Master Serial Number',
        'Slave Port', 'Slave Serial Number', 'Link Test')
rows = [cols] + [[r[c] for c in cols] for r in
                 csv.DictReader(open(sys.argv[1], newline='', encoding='utf-8-sig'))]
w = [max(len(r[i]) for r in rows) for i in range(len(cols))]
print('\n'.join(' | '.join(v.ljust(n) for v, n in zip(r, w)) for r in rows))
PY
  convert -background white -fill black -font DejaVu-Sans-Mono -pointsize 14 \
    "label:$(<"$TOUR_DIR/record.txt")" -bordercolor white -border 12 "$TOUR_DIR/13-record.png"
}

# ---- range test (its own section, kept apart for merges) ----
# A radio that loses a fifth of its frames; the Range Test window (Ctrl+R)
# runs its default 100 packets each way to the end.
tour__range_test() {
  local window="caption=NLCONF - Range Test" i status=
  rig_ctl radio loss 20 >/dev/null && drv key ctrl+r --input >/dev/null &&
    drv wait "$window" 5000 >/dev/null && drv click 1 --in "$window" >/dev/null || return 1
  for ((i = 0; i < 600; i++)); do
    status=$(drv text 210 --in "$window")
    [[ $status == Running* ]] || break
    sleep 0.2
  done
  [[ $status == "Done in "* ]]
}

tour__range_test_end() {
  drv key escape --in "caption=NLCONF - Range Test" >/dev/null
  rig_ctl radio loss 0 >/dev/null
}
# ---- end of range test ----

# ---- terminal (its own section, kept apart for merges) ----
# The terminal (Ctrl+T) on the master's port: its channel and the signal
# strength of what it last heard, asked with the module's own commands.
tour__terminal() {
  local window="caption=NLCONF - Terminal - Master (COM5)" i line
  # With the focus in neither pane it asks which: the driver's key may time
  # out while the question holds the dialog.
  drv key ctrl+t --input >/dev/null
  if [[ $(drv wait msgbox 3000) == found* ]]; then
    drv click 6 --in msgbox >/dev/null # Yes: the master's port
  fi
  drv wait "$window" 5000 >/dev/null || return 1
  for line in ATCH ATDB; do
    for ((i = 0; i < 100; i++)); do
      [[ $(drv text 231 --in "$window") == Command* ]] && break
      sleep 0.1
    done
    drv settext 232 "$line" --in "$window" >/dev/null && drv key enter --in "$window" >/dev/null || return 1
    for ((i = 0; i < 50; i++)); do
      drv text 230 --in "$window" | grep -qE "> $line\\\\r\\\\n[0-9:.]+ < " && break
      sleep 0.1
    done
  done
  drv text 230 --in "$window" | grep -qE '> ATDB\\r\\n[0-9:.]+ < '
}

tour__terminal_end() {
  drv key escape --in "caption=NLCONF - Terminal - Master (COM5)" >/dev/null
  sleep 1.5 # its "ATCN", and the guard time before the next "+++"
}
# ---- end of terminal ----

# Runs the tour; prints what each picture shows. False if a step failed.
tour_run() {
  mkdir -p "$TOUR_DIR"
  tour__step 01-master-read "the master read: its values, all black" \
    tour__operation 3001
  tour__step 02-slave-read "the slave read too: both modules address each other, Link Test offered" \
    tour__operation 4001
  tour__step 03-channel-changed "channel 12 chosen on the master and copied to the slave: red until written" \
    tour__change_channel 12
  tour__step 04-writing "the master's Write has begun, behind its progress dialog (its lines come with the next step)" \
    tour__start_write
  tour__step 05-written "both written (each joins its network on the new channel), read back: all black" \
    tour__finish_writes
  tour__step 06-link-test "the Link Test: text through the radio both ways, \"Link OK.\" in blue" \
    tour__link_test
  tour__close_verdict
  tour__step 07-line-log "the line log (Ctrl+L): what went over each line, the Link Test's text last" \
    tour__open_line_log
  tour__close_line_log
  tour__step 07b-range-test "the Range Test (Ctrl+R) over a radio losing 20 %: 100 packets each way, counts, share and chart" \
    tour__range_test
  tour__range_test_end
  tour__step 07c-terminal "the terminal (Ctrl+T) on the master: ATCH and ATDB typed, the module's answers" \
    tour__terminal
  tour__terminal_end
  tour__step 08-link-ng "the radio cut: the Link Test says \"Link NG.\" in red" \
    tour__link_test_with_radio_cut
  tour__radio_back
  tour__step 09-reset-prompt "the slave restarted at 38400 baud: its Read asks for the reset key" \
    tour__ask_for_reset_key
  tour__press_reset_key || TOUR_FAILED=1
  tour__step 10-production "NLCONF started with a profile and a record, the bench's ports picked" \
    tour__start_production
  tour__step 11-pass "F5: read, profile applied, paired, written, checked, Link OK: PASS in blue" \
    tour__run_pair "PASS blue"
  tour__step 12-fail-swapped "the next pair crosswise and without radio: run swapped, FAIL at the Link Test" \
    tour__next_pair_crosswise
  tour__record_table || TOUR_FAILED=1
  TOUR_LINES+=("$TOUR_DIR/13-record.png" "  the record's two lines, a few of its columns")
  echo "-- the tour, in $TOUR_DIR:"
  printf '%s\n' "${TOUR_LINES[@]}"
  ((TOUR_FAILED == 0))
}
