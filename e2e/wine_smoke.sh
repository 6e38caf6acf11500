#!/usr/bin/env bash
# Runs serial_smoke.exe under Wine against an echo line of simports, which
# Wine sees as COM5.
#
#   e2e/wine_smoke.sh <native build dir> <windows build dir>
#
# A fresh Wine prefix per run; every process started here is stopped on the
# way out, whatever happens. Needs no display: wineboot and a console program
# run headless (measured with Wine 8.0).
# Ends with "wine smoke: N passed, M failed[, K skipped]".
set -uo pipefail

readonly PORT=5
readonly BOOT_LIMIT_S=180
readonly READY_LIMIT_S=10
readonly SMOKE_LIMIT_S=60

summary() {
  local passed=$1 failed=$2 skipped=$3
  if [[ $skipped -gt 0 ]]; then
    echo "wine smoke: $passed passed, $failed failed, $skipped skipped"
  else
    echo "wine smoke: $passed passed, $failed failed"
  fi
}

give_up() {
  echo "FAIL wine-smoke-setup: $*"
  summary 0 1 0
  exit 1
}

if [[ $# -ne 2 ]]; then
  echo "usage: $0 <native build dir> <windows build dir>" >&2
  exit 2
fi
peer_bin=$1/e2e/rig/simports/simports
smoke_exe=$2/e2e/checks/serial_smoke.exe
[[ -x $peer_bin ]] || give_up "no simports at $peer_bin (build the native preset)"
[[ -f $smoke_exe ]] || give_up "no serial_smoke.exe at $smoke_exe (build the windows preset)"
for tool in wine wineboot wineserver timeout; do
  command -v "$tool" >/dev/null || give_up "$tool not installed"
done

# shellcheck source=e2e/wine_env.sh
source "$(dirname "${BASH_SOURCE[0]}")/wine_env.sh"
wine_env_init
peer_pid=""
stop_peer() {
  stop_pid "$peer_pid"
}
wine_env_on_cleanup stop_peer

started=$SECONDS

wine_env_boot "$BOOT_LIMIT_S"
echo "wine prefix booted in $((SECONDS - started)) s"

: >"$work/peer.out"
mkdir -p "$work/run"
"$peer_bin" --dosdevices "$WINEPREFIX/dosdevices" --run-dir "$work/run" --transcripts "$work" \
  --port "$PORT=echo" </dev/null >"$work/peer.out" 2>"$work/peer.err" &
peer_pid=$!
for ((i = 0; i < READY_LIMIT_S * 10; i++)); do
  grep -q '^ready' "$work/peer.out" && break
  kill -0 "$peer_pid" 2>/dev/null || break
  sleep 0.1
done
if ! grep -q '^ready' "$work/peer.out"; then
  cat "$work/peer.err"
  give_up "simports did not get ready within $READY_LIMIT_S s"
fi
cat "$work/peer.out"

run_started=$SECONDS
bounded timeout -k 5 "$SMOKE_LIMIT_S" wine "$smoke_exe" "$PORT" </dev/null >"$work/smoke.raw" \
  2>"$work/smoke.err"
status=$?
tr -d '\r' <"$work/smoke.raw" >"$work/smoke.out"
cat "$work/smoke.out"
if [[ -s $work/smoke.err ]]; then
  echo "--- serial_smoke stderr"
  tr -d '\r' <"$work/smoke.err"
fi
if [[ -s $work/peer.err ]]; then
  echo "--- simports stderr"
  cat "$work/peer.err"
fi
echo "serial_smoke ran $((SECONDS - run_started)) s, exit status $status;" \
  "whole run $((SECONDS - started)) s"

passed=$(grep -c '^PASS ' "$work/smoke.out")
failed=$(grep -c '^FAIL ' "$work/smoke.out")
skipped=$(grep -c '^SKIP ' "$work/smoke.out")
if [[ $status -eq 124 || $status -eq 137 ]]; then
  echo "FAIL serial_smoke: no end within $SMOKE_LIMIT_S s; the last check above hung"
  failed=$((failed + 1))
elif [[ $status -ne 0 && $failed -eq 0 ]]; then
  echo "FAIL serial_smoke: exit status $status without a FAIL line"
  failed=$((failed + 1))
elif [[ $passed -eq 0 && $failed -eq 0 ]]; then
  echo "FAIL serial_smoke: no check ran"
  failed=1
fi
# The display texts, formatted by the Windows C runtime itself.
rules_exe=$2/e2e/checks/ui_rules_check.exe
bounded timeout -k 5 "$SMOKE_LIMIT_S" wine "$rules_exe" </dev/null >"$work/rules.raw" 2>&1
rules_status=$?
tr -d '\r' <"$work/rules.raw" >"$work/rules.out"
cat "$work/rules.out"
rules_passed=$(grep -c '^PASS ' "$work/rules.out")
rules_failed=$(grep -c '^FAIL ' "$work/rules.out")
passed=$((passed + rules_passed))
failed=$((failed + rules_failed))
if [[ $rules_status -ne 0 && $rules_failed -eq 0 ]] || ((rules_passed + rules_failed == 0)); then
  echo "FAIL ui_rules_check: exit status $rules_status, $rules_passed checks passed"
  failed=$((failed + 1))
fi

summary "$passed" "$failed" "$skipped"
[[ $failed -eq 0 ]]
