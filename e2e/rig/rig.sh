# shellcheck shell=bash
# Shared set-up for journeys that run nlconf.exe under Wine on a private
# Xvfb display, with port devices in the registry, the test cfgmgr32.dll and
# the UI driver. Source it, then:
#
#   rig_init <work dir> <windows build dir>  prefix, run dir, tool paths
#   rig_start_display                        Xvfb 1280x1024, exports DISPLAY
#   rig_boot_prefix                          wineserver, wineboot, unmanaged windows
#   rig_ports add 5 "Simulated Module Port (COM5)" | remove 5 | list
#   rig_port_state "COM7 not-started" ...    what cfgmgr32 says (none: all started)
#   rig_start <name> <exe> [args]            a Windows program in the background,
#                                            cfgmgr32 overridden, output in <name>.out
#   rig_exit_status <name> <seconds>         waits; prints its exit status or "running"
#   drv <ui_driver arguments>                one driver command; stdout as is,
#                                            transcript in $RIG_WORK/driver.log
#   drv_script <<'EOF' ... EOF               several, one per line, one Wine start
#   rig_shot <file.png>                      a screenshot of the display
#   rig_cleanup                              stops everything started, removes the work dir
#
# Every Wine call is time-bounded. The caller sets its own traps, e.g.
# "trap rig_cleanup EXIT".

readonly RIG_BOOT_LIMIT_S=180
readonly RIG_DISPLAY_LIMIT_S=10
readonly RIG_DRIVER_LIMIT_S=60
readonly RIG_PROGRAM_LIMIT_S=600
RIG_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

RIG_WORK=""
RIG_RUN=""
RIG_XVFB_PID=""
RIG_SERVER_TAG=""
declare -A RIG_PIDS=()

rig_init() {
  RIG_WORK=$1
  local build=$2
  RIG_RUN=$RIG_WORK/run
  mkdir -p "$RIG_RUN" || return 1
  export WINEPREFIX=$RIG_WORK/prefix
  export WINEDEBUG=-all
  # No Mono or Gecko install prompts: nothing here needs them.
  export WINEDLLOVERRIDES="mscoree,mshtml="
  export HOME=${HOME:-$RIG_WORK}
  unset WAYLAND_DISPLAY
  local file
  for file in app/nlconf.exe e2e/rig/cfgmgr32.dll e2e/checks/ports_check.exe \
    e2e/driver/ui_driver.exe e2e/driver/driver_target.exe; do
    [[ -f $build/$file ]] || { echo "no $build/$file (build the windows preset)"; return 1; }
    cp "$build/$file" "$RIG_RUN/" || return 1
  done
  : >"$RIG_WORK/driver.log"
}

# In the background, so that a signal to the script is acted on at once;
# standard input stays the caller's (a background job's would be /dev/null).
rig_bounded() {
  "$@" <&0 &
  wait "$!"
}

rig_start_display() {
  local fd_file=$RIG_WORK/display
  : >"$fd_file"
  # Xvfb picks a free display itself and writes its number.
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fd_file" \
    >"$RIG_WORK/xvfb.log" 2>&1 &
  RIG_XVFB_PID=$!
  local i
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
  RIG_SERVER_TAG=$(printf 'server-%x-%x' "$dev" "$ino")
  # One server for the whole run: it keeps the registry and mountmgr quiet.
  timeout 30 wineserver -p </dev/null >"$RIG_WORK/wineserver.log" 2>&1 ||
    { echo "wineserver did not start"; return 1; }
  rig_bounded timeout -k 10 "$RIG_BOOT_LIMIT_S" wineboot -i </dev/null >"$RIG_WORK/wineboot.log" 2>&1 ||
    { echo "wineboot -i failed or took over $RIG_BOOT_LIMIT_S s"; return 1; }
  # Without a window manager on the display, Wine waits up to 2 s at every
  # hide of a managed window (a dialog that ends, the reset prompt): unmanaged
  # windows take no such wait.
  rig_bounded timeout -k 5 60 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f \
    >/dev/null 2>&1 || { echo "could not set unmanaged windows"; return 1; }
}

rig_ports() {
  rig_bounded timeout -k 5 120 "$RIG_DIR/port_devices.sh" "$WINEPREFIX" "$@"
}

rig_port_state() {
  printf '%s\r\n' "$@" >"$RIG_RUN/cfgmgr32_state.txt"
}

rig_start() {
  local name=$1 exe=$2
  shift 2
  rm -f "$RIG_WORK/$name.status"
  (
    WINEDLLOVERRIDES="$WINEDLLOVERRIDES;cfgmgr32=n,b" \
      timeout -k 5 "$RIG_PROGRAM_LIMIT_S" wine "$RIG_RUN/$exe" "$@" </dev/null \
      >"$RIG_WORK/$name.out" 2>"$RIG_WORK/$name.err"
    echo $? >"$RIG_WORK/$name.status"
  ) &
  RIG_PIDS[$name]=$!
}

rig_exit_status() {
  local name=$1 limit=$2 i
  for ((i = 0; i < limit * 10; i++)); do
    [[ -s $RIG_WORK/$name.status ]] && break
    sleep 0.1
  done
  if [[ -s $RIG_WORK/$name.status ]]; then
    cat "$RIG_WORK/$name.status"
  else
    echo running
  fi
}

drv() {
  drv_logged "$@" </dev/null
}

# The driver's script mode: one command per line of this function's input.
drv_script() {
  local script
  script=$(cat)
  printf '%s\n' "$script" | sed 's/^/  | /' >>"$RIG_WORK/driver.log"
  printf '%s\n' "$script" | drv_logged -
}

drv_logged() {
  local status
  {
    printf '$ ui_driver'
    printf ' %q' "$@"
    echo
  } >>"$RIG_WORK/driver.log"
  # Both only append to the transcript, so their lines interleave whole.
  # shellcheck disable=SC2094
  rig_bounded timeout -k 5 "$RIG_DRIVER_LIMIT_S" wine "$RIG_RUN/ui_driver.exe" "$@" \
    2>>"$RIG_WORK/driver.log" | tee -a "$RIG_WORK/driver.log"
  status=${PIPESTATUS[0]}
  echo "(exit $status)" >>"$RIG_WORK/driver.log"
  return "$status"
}

rig_shot() {
  timeout 30 import -window root "$1" >/dev/null 2>&1
}

# A process and everything under it, deepest first.
rig_tree() {
  local child
  for child in $(pgrep -P "$1"); do
    rig_tree "$child"
  done
  echo "$1"
}

# A started program runs under a subshell and timeout: stopping only the
# subshell would leave the program up, with its ports and boxes, to confuse
# whatever runs next.
rig_stop_pid() {
  local pid=$1 tree p
  [[ -n $pid ]] && kill -0 "$pid" 2>/dev/null || return 0
  tree=$(rig_tree "$pid")
  # shellcheck disable=SC2086 # one pid per word
  kill -TERM $tree 2>/dev/null
  for p in $tree; do
    timeout 5 tail --pid="$p" -f /dev/null || kill -KILL "$p" 2>/dev/null
  done
}

rig_cleanup() {
  if [[ -n $WINEPREFIX && -d $WINEPREFIX ]]; then
    timeout 20 wineserver -k >/dev/null 2>&1
    timeout 20 wineserver -w >/dev/null 2>&1
  fi
  local name
  for name in "${!RIG_PIDS[@]}"; do
    rig_stop_pid "${RIG_PIDS[$name]}"
  done
  rig_stop_pid "$RIG_XVFB_PID"
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
