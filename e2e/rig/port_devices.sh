#!/usr/bin/env bash
# Serial port devices of a Wine prefix, as the Ports device class lists them.
#
#   port_devices.sh <prefix> add <n> <friendly name> [<n> <friendly name>]...
#   port_devices.sh <prefix> remove <n>...      the unplug: the device is gone
#   port_devices.sh <prefix> clear              every device this script made
#   port_devices.sh <prefix> list               "COM<n> <friendly name>" per device
#
# A device is the key HKLM\System\CurrentControlSet\Enum\ROOT\PORTS\<nnnn>
# (nnnn: the port number in four digits) with the Ports class GUID and its
# FriendlyName, e.g. "Simulated Module Port (COM5)"; SetupDiGetClassDevsW
# lists it as present from then on. The port's data path is separate: COM n
# is whatever $WINEPREFIX/dosdevices/com<n> links to.
#
# Runs "wine regedit" and "wine reg", so the prefix's wineserver should be
# up (otherwise each call starts one). Every Wine call is time-bounded.
# Exit status 0 when the registry holds what was asked, 1 otherwise, 2 on
# bad arguments.
set -uo pipefail

readonly WINE_LIMIT_S=60
readonly ENUM_KEY='HKEY_LOCAL_MACHINE\System\CurrentControlSet\Enum\ROOT\PORTS'
readonly PORTS_CLASS='{4D36E978-E325-11CE-BFC1-08002BE10318}'

usage() {
  sed -n '2,7p' "$0" | sed 's/^# \{0,1\}//' >&2
  exit 2
}

fail() {
  echo "port_devices.sh: $*" >&2
  exit 1
}

[[ $# -ge 2 ]] || usage
export WINEPREFIX=$1
command=$2
shift 2
[[ -d $WINEPREFIX/dosdevices ]] || fail "$WINEPREFIX is not a booted Wine prefix"
export WINEDEBUG=${WINEDEBUG:--all}

instance() {
  printf '%04d' "$((10#$1))"
}

check_number() {
  if ! [[ $1 =~ ^[0-9]+$ ]] || ((10#$1 < 1 || 10#$1 > 255)); then
    echo "port_devices.sh: port number $1 is not 1 to 255" >&2
    exit 2
  fi
}

# regedit's own quoting: backslash and double quote are escaped.
reg_string() {
  local text=${1//\\/\\\\}
  printf '"%s"' "${text//\"/\\\"}"
}

windows_path() {
  if [[ $(readlink "$WINEPREFIX/dosdevices/z:") == / ]]; then
    printf 'Z:%s' "${1//\//\\}"
  else
    timeout "$WINE_LIMIT_S" winepath -w "$1"
  fi
}

import_reg() {
  local file=$1 out
  out=$(timeout -k 5 "$WINE_LIMIT_S" wine regedit /S "$(windows_path "$file")" 2>&1) ||
    fail "regedit failed on $(head -c 2000 "$file"): $out"
}

# Prints the FriendlyName of device n; status 1 when it has none.
friendly_name() {
  local out
  out=$(timeout -k 5 "$WINE_LIMIT_S" wine reg query "$ENUM_KEY\\$(instance "$1")" /v FriendlyName \
    2>/dev/null | tr -d '\r') || return 1
  sed -n 's/^ *FriendlyName *REG_SZ *//p' <<<"$out" | grep .
}

reg_file=""
trap '[[ -z $reg_file ]] || rm -f "$reg_file"' EXIT

with_reg_file() {
  reg_file=$(mktemp --suffix=.reg) || fail "mktemp failed"
  { echo REGEDIT4; echo; "$@"; } >"$reg_file"
  import_reg "$reg_file"
  rm -f "$reg_file"
  reg_file=""
}

add_entries() {
  while [[ $# -ge 2 ]]; do
    local key
    key="$ENUM_KEY\\$(instance "$1")"
    echo "[$key]"
    echo "\"ClassGUID\"=$(reg_string "$PORTS_CLASS")"
    echo "\"Class\"=\"Ports\""
    echo "\"FriendlyName\"=$(reg_string "$2")"
    echo
    echo "[$key\\Device Parameters]"
    echo "\"PortName\"=\"COM$((10#$1))\""
    echo
    shift 2
  done
}

remove_entries() {
  local n
  for n in "$@"; do
    echo "[-$ENUM_KEY\\$(instance "$n")]"
    echo
  done
}

listed_numbers() {
  timeout -k 5 "$WINE_LIMIT_S" wine reg query "$ENUM_KEY" 2>/dev/null | tr -d '\r' |
    sed -n 's/.*\\PORTS\\0*\([0-9][0-9]*\)$/\1/p'
}

case $command in
  add)
    [[ $# -ge 2 && $(($# % 2)) -eq 0 ]] || usage
    args=("$@")
    for ((i = 0; i < ${#args[@]}; i += 2)); do
      check_number "${args[i]}"
      [[ -n ${args[i + 1]} ]] || usage
    done
    with_reg_file add_entries "$@"
    for ((i = 0; i < ${#args[@]}; i += 2)); do
      got=$(friendly_name "${args[i]}") || fail "COM${args[i]} is not in the registry after the import"
      [[ $got == "${args[i + 1]}" ]] || fail "COM${args[i]} is named \"$got\", not \"${args[i + 1]}\""
    done
    ;;
  remove)
    [[ $# -ge 1 ]] || usage
    for n in "$@"; do check_number "$n"; done
    with_reg_file remove_entries "$@"
    for n in "$@"; do
      ! friendly_name "$n" >/dev/null || fail "COM$n is still in the registry after the removal"
    done
    ;;
  clear)
    [[ $# -eq 0 ]] || usage
    mapfile -t numbers < <(listed_numbers)
    [[ ${#numbers[@]} -eq 0 ]] || with_reg_file remove_entries "${numbers[@]}"
    [[ -z $(listed_numbers) ]] || fail "devices left after clear: $(listed_numbers | tr '\n' ' ')"
    ;;
  list)
    [[ $# -eq 0 ]] || usage
    while read -r n; do
      [[ -n $n ]] || continue
      echo "COM$n $(friendly_name "$n")"
    done < <(listed_numbers)
    ;;
  *)
    usage
    ;;
esac
