#!/usr/bin/env bash
# Starts nlconf.exe under Wine on a private Xvfb display, with a fresh Wine
# prefix (which lists no COM ports), looks at its main dialog with
# ui_probe.exe, keeps a screenshot, closes it with the Escape key and checks
# that it exits with code 0. Also runs app_format_check.exe.
#
#   e2e/app_smoke.sh <windows build dir> [screenshot.png]
#
# The screenshot goes to <windows build dir>/../test-logs/app-smoke.png unless
# named. Every process started here is stopped on the way out, whatever
# happens. Ends with "app smoke: N passed, M failed".
set -uo pipefail

readonly BOOT_LIMIT_S=180
readonly DISPLAY_LIMIT_S=10
readonly CHECK_LIMIT_S=60
readonly APP_LIMIT_S=120
readonly EXIT_LIMIT_S=20

passed=0
failed=0

pass() {
  echo "PASS $1"
  passed=$((passed + 1))
}

fail() {
  echo "FAIL $1: $2"
  failed=$((failed + 1))
}

summary() {
  echo "app smoke: $passed passed, $failed failed"
}

give_up() {
  fail app-smoke-setup "$*"
  summary
  exit 1
}

if [[ $# -lt 1 || $# -gt 2 ]]; then
  echo "usage: $0 <windows build dir> [screenshot.png]" >&2
  exit 2
fi
build=$1
shot=${2:-$build/../test-logs/app-smoke.png}
app_exe=$build/app/nlconf.exe
probe_exe=$build/e2e/ui_probe.exe
format_exe=$build/e2e/app_format_check.exe
for file in "$app_exe" "$probe_exe" "$format_exe"; do
  [[ -f $file ]] || give_up "no $file (build the windows preset)"
done
for tool in wine wineboot wineserver timeout Xvfb import; do
  command -v "$tool" >/dev/null || give_up "$tool not installed"
done
mkdir -p "$(dirname "$shot")" || give_up "cannot make the folder of $shot"
rm -f "$shot"

work=$(mktemp -d) || give_up "mktemp failed"
export WINEPREFIX=$work/prefix
export WINEDEBUG=-all
# No Mono or Gecko install prompts: the program needs neither.
export WINEDLLOVERRIDES="mscoree,mshtml="
export HOME=${HOME:-$work}
unset WAYLAND_DISPLAY
xvfb_pid=""
app_pid=""
server_tag=""

stop_pid() {
  local pid=$1
  [[ -n $pid ]] && kill -0 "$pid" 2>/dev/null || return 0
  kill -TERM "$pid" 2>/dev/null
  timeout 5 tail --pid="$pid" -f /dev/null || kill -KILL "$pid" 2>/dev/null
}

cleanup() {
  stop_pid "$app_pid"
  if [[ -d $WINEPREFIX ]]; then
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
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

# In the background, so a signal to this script is acted on at once rather
# than when the foreground command ends.
bounded() {
  "$@" &
  wait "$!"
}

# Runs a Windows console program, shows its output without carriage returns
# and counts its PASS and FAIL lines.
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
    fail "$name" "no end within $CHECK_LIMIT_S s"
  elif [[ $status -ne 0 && $bad -eq 0 ]]; then
    fail "$name" "exit status $status without a FAIL line; $(tr -d '\r' <"$work/$name.err" | tail -n 3)"
  elif [[ $ok -eq 0 && $bad -eq 0 ]]; then
    fail "$name" "no check ran"
  fi
}

started=$SECONDS

# Xvfb picks a free display itself and writes its number to descriptor 3.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" \
  >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for ((i = 0; i < DISPLAY_LIMIT_S * 10; i++)); do
  [[ -s $work/display ]] && break
  kill -0 "$xvfb_pid" 2>/dev/null || break
  sleep 0.1
done
display_number=$(tr -dc '0-9' <"$work/display")
[[ -n $display_number ]] || give_up "Xvfb gave no display within $DISPLAY_LIMIT_S s: $(tail -n 3 "$work/xvfb.log")"
export DISPLAY=:$display_number
echo "Xvfb on display $DISPLAY"

mkdir -p "$WINEPREFIX"
# Wine names the server directory after the prefix's device and inode.
read -r prefix_dev prefix_ino < <(stat -c '%d %i' "$WINEPREFIX")
server_tag=$(printf 'server-%x-%x' "$prefix_dev" "$prefix_ino")
timeout 30 wineserver -p </dev/null >"$work/wineserver.log" 2>&1 ||
  give_up "wineserver did not start: $(tail -n 5 "$work/wineserver.log")"
if ! bounded timeout -k 10 "$BOOT_LIMIT_S" wineboot -i </dev/null >"$work/wineboot.log" 2>&1; then
  tail -n 20 "$work/wineboot.log"
  give_up "wineboot -i failed or took over $BOOT_LIMIT_S s"
fi
echo "wine prefix booted in $((SECONDS - started)) s"
# There is no window manager on Xvfb: let Wine draw the frames itself, so the
# screenshot shows the caption and its icon.
bounded timeout 30 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f \
  </dev/null >"$work/reg.log" 2>&1 || give_up "could not set Managed=N: $(tail -n 3 "$work/reg.log")"

run_checks app_format_check "$format_exe"

app_started=$SECONDS
timeout -k 5 "$APP_LIMIT_S" wine "$app_exe" </dev/null >"$work/app.out" 2>&1 &
app_pid=$!

run_checks ui_probe_examine "$probe_exe" examine
echo "main dialog examined $((SECONDS - app_started)) s after the start"

if timeout 20 import -window root "$shot" 2>"$work/import.err" && [[ -s $shot ]]; then
  pass screenshot-taken
  echo "screenshot: $shot"
else
  fail screenshot-taken "import failed: $(tail -n 3 "$work/import.err")"
fi

run_checks ui_probe_escape "$probe_exe" escape

# The program's own end: its exit code is what `wine` returns.
for ((i = 0; i < EXIT_LIMIT_S * 10; i++)); do
  kill -0 "$app_pid" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$app_pid" 2>/dev/null; then
  fail nlconf-exits "still running $EXIT_LIMIT_S s after Escape"
else
  wait "$app_pid"
  status=$?
  app_pid=""
  if [[ $status -eq 0 ]]; then
    pass nlconf-exits-with-code-0
  elif [[ $status -eq 124 || $status -eq 137 ]]; then
    fail nlconf-exits-with-code-0 "stopped after $APP_LIMIT_S s"
  else
    fail nlconf-exits-with-code-0 "exit status $status; $(tr -d '\r' <"$work/app.out" | tail -n 3)"
  fi
fi
echo "nlconf.exe ran $((SECONDS - app_started)) s; whole run $((SECONDS - started)) s"

summary
[[ $failed -eq 0 ]]
