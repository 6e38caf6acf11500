# shellcheck shell=bash
# The rig around nlconf.exe under Wine, for the harness (e2e/harness.sh) and
# the run command (scripts/run.sh): one Xvfb display, one Wine prefix, port
# devices in its registry with the test cfgmgr32.dll, module models behind
# its COM ports (simports, the modem shim in the program's process only),
# Windows programs started and stopped, and the UI driver. Source it, then:
#
#   rig_init <work dir> <native build> <windows build>
#                                  tool paths; the Windows programs staged in $RIG_RUN
#   rig_start_display [WxH]        Xvfb 1280x1024 (or WxH), exports DISPLAY
#   rig_boot_prefix                one wineserver for the run, wineboot, unmanaged windows
#   rig_keep_wine_up               a windowless program that outlives every other one
#   rig_ports add 5 "<name>" | remove 5 | list | clear
#                                  Ports-class devices in the registry (port_devices.sh)
#   rig_ports_set [5 "<name>"]...  exactly these devices; nothing to do if they are already
#   rig_port_state "COM7 not-started" ...
#                                  what the test cfgmgr32 answers (nothing listed: started)
#   rig_modules_start <dir> 5=master 6=slave:baud=5 ...
#                                  simports; its run dir and transcripts in <dir>
#   rig_modules_stop               SIGTERM to simports; returns its exit status
#   rig_ctl <command words>        one simports control command; prints the reply
#   rig_start <name> <exe> [args]  a staged Windows program in the background, the test
#                                  cfgmgr32 in use, the shim too while modules run
#   rig_run <name> <s> <exe> [args]  the same in the foreground, within <s> seconds
#   rig_exit_status <name> <s>     waits up to <s> s; prints the exit status or "running"
#   rig_stop <name>                stops a program started with rig_start
#   drv_start / drv_stop           the UI driver, one process serving every command
#   drv <ui_driver command words>  one command; its output, and its status
#   rig_shot <file.png>            a screenshot of the display
#   rig_cleanup                    stops everything started here, removes the work dir
#
# Output of programs, the driver's transcript (driver.log) and the modules'
# transcripts go to $RIG_LOGS (default <work dir>/logs), which the harness
# points at each step's own folder. RIG_STUB= (empty) before rig_start or
# rig_run lets Wine's own cfgmgr32 answer; RIG_WINEDEBUG sets the programs'
# WINEDEBUG; RIG_PROGRAM_LIMIT_S (600 unless set before sourcing) bounds
# each program, the driver and simports. Every Wine call is time-bounded; the caller sets its own traps,
# e.g. "trap rig_cleanup EXIT".

readonly RIG_BOOT_LIMIT_S=180
readonly RIG_DISPLAY_LIMIT_S=10
readonly RIG_DRIVER_LIMIT_S=60
readonly RIG_READY_LIMIT_S=10
# A program's and simports' lives; scripts/run.sh allows a long session.
: "${RIG_PROGRAM_LIMIT_S:=600}"
readonly RIG_KEEPER_LIMIT_S=$((RIG_PROGRAM_LIMIT_S + 3600))
RIG_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

RIG_WORK=""
RIG_RUN=""
RIG_LOGS=""
RIG_NATIVE=""
RIG_XVFB_PID=""
RIG_SERVER_TAG=""
RIG_MODULES_PID=""
RIG_MODULES_RUN=""
RIG_PORTS_NOW=""
RIG_DRIVER_PID=""
RIG_DRIVER_IN=""
RIG_DRIVER_OUT=""
RIG_STUB="cfgmgr32=n,b"
# The prefix's system32: the test cfgmgr32.dll, its state and its call log.
RIG_STUB_DIR=""
declare -A RIG_PIDS=()

