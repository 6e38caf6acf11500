# shellcheck shell=bash
# What the Wine check scripts share: a fresh prefix in a work directory, an
# optional private Xvfb, time-bounded commands, and a clean-up that leaves
# no process, server directory or file behind. Source it after defining
# give_up, then:
#
#   wine_env_init              work dir ($work), prefix, environment, traps
#   wine_env_on_cleanup FN     FN runs first at clean-up (the script's own processes)
#   wine_env_start_xvfb LIMIT  a private display, exported as DISPLAY
#   wine_env_boot LIMIT        a server that outlives each Wine process, then wineboot -i
#   bounded CMD...             CMD in the background, so a signal acts at once
#   stop_pid PID               TERM, then KILL after 5 s
#   run_checks NAME EXE...     a console check under wine, its PASS/FAIL lines
#                              counted through pass/fail counters and fail

work=""
xvfb_pid=""
server_tag=""
wine_env_hooks=()

bounded() {
  "$@" &
  wait "$!"
}

stop_pid() {
  local pid=$1
  [[ -n $pid ]] && kill -0 "$pid" 2>/dev/null || return 0
  kill -TERM "$pid" 2>/dev/null
  timeout 5 tail --pid="$pid" -f /dev/null || kill -KILL "$pid" 2>/dev/null
}

wine_env_on_cleanup() {
  wine_env_hooks+=("$1")
}

wine_env_cleanup() {
  local hook dir
  for hook in "${wine_env_hooks[@]}"; do
    "$hook"
  done
  if [[ -n $WINEPREFIX && -d $WINEPREFIX ]]; then
    timeout 20 wineserver -k >/dev/null 2>&1
    timeout 20 wineserver -w >/dev/null 2>&1
  fi
  stop_pid "$xvfb_pid"
  # The server's socket directory outlives it; only this prefix's goes.
  if [[ -n $server_tag ]]; then
    for dir in /tmp/wine-*/"$server_tag" "/tmp/.wine-$(id -u)/$server_tag"; do
      [[ -d $dir ]] || continue
      rm -rf "$dir"
      rmdir "$(dirname "$dir")" 2>/dev/null
    done
  fi
  [[ -z $work ]] || rm -rf "$work"
}

wine_env_init() {
  work=$(mktemp -d) || give_up "mktemp failed"
  export WINEPREFIX=$work/prefix
  export WINEDEBUG=-all
  # No Mono or Gecko install prompts: nothing here needs them.
  export WINEDLLOVERRIDES="mscoree,mshtml="
  export HOME=${HOME:-$work}
  unset DISPLAY WAYLAND_DISPLAY
  trap wine_env_cleanup EXIT
  trap 'exit 130' INT TERM HUP
}

wine_env_start_xvfb() {
  local limit=$1 i number
  # Xvfb picks a free display itself and writes its number to descriptor 3.
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" \
    >"$work/xvfb.log" 2>&1 &
  xvfb_pid=$!
  for ((i = 0; i < limit * 10; i++)); do
    [[ -s $work/display ]] && break
    kill -0 "$xvfb_pid" 2>/dev/null || break
    sleep 0.1
  done
  number=$(tr -dc '0-9' <"$work/display")
  [[ -n $number ]] || give_up "Xvfb gave no display within $limit s: $(tail -n 3 "$work/xvfb.log")"
  export DISPLAY=:$number
}

wine_env_boot() {
  local limit=$1 prefix_dev prefix_ino
  mkdir -p "$WINEPREFIX"
  # Wine names the server directory after the prefix's device and inode.
  read -r prefix_dev prefix_ino < <(stat -c '%d %i' "$WINEPREFIX")
  server_tag=$(printf 'server-%x-%x' "$prefix_dev" "$prefix_ino")
  # A server that outlives each Wine process keeps mountmgr from running
  # again after the boot and rewriting the COM links that a script makes.
  timeout 30 wineserver -p </dev/null >"$work/wineserver.log" 2>&1 ||
    give_up "wineserver did not start: $(tail -n 5 "$work/wineserver.log")"
  if ! bounded timeout -k 10 "$limit" wineboot -i </dev/null >"$work/wineboot.log" 2>&1; then
    tail -n 20 "$work/wineboot.log"
    give_up "wineboot -i failed or took over $limit s"
  fi
}

# Runs a Windows console program within CHECK_LIMIT_S, shows its output
# without carriage returns and counts its PASS and FAIL lines.
run_checks() {
  local name=$1
  shift
  bounded timeout -k 5 "$CHECK_LIMIT_S" wine "$@" </dev/null >"$work/$name.raw" 2>"$work/$name.err"
  local status=$?
  tr -d '\r' <"$work/$name.raw" >"$work/$name.out"
  cat "$work/$name.out"
  local ok bad
  ok=$(grep -c '^PASS ' "$work/$name.out")
  bad=$(grep -c '^FAIL ' "$work/$name.out")
  passed=$((passed + ok))
  failed=$((failed + bad))
  if [[ $status -eq 124 || $status -eq 137 ]]; then
    fail "$name" "no end within $CHECK_LIMIT_S s; the check after the last line above hung"
  elif [[ $status -ne 0 && $bad -eq 0 ]]; then
    fail "$name" "exit status $status without a FAIL line; $(tr -d '\r' <"$work/$name.err" | tail -n 3)"
  elif [[ $ok -eq 0 && $bad -eq 0 ]]; then
    fail "$name" "no check ran"
  fi
}
