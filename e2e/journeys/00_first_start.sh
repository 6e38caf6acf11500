# shellcheck shell=bash
# The first start in a prefix that lists no serial port: the main dialog as
# it looks from outside (ui_probe), a screenshot kept, and Escape ends the
# program with exit status 0.
journey_first_start() {
  if ! rig_ports_set >"$RIG_LOGS/port_devices.out" 2>&1; then
    fail port-devices "$(tail -n 3 "$RIG_LOGS/port_devices.out" | tr '\n' '|')"
    return
  fi
  local started
  started=$(now_ms)
  rig_start nlconf nlconf.exe
  run_check ui_probe_examine 60 ui_probe.exe examine
  note "main dialog examined $(($(now_ms) - started)) ms after the start"
  local shot=$E2E_OUT/first-start.png
  if rig_shot "$shot" && [[ -s $shot ]]; then
    pass screenshot-taken
    echo "screenshot: $shot"
  else
    fail screenshot-taken "import failed"
  fi
  run_check ui_probe_escape 60 ui_probe.exe escape
  expect nlconf-exits-with-code-0 0 "$(rig_exit_status nlconf "$EXIT_LIMIT_S")"
}
