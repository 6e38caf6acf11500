#!/usr/bin/env bash
# scripts/bench.sh --cli: nlconf-cli on Linux in real time beside the floors
# of the virtual bench. A program's time runs from its start to its exit;
# two commands back to back on one port run from the first's start to the
# second's exit, beside both floors and the guard delay between them.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1

readonly RUNS=3
{ cmake --preset cli && cmake --build --preset cli && cmake --preset native &&
  cmake --build --preset native --target simports simports-ctl modemshim nlconf_durations; } \
  >/dev/null || { echo "build failed"; exit 1; }
virtual=$(build/native/tests/nlconf_durations) || exit 1
cli=$PWD/build/cli/cli/nlconf-cli
sim=$PWD/build/native/e2e/rig/simports
work=$(mktemp -d)
sim_pid=""
stop_modules() {
  [[ -n $sim_pid ]] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  sim_pid=""
}
trap 'stop_modules; rm -rf "$work"' EXIT

floor() {
  awk -v op="$1" -v baud="$2" '{ name = substr($0, 1, 30); sub(/ +$/, "", name)
    split(substr($0, 31), f) } name == op && f[1] == baud { print f[3] }' <<<"$virtual"
}

# floor_ratio OPERATION: the virtual bench's own ratio for it at 9600.
floor_ratio() {
  awk -v op="$1" '{ name = substr($0, 1, 30); sub(/ +$/, "", name)
    split(substr($0, 31), f) } name == op && f[1] == 9600 { print f[4] }' <<<"$virtual"
}

# fresh: new modules, and no port notes of the modules before them (a new
# simports may get the same pseudo-terminal as the last).
fresh() {
  stop_modules
  rm -rf "$work/m" && mkdir -p "$work/m/dev" "$work/m/run" "$work/m/tr"
  "$sim/simports" --dosdevices "$work/m/dev" --run-dir "$work/m/run" --transcripts "$work/m/tr" \
    --time-limit 120 --port 5=master >"$work/sim.out" 2>&1 &
  sim_pid=$!
  local i
  for ((i = 0; i < 100; i++)); do
    grep -qx ready "$work/sim.out" 2>/dev/null && break
    sleep 0.05
  done
}

# run ARGS...: the program on the fresh modules' port, to its exit.
run() {
  NLCONF_PORT_NOTES=$work/m/notes LD_PRELOAD=$sim/modemshim.so NLCONF_SIMPORTS_DIR=$work/m/run \
    "$cli" "${@/PORT/$work/m/dev/com5}" >"$work/out" 2>"$work/err" &&
    grep -q . "$work/out" || { echo "failed: $(cat "$work/err")" >&2; return 1; }
}

