# shellcheck shell=bash
# The UI driver checked on its own, as one step of the harness: against
# driver_target.exe, a stand-in dialog that logs what it receives: clicks,
# selections, keys, the close box, texts, colours read from pixels, message
# box, progress dialog, reset prompt, link result, WM_DEVICECHANGE
# delivered across processes.
selfcheck_ui_driver() {
  local target_log=$RIG_LOGS/target.out
  drv_start
  rig_start target driver_target.exe
  if ! drv wait main "$APPEAR_MS" >/dev/null; then
    fail target-appears "no stand-in dialog within $APPEAR_MS ms: $(tr -d '\r' <"$RIG_LOGS/target.err" | tail -n 3)"
    return
  fi
  pass target-appears
  drv click 3001 >/dev/null
  expect_line click-sends-bn-clicked "$target_log" '^command id=3001 code=0 from-control=yes$'
  drv click 3001 --mouse >/dev/null
  expect_count mouse-click-sends-the-same "$target_log" '^command id=3001 code=0 from-control=yes$' 2
  expect_status disabled-button-is-refused 1 drv click 3002
  expect disabled-button-sent-nothing 0 "$(lines_matching "$target_log" 'id=3002')"
  expect items-lists-entries $'0 Alpha Port (COM1)\n1 Beta Port (COM2)\n2 Gamma Port (COM3)' \
    "$(drv items 3000)"
  drv select 3000 "Gamma Port (COM3)" >/dev/null
  expect_line select-sends-cbn-selchange "$target_log" '^command id=3000 code=1 from-control=yes$'
  expect selected-reads-back "2 Gamma Port (COM3)" "$(drv selected 3000)"
  expect_status missing-entry-is-refused 1 drv select 3000 "Delta Port (COM4)"
  expect text-of-a-field "1234" "$(drv text 3004)"
  for pair in 3004:red 3005:black 3006:blue 3007:red 3008:black 3014:none; do
    expect "color-${pair%%:*}-is-${pair#*:}" "${pair#*:}" "$(drv color "${pair%%:*}" | cut -d' ' -f1)"
  done
  echo "INFO PrintWindow across processes reads: $(drv color 3004 --print)"
  expect state-of-buttons $'3001 enabled\n3002 disabled' "$(drv state 3001 3002)"

  drv devicechange arrive COM5 >/dev/null
  expect_line devicechange-send-carries-the-port "$target_log" \
    '^devicechange event=0x8000 header=yes size=22 type=3 name=COM5 sent=sent$'
  drv devicechange remove COM12 --via broadcast >/dev/null
  expect_line devicechange-broadcast-carries-the-port "$target_log" \
    '^devicechange event=0x8004 header=yes size=24 type=3 name=COM12 sent=sent$'
  expect_status devicechange-post-is-refused 1 drv devicechange arrive COM6 --via post
  expect devicechange-post-delivers-nothing 0 "$(lines_matching "$target_log" 'name=COM6')"

  drv click 1000 >/dev/null
  drv wait msgbox 5000 >/dev/null
  expect msgbox-text "Communication error." "$(drv msgbox)"
  expect_status click-under-a-modal-box-is-refused 1 drv click 3001
  drv msgbox-ok >/dev/null
  expect_line msgbox-ok-ends-the-box "$target_log" '^box returned 1$'

  drv click 1001 >/dev/null
  drv wait progress 5000 >/dev/null
  expect progress-is-seen "present Reading parameters... cancel=enabled" "$(drv progress)"
  expect_status progress-has-no-close-box 1 drv close progress
  drv key escape >/dev/null
  expect_line escape-reaches-the-progress-dialog "$target_log" '^progress returned 258$'
  expect progress-is-gone absent "$(drv progress)"

  expect prompt-hidden "hidden Please press the reset key." "$(drv prompt)"
  drv click 1002 >/dev/null
  expect prompt-visible "visible Please press the reset key." "$(drv prompt)"
  drv click 1002 >/dev/null

  drv click 1003 >/dev/null
  drv wait linkresult 5000 >/dev/null
  expect link-result-text-and-colour "Link OK. blue" "$(drv linkresult)"
  drv key enter >/dev/null
  expect_line enter-ends-the-result-with-ok "$target_log" '^result returned 0$'
  drv click 1003 >/dev/null
  drv wait linkresult 5000 >/dev/null
  drv close linkresult >/dev/null
  expect_line close-box-ends-the-result-with-cancel "$target_log" '^result returned 1$'
  drv click 1003 >/dev/null
  drv wait linkresult 5000 >/dev/null
  drv key escape --input >/dev/null
  expect_count escape-as-keyboard-input-cancels-the-result "$target_log" '^result returned 1$' 2

  expect_status mistyped-option-is-refused 2 drv click 3001 --mous
  # One process answers every command, a failed one too, and goes on.
  expect_status serve-refuses-unbalanced-quotes 2 drv_line 'text "3004'
  expect serve-passes-over-comments-and-blank-lines 1234 "$(drv_line $'# a comment\n\ntext 3004')"
  expect serve-answers-after-failures $'1234\n2 Gamma Port (COM3)\n3001 enabled' \
    "$(drv text 3004; drv selected 3000; drv state 3001)"

  drv close >/dev/null
  expect_line close-box-sends-sc-close "$target_log" '^syscommand close$'
  expect target-exit-status 0 "$(rig_exit_status target "$EXIT_LIMIT_S")"
}
