#!/usr/bin/env bash
# Runs runner_format_check.exe and runner_check.exe under Wine on a private
# Xvfb display with a fresh Wine prefix: the result messages' formatting, the
# progress dialog with its worker, and the link test's result dialog.
#
#   e2e/runner_checks.sh <windows build dir>
#
# Every process started here is stopped on the way out, whatever happens.
# Ends with "runner checks: N passed, M failed".
set -uo pipefail

readonly BOOT_LIMIT_S=180
readonly DISPLAY_LIMIT_S=10
readonly CHECK_LIMIT_S=120

# shellcheck source=e2e/check_counts.sh
source "$(dirname "${BASH_SOURCE[0]}")/check_counts.sh"

summary() {
  echo "runner checks: $passed passed, $failed failed"
}

give_up() {
  fail runner-checks-setup "$*"
  summary
  exit 1
}

if [[ $# -ne 1 ]]; then
  echo "usage: $0 <windows build dir>" >&2
  exit 2
fi
format_exe=$1/e2e/checks/runner_format_check.exe
check_exe=$1/e2e/checks/runner_check.exe
for file in "$format_exe" "$check_exe"; do
  [[ -f $file ]] || give_up "no $file (build the windows preset)"
done
for tool in wine wineboot wineserver timeout Xvfb; do
  command -v "$tool" >/dev/null || give_up "$tool not installed"
done

# shellcheck source=e2e/wine_env.sh
source "$(dirname "${BASH_SOURCE[0]}")/wine_env.sh"
wine_env_init


started=$SECONDS
wine_env_start_xvfb "$DISPLAY_LIMIT_S"
wine_env_boot "$BOOT_LIMIT_S"
echo "wine prefix booted in $((SECONDS - started)) s"

run_checks runner_format_check "$format_exe"
run_checks runner_check "$check_exe"
echo "whole run $((SECONDS - started)) s"

summary
[[ $failed -eq 0 ]]
