#!/usr/bin/env bash
# Sets up what is missing, builds the native and the Windows preset, checks
# that clang compiles the native tests too, runs the native tests (among them
# a fixed slice of the fault campaign and every fuzz target over its corpus,
# under AddressSanitizer and UndefinedBehaviorSanitizer) and the Windows
# tests under Wine, shellcheck over the bash completion, makes and checks
# the release archive, and ends with one line: "N passed, M failed", after
# each step's wall time. The Wine runs start once the Windows build and the
# rig's native programs stand, as many at once as the machine's size and
# speed allow (it prints what it chose); the rest of the native build and
# its tests run beside them.
set -uo pipefail
cd "$(dirname "$0")/.."
script_started=$SECONDS

passed=0
failed=0
log=build/test-logs
mkdir -p "$log"
declare -a times=()

now_ms() {
  date +%s%3N
}

# timed NAME COMMAND...: runs it, and notes and prints its wall time.
timed() {
  local name=$1 started status seconds
  shift
  started=$(now_ms)
  "$@"
  status=$?
  seconds=$(awk -v ms=$(($(now_ms) - started)) 'BEGIN { printf "%.1f", ms / 1000 }')
  echo "== $name: $seconds s"
  times+=("$(printf '%-18s %6s s' "$name" "$seconds")")
  return $status
}

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

# How much runs at once, sized by the machine: its cores, its free memory,
# and how long a fixed bit of work took (about 70 ms on the machine of
# docs/testing.md). A slower or busier machine runs fewer of the steps that
# watch real time side by side.
calibration_ms=0
native_jobs=6
wine_shards=5
size_parallelism() {
  local cores mem_gib started
  cores=$(nproc)
  mem_gib=$(awk '/^MemAvailable:/ { printf "%d", $2 / 1048576 }' /proc/meminfo)
  started=$(now_ms)
  awk 'BEGIN { for (i = 0; i < 3000000; i++) s += i * i; print s }' >/dev/null
  calibration_ms=$(($(now_ms) - started))
  native_jobs=$((cores * 3))
  wine_shards=$((cores * 5 / 2))
  if ((calibration_ms > 100)); then  # half again as slow as the reference, or busier
    native_jobs=$((cores * 2))
    wine_shards=$((cores * 3 / 2))
  fi
  if ((calibration_ms > 200)); then
    native_jobs=$cores
    wine_shards=$cores
  fi
  # A Wine run with its display and prefix takes about 1 GiB.
  ((wine_shards > mem_gib)) && wine_shards=$mem_gib
  ((native_jobs > 8)) && native_jobs=8
  ((wine_shards > 6)) && wine_shards=6
  ((wine_shards < 1)) && wine_shards=1
  ((native_jobs < 1)) && native_jobs=1
  echo "== parallelism: $cores cores, $mem_gib GiB free, calibration $calibration_ms ms:" \
    "$native_jobs native tests and $wine_shards Wine runs at once"
}

# The native tests run in the background from the moment they are built:
# most of their time is the simulated modules' clocks in the command-line
# journeys, so the Windows build, the clang check and the archives go on
# meanwhile.
ctest_pid=0
ctest_started_ms=0
start_native_tests() {
  ctest_started_ms=$(now_ms)
  ctest --preset native --parallel "$native_jobs" >"$log/ctest.log" 2>&1 &
  ctest_pid=$!
}

finish_native_tests() {
  echo "== native tests"
  wait "$ctest_pid"
  grep -vE '^ *[0-9]+/[0-9]+ Test +#[0-9]+: .* Passed|^ +Start +[0-9]+: ' "$log/ctest.log" || true
  local summary total bad seconds
  seconds=$(awk -v ms=$(($(now_ms) - ctest_started_ms)) 'BEGIN { printf "%.1f", ms / 1000 }')
  echo "== native tests: $seconds s (side by side with the steps after the native build)"
  times+=("$(printf '%-18s %6s s' native-tests "$seconds")")
  summary=$(grep -E 'tests passed, [0-9]+ tests failed out of' "$log/ctest.log" | tail -1)
  total=$(sed -nE 's/.*out of ([0-9]+).*/\1/p' <<<"$summary")
  bad=$(sed -nE 's/.* ([0-9]+) tests failed.*/\1/p' <<<"$summary")
  if [ -n "$total" ]; then
    passed=$((passed + total - bad))
    failed=$((failed + bad))
    # A GoogleTest binary is one ctest entry: its cases are counted as such.
    local cases
    cases=$(awk '/^\[  PASSED  \] [0-9]+ tests?\./ { n += $4 - 1 } END { print n + 0 }' \
      build/native/Testing/Temporary/LastTest.log 2>/dev/null)
    passed=$((passed + ${cases:-0}))
  else
    failed=$((failed + 1))
  fi
}

# The Windows tests in runs side by side (as sized), each with its own
# display and Wine prefix: most of their time is spent waiting on the
# modules' clocks. Each harness run ends with "e2e: N passed, M failed[, K
# skipped]".
wine_started_ms=0
start_wine_tests() {
  local shard
  wine_started_ms=$(now_ms)
  for ((shard = 0; shard < wine_shards; shard++)); do
    E2E_SHARD=$shard/$wine_shards e2e/harness.sh build/native build/windows "$log/e2e" \
      >"$log/e2e-$shard.log" 2>&1 &
    wine_pids+=($!)
  done
}

