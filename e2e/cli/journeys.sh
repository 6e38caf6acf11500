#!/usr/bin/env bash
# nlconf-cli on Linux against simulated modules behind pseudo-terminals, one
# journey per command, with the modem-line library preloaded as a real
# adapter's driver would answer. Also run with a Windows build under Wine
# (e2e/harness.sh's cli step), where the ports are COM5 and COM6.
#   journeys.sh <native build> <journey>
set -u
build=$1
journey=$2
cli=${NLCONF_CLI:-$build/cli/nlconf-cli}
sim=$build/e2e/rig/simports
work=$(mktemp -d "/tmp/nlconf-cli-$journey.XXXXXX")
# The ports' notes of this journey alone, as on a machine of its own.
export NLCONF_PORT_NOTES=$work/notes
sim_pid=""

cleanup() {
  [[ -n $sim_pid ]] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# A failing journey's evidence (outputs, line logs, the modules' transcripts)
# is kept with the test command's logs, which a clean-up of /tmp leaves.
fail() {
  echo "FAIL ($journey): $*"
  for f in "$work"/out "$work"/err; do [[ -f $f ]] && { echo "-- $f"; cat "$f"; }; done
  local kept=$build/../test-logs/cli/$journey
  mkdir -p "$kept" && { cp -r "$work"/. "$kept"/ 2>/dev/null; echo "-- kept in $kept"; }
  exit 1
}

# modules 5=master 6=slave:...: the models, and PORT5/PORT6 for the program.
modules() {
  mkdir -p "$work/dev" "$work/run" "$work/tr"
  local args=() p
  for p in "$@"; do args+=(--port "$p"); done
  env -u LD_PRELOAD "$sim/simports" --dosdevices "$work/dev" --run-dir "$work/run" \
    --transcripts "$work/tr" --time-limit 120 "${args[@]}" >"$work/sim.out" 2>&1 &
  sim_pid=$!
  local i
  for ((i = 0; i < 100; i++)); do
    grep -qx ready "$work/sim.out" 2>/dev/null && break
    sleep 0.05
  done
  grep -qx ready "$work/sim.out" || fail "simports did not start: $(cat "$work/sim.out")"
  PORT5=$work/dev/com5
  PORT6=$work/dev/com6
}

# Bounded: a rig that stops answering fails the journey with its evidence,
# not the test runner's time-out without it.
ctl() { timeout 20 "$sim/simports-ctl" "$work/run" "$@"; }

check_json=$(dirname "$0")/check_json.py

# keep_json COMMAND: out, for the check of every --json output against the
# schema once the journey is done.
keep_json() {
  mkdir -p "$work/json"
  cp "${NLCONF_OUT:-$work/out}" "$work/json/$BASHPID.$RANDOM.$1"
}

# nlconf code args...: runs the program, its outputs in $work/out and $work/err
# (its --json output kept).
nlconf() {
  local want=$1 got out=${NLCONF_OUT:-$work/out} t0=$SECONDS
  shift
  LD_PRELOAD=${shim-$sim/modemshim.so} ASAN_OPTIONS=verify_asan_link_order=0 \
    NLCONF_SIMPORTS_DIR=$work/run timeout 60 "$cli" "$@" >"$out" 2>"${NLCONF_ERR:-$work/err}"
  got=$?
  echo $((SECONDS - t0)) >"$work/seconds"
  [[ $got == "$want" ]] || fail "nlconf-cli $* ended with $got, not $want"
  [[ " $* " != *" --json "* || ! -f $out ]] || keep_json "$1"
}

has() { grep -qF -- "$2" "$work/$1" || fail "no \"$2\" in $1"; }

journey_read() {
  modules 5=master 6=slave
  nlconf 0 read "$PORT5"
  has out "[Master]"
  has out "Channel = 15"
  cp "$work/out" "$work/read.ini"
  # What read printed loads, and says what the module holds.
  nlconf 0 write "$PORT5" --role master "$work/read.ini" --dry-run
  has out "Nothing to write."
  nlconf 0 read "$PORT5" --json
  json 'j["node_id"] == "KOV-NL001/M" and j["settings"]["Channel"] == "15"'
  json 'j["port"] == a[0] and j["role"] == "master" and "Power Save" not in j["settings"]' "$PORT5"
  nlconf 4 read "$PORT5" --role slave
  has err 'Network ID "KOV-NL001/M" is not a slave.'
  nlconf 4 write "$PORT5" --role slave --set Channel=12
  has err "is not a slave."
  # Another program holds the port: the same lock keeps a second NLCONF out.
  flock "$PORT5" "$0" "$build" held "$PORT5: " 3 read "$PORT5" || fail "a held port was opened"
  flock "$PORT5" "$0" "$build" held "$PORT5 (Master): " 3 range-test "$PORT5" ||
    fail "a held port was opened"
  flock "$PORT5" "$0" "$build" held "$PORT5 (Master): " 3 link-test "$PORT5" "$PORT6" ||
    fail "a held port was opened"
  flock "$PORT5" "$0" "$build" held_pair "$PORT5" "$PORT6" ||
    fail "a held port was opened"
  # On a terminal, what is being done shows as it goes.
  script -qec "env LD_PRELOAD=$sim/modemshim.so ASAN_OPTIONS=verify_asan_link_order=0 \
    NLCONF_SIMPORTS_DIR=$work/run $cli read $PORT5 >/dev/null" /dev/null >"$work/err" 2>&1
  has err "Reading $PORT5..."
  stalled_model_read
}

# The rig's own promise: a model that the machine schedules late still takes
# the host's bytes when they were written, as a module on its line would.
# Stopped while the read waits out the guard time, it is let go 0.4 s after
# the "+++": the "OK" still comes within the read's window.
stalled_model_read() {
  LD_PRELOAD=$sim/modemshim.so ASAN_OPTIONS=verify_asan_link_order=0 \
    NLCONF_SIMPORTS_DIR=$work/run timeout 60 "$cli" read "$PORT5" --no-reset-key -v \
    >"$work/out" 2>"$work/err" &
  local pid=$! i code
  for ((i = 0; i < 500; i++)); do
    grep -q "quiet for the guard time" "$work/err" && break
    sleep 0.01
  done
  kill -STOP "$sim_pid"
  for ((i = 0; i < 500; i++)); do
    grep -q "> +++" "$work/err" && break
    sleep 0.01
  done
  sleep 0.4
  kill -CONT "$sim_pid"
  wait "$pid"
  code=$?
  [[ $code == 0 ]] || fail "a read whose model was scheduled late ended with $code"
}

# held NAMED CODE ARGS...: nlconf while another program holds a port it
# names; the failure names the port (and role) as NAMED does.
journey_held() {
  local named=$1
  shift
  nlconf "$@"
  grep -qxF -- "${named}Communication error." "$work/err" || fail "no \"${named}Communication error.\""
  has err "The port is in use by another program."
}

# held_pair MASTER SLAVE: a pair run says what the single commands say of
# a port another program holds.
journey_held_pair() {
  nlconf 3 pair "$1" "$2"
  has out "Communication error."
  has out "The port is in use by another program."
}

journey_reset_key() {
  modules 6=slave:baud=5,nb=1,sb=1
  (nlconf 0 read "$PORT6" --role slave) &
  local reader=$! i
  for ((i = 0; i < 200; i++)); do
    grep -qxF "Please press the reset key: Slave ($PORT6)." "$work/err" 2>/dev/null && break
    sleep 0.05
  done
  has err "Please press the reset key: Slave ($PORT6)."
  ctl press COM6 >/dev/null || fail "no press"
  wait "$reader" || exit 1
  has out "Baud Rate = 38400"
  has out "[Slave]"
}

# A bench without a person: a module written to another rate is found there
# again, named or searched for, and one that no try finds is not waited for.
journey_unattended() {
  modules 6=slave
  nlconf 0 write "$PORT6" --role slave --set "Baud Rate=115200"
  nlconf 0 read "$PORT6" --baud 115200 --no-reset-key
  has out "Baud Rate = 115200"
  nlconf 0 read "$PORT6" --search --no-reset-key
  has out "Baud Rate = 115200"
  ! grep -q "reset key" "$work/err" || fail "the reset key was asked for"
  # The next command finds it where the last one left it, unasked.
  nlconf 0 read "$PORT6" --no-reset-key
  has out "Baud Rate = 115200"
  # Another module there now: the note is one try, not a word to trust.
  ctl set COM6 BD 5 >/dev/null
  local start=$SECONDS
  nlconf 3 read "$PORT6" --no-reset-key
  grep -qxF "$PORT6: No module answered at any serial setting tried; the reset key was not asked for." \
    "$work/err" || fail "no message naming the port"
  ((SECONDS - start <= 10)) || fail "--no-reset-key took $((SECONDS - start)) s"
}

journey_write() {
  modules 6=slave
  nlconf 0 write "$PORT6" --role slave --set "Channel=12" --set "Power Level = Low"
  has out "Channel: 15 -> 12"
  has out "Power Level: Highest -> Low"
  printf '[Slave]\nPower Level = Lowest\n' >"$work/low.ini"
  nlconf 0 write "$PORT6" --role slave "$work/low.ini" --dry-run
  has out "Power Level: Low -> Lowest"
  nlconf 0 read "$PORT6"
  has out "Channel = 12"
  has out "Power Level = Low"
  # "-" is the profile from standard input, here a pipe.
  nlconf 0 write "$PORT6" --role slave - < <(printf '[Slave]\nChannel = 14\n')
  has out "Channel: 12 -> 14"
  nlconf 2 write "$PORT6" --role slave - < <(printf '[Slave]\nBaud Rate = 12345\n')
  has err "(standard input), line 2:"
  nlconf 2 write "$PORT6" --role slave - < <(printf '[Master]\nChannel = 13\n')
  has err "(standard input) has no [Slave] section."
  nlconf 0 read "$PORT6"
  has out "Channel = 14"
}

journey_refused() {
  modules 5=master
  printf '[Master]\nChannel = 12\nBaud Rate = 12345\n' >"$work/bad.ini"
  nlconf 2 write "$PORT5" --role master "$work/bad.ini"
  has err "bad.ini, line 3:"
  nlconf 2 write "$PORT5" --role master --set "Power Save=On"
  has err '--set "Power Save=On"'
  nlconf 1 write "$PORT5" --set "Channel=12"
  has err "write needs --role"
  nlconf 0 --help
  has out "6  Link NG, or a check after writing failed"
  # Refused before the port is touched: the module heard nothing.
  ctl status | grep -q "COM5 .* commands 0" || fail "the module was spoken to"
}

journey_pair() {
  modules 5=master 6=slave
  printf '[Slave]\nPower Level = Low\n' >"$work/profile.ini"
  nlconf 0 pair "$PORT5" "$PORT6" "$work/profile.ini" --make-pair --record "$work/runs.csv"
  has out "PASS"
  grep -q $'^\xEF\xBB\xBFDate and Time,' "$work/runs.csv" || fail "no header in the record"
  grep -qF ",PASS,,,No,$PORT5," "$work/runs.csv" || fail "no PASS line naming $PORT5"
  nlconf 0 link-test "$PORT5" "$PORT6"
  has out "Link OK."
  # [Range]: the run's link step is a range test, its shares in the record
  # (real time on a loaded machine may lose a packet: no minimum).
  printf '[Range]\nPackets = 10\nMin Received = 0\n' >"$work/range.ini"
  nlconf 0 pair "$PORT5" "$PORT6" "$work/range.ini" --record "$work/range.csv"
  python3 -c 'import csv, sys; r = list(csv.DictReader(open(sys.argv[1], encoding="utf-8-sig")))[0]
shares = [float(r[k + " Received %"]) for k in ("Master to Slave", "Slave to Master")]
sys.exit(0 if r["Link Test"] == "OK" and all(50 <= s <= 100 for s in shares) else 1)' \
    "$work/range.csv" || fail "no range shares recorded"
  [[ $(tail -1 "$work/out") == "Range test passed: each direction received at least 0 %." ]] ||
    fail "the [Range] run's text does not end with its verdict"
  # The same profile from a pipe: the record names it and the digest of its bytes.
  nlconf 0 pair "$PORT5" "$PORT6" - --json --record "$work/piped.csv" < <(cat "$work/range.ini")
  json 'j["range"]["min_received"] == 0 and j["range"]["passed"] is True and j["link"] == "OK"'
  json '[d["sent"] for d in j["range"]["directions"]] == [10, 10]'
  python3 -c 'import csv, sys; r = list(csv.DictReader(open(sys.argv[1], encoding="utf-8-sig")))[0]
sys.exit(0 if (r["Profile"], r["Profile SHA-256"]) == ("(standard input)", sys.argv[2]) else 1)' \
    "$work/piped.csv" "$(sha256sum <"$work/range.ini" | cut -d" " -f1)" ||
    fail "the record does not name the piped profile with its digest"
}

# held_read N ARGS...: nlconf-cli read PORT5 ARGS in the background, held
# inside the read of the third reply (well into the query series), the
# N-th hold of the journey; its pid in $reader. (A command that a script
# starts in the background ignores SIGINT, and so does nlconf-cli then;
# from a terminal, Ctrl+C reaches it.)
held_read() {
  local n=$1 i
  shift
  ctl hold COM5 "${HOLD_AT:-3}" >/dev/null
  LD_PRELOAD=$sim/modemshim.so ASAN_OPTIONS=verify_asan_link_order=0 NLCONF_SIMPORTS_DIR=$work/run \
    env --default-signal=INT "$cli" read "$PORT5" "$@" >"$work/out" 2>"$work/err" &
  reader=$!
  for ((i = 0; i < 200; i++)); do
    (($(grep -c "hold: host read held" "$work/tr/transcript-COM5.log" 2>/dev/null) >= n)) && break
    sleep 0.05
  done
}

journey_cancel() {
  modules 5=master
  local reader code
  # The log before stays whole until this one takes its place.
  echo stale >"$work/read.log"
  held_read 1 --log "$work/read.log"
  grep -qx stale "$work/read.log" || fail "the log before was cut while the read ran"
  kill -INT "$reader"
  ctl release COM5 >/dev/null
  wait "$reader"
  code=$?
  [[ $code == 5 ]] || fail "Ctrl+C during a read ended with $code, not 5"
  has err "Cancelled."
  ctl status | grep -q "COM5 .* command-mode 0" || fail "the module stayed in command mode"
  grep -q "> +++" "$work/read.log" && ! grep -q stale "$work/read.log" || fail "no new log"
  # A second Ctrl+C stops at once, and still takes the module out of
  # command mode; --json and the log say so.
  held_read 2 --json --log "$work/read.log"
  kill -INT "$reader"
  sleep 0.3 # not the same signal delivered twice
  kill -INT "$reader"
  wait "$reader"
  code=$?
  ctl release COM5 >/dev/null
  keep_json read
  [[ $code == 130 ]] || fail "a second Ctrl+C ended with $code, not 130"
  has err "Stopped at once: the modules may hold what was sent before the stop."
  json 'j["error"]["code"] == 130 and j["error"]["message"].startswith("Stopped at once")'
  grep -q "> +++" "$work/read.log" || fail "no log after the stop"
  sleep 0.2
  out_of_command_mode 5 "a second Ctrl+C"
}

# ---- no operand hangs it; every way of ending leaves command mode ----------

out_of_command_mode() {
  ctl status | grep -q "COM$1 .* command-mode 0" || fail "COM$1 was left in command mode ($2)"
}

# refused code text args...: exit `code`, saying `text`, well before a
# search of the port could have ended (a guard time and a reset key's wait).
refused() {
  local want=$1 text=$2 t0=$SECONDS
  shift 2
  nlconf "$want" "$@"
  ((SECONDS - t0 <= 4)) || fail "nlconf-cli $* took $((SECONDS - t0)) s"
  has err "$text"
}

journey_operands() {
  modules 5=master 6=slave
  mkfifo "$work/fifo"
  printf '[Master]\nChannel = 12\n' >"$work/profile.ini"
  refused 2 "$work/fifo is a FIFO" write "$PORT5" --role master "$work/fifo"
  refused 2 "$work/fifo is a FIFO" read "$PORT5" --log "$work/fifo"
  refused 2 "$work/fifo is a FIFO" pair "$PORT5" "$PORT6" --record "$work/fifo"
  refused 2 "$work is a directory" read "$PORT5" --log "$work"
  # The operands in the wrong order: the slave's port stands as the profile.
  refused 2 "$PORT6 is a device" pair "$PORT5" "$work/profile.ini" "$PORT6"
  # An output never takes the place of another operand, under any name.
  echo kept >"$work/r.csv"
  cp "$work/profile.ini" "$work/profile.before"
  ln -s "$work/profile.ini" "$work/link.ini"
  refused 2 "--log and --record name the same file $work/r.csv." \
    pair "$PORT5" "$PORT6" --record "$work/r.csv" --log "$work/r.csv"
  refused 2 "--log $work/link.ini and the settings file $work/profile.ini name the same file." \
    write "$PORT5" --role master "$work/profile.ini" --log "$work/link.ini"
  refused 2 "name the same file" pair "$PORT5" "$PORT6" --record "$work/new.csv" --log "$work/./new.csv"
  NLCONF_OUT=$work/o.txt refused 2 "--log and standard output name the same file $work/o.txt." \
    read "$PORT5" --log "$work/o.txt"
  [[ $(cat "$work/r.csv") == kept && ! -e $work/new.csv ]] && cmp -s "$work/profile.ini" \
    "$work/profile.before" || fail "an output named twice was written"
  # Nothing that is no serial port passes for one.
  local port
  for port in /dev/null /dev/tty "" "$work/profile.ini"; do
    refused 2 "${port:-\"\"} is not a serial port." pair "$PORT5" "$port"
  done
  ctl status | grep -q "COM5 .* commands 0" || fail "the master was spoken to"
  ctl status | grep -q "COM6 .* commands 0" || fail "the slave was spoken to"
  # A plain file still serves, and a log replaces the one before.
  yes stale | head -5000 >"$work/read.log"
  nlconf 0 read "$PORT5" --log "$work/read.log"
  ! grep -q stale "$work/read.log" || fail "the log kept an older log's lines"
  grep -q "Read: done." "$work/read.log" || fail "no line log"
}

# sent_times TEXT: how often the host has sent TEXT on COM5, counted in the
# bytes it sent (a busy machine's write may reach the module in pieces).
sent_times() {
  host_sent 5 1 2>/dev/null | grep -oF -- "$1" | wc -l
}

# stopped SIGNAL SECONDS [TEXT]: a read sent SIGNAL SECONDS after TEXT (by
# default its "+++") went over the master's line is cancelled, and its
# module ends out of command mode. Under timeout(1), as a script bounds a
# command, each signal reaches the program twice.
stopped() {
  local escapes i mark=${3:-+++}
  escapes=$(sent_times "$mark")
  LD_PRELOAD=$sim/modemshim.so ASAN_OPTIONS=verify_asan_link_order=0 \
    NLCONF_SIMPORTS_DIR=$work/run timeout 60 "$cli" read "$PORT5" >"$work/out" 2>"$work/err" &
  local pid=$! code
  # Counted from its "+++" on the line, not from its start, which a loaded
  # machine may delay past the instant meant.
  for ((i = 0; i < 500; i++)); do
    (($(sent_times "$mark") > escapes)) && break
    sleep 0.02
  done
  sleep "$2"
  kill -"$1" "$pid"
  wait "$pid"
  code=$?
  [[ $code == 5 ]] || fail "SIG$1 $2 s into a read ended with $code, not 5"
  sleep 1.2 # a "+++" answered late has been answered by now
  out_of_command_mode 5 "SIG$1 at $2 s"
}

# Before the quick "+++" is answered, around its answer, in the query series.
journey_interrupt() {
  modules 5=master
  local at reader code
  for at in 0.2 0.5; do stopped INT "$at"; done
  # Around its answer: the read held inside the read that takes it, so that
  # however late a busy machine delivers the signal, it lands there.
  HOLD_AT=1 held_read 1
  grep -q "hold: host read held" "$work/tr/transcript-COM5.log" || fail "the read was never held"
  kill -INT "$reader"
  ctl release COM5 >/dev/null
  wait "$reader"
  code=$?
  [[ $code == 5 ]] || fail "SIGINT at the answer of the \"+++\" ended with $code, not 5"
  sleep 1.2
  out_of_command_mode 5 "SIGINT at the answer of the \"+++\""
  # In the query series: a reply the module keeps back holds the read there.
  ctl fault COM5 withhold NI >/dev/null || fail "no fault"
  stopped INT 0.1 ATNI
}

# interrupted TEXT ARGS...: nlconf-cli ARGS, Ctrl+C once TEXT went over the
# master's line; cancelled, both modules out of command mode.
interrupted() {
  local text=$1 i code
  shift
  LD_PRELOAD=$sim/modemshim.so ASAN_OPTIONS=verify_asan_link_order=0 \
    NLCONF_SIMPORTS_DIR=$work/run timeout 60 "$cli" "$@" >"$work/out" 2>"$work/err" &
  local pid=$!
  for ((i = 0; i < 400; i++)); do
    grep -qF -- "$text" "$work/tr/transcript-COM5.log" 2>/dev/null && break
    sleep 0.05
  done
  kill -INT "$pid"
  wait "$pid"
  code=$?
  [[ $code == 5 ]] || fail "Ctrl+C in $1 ended with $code, not 5"
  sleep 1.2
  out_of_command_mode 5 "$1"
  out_of_command_mode 6 "$1"
}

journey_interrupt_tests() {
  modules 5=master 6=slave
  # A slow radio holds each transfer: the Ctrl+C lands inside the test.
  ctl radio delay 1500 >/dev/null || fail "no delay"
  interrupted "0123456789abcdef" link-test "$PORT5" "$PORT6"
  has err "Cancelled."
  ctl radio delay 0 >/dev/null || fail "no delay undone"
  # What was measured until then is still printed, each way.
  interrupted '"00000A20' range-test "$PORT5" "$PORT6" --count 1000
  [[ $(grep -Ec ': sent [1-9][0-9]*, received [0-9]+, lost' "$work/out") == 2 ]] ||
    fail "a cancelled range test did not print what it measured"
  has err "Cancelled."
}

journey_hangup() {
  modules 5=master 6=slave
  # Meanwhile, under nohup (the hang-up ignored from the start) and with
  # standard error closed, a read goes on to its end: no hang-up cancels
  # it, and no text of its own reaches the module's line.
  (
    trap '' HUP
    exec env LD_PRELOAD="$sim/modemshim.so" ASAN_OPTIONS=verify_asan_link_order=0 \
      NLCONF_SIMPORTS_DIR="$work/run" "$cli" read "$PORT6" -v >"$work/nohup.out" 2>&-
  ) &
  local pid=$! code
  sleep 0.5
  kill -HUP "$pid"
  stopped HUP 0.5
  ctl fault COM5 withhold NI >/dev/null || fail "no fault"
  stopped HUP 0.1 ATNI
  wait "$pid"
  code=$?
  [[ $code == 0 ]] || fail "a read under nohup with standard error closed ended with $code"
  has nohup.out "[Slave]"
}

# The reader of the line log goes away at its first line: the pair run goes
# on to its end and its record.
journey_sigpipe() {
  modules 5=master 6=slave
  set -o pipefail
  LD_PRELOAD=$sim/modemshim.so ASAN_OPTIONS=verify_asan_link_order=0 \
    NLCONF_SIMPORTS_DIR=$work/run timeout 60 "$cli" pair "$PORT5" "$PORT6" \
    --record "$work/runs.csv" -v 2>&1 | head -1 >"$work/out"
  local code=$?
  set +o pipefail
  ((code < 128)) || fail "a closed pipe ended the pair run with $code"
  grep -qF ",PASS,,,No,$PORT5," "$work/runs.csv" || fail "no record line"
  out_of_command_mode 5 "master"
  out_of_command_mode 6 "slave"
}

# json EXPRESSION [ARG...]: a Python expression over the JSON in out (`j`,
# the ARGs as `a`) holds.
json() {
  python3 "$check_json" claim "$work/out" "$@" || fail "not so in the JSON: $1"
}

# pressing COMn code args...: nlconf, with COMn's reset key pressed when asked.
# A module found without the key ends the run sooner, unasked. Its end is
# told by a file: a job long over may no longer be known to `wait` once its
# pid has been used again.
pressing() {
  local port=$1 runner i asked="^Please press the reset key: "
  shift
  rm -f "$work/err" "$work/pressing.ok"
  (nlconf "$@" && : >"$work/pressing.ok") &
  runner=$!
  for ((i = 0; i < 200; i++)); do
    grep -q "$asked" "$work/err" 2>/dev/null && break
    kill -0 "$runner" 2>/dev/null || break
    sleep 0.05
  done
  if grep -q "$asked" "$work/err" 2>/dev/null; then
    ctl press "$port" >/dev/null || fail "no press"
  fi
  wait "$runner"
  [[ -e $work/pressing.ok ]] || exit 1
}

journey_range_test() {
  # No read first: each module's line settings are found, the slave's at
  # 38400 by the reset key.
  modules 5=master 6=slave:baud=5
  ctl radio seed 5 >/dev/null && ctl radio loss 20 >/dev/null || fail "no loss set"
  pressing COM6 6 range-test "$PORT5" "$PORT6" --json
  grep -qxF "Please press the reset key: Slave ($PORT6)." "$work/err" || fail "no prompt naming the slave"
  json 'j["mode"] == "both" and j["round_trip_ms"] is None and len(j["directions"]) == 2'
  json 'all(d["sent"] == 100 and d["received"] + d["lost"] == 100 for d in j["directions"])'
  json 'all(55 <= d["received_percent"] <= 95 for d in j["directions"])'
  json '[(d["from"], d["to"]) for d in j["directions"]] == [(a[0], a[1]), (a[1], a[0])]' \
    "$PORT5" "$PORT6"
  pressing COM6 0 range-test "$PORT5" "$PORT6" --count 10 --size 64 --min-received 30
  has out "$PORT5 -> $PORT6: sent 10, received "
  has out "$PORT6 -> $PORT5: sent 10, received "
  # A cut radio: nothing arrives, each packet's wait is its bytes and the turnaround.
  ctl radio loss 0 >/dev/null && ctl radio cut on >/dev/null || fail "no cut"
  pressing COM6 6 range-test "$PORT5" "$PORT6" --count 10 --json
  json 'all(d["received"] == 0 and d["lost"] == 10 for d in j["directions"])'
  json 'j["passed"] is False and j["min_received"] == 100 and j["error"]["code"] == 6'
  (($(cat "$work/seconds") <= 15)) || fail "the cut radio's test took $(cat "$work/seconds") s"
  # The far module with a loopback plug: only the master here.
  ctl radio cut off >/dev/null && ctl loopback COM6 on >/dev/null || fail "no plug"
  nlconf 0 range-test "$PORT5" --count 20 --min-received 90 --json
  json 'j["mode"] == "loopback" and j["directions"][0]["sent"] == 20'
  json 'j["passed"] is True and j["min_received"] == 90 and j["slave"] is None'
  json 'j["master"]["port"] == a[0] and j["master"]["role"] == "master"' "$PORT5"
  json '0 < j["round_trip_ms"]["min"] <= j["round_trip_ms"]["median"] <= j["round_trip_ms"]["max"]'
  ctl status | grep -q "COM5 .* command-mode 0" || fail "the master stayed in command mode"
  ctl status | grep -q "COM6 .* command-mode 0" || fail "the slave stayed in command mode"
}

# The range test's text: a round trip over the loopback, packets that come
# back twice (two far modules answer to one serial number), and late: past
# their wait, yet received.
journey_range_lines() {
  modules 5=master 6=slave 7=slave
  ctl loopback COM6 on >/dev/null && ctl loopback COM7 on >/dev/null || fail "no plugs"
  nlconf 0 range-test "$PORT5" --count 10
  local sent="^$PORT5 -> $PORT5: sent 10, received"
  # A busy machine may take one late: received all the same.
  grep -Eq "$sent 10, lost 0, corrupted 0, received 100.0 %(, late [0-9]+ \(longest [0-9]+ ms\))?, duplicated ([1-9]|10)\$" \
    "$work/out" ||
    fail "no line of ten received with their duplicates"
  grep -Eq '^Round trip: min [1-9][0-9]* ms, median [0-9.]+ ms, max [1-9][0-9]* ms$' "$work/out" ||
    fail "no round trip"
  ctl loopback COM7 off >/dev/null && ctl radio delay 400 >/dev/null || fail "no delay"
  nlconf 0 range-test "$PORT5" --count 10
  # Each one past its 400 ms each way; how much longer is the machine's.
  grep -Eq "$sent 10, lost 0, corrupted 0, received 100.0 %, late 10 \(longest ([89][0-9]{2}|[1-9][0-9]{3}) ms\)\$" \
    "$work/out" || fail "no line of ten received late, with the longest delay"
  # A radio that loses nothing loses nothing on the count, however busy the
  # machine (scripts/stress_test.sh runs this beside two CPU-bound programs).
  ctl radio delay 0 >/dev/null || fail "no delay undone"
  NLCONF_OUT=$work/busy nlconf 0 range-test "$PORT5" --count 30
  grep -Eq "^$PORT5 -> $PORT5: sent 30, received 30, lost 0, corrupted 0, received 100.0 %" \
    "$work/busy" || fail "a busy PC lost packets: $(head -1 "$work/busy")"
}

# A plain pseudo-terminal, as socat or a network serial bridge gives: no
# modem shim, so no modem lines and no break.
journey_plain_line() {
  modules 5=master:plain 6=slave:baud=5,plain
  local shim=""
  nlconf 0 write "$PORT5" --role master --set "Power Level = Low" -v
  has err "no modem lines"
  nlconf 0 read "$PORT5"
  has out "Power Level = Low"
  # The reset key needs a break, which such a line cannot send: said at
  # once, and Ctrl+C ends the wait for a module that cannot be reset.
  env -u LD_PRELOAD --default-signal=INT ASAN_OPTIONS=verify_asan_link_order=0 "$cli" read "$PORT6" -v \
    >"$work/out" 2>"$work/err" &
  local reader=$! i
  for ((i = 0; i < 200; i++)); do
    grep -q "break cannot be sent on this line" "$work/err" && break
    sleep 0.05
  done
  kill -INT "$reader"
  wait "$reader"
  [[ $? == 5 ]] || fail "the reset-key read did not end as cancelled"
  has err "break cannot be sent on this line"
}

# ---- scripts' needs: no false success, arguments, JSON --------------------------------

untouched() { ctl status | grep -q "$1 .* commands 0" || fail "the module on $1 was spoken to"; }

journey_full_output() {
  modules 5=master
  NLCONF_OUT=/dev/full nlconf 7 read "$PORT5" --json
  NLCONF_OUT=/dev/full nlconf 7 ports --json
  has err "Standard output could not be written"
}

journey_role_section() {
  modules 6=slave 7=slave:sm=4,d6=1
  printf '[Master]\nChannel = 12\n' >"$work/master.ini"
  nlconf 2 write "$PORT6" --role slave "$work/master.ini"
  has err "master.ini has no [Slave] section."
  : >"$work/empty.ini"
  nlconf 2 write "$PORT6" --role slave "$work/empty.ini"
  has err "empty.ini has no [Slave] section."
  untouched COM6
  nlconf 4 read "$PORT6" --role master
  has err "is not a master."
  # Refused against what the module holds, naming the line, before a write.
  printf '[Slave]\nChannel = 12\nFlow Control = Disable\n' >"$work/misfit.ini"
  # (A sleeping slave: its reset key wakes it where the read asks for it.)
  pressing COM7 2 write "$work/dev/com7" --role slave "$work/misfit.ini"
  has err "misfit.ini, line 3: Flow Control cannot be Disable while the slave shows Power Save On."
  [[ ! -s $work/out ]] || fail "a refused write printed changes"
}

journey_options() {
  modules 5=master
  cd "$work" || fail "no $work"
  nlconf 1 read "$PORT5" --log --set x
  has err "--log needs a value"
  [[ ! -e $work/--set ]] || fail "a file named --set was made"
  nlconf 1 read "$PORT5" --log
  has err "--log needs a value."
  nlconf 1 read "$PORT5" --bogus
  has err 'Unknown option "--bogus". See nlconf-cli read --help.'
  grep -q "^Usage" "$work/err" && fail "an unknown option dumped the usage"
  nlconf 1 read "$PORT5" --set Channel=12
  has err '"--set" is no option of read.'
  nlconf 1 read "$PORT5" --json=yes
  has err '--json takes no value, not "yes".'
  # After --, what looks like an option is an operand.
  nlconf 3 read -- --help
  has err "No serial port --help"
  untouched COM5
  nlconf 0 help write
  cp "$work/out" "$work/help-write"
  has out "Power Level: Lowest, Low, Medium, High, Highest"
  has out "Power Save: On, Off (slave only)"
  nlconf 0 write --help
  cmp -s "$work/out" "$work/help-write" || fail "write --help differs from help write"
  nlconf 0 --help
  has out "7  an output could not be written"
  nlconf 1 frobnicate
  has err 'Unknown command "frobnicate". See nlconf-cli --help.'
  nlconf 1 read
  has err "Wrong number of operands for read."
  nlconf 1 read "$PORT5" --role boss
  has err '--role takes master or slave, not "boss".'
  nlconf 1 help bogus
  has err 'There is no command "bogus".'
  nlconf 1 range-test "$PORT5" --count 0
  has err '--count takes a number of packets from 1 to 1000000, not "0".'
  local bad
  for bad in "" 1.5 12345678901234; do
    nlconf 1 range-test "$PORT5" --count "$bad"
    has err "--count takes a number of packets from 1 to 1000000, not \"$bad\"."
  done
  nlconf 1 range-test "$PORT5" --size 0
  has err '--size takes a number of bytes from '
  for bad in 100.5 1.2.3 5. .5 99.99995; do
    nlconf 1 range-test "$PORT5" --min-received "$bad"
    has err "--min-received takes a per cent from 0 to 100, to 4 decimals at most, not \"$bad\"."
  done
  nlconf 1
  has err "No command given."
  nlconf 0 --version
  grep -qx "nlconf-cli [0-9.]*" "$work/out" || fail "no version"
  # Whatever names no port, file or log is refused before a module is spoken to.
  nlconf 3 write /no/port --role master --set Channel=12
  has err "No serial port /no/port."
  nlconf 3 link-test /no/m /no/s
  has err "No serial port /no/m."
  nlconf 3 pair "$PORT5" /no/s
  has err "No serial port /no/s."
  nlconf 3 range-test /no/m
  nlconf 3 read "$work/dev/$(printf './%.0s' {1..130})com5"
  has err "is too long."
  nlconf 2 read "$PORT5" --log /no/dir/read.log
  has err "Cannot write the log file /no/dir/read.log: No such file or directory."
  nlconf 2 pair "$PORT5" /no/s "$work/none.ini"
  has err "Cannot open $work/none.ini: No such file or directory."
  head -c 70000 /dev/zero | tr '\0' ';' >"$work/big.ini"
  nlconf 2 write "$PORT5" --role master "$work/big.ini"
  has err "big.ini: larger than 64 KiB."
  untouched COM5
}

# readme_serial PORT: the serial number as the manual's example takes it,
# its JSON in out; ends as the example's script would.
readme_serial() {
  {
    echo 'nlconf-cli() { LD_PRELOAD=$SHIM ASAN_OPTIONS=verify_asan_link_order=0 "$CLI" "$@" >"$OUT"; local code=$?; cat "$OUT"; return $code; }'
    sed -n '/^json=\$(nlconf-cli read/,/jq -r \.serial)/p' "$(dirname "$0")/../../docs/cli/README.md" |
      sed "s|/dev/ttyUSB0|$1|"
    echo 'echo "serial $serial"'
  } >"$work/example.sh"
  SHIM=$sim/modemshim.so CLI=$cli OUT=$work/out NLCONF_SIMPORTS_DIR=$work/run \
    timeout 60 bash "$work/example.sh" 2>"$work/err"
}

journey_json() {
  modules 5=master 6=slave $'7=slave:id=1111,sl=99,ni=COM1 K"\\\x01\xe9/S'
  nlconf 0 ports --json
  json 'isinstance(j, list)'
  # Each port's device, by-id path, USB product, manufacturer, serial number
  # and driver (null, or "-" in the text, where the system does not tell).
  mv "$work/out" "$work/ports.json"
  nlconf 0 ports
  python3 -c 'import json, sys
keys = ("port", "by_id", "product", "manufacturer", "serial", "driver")
ports = [[p[k] or "-" for k in keys] for p in json.load(open(sys.argv[1]))]
sys.exit(ports != [l.split("\t") for l in open(sys.argv[2]).read().splitlines()])' \
    "$work/ports.json" "$work/out" || fail "ports: not each port with the six columns in both forms"
  # The manual's example stops the script when the read fails.
  [[ $(readme_serial "$PORT5") =~ ^serial\ [0-9A-F]{16}$ ]] || fail "the example took no serial"
  keep_json read
  json 'j["serial"] and j["settings"]["Channel"] == "15" and j["error"] is None'
  readme_serial /no/port >"$work/example.out"
  [[ $? == 3 && ! -s $work/example.out ]] || fail "the example went on after a failed read"
  keep_json read
  json 'j["error"] == {"code": 3, "message": "No serial port /no/port.", "port": "/no/port"}'
  # Whatever ends a command, --json prints one object that says why.
  nlconf 1 read "$PORT5" --bogus --json
  json 'j["error"]["code"] == 1 and "--bogus" in j["error"]["message"] and j["error"]["port"] is None'
  nlconf 2 read /dev/null --json
  json 'j == {"error": {"code": 2, "message": "/dev/null is not a serial port.", "port": "/dev/null"}}'
  nlconf 0 pair "$PORT5" "$PORT6" --json --record "$work/runs.csv"
  json 'j["result"] == "PASS" and j["recorded"] and j["link"] == "OK" and not j["ports_swapped"]'
  json 'all(len(j[m]["serial"]) == 16 and int(j[m]["serial"], 16) for m in ("master", "slave"))'
  json 'j["master"]["node_id"] == "KOV-NL001/M" and j["slave"]["settings"]["Channel"] == "15"'
  json 'j["master"]["port"].endswith("/dev/com5")'
  nlconf 0 link-test "$PORT5" "$PORT6" --json
  json 'j["link"] == "OK" and j["message"] is None'
  nlconf 0 write "$PORT6" --role slave --set Channel=12 --json
  json 'j["written"] and j["changes"] == [{"key": "Channel", "from": "15", "to": "12"}]'
  # A name with a control byte, a quote, a backslash and a byte that is no
  # UTF-8 still makes valid JSON that gives the name back.
  local odd="$work/p"$'\x01"\\\xe9'
  ln -s "$PORT6" "$odd"
  nlconf 0 write "$odd" --role slave --set Channel=12 --json
  json 'not j["written"] and j["changes"] == [] and j["port"].endswith("/p\x01\"\\\xe9")'
  nlconf 6 link-test "$PORT5" "$PORT6" --json
  json 'j["link"] == "NG" and any("channels differ" in f for f in j["no_pair"])'
  # A module's text that is neither printable nor UTF-8 still makes valid JSON.
  # Its failure names the port and the role, in the JSON and the record;
  # the log names the port as given, whatever the module's text holds.
  nlconf 4 pair "$PORT5" "$work/dev/com7" --json --record "$work/fail.csv" --log "$work/fail.log"
  json 'j["result"] == "FAIL" and j["failed_step"] == "Read Slave" and "K\"\\<01><E9>/S" in j["message"]'
  json 'j["slave"]["node_id"] == "COM1 K\"\\\x01\xe9/S" and len(j["slave"]["serial"]) == 16'
  json 'j["message"].startswith(a[0] + " (Slave): Network ID ") and j["error"]["code"] == 4' \
    "$work/dev/com7"
  json 'j["error"]["message"] == j["message"] and j["error"]["port"] == a[0]' "$work/dev/com7"
  python3 -c 'import csv, sys; r = list(csv.DictReader(open(sys.argv[1], encoding="utf-8-sig")))[0]
sys.exit(0 if r["Message"].startswith(sys.argv[2] + " (Slave): Network ID ") else 1)' \
    "$work/fail.csv" "$work/dev/com7" || fail "the record does not name the port"
  grep -qF "$work/dev/com7 < COM1 K" "$work/fail.log" && grep -qF "$PORT5 > +++" "$work/fail.log" ||
    fail "the log does not name each port as given"
}

journey_text() {
  modules 5=master 6=slave:id=2222
  nlconf 6 link-test "$PORT5" "$PORT6"
  has out "The modules are no pair:"
  has out "The PAN IDs differ"
  has out "Link NG."
  nlconf 0 pair "$PORT5" "$PORT6" --make-pair
  has out "Master ($PORT5): "
  has out '"KOV-NL001/S"'
  nlconf 0 write "$PORT6" --role slave --set Channel=13 --quiet
  [[ $(cat "$work/out") == Written. ]] || fail "--quiet printed more than the result"
}

# Each module on the other's port: the run finds them, and the log and the
# record name each by the port it was found on.
journey_swapped() {
  modules 5=master 6=slave
  nlconf 0 pair "$PORT6" "$PORT5" --quiet --record "$work/runs.csv" --log "$work/swapped.log"
  [[ $(cat "$work/out") == PASS ]] || fail "--quiet printed more than PASS"
  grep -qF ",PASS,,,Yes,$PORT5,0x02004E4C40B0A001," "$work/runs.csv" &&
    grep -qF ",$PORT6,0x02004E4C40B0A002," "$work/runs.csv" || fail "the record swaps the ports"
  grep -qF "$PORT6 > ATSM" "$work/swapped.log" || fail "the log names the slave's port wrong"
}

# The slave answers another module: the link test says which destination is wrong.
journey_no_pair() {
  modules 5=master:dl=40B0A0FE 6=slave:dl=40B0A0FF
  nlconf 6 link-test "$PORT5" "$PORT6"
  has out "The master's destination 02004E4C40B0A0FE is not the slave's serial number 02004E4C40B0A002."
  has out "The slave's destination 02004E4C40B0A0FF is not the master's serial number 02004E4C40B0A001."
  nlconf 6 pair "$PORT5" "$PORT6" --quiet
  [[ $(cat "$work/out") == "FAIL: Link Test: Link NG." ]] || fail "--quiet printed more than the result"
  # A pair run says why as link-test does, in text, JSON and the record.
  nlconf 6 pair "$PORT5" "$PORT6" --record "$work/np.csv"
  has out "The modules are no pair:"
  has out "  The master's destination 02004E4C40B0A0FE is not the slave's serial number 02004E4C40B0A002."
  grep -qF "is not the slave's serial number" "$work/np.csv" || fail "the record does not say why"
  nlconf 6 pair "$PORT5" "$PORT6" --json
  json 'len(j["no_pair"]) == 2 and j["link"] == "NG"'
  # The slave's cable pulled under the test: its port's failure, not Link NG.
  ctl radio cut on >/dev/null
  local before
  before=$(grep -cF "0123456789abcdef" "$work/tr/transcript-COM6.log")
  LD_PRELOAD=$sim/modemshim.so ASAN_OPTIONS=verify_asan_link_order=0 NLCONF_SIMPORTS_DIR=$work/run \
    timeout 60 "$cli" link-test "$PORT5" "$PORT6" --json >"$work/out" 2>"$work/err" &
  local pid=$! i code
  for ((i = 0; i < 400; i++)); do
    (($(grep -cF "0123456789abcdef" "$work/tr/transcript-COM6.log") > before)) && break
    sleep 0.05
  done
  ctl unplug COM6 >/dev/null
  wait "$pid"
  code=$?
  keep_json link-test
  [[ $code == 3 ]] || fail "a port pulled under the link test ended with $code, not 3"
  json 'j["link"] is None and j["error"]["code"] == 3 and j["error"]["port"] == a[0]' "$PORT6"
}

# A second master where the slave belongs: said, not taken for a pair.
journey_two_masters() {
  modules 5=master 6=master:sl=40B0A0F6
  nlconf 6 link-test "$PORT5" "$PORT6"
  has out "The modules could not both be read:"
  has out "  $PORT6 (Slave): Network ID \"KOV-NL001/M\" is not a slave."
  has out "Link NG."
}

# cancelled_write ARGS...: a write of Channel=12, Ctrl+C once the module has
# taken the channel (held at the write's second command, "ATAC", after the
# read's 21); its exit code in $code.
cancelled_write() {
  ctl hold COM6 23 >/dev/null
  LD_PRELOAD=$sim/modemshim.so ASAN_OPTIONS=verify_asan_link_order=0 NLCONF_SIMPORTS_DIR=$work/run \
    env --default-signal=INT "$cli" write "$PORT6" --role slave --set Channel=12 "$@" \
    >"$work/out" 2>"$work/err" &
  local writer=$! i
  for ((i = 0; i < 200; i++)); do
    grep -q "hold: host read held" "$work/tr/transcript-COM6.log" 2>/dev/null && break
    sleep 0.05
  done
  kill -INT "$writer"
  ctl release COM6 >/dev/null
  wait "$writer"
  code=$?
}

journey_cancel_write() {
  modules 6=slave
  local code
  cancelled_write
  [[ $code == 5 ]] || fail "Ctrl+C during a write ended with $code, not 5"
  [[ ! -s $work/out ]] || fail "a cancelled write printed its changes as done"
  # The channel it had taken is stored: a power cycle keeps it.
  has err "What the module had taken of the write is stored"
  ctl power COM6 >/dev/null
  nlconf 0 read "$PORT6"
  has out "Channel = 12"
  # A write cut short names the module as read, and not what it cannot know.
  nlconf 0 write "$PORT6" --role slave --set Channel=15
  : >"$work/tr/transcript-COM6.log"
  cancelled_write --json
  keep_json write
  [[ $code == 5 ]] || fail "Ctrl+C during a write --json ended with $code, not 5"
  json 'j["serial"] == "02004E4C40B0A002" and j["firmware"] != "FFFF" and j["pan_id"] != "FFFFFFFFFFFFFFFF"'
  json 'j["settings"]["Channel"] is None and j["settings"]["Power Level"] == "Highest"'
  json 'j["written"] is False and "is stored" in j["message"]'
}

journey_record() {
  modules 5=master 6=slave
  nlconf 2 pair "$PORT5" "$PORT6" --record /no/such/dir/p.csv
  has err "/no/such/dir/p.csv"
  printf 'Date,Result\r\n' >"$work/old.csv"
  nlconf 2 pair "$PORT5" "$PORT6" --record "$work/old.csv"
  has err "old.csv was not made by this version"
  untouched COM5
  untouched COM6
}

# The record goes away while the modules are paired: the run is done, but
# its line is not, and the exit code says so.
journey_record_lost() {
  modules 5=master 6=slave
  ctl hold COM6 3 >/dev/null
  (nlconf 7 pair "$PORT5" "$PORT6" --record "$work/runs.csv") &
  local run=$! i
  for ((i = 0; i < 200; i++)); do
    grep -q "hold: host read held" "$work/tr/transcript-COM6.log" 2>/dev/null && break
    sleep 0.05
  done
  rm -f "$work/runs.csv" && mkdir "$work/runs.csv" || fail "the record stayed"
  ctl release COM6 >/dev/null
  wait "$run" || exit 1
  has err "runs.csv"
}

# Four fixtures side by side, all on one record: each run's line whole and
# its own, under a single header.
journey_fixtures() {
  local k pids=() args=()
  for k in 1 2 3 4; do
    args+=("$((2 * k + 3))=master:sl=40B0A0${k}1,dl=40B0A0${k}9"
      "$((2 * k + 4))=slave:sl=40B0A0${k}2,dl=40B0A0${k}9")
  done
  modules "${args[@]}"
  printf '[Slave]\nPower Level = Low\n' >"$work/profile.ini"
  for k in 1 2 3 4; do
    (NLCONF_OUT=$work/out$k NLCONF_ERR=$work/err$k nlconf 0 pair "$work/dev/com$((2 * k + 3))" \
      "$work/dev/com$((2 * k + 4))" "$work/profile.ini" --make-pair --record "$work/one.csv" &&
      : >"$work/ok$k") &
    pids+=($!)
  done
  # Each run's end told by a file, as in pressing().
  for k in 1 2 3 4; do
    wait "${pids[$k - 1]}"
    [[ -e $work/ok$k ]] || fail "fixture $k: $(cat "$work/out$k" "$work/err$k")"
  done
  python3 -c 'import csv, sys
raw = open(sys.argv[1], "rb").read()
assert raw.count("Date and Time,".encode()) == 1, "not one header"
lines = raw.split(b"\r\n")
assert len(lines) == 6 and lines[-1] == b"", "not one header and four whole lines"
rows = list(csv.reader(l.decode("utf-8-sig") for l in lines[:-1]))
assert all(len(r) == len(rows[0]) for r in rows), "a line with fields missing or extra"
got = {r["Master Port"]: (r["Result"], r["Master Serial Number"], r["Slave Serial Number"],
                         r["Master Destination"]) for r in (dict(zip(rows[0], r)) for r in rows[1:])}
want = {sys.argv[2] + "/com%d" % (2 * k + 3): ("PASS", "0x02004E4C40B0A0%d1" % k,
        "0x02004E4C40B0A0%d2" % k, "0x02004E4C40B0A0%d2" % k) for k in range(1, 5)}
assert got == want, got' "$work/one.csv" "$work/dev" || fail "the record: $(cat -A "$work/one.csv")"
}

# stamped N ARGS...: nlconf that must succeed, its output in $work/out;
# $work/N.times: the µs of its start, of its last output line and of its exit.
# The program's exit, not the leak scan that the sanitizer build adds to it
# (the other journeys keep that).
stamped() {
  local n=$1 start
  shift
  start=${EPOCHREALTIME/[.,]/}
  { LD_PRELOAD=$sim/modemshim.so ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0 \
    NLCONF_SIMPORTS_DIR=$work/run timeout 60 "$cli" "$@" 2>"$work/err"
    echo "$? ${EPOCHREALTIME/[.,]/}" >"$work/$n.exit"; } |
    { local last="" line
      while IFS= read -r line; do
        last=${EPOCHREALTIME/[.,]/}
        printf '%s\n' "$line"
      done >"$work/out"
      echo "$last" >"$work/$n.last"; }
  read -r code exited <"$work/$n.exit"
  [[ $code == 0 ]] || fail "nlconf-cli $* ended with $code"
  echo "$start $(<"$work/$n.last") $exited" >"$work/$n.times"
}

# logged_ms LOG PATTERN WHICH: the ms of the day of the first or last line
# of the line log that holds PATTERN.
logged_ms() {
  grep -F -- "$2" "$1" | "$3" -n 1 |
    awk '{ split($1, t, "[:.]"); print ((t[1] * 60 + t[2]) * 60 + t[3]) * 1000 + t[4] }'
}

# A script's read right after a read on one port: neither needs the key,
# neither lingers after its results, and the second waits only what the
# first left of the module's guard time before its "+++".
# lingered N: run N's exit came over half a guard time after its output
# (a read that lingered would wait a whole one); $lingered_ms says how long.
lingered() {
  local start last exited
  read -r start last exited <"$work/$1.times"
  lingered_ms=$(((exited - last) / 1000))
  ((exited - last > 500000))
}

journey_back_to_back() {
  modules 5=master
  local k late=() lingered_ms
  for k in 1 2; do
    stamped $k read "$PORT5" --log "$work/read$k.log"
    has out "Channel = 15"
    lingered $k && late+=("read $k: $lingered_ms ms")
  done
  # A busy machine may be late to run the shell that sees the exit: a read
  # that lingers lingers every time, so two more must both be late too.
  for k in again1 again2; do
    ((${#late[@]})) || break
    sleep 1.2
    stamped $k read "$PORT5"
    if lingered $k; then late+=("$k: $lingered_ms ms"); else late=(); fi
  done
  ((${#late[@]} == 0)) || fail "each read ended over 500 ms after its output (${late[*]})"
  local ended began escape
  ended=$(logged_ms "$work/read1.log" " > " tail)
  began=$(logged_ms "$work/read2.log" " = " head)
  escape=$(logged_ms "$work/read2.log" " > +++" head)
  [[ -n $ended && -n $began && -n $escape ]] || fail "no bytes in the line logs"
  # Never inside the guard delay, 1120 ms after the last byte (which takes
  # 6 ms); and not a whole guard delay of its own after it set up its line.
  ((escape - ended >= 1120 && began <= escape && escape - began < 1120)) ||
    fail "the second \"+++\" came $((escape - ended)) ms after the first read's last byte, $((escape - began)) ms after it began"
  # A guard time set in one process is waited out by the next.
  nlconf 0 at "$PORT5" ATGT5DC
  stamped 3 read "$PORT5" --no-reset-key --log "$work/read3.log"
  has out "Channel = 15"
}

journey_same_port() {
  modules 5=master
  ln -s "$PORT5" "$work/other-name"
  nlconf 1 pair "$PORT5" "$PORT5"
  has err "Master and Slave are both set to $PORT5: each module needs its own port."
  nlconf 1 link-test "$PORT5" "$work/other-name"
  has err "$PORT5 and $work/other-name: each module"
  untouched COM5
}


# ---- how a script ends it, or closes its streams ----------------------------

journey_endings() {
  modules 5=master 6=slave
  # With standard error closed, no progress text reaches a module's line.
  printf '[Master]\nChannel = 12\n[Slave]\nChannel = 12\n' >"$work/profile.ini"
  LD_PRELOAD=$sim/modemshim.so ASAN_OPTIONS=verify_asan_link_order=0 NLCONF_SIMPORTS_DIR=$work/run \
    timeout 60 "$cli" pair "$PORT5" "$PORT6" "$work/profile.ini" -v >"$work/out" 2>&-
  [[ $? == 0 ]] || fail "a pair run with standard error closed failed"
  ! grep -qE "Apply Profile|Write Master|Read Slave" "$work"/tr/transcript-COM*.log ||
    fail "progress text went over a module's line"
  # An interrupt ignored when the program starts stays ignored.
  ( trap '' INT
    exec env LD_PRELOAD="$sim/modemshim.so" ASAN_OPTIONS=verify_asan_link_order=0 \
      NLCONF_SIMPORTS_DIR="$work/run" "$cli" read "$PORT5" >"$work/out" 2>"$work/err" ) &
  local pid=$! code
  sleep 0.5
  kill -INT "$pid"
  wait "$pid"
  code=$?
  [[ $code == 0 ]] || fail "a read with the interrupt ignored ended with $code on SIGINT"
  has out "[Master]"
  # A hang-up, then Ctrl+C: the second signal stops at once.
  held_read 1
  kill -HUP "$reader"
  sleep 0.3
  kill -INT "$reader"
  wait "$reader"
  code=$?
  ctl release COM5 >/dev/null
  [[ $code == 130 ]] || fail "a hang-up then Ctrl+C ended with $code, not 130"
  has err "Stopped at once"
  sleep 0.2
  out_of_command_mode 5 "a hang-up then Ctrl+C"
  # --json says why a write or a range test could not start.
  nlconf 3 write /no/port --role slave --set Channel=12 --json
  json 'j["error"] == {"code": 3, "message": "No serial port /no/port.", "port": "/no/port"}'
  nlconf 3 range-test /no/port "$PORT6" --json
  json 'j["error"]["code"] == 3 and j["error"]["port"] == "/no/port"'
}

# ---- the module's own commands ---------------------------------------------------

# What the host sent on COMn since the transcript's line $2, one quoted run a line.
host_sent() {
  tail -n "+$2" "$work/tr/transcript-COM$1.log" | sed -n 's/^ *[^ ]* host>   "\(.*\)" \[.*/\1/p' | tr -d '\n'
}

journey_terminal() {
  modules 5=master 6=slave:baud=5,nb=1,sb=1
  # A module at 38400 8-E-2 found where --baud says, with no one at its key.
  nlconf 0 at "$PORT6" ATBD --baud 38400 --parity even --stop-bits 2 --no-reset-key
  has out $'ATBD\t5'
  nlconf 0 at "$PORT5" ATCH atni
  grep -qP '^ATCH\t[0-9A-F]+$' "$work/out" || fail "no channel beside ATCH"
  has out $'atni\tKOV-NL001/M'
  # After the search's own "+++" and the module's time-out asked: the two
  # commands and the way out, nothing else.
  [[ $(host_sent 5 1) == '+++ATCT\rATCH\ratni\rATCN\r' ]] || fail "sent: $(host_sent 5 1)"
  nlconf 6 at "$PORT5" ATZZ ATVR --json
  json 'j["port"].endswith("com5") and [r["command"] for r in j["replies"]] == ["ATZZ", "ATVR"]'
  json 'j["replies"][0]["reply"] == ["ERROR"] and j["error"]["code"] == 6 and "ATZZ" in j["error"]["message"]'
  nlconf 6 at "$PORT5" ATZZ ATVR --stop-on-error
  [[ $(wc -l <"$work/out") == 1 ]] || fail "a command after ERROR went out with --stop-on-error"
  nlconf 2 at "$PORT5" ATVR $'AT\tNI'
  has err "printable ASCII"
  # A command the module never answers is named.
  ctl fault COM5 withhold VR >/dev/null
  nlconf 3 at "$PORT5" ATCH ATVR
  has err ": ATVR got no reply."
  out_of_command_mode 5 "at"
  # A script feeds the console; Windows line ends too.
  local mark
  mark=$(($(wc -l <"$work/tr/transcript-COM5.log") + 1))
  # It ends as at does: 6 for a line answered ERROR, its notes on standard
  # error, and a line after ATCN sent in command mode again.
  printf 'ATNI\r\nATZZ\n\nATPL\nATCN\nATCH\n' | NLCONF_OUT=$work/out nlconf 6 console "$PORT5"
  [[ $(cat "$work/out") == $'KOV-NL001/M\nERROR\n4\nOK\nF' ]] || fail "console: $(cat "$work/out")"
  has err ": ATZZ was answered ERROR."
  [[ $(host_sent 5 "$mark") == '+++ATCT\rATNI\rATZZ\rATPL\rATCN\r+++ATCT\rATCH\rATCN\r' ]] ||
    fail "sent: $(host_sent 5 "$mark")"
  out_of_command_mode 5 "console from a pipe"
  ctl fault COM5 withhold VR >/dev/null
  printf 'ATCH\nATVR\nATNI\n' | NLCONF_OUT=$work/out nlconf 3 console "$PORT5"
  has err ": ATVR got no reply."
  [[ $(cat "$work/out") == F ]] || fail "console went on after no reply: $(cat "$work/out")"
  # Ctrl+C while the console waits for a line: cancelled, the module let go.
  mkfifo "$work/in"
  exec 3<>"$work/in"
  # Emptied here: the job's own redirection may come after the first look.
  # Fed by a FIFO, the console writes its notes on standard error.
  : >"$work/err"
  LD_PRELOAD=$sim/modemshim.so ASAN_OPTIONS=verify_asan_link_order=0 NLCONF_SIMPORTS_DIR=$work/run \
    env --default-signal=INT "$cli" console "$PORT5" <"$work/in" >"$work/out" 2>"$work/err" &
  local pid=$! i
  for ((i = 0; i < 600; i++)); do
    grep -q "^-- in command mode" "$work/err" && break
    sleep 0.05
  done
  grep -q "^-- in command mode" "$work/err" ||
    fail "the console found no module: $(tail -n 5 "$work/tr/transcript-COM5.log")"
  kill -INT "$pid"
  wait "$pid"
  local code=$?
  exec 3>&-
  [[ $code == 5 ]] || fail "Ctrl+C in console ended with $code, not 5"
  has err "Cancelled."
  out_of_command_mode 5 "Ctrl+C in console"
}

"journey_$journey" "${@:3}"
if [[ -d $work/json ]]; then
  python3 "$check_json" schema "$work"/json/* || fail "--json output not as the schema says"
fi
echo "ok ($journey)"
