#!/usr/bin/env bash
# Fuzzes every target for SECONDS each (default 60), clang with
# AddressSanitizer and UndefinedBehaviorSanitizer. Each grows its corpus in
# build/fuzz/corpus/<target>, seeded from tests/fuzz/corpus/<target>; an
# input that breaks an invariant or crashes is kept in build/fuzz/artifacts/.
#
#   scripts/fuzz.sh [SECONDS]
set -uo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh || exit 1
seconds=${1:-60}
cmake --preset fuzz >/dev/null && cmake --build --preset fuzz >/dev/null || exit 1
mkdir -p build/fuzz/artifacts
status=0
for target in build/fuzz/tests/fuzz/fuzz_*; do
  name=$(basename "$target")
  corpus=build/fuzz/corpus/${name#fuzz_}
  mkdir -p "$corpus"
  log=build/fuzz/$name.log
  "$target" "$corpus" "tests/fuzz/corpus/${name#fuzz_}" -max_total_time="$seconds" \
    -artifact_prefix="build/fuzz/artifacts/$name-" >"$log" 2>&1
  result=$?
  runs=$(grep -oE '^Done [0-9]+ runs' "$log" | grep -oE '[0-9]+' || echo "?")
  if ((result == 0)); then
    echo "$name: $runs runs in ${seconds} s, nothing broke"
  else
    echo "$name: FAILED, see $log and build/fuzz/artifacts/"
    status=1
  fi
done
# The serial seam's threads and four pair runs at once under ThreadSanitizer
# (a race between a transfer and a close, or between two runs' sessions,
# shows only there).
if cmake --preset clang >/dev/null && cmake --build --preset clang >/dev/null &&
  ctest --preset clang >build/clang/tsan.log 2>&1; then
  echo "posix_seam and four pair runs at once under ThreadSanitizer: passed"
else
  echo "posix_seam or four pair runs at once under ThreadSanitizer: FAILED, see build/clang/tsan.log"
  status=1
fi
exit $status