rig_init() {
  RIG_WORK=$1
  RIG_NATIVE=$2
  local windows=$3
  RIG_RUN=$RIG_WORK/run
  RIG_LOGS=$RIG_WORK/logs
  mkdir -p "$RIG_RUN" "$RIG_LOGS" || return 1
  export WINEPREFIX=$RIG_WORK/prefix
  export WINEDEBUG=-all
  # No Mono or Gecko install prompts: nothing here needs them.
  export WINEDLLOVERRIDES="mscoree,mshtml="
  export HOME=${HOME:-$RIG_WORK}
  unset WAYLAND_DISPLAY LD_PRELOAD
  local tool
  for tool in wine wineboot wineserver timeout Xvfb import; do
    command -v "$tool" >/dev/null || { echo "$tool not installed"; return 1; }
  done
  local file
  for file in simports simports-ctl modemshim.so; do
    [[ -e $RIG_NATIVE/e2e/rig/simports/$file ]] ||
      { echo "no $RIG_NATIVE/e2e/rig/simports/$file (build the native preset)"; return 1; }
  done
  # A sanitizer runtime in the shim would keep Wine from starting.
  if ldd "$RIG_NATIVE/e2e/rig/simports/modemshim.so" | grep -q 'libasan\|libubsan'; then
    echo "the modem shim links a sanitizer runtime"
    return 1
  fi
  # The test cfgmgr32.dll goes where a real one lives, into the prefix's
  # system32 at boot: the program loads system libraries from there only.
  mkdir -p "$RIG_WORK/stub" || return 1
  [[ -f $windows/e2e/rig/cfgmgr32.dll ]] || { echo "no $windows/e2e/rig/cfgmgr32.dll"; return 1; }
  cp "$windows/e2e/rig/cfgmgr32.dll" "$RIG_WORK/stub/" || return 1
  RIG_STUB_DIR=$WINEPREFIX/drive_c/windows/system32
  for file in app/nlconf.exe driver/ui_driver.exe driver/driver_target.exe \
    checks/serial_smoke.exe checks/link_over_wine.exe checks/runner_check.exe \
    checks/runner_format_check.exe checks/ui_rules_check.exe checks/app_format_check.exe \
    checks/ui_probe.exe checks/ports_check.exe checks/text_fit_check.exe \
    checks/view_thread_check.exe cli/nlconf-cli.exe; do
    [[ $file == app/* || $file == cli/* ]] || file=e2e/$file
    [[ -f $windows/$file ]] || { echo "no $windows/$file (build the windows preset)"; return 1; }
    cp "$windows/$file" "$RIG_RUN/" || return 1
  done
}

# In the background, so that a signal to the script is acted on at once;
# standard input stays the caller's (a background job's would be /dev/null).
rig_bounded() {
  (
    rig__close_driver
    exec "$@"
  ) <&0 &
  wait "$!"
}

# Xvfb picks a free display itself and writes its number.
rig_start_display() {
  local fd_file=$RIG_WORK/display i
  : >"$fd_file"
  Xvfb -displayfd 3 -screen 0 "${1:-1280x1024}x24" -nolisten tcp 3>"$fd_file" \
    >"$RIG_WORK/xvfb.log" 2>&1 &
  RIG_XVFB_PID=$!
  for ((i = 0; i < RIG_DISPLAY_LIMIT_S * 10; i++)); do
    [[ -s $fd_file ]] && break
    kill -0 "$RIG_XVFB_PID" 2>/dev/null || break
    sleep 0.1
  done
  [[ -s $fd_file ]] || { echo "Xvfb did not start: $(tail -n 3 "$RIG_WORK/xvfb.log")"; return 1; }
  DISPLAY=:$(head -n 1 "$fd_file")
  export DISPLAY
}

rig_boot_prefix() {
  mkdir -p "$WINEPREFIX"
  local dev ino
  read -r dev ino < <(stat -c '%d %i' "$WINEPREFIX")
  # Wine names the server directory after the prefix's device and inode.
  RIG_SERVER_TAG=$(printf 'server-%x-%x' "$dev" "$ino")
  # Without a window manager on the display, Wine waits up to 2 s at every
  # hide of a managed window (a dialog that ends, the reset prompt), and
  # draws no frames: unmanaged windows take no such wait and show their
  # caption and icon. Written before the server loads the registry: a
  # "wine reg add" after the boot was one more program started while the
  # boot's services went down, and on a loaded machine it could miss its
  # time limit.
  printf '%s\n' 'WINE REGISTRY Version 2' '#arch=win64' '' \
    '[Software\\Wine\\X11 Driver] 0' '"Managed"="N"' >"$WINEPREFIX/user.reg" ||
    { echo "could not write the prefix's user registry"; return 1; }
  # One server for the whole run: it keeps the registry, and keeps mountmgr
  # from running again after the boot and rewriting the COM links.
  timeout 30 wineserver -p </dev/null >"$RIG_WORK/wineserver.log" 2>&1 ||
    { echo "wineserver did not start: $(tail -n 3 "$RIG_WORK/wineserver.log")"; return 1; }
  if ! rig_bounded timeout -k 10 "$RIG_BOOT_LIMIT_S" wineboot -i </dev/null \
    >"$RIG_WORK/wineboot.log" 2>&1; then
    tail -n 20 "$RIG_WORK/wineboot.log"
    echo "wineboot -i failed or took over $RIG_BOOT_LIMIT_S s"
    # Seen once with three prefixes booting at once on a loaded machine
    # (kernel32.dll not found): a second boot on a new prefix.
    if ((${RIG_BOOT_TRIES:-0} < 1)); then
      timeout 30 wineserver -k </dev/null >/dev/null 2>&1
      rm -rf "${WINEPREFIX:?}"
      RIG_BOOT_TRIES=1 rig_boot_prefix
      return
    fi
    return 1
  fi
  cp "$RIG_WORK/stub/cfgmgr32.dll" "$RIG_STUB_DIR/cfgmgr32.dll" ||
    { echo "could not put the test cfgmgr32.dll into system32"; return 1; }
  # Debian's Wine does not look in its own font folder (fonts-wine): Marlett,
  # which draws the captions' minimise, maximise and close glyphs, goes
  # where Windows keeps it.
  cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/" ||
    { echo "no Marlett font (fonts-wine)"; return 1; }
}

# Wine ends its desktop and device services when its last program ends, and
# a program that starts while they go down can wait 10 s for its first
# window: the driver waiting for a window that never comes keeps them up.
rig_keep_wine_up() {
  rig__spawn keep-wine-up "$RIG_KEEPER_LIMIT_S" ui_driver.exe idle $((RIG_KEEPER_LIMIT_S * 1000))
}

# ---------------------------------------------------------------- port devices

rig__port_devices() {
  rig_bounded timeout -k 5 120 "$RIG_DIR/port_devices.sh" "$WINEPREFIX" "$@"
}

rig_ports() {
  [[ $1 == list ]] || RIG_PORTS_NOW="?"
  rig__port_devices "$@"
}

rig_ports_set() {
  local want="devices: $*"
  [[ $RIG_PORTS_NOW == "$want" ]] && return 0
  RIG_PORTS_NOW="?"
  rig__port_devices clear || return 1
  if (($#)); then
    rig__port_devices add "$@" || return 1
  fi
  RIG_PORTS_NOW=$want
}

rig_port_state() {
  printf '%s\r\n' "$@" >"$RIG_STUB_DIR/cfgmgr32_state.txt"
}

# ---------------------------------------------------------------- module ports

rig_modules_start() {
  local dir=$1 spec args=() i
  shift
  rig_modules_stop
  RIG_MODULES_RUN=$dir/run
  mkdir -p "$RIG_MODULES_RUN" "$dir/transcripts" || return 1
  for spec in "$@"; do
    args+=(--port "$spec")
  done
  : >"$dir/simports.out"
  (
    rig__close_driver
    exec "$RIG_NATIVE/e2e/rig/simports/simports" --dosdevices "$WINEPREFIX/dosdevices" \
      --run-dir "$RIG_MODULES_RUN" --transcripts "$dir/transcripts" \
      --time-limit "$RIG_PROGRAM_LIMIT_S" "${args[@]}"
  ) </dev/null >"$dir/simports.out" 2>"$dir/simports.err" &
  RIG_MODULES_PID=$!
  for ((i = 0; i < RIG_READY_LIMIT_S * 10; i++)); do
    grep -q '^ready' "$dir/simports.out" && return 0
    kill -0 "$RIG_MODULES_PID" 2>/dev/null || break
    sleep 0.1
  done
  echo "simports did not get ready: $(tail -n 3 "$dir/simports.err" | tr '\n' '|')"
  rig_modules_stop
  return 1
}

rig_modules_stop() {
  RIG_MODULES_RUN=""
  [[ -n $RIG_MODULES_PID ]] || return 0
  if kill -0 "$RIG_MODULES_PID" 2>/dev/null; then
    kill -TERM "$RIG_MODULES_PID" 2>/dev/null
    rig__gone "$RIG_MODULES_PID" || kill -KILL "$RIG_MODULES_PID" 2>/dev/null
  fi
  wait "$RIG_MODULES_PID" 2>/dev/null
  local status=$?
  RIG_MODULES_PID=""
  return $status
}

rig_ctl() {
  timeout 10 "$RIG_NATIVE/e2e/rig/simports/simports-ctl" "$RIG_MODULES_RUN" "$@"
}

# ---------------------------------------------------------------- programs

# The loader the wine script would run, so that the shim goes into the
# Windows program's process and nothing else (not the wrapper script, not
# timeout); the wrapper itself when the layout is unknown.
rig__loader() {
  local loader
  for loader in /usr/lib/wine/wine /usr/lib/wine/wine64; do
    [[ -x $loader ]] && { echo "$loader"; return; }
  done
  command -v wine
}

# rig__exec <limit> <exe> [args]: the program under timeout, with the
# environment the rig gives every program it starts.
rig__exec() {
  local limit=$1 exe=$2 loader
  shift 2
  # A program of the build runs from the rig's copy; one installed, from where it is.
  [[ $exe == /* ]] || exe=$RIG_RUN/$exe
  loader=$(rig__loader)
  [[ -n $RIG_STUB ]] && export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;$RIG_STUB"
  [[ -n ${RIG_WINEDEBUG:-} ]] && export WINEDEBUG=$RIG_WINEDEBUG
  [[ $loader == */wine64 ]] && export WINELOADER=$loader
  local preload="" run=""
  if [[ -n $RIG_MODULES_RUN ]]; then
    preload=$RIG_NATIVE/e2e/rig/simports/modemshim.so
    run=$RIG_MODULES_RUN
  fi
  # shellcheck disable=SC2016 # expanded by the inner shell
  exec timeout -k 5 "$limit" bash -c \
    '[[ -n $1 ]] && export LD_PRELOAD=$1 NLCONF_SIMPORTS_DIR=$2; exec "${@:3}"' \
    _ "$preload" "$run" "$loader" "$exe" "$@"
}

