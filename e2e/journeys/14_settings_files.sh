# shellcheck shell=bash
# Settings files: a pair read and saved with Ctrl+S; the program started
# again with a file written by hand, which waits for each pane's Read, shows
# red and reaches the modules with Write; the saved file loaded with Ctrl+O;
# a dropped file with a bad line changes nothing and says where; a Save over
# a read-only file keeps it. A serial port or a folder named as the file is
# refused at once, and a relative name not found says where it was looked for.

SF_DIALOG_NAME=1148  # the file dialogs' name box (sourced once per pass: no readonly)

sf_win_path() { echo "Z:${1//\//\\}"; }

# Picks PATH in the open Save or Load dialog, as typing it and OK would.
sf_pick() {
  local title=$1 path=$2
  drv wait "caption=$title" 10000 >/dev/null || return 1
  drv settext "$SF_DIALOG_NAME" "$path" --in "caption=$title" >/dev/null || return 1
  drv click 1 --in "caption=$title" >/dev/null
}

journey_settings_files() {
  local dir=$RIG_LOGS/settings before
  mkdir -p "$dir"
  jr_begin 5=master 6=slave || return
  jr_read_clean 3000 master
  drv select 4000 "$JR_COM_NAME (COM6)" >/dev/null
  jr_read_clean 4000 slave
  drv key ctrl+s >/dev/null
  sf_pick "Save Settings" "$(sf_win_path "$dir/pair")"
  drv wait-gone "caption=Save Settings" 10000 >/dev/null
  # The default extension; the header; the master's choices as it shows them.
  local channel
  channel=$(drv selected 3007 | cut -d' ' -f2)
  expect_match saved-as-shown "^; NLCONF [0-9.]+ settings"$'\r\n'"; Master: Node Identifier \
KOV-NL001/M, .*\\[Master\\]"$'\r\n'"Channel = $channel"$'\r\n' "$(cat "$dir/pair.ini")"
  # Reading a serial port may never end (and opening it raises its lines).
  drv drop '\\.\COM5' >/dev/null
  expect_match port-is-not-a-file 'COM5 is not a file' "$(drv wait msgbox 5000 >/dev/null; drv msgbox)"
  drv msgbox-ok >/dev/null
  # The next box, not this one on its way out.
  drv wait-gone msgbox 5000 >/dev/null
  drv drop "$(sf_win_path "$dir")" >/dev/null
  expect_match folder-is-a-folder 'settings is a folder' "$(drv wait msgbox 5000 >/dev/null; drv msgbox)"
  drv msgbox-ok >/dev/null
  jr_exit_confirmed exit-after-save drv click 1

  # The batch flow: start with the file, plug in, Read both, Write both.
  printf '%s\r\n' '; for the pair on the bench' '[Master]' 'Channel = 25' 'Power Level = Low' \
    '[ slave ]' 'channel = 25' 'Power Level = Medium' 'Power Save = Off' \
    'Flow Control = Disable' >"$dir/batch.ini"
  rig_start nlconf nlconf.exe "$(sf_win_path "$dir/batch.ini")"
  drv wait main "$APPEAR_MS" >/dev/null
  expect_match loading-says-what-waits "The Master and the Slave settings wait for each pane's next Read" \
    "$(drv wait msgbox 10000 >/dev/null; drv msgbox)"
  drv msgbox-ok >/dev/null
  jr_read_clean 3000 master-with-file
  expect master-shows-the-file $'3007 25\n3011 Low\n3007 red\n3011 red' \
    "$(jr_values 3007 3011; jr_colors 3007 3011)"
  drv select 4000 "$JR_COM_NAME (COM6)" >/dev/null
  jr_read_clean 4000 slave-with-file
  expect slave-shows-the-file $'4007 25\n4011 Medium\n4013 Off\n4015 Disable\n4007 red\n4011 red' \
    "$(jr_values 4007 4011 4013 4015; jr_colors 4007 4011)"
  expect nothing-written-before-write "0" "$(jr_count COM5 'ATSC4000')"
  jr_shot file-loaded
  drv click 3002 >/dev/null
  expect master-write-ends "done" "$(jr_outcome 30000)"
  drv click 4002 >/dev/null
  expect slave-write-ends "done" "$(jr_outcome 30000)"
  # Channel 25 is bit 14 of SC; the verifying read shows what the modules hold.
  expect modules-took-the-channel "1 1" "$(jr_count COM5 'host> +"ATSC4000\\r"') $(jr_count COM6 'host> +"ATSC4000\\r"')"
  expect modules-hold-the-file $'3007 25\n3011 Low\n4007 25\n4015 Disable' \
    "$(jr_values 3007 3011 4007 4015)"
  expect written-values-black "$(jr_pane_all black 3000)" "$(jr_pane_colors 3000)"

  # Ctrl+O and the Open dialog: the first pair's file, red against the modules.
  drv key ctrl+o >/dev/null
  sf_pick "Load Settings" "$(sf_win_path "$dir/pair.ini")"
  drv wait-gone "caption=Load Settings" 10000 >/dev/null
  expect load-shows-the-saved-pair $'3007 15\n4011 Highest\n3007 red\n4011 red' \
    "$(jr_values 3007 4011; jr_colors 3007 4011)"

  # A dropped file with a bad line: its message, and nothing changes.
  before=$(jr_pane_values 3000; jr_pane_values 4000)
  printf '[Master]\nChannel = 12\nBaud Rate = 9601\n' >"$dir/bad.ini"
  drv drop "$(sf_win_path "$dir/bad.ini")" >/dev/null
  expect_match drop-names-file-and-line 'bad\.ini, line 3: Baud Rate cannot be "9601"' \
    "$(drv wait msgbox 10000 >/dev/null; drv msgbox)"
  jr_shot drop-refused
  drv msgbox-ok >/dev/null
  expect drop-changes-nothing "$before" "$(jr_pane_values 3000; jr_pane_values 4000)"

  # A Save over a read-only file: the system's reason, the old file whole.
  printf '; kept as it was\r\n' >"$dir/locked.ini"
  chmod a-w "$dir/locked.ini"
  drv key ctrl+s >/dev/null
  sf_pick "Save Settings" "$(sf_win_path "$dir/locked.ini")"
  # The dialog asks before it lets a file be replaced.
  drv wait "caption=Save Settings" 3000 >/dev/null && drv click 6 --in "caption=Save Settings" >/dev/null
  expect_match read-only-save-refused 'could not be saved to .*locked\.ini' \
    "$(drv wait msgbox 10000 >/dev/null; drv msgbox)"
  drv msgbox-ok >/dev/null
  expect read-only-file-whole $'; kept as it was\r' "$(cat "$dir/locked.ini")"
  expect no-temporary-file-left "" "$(find "$dir" -name '*.tmp')"
  jr_exit_confirmed exit-ends-with-0 drv click 1

  pushd "$dir" >/dev/null || return
  rig_start nlconf nlconf.exe missing.ini
  popd >/dev/null || return
  drv wait main "$APPEAR_MS" >/dev/null
  expect_match relative-name-says-where 'missing\.ini is not in the folder Z:.*\\settings\\' \
    "$(drv wait msgbox 10000 >/dev/null; drv msgbox)"
  drv msgbox-ok >/dev/null
  jr_exit_with exit-after-missing-file drv click 1
}
