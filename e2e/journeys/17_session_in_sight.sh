# shellcheck shell=bash
# A production session as the bench keeps it: started from the bench folder
# with relative names, which NLCONF remembers whole; the status line shows
# profile, record and counts; keys tapped again after a result close only
# that window; ending a session that keeps a record asks first; and the
# next start from elsewhere names a remembered profile that has gone.

ss_win_path() { echo "Z:${1//\//\\}"; }

# The remembered texts NAMES... of HKCU\Software\NLCONF, as reg.exe prints
# them, one per line. One query for all, asked again once if reg.exe could
# not start in time on a loaded machine.
ss_remembered() {
  local key='HKCU\Software\NLCONF' out try name
  for try in 1 2; do
    out=$(
      rig__close_driver
      loader=$(rig__loader)
      [[ $loader == */wine64 ]] && export WINELOADER=$loader
      WINEDEBUG=-all timeout 30 "$loader" reg.exe query "$key"
    ) </dev/null 2>>"$RIG_LOGS/reg.err"
    out=$(tr -d '\r' <<<"$out")
    [[ $out == *REG_* ]] && break
    sleep 1
  done
  for name in "$@"; do
    sed -n "s/^ *$name  *REG_SZ *//p" <<<"$out"
  done
}

# Enter tapped COUNT times as keyboard input, the first closing the result
# window WINDOW; NLCONF must still run, with no box up.
ss_taps_close_only() {
  local name=$1 window=$2 count=$3 i
  for ((i = 0; i < count; i++)); do drv key enter --input >/dev/null; done
  expect "$name" "gone running absent" "$(drv wait-gone "$window" 3000 | cut -d' ' -f1) \
$(sleep 1; rig_exit_status nlconf 1) $(drv wait msgbox 1000 >/dev/null && echo box || echo absent)"
}

journey_session_in_sight() {
  local dir=$RIG_LOGS/session no=7 yes=6
  mkdir -p "$dir/bench" "$dir/elsewhere"
  printf '%s\r\n' '[Master]' 'Channel = 14' '[Slave]' 'Channel = 14' >"$dir/bench/pair.ini"
  cp "$dir/bench/pair.ini" "$dir/elsewhere/pair.ini"
  jr_begin 5=master 6=slave || return
  expect status-says-none "no profile   no record   PASS 0  FAIL 0" "$(drv text 1004)"
  jr_exit_with first-start-ends drv click 1

  pushd "$dir/bench" >/dev/null || return
  rig_start nlconf nlconf.exe pair.ini --record pairs.csv
  popd >/dev/null || return
  drv wait main "$APPEAR_MS" >/dev/null
  drv wait msgbox 10000 >/dev/null && drv msgbox-ok >/dev/null
  local record shown
  record=$(ss_win_path "$dir/bench/pairs.csv")
  shown=${record//\\/\\\\}  # as the driver prints a text
  expect relative-names-remembered-whole "$(ss_win_path "$dir/bench/pair.ini") $record" \
    "$(ss_remembered Profile Record | paste -sd " ")"
  drv select 4000 "$JR_COM_NAME (COM6)" >/dev/null
  drv key f5 >/dev/null
  drv wait linkresult 120000 >/dev/null
  expect_match pair-passes '^PASS' "$(drv linkresult)"
  ss_taps_close_only double-enter-closes-only-the-result linkresult 2
  jr_shot status-after-a-pass
  expect status-names-profile-record-and-counts "Profile: pair.ini   Record: $shown   PASS 1  FAIL 0" \
    "$(drv text 1004)"
  # Write with nothing changed sends nothing and shows no box. A run started
  # from it then gives the focus to Read, where a late Enter writes nothing.
  local sent
  sent=$(($(jr_count COM5 'host> ') + $(jr_count COM6 'host> ')))
  drv click 3002 >/dev/null
  expect unchanged-write-ends-at-once done "$(jr_outcome 5000)"
  expect unchanged-write-sends-nothing "$sent" "$(($(jr_count COM5 'host> ') + $(jr_count COM6 'host> ')))"
  sleep 1.2  # the modules' guard time after the run's link test
  drv key f5 >/dev/null
  drv wait linkresult 120000 >/dev/null
  expect_match run-from-write-passes '^PASS' "$(drv linkresult)"
  drv key enter >/dev/null
  sleep 0.8
  expect run-from-write-gives-the-focus-to-read 3001 "$(drv focus)"
  sleep 0.6  # the modules' guard time after the run's link test
  drv click 1003 >/dev/null
  drv wait linkresult 30000 >/dev/null
  ss_taps_close_only triple-enter-closes-only-the-link-result linkresult 3
  expect link-result-gives-the-focus-back 1003 "$(drv focus)"

  drv click 1 >/dev/null
  expect exit-asks-while-recording "The pairs are recorded in $shown.\\r\\nExit NLCONF?" \
    "$(drv wait msgbox 5000 >/dev/null; drv msgbox)"
  drv click "$no" --in msgbox >/dev/null && drv wait-gone msgbox >/dev/null
  expect no-keeps-the-session running "$(rig_exit_status nlconf 1)"
  drv key escape --input >/dev/null && drv wait msgbox 5000 >/dev/null
  jr_exit_with yes-ends-the-session drv click "$yes" --in msgbox

  # Renamed overnight; NLCONF started from another folder that holds a
  # file of the same name.
  mv "$dir/bench/pair.ini" "$dir/bench/pair-old.ini"
  pushd "$dir/elsewhere" >/dev/null || return
  jr_start_nlconf
  popd >/dev/null || return
  expect_match gone-profile-named \
    'remembered profile Z:.*bench.*pair\.ini could not be opened:.*NLCONF starts without one\.$' \
    "$(drv wait msgbox 10000 >/dev/null; drv msgbox)"
  drv msgbox-ok >/dev/null
  expect status-after-gone-profile "no profile   Record: $shown   PASS 0  FAIL 0" "$(drv text 1004)"
  jr_exit_confirmed exit-after-gone-profile drv click 1
}
