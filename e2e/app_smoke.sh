#!/usr/bin/env bash
# Starts nlconf.exe under Wine on a private Xvfb display, with a fresh Wine
# prefix (which lists no COM ports), looks at its main dialog with
# ui_probe.exe, keeps a screenshot, closes it with the Escape key and checks
# that it exits with code 0. Also runs app_format_check.exe.
#
#   e2e/app_smoke.sh <windows build dir> [screenshot.png]
#
# The screenshot goes to <windows build dir>/../test-logs/app-smoke.png unless
# named. Every process started here is stopped on the way out, whatever
# happens. Ends with "app smoke: N passed, M failed".
set -uo pipefail

readonly BOOT_LIMIT_S=180
readonly DISPLAY_LIMIT_S=10
readonly CHECK_LIMIT_S=60
readonly APP_LIMIT_S=120
readonly EXIT_LIMIT_S=20

# shellcheck source=e2e/check_counts.sh
source "$(dirname "${BASH_SOURCE[0]}")/check_counts.sh"

summary() {
  echo "app smoke: $passed passed, $failed failed"
}

give_up() {
  fail app-smoke-setup "$*"
  summary
  exit 1
}

if [[ $# -lt 1 || $# -gt 2 ]]; then
  echo "usage: $0 <windows build dir> [screenshot.png]" >&2
  exit 2
fi
build=$1
shot=${2:-$build/../test-logs/app-smoke.png}
app_exe=$build/app/nlconf.exe
probe_exe=$build/e2e/checks/ui_probe.exe
format_exe=$build/e2e/checks/app_format_check.exe
for file in "$app_exe" "$probe_exe" "$format_exe"; do
  [[ -f $file ]] || give_up "no $file (build the windows preset)"
done
for tool in wine wineboot wineserver timeout Xvfb import; do
  command -v "$tool" >/dev/null || give_up "$tool not installed"
done
mkdir -p "$(dirname "$shot")" || give_up "cannot make the folder of $shot"
rm -f "$shot"

# shellcheck source=e2e/wine_env.sh
source "$(dirname "${BASH_SOURCE[0]}")/wine_env.sh"
wine_env_init
app_pid=""
stop_app() {
  stop_pid "$app_pid"
}
wine_env_on_cleanup stop_app


started=$SECONDS

wine_env_start_xvfb "$DISPLAY_LIMIT_S"
echo "Xvfb on display $DISPLAY"

wine_env_boot "$BOOT_LIMIT_S"
echo "wine prefix booted in $((SECONDS - started)) s"
# There is no window manager on Xvfb: let Wine draw the frames itself, so the
# screenshot shows the caption and its icon.
bounded timeout 30 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f \
  </dev/null >"$work/reg.log" 2>&1 || give_up "could not set Managed=N: $(tail -n 3 "$work/reg.log")"

run_checks app_format_check "$format_exe"

app_started=$SECONDS
timeout -k 5 "$APP_LIMIT_S" wine "$app_exe" </dev/null >"$work/app.out" 2>&1 &
app_pid=$!

run_checks ui_probe_examine "$probe_exe" examine
echo "main dialog examined $((SECONDS - app_started)) s after the start"

if timeout 20 import -window root "$shot" 2>"$work/import.err" && [[ -s $shot ]]; then
  pass screenshot-taken
  echo "screenshot: $shot"
else
  fail screenshot-taken "import failed: $(tail -n 3 "$work/import.err")"
fi

run_checks ui_probe_escape "$probe_exe" escape

# The program's own end: its exit code is what `wine` returns.
for ((i = 0; i < EXIT_LIMIT_S * 10; i++)); do
  kill -0 "$app_pid" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$app_pid" 2>/dev/null; then
  fail nlconf-exits "still running $EXIT_LIMIT_S s after Escape"
else
  wait "$app_pid"
  status=$?
  app_pid=""
  if [[ $status -eq 0 ]]; then
    pass nlconf-exits-with-code-0
  elif [[ $status -eq 124 || $status -eq 137 ]]; then
    fail nlconf-exits-with-code-0 "stopped after $APP_LIMIT_S s"
  else
    fail nlconf-exits-with-code-0 "exit status $status; $(tr -d '\r' <"$work/app.out" | tail -n 3)"
  fi
fi
echo "nlconf.exe ran $((SECONDS - app_started)) s; whole run $((SECONDS - started)) s"

summary
[[ $failed -eq 0 ]]
