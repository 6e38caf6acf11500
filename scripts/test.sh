#!/usr/bin/env bash
# Sets up what is missing, builds the native and the Windows preset, runs the
# native tests and the Windows tests under Wine, and ends with one line:
# "N passed, M failed".
set -uo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh || { echo "setup failed"; echo "0 passed, 1 failed"; exit 1; }

passed=0
failed=0
log=build/test-logs
mkdir -p "$log"

step() {  # step NAME COMMAND...: a build step that must succeed
  local name=$1
  shift
  echo "== $name"
  if ! "$@" >"$log/$name.log" 2>&1; then
    cat "$log/$name.log"
    echo "== $name failed"
    failed=$((failed + 1))
    return 1
  fi
}

# wine_check NAME SCRIPT ARGS...: a Wine check whose last line says
# "<label>: N passed, M failed".
wine_check() {
  local name=$1
  shift
  echo "== $name"
  "$@" 2>&1 | tee "$log/$name.log"
  local line
  line=$(grep -E ': [0-9]+ passed, [0-9]+ failed' "$log/$name.log" | tail -1)
  if [ -n "$line" ]; then
    passed=$((passed + $(sed -nE 's/.*: ([0-9]+) passed.*/\1/p' <<<"$line")))
    failed=$((failed + $(sed -nE 's/.* ([0-9]+) failed.*/\1/p' <<<"$line")))
  else
    echo "== $name printed no summary"
    failed=$((failed + 1))
  fi
}

native_ok=0
windows_ok=0
step configure-native cmake --preset native &&
  step build-native cmake --build --preset native && native_ok=1
step configure-windows cmake --preset windows &&
  step build-windows cmake --build --preset windows && windows_ok=1

if ((native_ok)); then
  echo "== native tests"
  ctest --preset native 2>&1 | tee "$log/ctest.log" | grep -vE '^ *[0-9]+/[0-9]+ Test +#[0-9]+: .* Passed' || true
  summary=$(grep -E 'tests passed, [0-9]+ tests failed out of' "$log/ctest.log" | tail -1)
  total=$(sed -nE 's/.*out of ([0-9]+).*/\1/p' <<<"$summary")
  bad=$(sed -nE 's/.* ([0-9]+) tests failed.*/\1/p' <<<"$summary")
  if [ -n "$total" ]; then
    passed=$((passed + total - bad))
    failed=$((failed + bad))
  else
    failed=$((failed + 1))
  fi
fi

if ((native_ok && windows_ok)); then
  wine_check wine-smoke e2e/wine_smoke.sh build/native build/windows
  wine_check runner-checks e2e/runner_checks.sh build/windows
  wine_check app-smoke e2e/app_smoke.sh build/windows "$log/app-smoke.png"
  wine_check simports-wine e2e/simports_wine.sh build/native build/windows
  wine_check devices-smoke e2e/devices_smoke.sh build/windows "$log/devices-smoke"
  wine_check journeys e2e/journeys/run.sh build/native build/windows "$log/journeys"
fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
