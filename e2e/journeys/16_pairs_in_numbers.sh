# shellcheck shell=bash
# Pairs in numbers: NLCONF started with a profile and a record sets up three
# pairs in a row, each with one F5 and one Enter: modules that are no pair
# and hold other settings, then a pair on each other's ports, then a pair
# whose radio is cut. The record holds a header and a line per pair; the
# modules got the profile and the pairing; a Read of a good pair afterwards
# warns of nothing and shows nothing red.

pn_win_path() { echo "Z:${1//\//\\}"; }

# F5, the result window, its verdict and details; Enter closes it.
pn_run_pair() {
  local name=$1
  drv key f5 >/dev/null
  drv wait linkresult 120000 >/dev/null
  PN_VERDICT=$(drv linkresult)
  PN_DETAILS=$(drv text 2002 --in linkresult)
  jr_shot "$name"
  drv key enter >/dev/null
  expect "$name-enter-closes" "gone" "$(drv wait-gone linkresult 5000 | cut -d' ' -f1)"
}

# Another module in place of the one on PORT: role, node identifier, serial
# number, destination and PAN ID its own, and settings other than the profile's.
pn_plug_in() {
  local port=$1 role=$2 ni=$3 sl=$4 dl=$5 id=$6 reg
  for reg in "VR $role" "NI $ni" "SL $sl" "DL $dl" "ID $id" "PL 4" "SC 10"; do
    # shellcheck disable=SC2086 # register and value are two words
    rig_ctl set "$port" $reg >/dev/null || fail "plug-in-$port" "set $reg"
  done
}

# Both panes read again: no warning, nothing red.
pn_read_back() {
  local name=$1
  sleep 1.5  # the modules' guard time after the link test's text
  drv click 3001 >/dev/null
  expect "$name-master-reads-quietly" "done" "$(jr_outcome 30000)"
  drv click 4001 >/dev/null
  expect "$name-slave-reads-quietly" "done" "$(jr_outcome 30000)"
  expect "$name-nothing-red" "$(jr_pane_all black 3000; jr_pane_all black 4000)" \
    "$(jr_pane_colors 3000; jr_pane_colors 4000)"
}