# timed ARGS... [-- ARGS...]: fresh modules, then the program (and the
# second command right after it); prints the milliseconds to the last exit.
timed() {
  fresh
  local first=() start end
  while (($#)) && [[ $1 != -- ]]; do
    first+=("$1")
    shift
  done
  start=$(date +%s%N)
  run "${first[@]}" && { (($# == 0)) || run "${@:2}"; }
  local ok=$?
  end=$(date +%s%N)
  # In a command substitution: the caller's stop_modules would not see this simports.
  stop_modules
  ((ok == 0)) || return 1
  echo $(((end - start) / 1000000))
}

# row LABEL FLOOR ARGS...
row() {
  local label=$1 base=$2 i ms
  local -a times=()
  shift 2
  for ((i = 0; i < RUNS; i++)); do
    ms=$(timed "$@") && times+=("$ms")
  done
  if ((${#times[@]} == 0)); then
    printf '%-34s no measurement\n' "$label"
    return
  fi
  local sorted
  sorted=$(printf '%s\n' "${times[@]}" | sort -n)
  awk -v l="$label" -v mn="$(head -n 1 <<<"$sorted")" \
    -v md="$(sed -n "$(((${#times[@]} + 1) / 2))p" <<<"$sorted")" -v f="$base" \
    'BEGIN { printf "%-34s %9d %9d %9.1f %8.2f%s\n", l, mn, md, f, md / f,
             md / f <= 1.05 ? "  ok" : "  over 1.05" }'
}

read_floor=$(floor read 9600)
# A write command reads and writes in one command-mode session.
write_floor=$(floor "write in one session, power" 9600)
channel_floor=$(floor "write in one session, channel" 9600)
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-34s %9s %9s %9s %8s\n' "nlconf-cli (Linux, real time)" "min ms" "median ms" "floor ms" \
  "med/flr"
row "read PORT (9600)" "$read_floor" read PORT
row "write, power level (one session)" "$write_floor" write PORT --role master \
  --set "Power Level=Low"
row "write, channel (one session)" "$channel_floor" write PORT --role master --set "Channel=12"
# The second's quick "+++" comes a guard delay after the first's last byte.
readonly GUARD_DELAY_MS=1120
row "read, then read again" "$(awk -v r="$read_floor" -v g=$GUARD_DELAY_MS 'BEGIN { print 2 * r + g }')" \
  read PORT -- read PORT
row "read, then write a power level" \
  "$(awk -v r="$read_floor" -v w="$write_floor" -v g=$GUARD_DELAY_MS 'BEGIN { print r + w + g }')" \
  read PORT -- write PORT --role master --set "Power Level=Low"

# ---- fixtures side by side ----
# fixtures N: N pairs behind one simports (modules no pair yet, each pair its
# own serial numbers), then N pair runs started together on one record;
# prints the wall time from their start to the end of the last one's results.
fixtures() {
  local n=$1 k ports=() pids=()
  stop_modules
  rm -rf "$work/m" && mkdir -p "$work/m/dev" "$work/m/run" "$work/m/tr" "$work/f"
  for ((k = 1; k <= n; k++)); do
    # Each module's destination is a module that is not there: Make Pair mends it.
    ports+=(--port "$((2 * k + 3))=master:sl=40B0A0${k}1,dl=40B0A0${k}9"
      --port "$((2 * k + 4))=slave:sl=40B0A0${k}2,dl=40B0A0${k}9")
  done
  "$sim/simports" --dosdevices "$work/m/dev" --run-dir "$work/m/run" --transcripts "$work/m/tr" \
    --time-limit 120 "${ports[@]}" >"$work/sim.out" 2>&1 &
  sim_pid=$!
  for ((k = 0; k < 100; k++)); do
    grep -qx ready "$work/sim.out" 2>/dev/null && break
    sleep 0.05
  done
  grep -qx ready "$work/sim.out" || { echo "simports: $(cat "$work/sim.out")" >&2; return 1; }
  rm -f "$work/f"/* "$work/one.csv"
  local start
  start=$(date +%s%N)
  for ((k = 1; k <= n; k++)); do
    NLCONF_PORT_NOTES=$work/m/notes LD_PRELOAD=$sim/modemshim.so NLCONF_SIMPORTS_DIR=$work/m/run \
      "$cli" pair "$work/m/dev/com$((2 * k + 3))" "$work/m/dev/com$((2 * k + 4))" \
      "$work/profile.ini" --make-pair --record "$work/one.csv" 2>"$work/f/err$k" |
      { cat >"$work/f/out$k"; date +%s%N >"$work/f/end$k"; } &
    pids+=($!)
  done
  wait "${pids[@]}"
  stop_modules
  local end=0 t
  for ((k = 1; k <= n; k++)); do
    grep -qx PASS "$work/f/out$k" || {
      echo "fixture $k: $(cat "$work/f/out$k" "$work/f/err$k")" >&2
      return 1
    }
    t=$(<"$work/f/end$k")
    ((t > end)) && end=$t
  done
  record_whole "$n" || return 1
  echo $(((end - start) / 1000000))
}

# record_whole N: one header and N whole lines, each a PASS naming its master.
record_whole() {
  local n=$1 k
  [[ $(grep -c $'^\xEF\xBB\xBFDate and Time,' "$work/one.csv") == 1 ]] ||
    { echo "the record holds not one header" >&2; return 1; }
  [[ $(wc -l <"$work/one.csv") == $((n + 1)) ]] ||
    { echo "the record holds $(($(wc -l <"$work/one.csv") - 1)) lines, not $n" >&2; return 1; }
  for ((k = 1; k <= n; k++)); do
    [[ $(grep -cF ",PASS,,,No,$work/m/dev/com$((2 * k + 3))," "$work/one.csv") == 1 ]] ||
      { echo "no single PASS line for fixture $k in the record" >&2; return 1; }
  done
}

# median TIMES...: the middle one, sorted.
median() {
  printf '%s\n' "$@" | sort -n | sed -n "$((($# + 1) / 2))p"
}

printf '[Slave]\nPower Level = Low\n' >"$work/profile.ini"
one=() four=()
for ((i = 0; i < RUNS; i++)); do
  ms=$(fixtures 1) && one+=("$ms")
  ms=$(fixtures 4) && four+=("$ms")
done
if ((${#one[@]} == 0 || ${#four[@]} == 0)); then
  echo "pair runs side by side: no measurement (${#one[@]} and ${#four[@]} of $RUNS runs passed)"
else
  awk -v o="$(median "${one[@]}")" -v f="$(median "${four[@]}")" -v os="${one[*]}" \
    -v fs="${four[*]}" 'BEGIN {
      printf "%-34s %9d ms  (runs: %s)\n", "pair, one fixture (median)", o, os
      printf "%-34s %9d ms  (runs: %s)\n", "pair, four fixtures at once", f, fs
      printf "%-34s %9.2f%s\n", "four at once / one", f / o, f / o <= 1.15 ? "  ok" : "  over 1.15" }'
fi
# ---- end of fixtures side by side ----
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "From the program's start to its exit, $RUNS runs each from fresh modules; two commands"
echo "back to back from the first's start to the second's exit, beside both floors and the"
echo "guard delay of $GUARD_DELAY_MS ms that the second's \"+++\" waits after the first's last byte;"
echo "a write's floor is the virtual bench's for a write in one session (one escape, every"
echo "byte, the module's 2 ms before each reply, and for a channel the module's join as"
echo "polled); in virtual time the program takes"
echo "$(floor_ratio "write in one session, channel") times its floor for the channel."
echo "Pair runs (--make-pair, a slave's power level, --record): one fixture, then four"
echo "started together on one record, $RUNS runs each in turns from fresh modules, all"
echo "behind one simports; from their start to the end of the last one's results."