rig__spawn() {
  local name=$1 limit=$2
  shift 2
  rm -f "$RIG_LOGS/$name.status"
  (
    rig__close_driver
    (rig__exec "$limit" "$@") </dev/null >>"$RIG_LOGS/$name.out" 2>>"$RIG_LOGS/$name.err"
    echo $? >"$RIG_LOGS/$name.status"
  ) &
  RIG_PIDS[$name]=$!
}

rig_start() {
  local name=$1
  shift
  rig__spawn "$name" "$RIG_PROGRAM_LIMIT_S" "$@"
}

# Output in <name>.out without carriage returns.
rig_run() {
  local name=$1 limit=$2 status
  shift 2
  (rig__close_driver; rig__exec "$limit" "$@") </dev/null >"$RIG_LOGS/$name.raw" 2>"$RIG_LOGS/$name.err" &
  wait "$!"
  status=$?
  tr -d '\r' <"$RIG_LOGS/$name.raw" >"$RIG_LOGS/$name.out"
  rm -f "$RIG_LOGS/$name.raw"
  return $status
}

rig_exit_status() {
  local name=$1 limit=$2 i
  for ((i = 0; i < limit * 10; i++)); do
    [[ -s $RIG_LOGS/$name.status ]] && break
    sleep 0.1
  done
  if [[ -s $RIG_LOGS/$name.status ]]; then
    cat "$RIG_LOGS/$name.status"
  else
    echo running
  fi
}

