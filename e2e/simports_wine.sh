#!/usr/bin/env bash
# Runs link_over_wine.exe under Wine against simports: a module at 9600 8N1
# behind COM5 and one at 38400 8E2 behind COM6, with the modem shim
# preloaded into the Wine process.
#
#   e2e/simports_wine.sh <native build dir> <windows build dir>
#
# A fresh Wine prefix per run; every process started here is stopped on the
# way out, whatever happens. On a failure the port transcripts are kept in
# $SIMPORTS_KEEP (default /tmp) and their path is printed.
# Ends with "simports wine: N passed, M failed".
set -uo pipefail

readonly PORT_A=5
readonly PORT_B=6
readonly BOOT_LIMIT_S=180
readonly READY_LIMIT_S=10
readonly PROGRAM_LIMIT_S=120
readonly SIMPORTS_LIMIT_S=$((BOOT_LIMIT_S + PROGRAM_LIMIT_S + 60))
readonly STOP_LIMIT_S=5

# shellcheck source=e2e/check_counts.sh
source "$(dirname "${BASH_SOURCE[0]}")/check_counts.sh"

give_up() {
  echo "FAIL simports-wine-setup: $*"
  echo "simports wine: $passed passed, $((failed + 1)) failed"
  exit 1
}

if [[ $# -ne 2 ]]; then
  echo "usage: $0 <native build dir> <windows build dir>" >&2
  exit 2
fi
simports_bin=$1/e2e/rig/simports/simports
ctl_bin=$1/e2e/rig/simports/simports-ctl
shim_lib=$1/e2e/rig/simports/modemshim.so
program_exe=$2/e2e/checks/link_over_wine.exe
for f in "$simports_bin" "$ctl_bin"; do
  [[ -x $f ]] || give_up "no $f (build the native preset)"
done
[[ -f $shim_lib ]] || give_up "no $shim_lib (build the native preset)"
[[ -f $program_exe ]] || give_up "no $program_exe (build the windows preset)"
for tool in wine wineboot wineserver timeout ldd; do
  command -v "$tool" >/dev/null || give_up "$tool not installed"
done
# A sanitizer runtime in the shim would keep Wine from starting.
if ldd "$shim_lib" | grep -q 'libasan\|libubsan'; then
  give_up "$shim_lib links a sanitizer runtime"
fi

# shellcheck source=e2e/wine_env.sh
source "$(dirname "${BASH_SOURCE[0]}")/wine_env.sh"
wine_env_init
unset LD_PRELOAD
run_dir=$work/run
transcripts=$work/transcripts
mkdir -p "$run_dir" "$transcripts"
simports_pid=""

stop_simports() {
  [[ -n $simports_pid ]] || return 0
  if kill -0 "$simports_pid" 2>/dev/null; then
    kill -TERM "$simports_pid" 2>/dev/null
    timeout "$STOP_LIMIT_S" tail --pid="$simports_pid" -f /dev/null ||
      kill -KILL "$simports_pid" 2>/dev/null
  fi
  wait "$simports_pid" 2>/dev/null
  local status=$?
  simports_pid=""
  return $status
}

wine_env_on_cleanup stop_simports

windows_path() {
  local p=$1
  echo "Z:${p//\//\\}"
}

started=$SECONDS
wine_env_boot "$BOOT_LIMIT_S"
echo "wine prefix booted in $((SECONDS - started)) s"

dosdevices=$WINEPREFIX/dosdevices
"$simports_bin" --dosdevices "$dosdevices" --run-dir "$run_dir" --transcripts "$transcripts" \
  --time-limit "$SIMPORTS_LIMIT_S" --port "$PORT_A=master" \
  --port "$PORT_B=slave:baud=5,nb=1,sb=1" </dev/null >"$work/simports.out" \
  2>"$work/simports.err" &
simports_pid=$!
for ((i = 0; i < READY_LIMIT_S * 10; i++)); do
  grep -q '^ready' "$work/simports.out" && break
  kill -0 "$simports_pid" 2>/dev/null || break
  sleep 0.1
done
if ! grep -q '^ready' "$work/simports.out"; then
  cat "$work/simports.err"
  give_up "simports did not get ready within $READY_LIMIT_S s"
fi
cat "$work/simports.out"

run_started=$SECONDS
LD_PRELOAD=$shim_lib NLCONF_SIMPORTS_DIR=$run_dir \
  bounded timeout -k 5 "$PROGRAM_LIMIT_S" wine "$program_exe" \
  "$(windows_path "$run_dir/control")" "$(windows_path "$transcripts")" "$PORT_A" "$PORT_B" \
  </dev/null >"$work/program.raw" 2>"$work/program.err"
status=$?
tr -d '\r' <"$work/program.raw" | grep -v '^simports wine:' >"$work/program.out"
cat "$work/program.out"
if [[ -s $work/program.err ]]; then
  echo "--- link_over_wine stderr"
  tr -d '\r' <"$work/program.err" | tail -n 40
fi
echo "link_over_wine ran $((SECONDS - run_started)) s, exit status $status"
passed=$((passed + $(grep -c '^PASS ' "$work/program.out")))
failed=$((failed + $(grep -c '^FAIL ' "$work/program.out")))
if [[ $status -eq 124 || $status -eq 137 ]]; then
  fail link_over_wine "no end within $PROGRAM_LIMIT_S s; the last check above hung"
elif [[ $status -ne 0 && $failed -eq 0 ]]; then
  fail link_over_wine "exit status $status without a FAIL line"
elif ! grep -q '^PASS ' "$work/program.out"; then
  fail link_over_wine "no check ran"
fi

# Which calls the shim saw, per port: what Wine really does.
if "$ctl_bin" "$run_dir" status >"$work/status.out" 2>&1; then
  sed 's/^/simports status: /' "$work/status.out"
  pass "simports answers on its control socket"
else
  cat "$work/status.out"
  fail simports-ctl "no status from simports"
fi

# SIGTERM ends simports cleanly, and its links go with it.
stop_simports
stop_status=$?
left=""
for n in "$PORT_A" "$PORT_B"; do
  [[ -L $dosdevices/com$n ]] && left+=" com$n"
done
if [[ $stop_status -eq 0 && -z $left ]]; then
  pass "simports stops on SIGTERM and removes its links"
else
  fail simports-stop "exit status $stop_status, links left:${left:- none}"
fi
if [[ -s $work/simports.err ]]; then
  echo "--- simports stderr"
  cat "$work/simports.err"
fi

if [[ $failed -gt 0 ]]; then
  keep=${SIMPORTS_KEEP:-/tmp}/simports-wine-$(date +%Y%m%d-%H%M%S)-$$
  if mkdir -p "$keep" && cp "$transcripts"/* "$work/simports.out" "$work/program.out" "$keep"/; then
    echo "transcripts kept in $keep"
  fi
fi
echo "whole run $((SECONDS - started)) s"
echo "simports wine: $passed passed, $failed failed"
[[ $failed -eq 0 ]]