finish_wine_tests() {
  local shard line seconds
  echo "== wine"
  wait "${wine_pids[@]}"
  seconds=$(awk -v ms=$(($(now_ms) - wine_started_ms)) 'BEGIN { printf "%.1f", ms / 1000 }')
  : >"$log/e2e.log"
  for ((shard = 0; shard < wine_shards; shard++)); do
    echo "-- wine run $((shard + 1)) of $wine_shards"
    tee -a "$log/e2e.log" <"$log/e2e-$shard.log"
    line=$(grep -E '^e2e: [0-9]+ passed, [0-9]+ failed' "$log/e2e-$shard.log" | tail -1)
    if [ -n "$line" ]; then
      passed=$((passed + $(sed -nE 's/^e2e: ([0-9]+) passed.*/\1/p' <<<"$line")))
      failed=$((failed + $(sed -nE 's/.* ([0-9]+) failed.*/\1/p' <<<"$line")))
    else
      echo "== wine run $((shard + 1)) printed no summary"
      failed=$((failed + 1))
    fi
  done
  echo "== wine: $seconds s (side by side with the steps above)"
  times+=("$(printf '%-18s %6s s' wine "$seconds")")
}

timed setup scripts/setup.sh || { echo "setup failed"; echo "0 passed, 1 failed"; exit 1; }
# Objects that were compiled before (another clone, an earlier run) are not
# compiled again.
if command -v ccache >/dev/null; then
  export CMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER:-ccache}
  export CMAKE_C_COMPILER_LAUNCHER=${CMAKE_C_COMPILER_LAUNCHER:-ccache}
fi
size_parallelism
native_ok=0
windows_ok=0
rig_ok=0
declare -a wine_pids=()
trap 'kill -TERM "${wine_pids[@]}" $ctest_pid 2>/dev/null; exit 130' INT TERM
# The Wine runs take longest, and need only the rig's native programs (and
# the Linux nlconf-cli they compare with) beside the Windows build: those
# first, then the Wine runs, and the rest of the native build and its tests
# (which mostly wait on the modules' clocks) beside them.
timed configure-native step configure-native cmake --preset native &&
  timed build-rig step build-rig cmake --build --preset native \
    --target simports simports-ctl modemshim nlconf-cli && rig_ok=1
timed configure-windows step configure-windows cmake --preset windows &&
  timed build-windows step build-windows cmake --build --preset windows && windows_ok=1
((rig_ok && windows_ok)) && start_wine_tests
((rig_ok)) && timed build-native step build-native cmake --build --preset native && native_ok=1
((native_ok)) && start_native_tests
# The native tests compiled by clang too, for the warnings g++ lets pass
# (an unused lambda capture): those come from the front end, so a check of
# the syntax alone finds them without building a second set of objects.
# The serial seam under ThreadSanitizer runs in scripts/fuzz.sh.
clang_check() {
  echo "== the tests compiled by clang"
  # nlconf_tests as the native build batches it, each batch one front-end run.
  local unity=build/native/tests/CMakeFiles/nlconf_tests.dir/Unity
  local -a batched
  mapfile -t batched < <(sed -n 's/^#include "\(.*\)"$/\1/p' "$unity"/unity_*_cxx.cxx)
  {
    find tests -maxdepth 2 -name '*.cpp' -path 'tests/*' ! -path 'tests/campaign/*' \
      ! -path 'tests/fuzz/*' ! -path 'tests/bench/*' -print | while read -r file; do
      printf '%s\n' "${batched[@]}" | grep -qxF "$PWD/$file" || printf '%s\n' "$file"
    done
    ls "$unity"/unity_*_cxx.cxx
  } | tr '\n' '\0' |
    xargs -0 -P2 -n2 clang++ -std=c++20 -fsyntax-only -Wall -Wextra -Wpedantic -Wshadow \
      -Wnon-virtual-dtor -Wcast-align -Wformat=2 -Werror -I. -Ibuild/native/generated \
      -DNLCONF_SOURCE_DIR=\"$PWD\" -DNLCONF_VERSION=\"0\" -DNLCONF_TEMPLATES_RES=\"\" \
      -DNLCONF_SIMPORTS=\"\" -DNLCONF_SIMPORTS_CTL=\"\" >"$log/clang-check.log" 2>&1
  if ((PIPESTATUS[2] == 0 && ${#batched[@]} > 0)); then
    passed=$((passed + 1))
  else
    cat "$log/clang-check.log"
    failed=$((failed + 1))
  fi
}
((native_ok)) && timed clang-check clang_check
# The bash completion as shellcheck reads it (not one remark), and as a
# person meets it: typed into bash, Tab pressed.
shellcheck_completion() {
  echo "== shellcheck of the completion"
  if shellcheck packaging/nlconf-cli.bash >"$log/shellcheck.log" 2>&1; then
    passed=$((passed + 1))
  else
    cat "$log/shellcheck.log"
    failed=$((failed + 1))
  fi
  if python3 tests/completion_check.py >"$log/completion.log" 2>&1; then
    passed=$((passed + 1))
  else
    cat "$log/completion.log"
    failed=$((failed + 1))
  fi
}
timed shellcheck shellcheck_completion
# The release archive: made, opened, and its contents checked.
if ((windows_ok)); then
  if timed package step package scripts/package.sh --check; then
    passed=$((passed + 1))
    tail -n 1 "$log/package.log"
  fi
fi
((native_ok)) && finish_native_tests
((${#wine_pids[@]})) && finish_wine_tests

echo "-- wall time per step"
printf '%s\n' "${times[@]}"
echo "whole test command: $((SECONDS - script_started)) s"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