# Whether the process ends within 5 s; tail looks every 20 ms, not every
# second as by default.
rig__gone() {
  timeout 5 tail --pid="$1" -s 0.02 -f /dev/null 2>/dev/null
}

# A process and everything under it, deepest first.
rig__tree() {
  local child
  for child in $(pgrep -P "$1"); do
    rig__tree "$child"
  done
  echo "$1"
}

# A started program runs under a subshell and timeout: stopping only the
# subshell would leave the program up, with its ports and boxes, to confuse
# whatever runs next.
rig__stop_pid() {
  local pid=$1 tree p
  [[ -n $pid ]] && kill -0 "$pid" 2>/dev/null || return 0
  tree=$(rig__tree "$pid")
  # shellcheck disable=SC2086 # one pid per word
  kill -TERM $tree 2>/dev/null
  for p in $tree; do
    rig__gone "$p" || kill -KILL "$p" 2>/dev/null
  done
}

rig_stop() {
  [[ -n ${RIG_PIDS[$1]:-} ]] || return 0
  rig__stop_pid "${RIG_PIDS[$1]}"
  wait "${RIG_PIDS[$1]}" 2>/dev/null
  unset "RIG_PIDS[$1]"
}

# ---------------------------------------------------------------- the driver

# One ui_driver.exe serves every command until drv_stop: it reads a command
# per line and answers with output lines and "\end <status>[ <complaint>]".
drv_start() {
  drv_stop
  local fifos=$RIG_WORK/driver
  rm -rf "$fifos"
  if ! mkdir -p "$fifos" || ! mkfifo "$fifos/in" "$fifos/out"; then
    return 1
  fi
  (
    rig__close_driver
    exec timeout -k 5 "$RIG_PROGRAM_LIMIT_S" wine "$RIG_RUN/ui_driver.exe" - <"$fifos/in" \
      >"$fifos/out" 2>>"$RIG_LOGS/driver.err"
  ) &
  RIG_DRIVER_PID=$!
  # Read and write: neither open waits for the other side.
  exec {RIG_DRIVER_IN}<>"$fifos/in" {RIG_DRIVER_OUT}<>"$fifos/out"
}

