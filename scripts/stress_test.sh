#!/usr/bin/env bash
# The test command as a busy PC runs it: three times in a row, each from a
# fresh clone of this checkout's HEAD, with two CPU-bound processes at
# normal priority beside it (stress-ng --cpu 2). Passes only if all three
# pass; prints a line a run with its summary and wall time.
#
#   scripts/stress_test.sh [RUNS]      (default 3)
set -uo pipefail
cd "$(dirname "$0")/.."
runs=${1:-3}
if ! command -v stress-ng >/dev/null; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -q && $sudo apt-get install -y -q --no-install-recommends stress-ng ||
    { echo "stress: cannot install stress-ng"; exit 1; }
fi
work=$(mktemp -d /tmp/nlconf-stress.XXXXXX)
stress-ng --cpu 2 --quiet &
stressor=$!
trap 'kill "$stressor" 2>/dev/null; wait "$stressor" 2>/dev/null' EXIT
failures=0
for ((i = 1; i <= runs; i++)); do
  clone=$work/run-$i
  git clone -q "$PWD" "$clone" || { echo "stress: cannot clone"; exit 1; }
  started=$SECONDS
  "$clone/scripts/test.sh" >"$work/run-$i.log" 2>&1
  status=$?
  summary=$(tail -n 1 "$work/run-$i.log")
  echo "run $i of $runs: $summary in $((SECONDS - started)) s (log: $work/run-$i.log)"
  ((status == 0)) || failures=$((failures + 1))
  # The logs of a run stay (a failing step's evidence among them).
  find "$clone/build" -mindepth 1 -maxdepth 1 ! -name test-logs -exec rm -rf {} +
done
echo "stress: $((runs - failures)) of $runs passed beside stress-ng --cpu 2"
((failures == 0))
