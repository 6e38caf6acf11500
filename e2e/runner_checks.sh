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

passed=0
failed=0

fail() {
  echo "FAIL $1: $2"
  failed=$((failed + 1))
}

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
format_exe=$1/e2e/runner_format_check.exe
check_exe=$1/e2e/runner_check.exe
for file in "$format_exe" "$check_exe"; do
  [[ -f $file ]] || give_up "no $file (build the windows preset)"
done
for tool in wine wineboot wineserver timeout Xvfb; do
  command -v "$tool" >/dev/null || give_up "$tool not installed"
done

work=$(mktemp -d) || give_up "mktemp failed"
export WINEPREFIX=$work/prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export HOME=${HOME:-$work}
unset WAYLAND_DISPLAY
xvfb_pid=""
server_tag=""

cleanup() {
  if [[ -d $WINEPREFIX ]]; then
    timeout 20 wineserver -k >/dev/null 2>&1
    timeout 20 wineserver -w >/dev/null 2>&1
  fi
  if [[ -n $xvfb_pid ]] && kill -0 "$xvfb_pid" 2>/dev/null; then
    kill -TERM "$xvfb_pid" 2>/dev/null
    timeout 5 tail --pid="$xvfb_pid" -f /dev/null || kill -KILL "$xvfb_pid" 2>/dev/null
  fi
  # The server's socket directory outlives it; only this prefix's goes.
  if [[ -n $server_tag ]]; then
    for dir in /tmp/wine-*/"$server_tag" "/tmp/.wine-$(id -u)/$server_tag"; do
      [[ -d $dir ]] || continue
      rm -rf "$dir"
      rmdir "$(dirname "$dir")" 2>/dev/null
    done
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

bounded() {
  "$@" &
  wait "$!"
}

run_checks() {
  local name=$1
  shift
  bounded timeout -k 5 "$CHECK_LIMIT_S" wine "$@" </dev/null >"$work/$name.raw" 2>"$work/$name.err"
  local status=$?
  tr -d '\r' <"$work/$name.raw" >"$work/$name.out"
  cat "$work/$name.out"
  local ok bad
  ok=$(grep -c '^PASS ' "$work/$name.out")
  bad=$(grep -c '^FAIL ' "$work/$name.out")
  passed=$((passed + ok))
  failed=$((failed + bad))
  if [[ $status -eq 124 || $status -eq 137 ]]; then
    fail "$name" "no end within $CHECK_LIMIT_S s; the check after the last line above hung"
  elif [[ $status -ne 0 && $bad -eq 0 ]]; then
    fail "$name" "exit status $status without a FAIL line; $(tr -d '\r' <"$work/$name.err" | tail -n 3)"
  elif [[ $ok -eq 0 && $bad -eq 0 ]]; then
    fail "$name" "no check ran"
  fi
}

started=$SECONDS
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" \
  >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for ((i = 0; i < DISPLAY_LIMIT_S * 10; i++)); do
  [[ -s $work/display ]] && break
  kill -0 "$xvfb_pid" 2>/dev/null || break
  sleep 0.1
done
display_number=$(tr -dc '0-9' <"$work/display")
[[ -n $display_number ]] || give_up "Xvfb gave no display within $DISPLAY_LIMIT_S s"
export DISPLAY=:$display_number

mkdir -p "$WINEPREFIX"
read -r prefix_dev prefix_ino < <(stat -c '%d %i' "$WINEPREFIX")
server_tag=$(printf 'server-%x-%x' "$prefix_dev" "$prefix_ino")
timeout 30 wineserver -p </dev/null >"$work/wineserver.log" 2>&1 ||
  give_up "wineserver did not start: $(tail -n 5 "$work/wineserver.log")"
if ! bounded timeout -k 10 "$BOOT_LIMIT_S" wineboot -i </dev/null >"$work/wineboot.log" 2>&1; then
  tail -n 20 "$work/wineboot.log"
  give_up "wineboot -i failed or took over $BOOT_LIMIT_S s"
fi
echo "wine prefix booted in $((SECONDS - started)) s"

run_checks runner_format_check "$format_exe"
run_checks runner_check "$check_exe"
echo "whole run $((SECONDS - started)) s"

summary
[[ $failed -eq 0 ]]