journey_pairs_in_numbers() {
  local dir=$RIG_LOGS/pairs
  mkdir -p "$dir"
  printf '%s\r\n' '[Master]' 'Channel = 14' 'Power Level = Medium' '[Slave]' 'Channel = 14' \
    'Power Level = Medium' '[Pair]' 'Make Pair = Yes' >"$dir/pair.ini"
  # Pair 1: another network, another peer, another power level.
  jr_begin 5=master:dl=40B0A0FF 6=slave-with-other-pan-id || return
  jr_exit_with first-start-ends drv click 1
  rig_start nlconf nlconf.exe "$(pn_win_path "$dir/pair.ini")" --record "$(pn_win_path "$dir/pairs.csv")"
  drv wait main "$APPEAR_MS" >/dev/null
  drv wait msgbox 10000 >/dev/null && drv msgbox-ok >/dev/null
  expect_match caption-names-the-profile 'caption="NLCONF - pair\.ini"' "$(drv windows)"
  drv select 4000 "$JR_COM_NAME (COM6)" >/dev/null
  pn_run_pair pair-1
  expect pair-1-passes "PASS blue" "$PN_VERDICT"
  expect_match pair-1-names-the-modules 'Master \(COM5\): 02004E4C40B0A001  "KOV-NL001/M".*Slave \(COM6\): 02004E4C40B0A002  "KOV-NL001/S"' \
    "$PN_DETAILS"
  expect pair-1-master-got-profile-and-pairing "1 1 1" \
    "$(jr_count COM5 'host> +"ATSC8\\r"') $(jr_count COM5 'host> +"ATPL2\\r"') $(jr_count COM5 'host> +"ATDL40B0A002\\r"')"
  expect pair-1-slave-got-profile-and-pairing "1 1" \
    "$(jr_count COM6 'host> +"ATID4E4C303031\\r"') $(jr_count COM6 'host> +"ATPL2\\r"')"
  pn_read_back pair-1

  # Pair 2, on each other's ports, with serial numbers of their own.
  pn_plug_in COM5 2241 KOV-NL001/S 40B0A012 40B0A011 1234
  pn_plug_in COM6 2041 KOV-NL001/M 40B0A011 40B0A012 4E4C303031
  pn_run_pair pair-2
  expect pair-2-passes "PASS blue" "$PN_VERDICT"
  expect pair-2-picks-are-the-bench-again "0 $JR_COM_NAME (COM5) 1 $JR_COM_NAME (COM6)" \
    "$(drv selected 3000) $(drv selected 4000)"
  expect_match pair-2-names-the-ports-as-used 'Master \(COM6\): 02004E4C40B0A011.*Slave \(COM5\).*the master on COM6, the slave on COM5' \
    "$PN_DETAILS"

  # Pair 3, plugged in the bench's way again, its radio cut: FAIL at the
  # Link Test, and not swapped.
  pn_plug_in COM5 2041 KOV-NL001/M 40B0A021 40B0A0FF 4E4C303031
  pn_plug_in COM6 2241 KOV-NL001/S 40B0A022 40B0A021 1234
  rig_ctl radio cut on >/dev/null
  sleep 1.5  # the modules' guard time after the link test's text
  pn_run_pair pair-3
  expect pair-3-fails "FAIL red" "$PN_VERDICT"
  expect_match pair-3-names-the-step 'Link Test: Link NG\.' "$PN_DETAILS"

  # The record, as a CSV reader sees it; the first line's making too.
  local making
  making=$(sed -nE 's/^project\(nlconf VERSION ([0-9.]+) .*/\1/p' \
    "$(dirname "${BASH_SOURCE[0]}")/../../CMakeLists.txt")
  making+="|$(pn_win_path "$dir/pair.ini")|$(sha256sum "$dir/pair.ini" | cut -c1-64)|True|True|True"
  expect record-holds-the-three-pairs \
    $'PASS||No|COM5|0x02004E4C40B0A001|14|Medium|0x4E4C303031|0x02004E4C40B0A002|0x4E4C303031|OK
PASS||Yes|COM6|0x02004E4C40B0A011|14|Medium|0x4E4C303031|0x02004E4C40B0A012|0x4E4C303031|OK
FAIL|Link Test|No|COM5|0x02004E4C40B0A021|14|Medium|0x4E4C303031|0x02004E4C40B0A022|0x4E4C303031|NG\n'"$making" \
    "$(python3 - "$dir/pairs.csv" <<'EOF'
import csv, re, sys
with open(sys.argv[1], newline='', encoding='utf-8-sig') as f:
    rows = list(csv.DictReader(f))
for r in rows:
    print('|'.join(r[k] for k in ('Result', 'Failed Step', 'Ports Swapped', 'Master Port',
        'Master Serial Number', 'Master Channel', 'Slave Power Level', 'Master PAN ID',
        'Master Destination', 'Slave PAN ID', 'Link Test')))
r = rows[0]
print('|'.join([r['Program Version'], r['Profile'], r['Profile SHA-256'], str(bool(r['Station'])),
    str(bool(r['Operator'])), str(bool(re.fullmatch(r'\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d',
    r['Date and Time'])))]))
EOF
)"
  expect record-lines-end-in-crlf "4 4" "$(grep -c $'\r$' "$dir/pairs.csv") $(wc -l <"$dir/pairs.csv")"

  # A record that cannot be written: refused, with the system's reason,
  # before a byte reaches a module.
  chmod a-w "$dir/pairs.csv"
  local sent
  sent=$(($(jr_count COM5 'host> ') + $(jr_count COM6 'host> ')))
  drv key f5 >/dev/null
  expect_match unwritable-record-refused '^box: Cannot open the record .*pairs\.csv: .+\.$' \
    "$(jr_outcome 10000)"
  drv msgbox-ok >/dev/null
  expect unwritable-record-nothing-sent "$sent" \
    "$(($(jr_count COM5 'host> ') + $(jr_count COM6 'host> ')))"
  expect record-unchanged "4" "$(wc -l <"$dir/pairs.csv")"
  jr_exit_confirmed exit-ends-with-0 drv click 1

  # Started again without a word: the profile and the port picks are the
  # last session's. A damaged memory means the defaults, and no box.
  jr_start_nlconf
  drv wait msgbox 10000 >/dev/null && drv msgbox-ok >/dev/null
  expect remembered-profile-and-port 'caption="NLCONF - pair.ini" 1 Simulated Module Port (COM6)' \
    "$(drv windows | grep -o 'caption="NLCONF - pair.ini"') $(drv selected 4000)"
  jr_exit_confirmed exit-after-memory drv click 1
  jr_reg add 'HKCU\Software\NLCONF' /v 'Slave Port' /t REG_SZ /d junk /f
  jr_reg add 'HKCU\Software\NLCONF' /v Profile /t REG_DWORD /d 7 /f
  jr_start_nlconf
  expect damaged-memory-means-defaults "absent 0 Simulated Module Port (COM5)" \
    "$(drv wait msgbox 3000 >/dev/null && echo box || echo absent) $(drv selected 4000)"
  jr_exit_confirmed exit-ends-with-0 drv click 1
}
