#!/usr/bin/env bash
# Runs serial_smoke.exe under Wine against pty_peer, which Wine sees as COM5.
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
peer_bin=$1/e2e/pty_peer
smoke_exe=$2/e2e/serial_smoke.exe
[[ -x $peer_bin ]] || give_up "no pty_peer at $peer_bin (build the native preset)"
[[ -f $smoke_exe ]] || give_up "no serial_smoke.exe at $smoke_exe (build the windows preset)"
for tool in wine wineboot wineserver timeout; do
  command -v "$tool" >/dev/null || give_up "$tool not installed"
done

work=$(mktemp -d) || give_up "mktemp failed"
export WINEPREFIX=$work/prefix
export WINEDEBUG=-all
# No Mono or Gecko install prompts: the smoke test needs neither.
export WINEDLLOVERRIDES="mscoree,mshtml="
export HOME=${HOME:-$work}
unset DISPLAY WAYLAND_DISPLAY
peer_pid=""
server_tag=""

cleanup() {
  if [[ -n $peer_pid ]] && kill -0 "$peer_pid" 2>/dev/null; then
    kill -TERM "$peer_pid" 2>/dev/null
    timeout 5 tail --pid="$peer_pid" -f /dev/null || kill -KILL "$peer_pid" 2>/dev/null
  fi
  if [[ -d $WINEPREFIX ]]; then
    timeout 20 wineserver -k >/dev/null 2>&1
    timeout 20 wineserver -w >/dev/null 2>&1
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

# In the background, so a signal to this script is acted on at once rather
# than when the foreground command ends.
bounded() {
  "$@" &
  wait "$!"
}

started=$SECONDS

# A server that outlives each Wine process keeps mountmgr from running again
# after the boot, so nothing rewrites the COM link that pty_peer makes.
mkdir -p "$WINEPREFIX"
# Wine names the server directory after the prefix's device and inode.
read -r prefix_dev prefix_ino < <(stat -c '%d %i' "$WINEPREFIX")
server_tag=$(printf 'server-%x-%x' "$prefix_dev" "$prefix_ino")
timeout 30 wineserver -p </dev/null >"$work/wineserver.log" 2>&1 ||
  give_up "wineserver did not start: $(tail -n 5 "$work/wineserver.log")"
if ! bounded timeout -k 10 "$BOOT_LIMIT_S" wineboot -i </dev/null >"$work/wineboot.log" 2>&1; then
  tail -n 20 "$work/wineboot.log"
  give_up "wineboot -i failed or took over $BOOT_LIMIT_S s"
fi
echo "wine prefix booted in $((SECONDS - started)) s"

: >"$work/peer.out"
"$peer_bin" "$WINEPREFIX/dosdevices" "$PORT" </dev/null >"$work/peer.out" 2>"$work/peer.err" &
peer_pid=$!
for ((i = 0; i < READY_LIMIT_S * 10; i++)); do
  grep -q '^ready' "$work/peer.out" && break
  kill -0 "$peer_pid" 2>/dev/null || break
  sleep 0.1
done
if ! grep -q '^ready' "$work/peer.out"; then
  cat "$work/peer.err"
  give_up "pty_peer did not get ready within $READY_LIMIT_S s"
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
  echo "--- pty_peer stderr"
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
rules_exe=$2/e2e/ui_rules_check.exe
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