# Its input closed, the driver ends by itself.
drv_stop() {
  [[ -n $RIG_DRIVER_PID ]] || return 0
  rig__close_driver
  rig__gone "$RIG_DRIVER_PID" || rig__stop_pid "$RIG_DRIVER_PID"
  wait "$RIG_DRIVER_PID" 2>/dev/null
  RIG_DRIVER_PID=""
}

rig__close_driver() {
  [[ -n $RIG_DRIVER_IN ]] && exec {RIG_DRIVER_IN}>&- {RIG_DRIVER_OUT}<&-
  RIG_DRIVER_IN=""
  RIG_DRIVER_OUT=""
}

# drv WORDS...: one command, each word quoted for the driver.
drv() {
  local word line=""
  for word in "$@"; do
    word=${word//\\/\\\\}
    line+=" \"${word//\"/\\\"}\""
  done
  drv_line "${line# }"
}

# drv_line LINE: one line as it is; prints the answer's output and returns
# its status, or 3 when the driver does not answer within its limit.
drv_line() {
  local micro=${EPOCHREALTIME#*.}
  printf '%(%H:%M:%S)T.%s $ %s\n' -1 "${micro:0:3}" "$1" >>"$RIG_LOGS/driver.log"
  if [[ -z $RIG_DRIVER_PID ]] || ! kill -0 "$RIG_DRIVER_PID" 2>/dev/null; then
    echo "ui_driver: not running (drv_start)" >>"$RIG_LOGS/driver.log"
    echo "(exit 2)" >>"$RIG_LOGS/driver.log"
    return 2
  fi
  printf '%s\n' "$1" >&"$RIG_DRIVER_IN"
  local part acc="" waited=0 status
  while ((waited < RIG_DRIVER_LIMIT_S)); do
    if ! IFS= read -r -t 1 -u "$RIG_DRIVER_OUT" part; then
      # A second without a whole line: keep what came, and look again.
      acc+=$part
      waited=$((waited + 1))
      kill -0 "$RIG_DRIVER_PID" 2>/dev/null || break
      continue
    fi
    part=$acc$part
    acc=""
    if [[ $part == '\end '* ]]; then
      part=${part#\\end }
      status=${part%% *}
      [[ $part == *' '* ]] && echo "ui_driver: ${part#* }" >>"$RIG_LOGS/driver.log"
      echo "(exit $status)" >>"$RIG_LOGS/driver.log"
      return "$status"
    fi
    printf '%s\n' "$part"
    printf '%s\n' "$part" >>"$RIG_LOGS/driver.log"
  done
  echo "ui_driver: no answer within $RIG_DRIVER_LIMIT_S s, or gone" >>"$RIG_LOGS/driver.log"
  echo "(exit 3)" >>"$RIG_LOGS/driver.log"
  # A late answer would pass for the next command's.
  rig__stop_pid "$RIG_DRIVER_PID"
  return 3
}

# ---------------------------------------------------------------- the rest

rig_shot() {
  timeout 30 import -window root "$1" >/dev/null 2>&1
}

rig_cleanup() {
  drv_stop
  rig_modules_stop
  if [[ -n $WINEPREFIX && -d $WINEPREFIX ]]; then
    timeout 20 wineserver -k >/dev/null 2>&1
    timeout 20 wineserver -w >/dev/null 2>&1
  fi
  local name
  for name in "${!RIG_PIDS[@]}"; do
    rig_stop "$name"
  done
  rig__stop_pid "$RIG_XVFB_PID"
  # The server's socket directory outlives it; only this prefix's goes.
  if [[ -n $RIG_SERVER_TAG ]]; then
    local dir
    for dir in /tmp/wine-*/"$RIG_SERVER_TAG" "/tmp/.wine-$(id -u)/$RIG_SERVER_TAG"; do
      [[ -d $dir ]] || continue
      rm -rf "$dir"
      rmdir "$(dirname "$dir")" 2>/dev/null
    done
  fi
  [[ -z $RIG_WORK ]] || rm -rf "$RIG_WORK"
}
