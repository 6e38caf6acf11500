# shellcheck shell=bash
# bash completion of nlconf-cli: commands, options, ports, files, and the
# keys and values that --set takes.

# Each key with its values, as a settings file takes them.
_nlconf_cli_set_pairs() {
  local role=$1 key value
  local -A values=(
    [Channel]="11 12 13 14 15 16 17 18 19 20 21 22 23 24 25 26"
    [Baud Rate]="1200 2400 4800 9600 19200 38400 57600 115200"
    [Parity]="No Parity|Even Parity|Odd Parity|Mark Parity"
    [Stop Bits]="One Stop Bit|Two Stop Bits"
    [Power Level]="Lowest Low Medium High Highest"
    [Boost Mode]="Disable Enable"
    [Power Save]="On Off"
    [Flow Control]="Disable Enable"
  )
  for key in "${!values[@]}"; do
    # A master has no power save.
    [[ $key == "Power Save" && $role == master ]] && continue
    local IFS='|'
    [[ ${values[$key]} == *"|"* ]] || IFS=' '
    for value in ${values[$key]}; do
      printf '%s=%s\n' "$key" "$value"
    done
  done
}

# Values with spaces: inside an open quote as they are, else escaped; and
# only the part after "=" where readline starts the word there.
_nlconf_cli_reply_set() {
  local cur=$1 role=$2 quote='' text=$1 pair reply
  case $cur in
    \"* | \'*)
      quote=${cur:0:1}
      text=${cur:1}
      ;;
    *) text=${cur//\\/} ;;
  esac
  COMPREPLY=()
  while IFS= read -r pair; do
    [[ $pair == "$text"* ]] || continue
    if [[ -n $quote ]]; then
      reply=$pair
    else
      printf -v reply '%q' "$pair"
      [[ $text == *=* && $COMP_WORDBREAKS == *=* ]] && reply=${reply#*=}
    fi
    COMPREPLY+=("$reply")
  done < <(_nlconf_cli_set_pairs "$role" | LC_ALL=C sort)
}

_nlconf_cli_ports() {
  local cur=$1 program=$2 port byid
  COMPREPLY=()
  # Each device the list gives, and its /dev/serial/by-id name ("-" where
  # it has none): that stays the same whichever socket the adapter is in.
  while IFS=$'\t' read -r port byid _; do
    [[ -n $port && $port == "$cur"* ]] && COMPREPLY+=("$port")
    [[ -n $byid && $byid != - && $byid == "$cur"* ]] && COMPREPLY+=("$byid")
  done < <("$program" ports 2>/dev/null)
  # Any other device, such as a pseudo-terminal, by its path.
  ((${#COMPREPLY[@]})) || _filedir
  # /dev/serial/by-path names hold colons, where readline starts a word.
  __ltrim_colon_completions "$cur"
}

# The values OPTION takes that begin with CUR, in COMPREPLY; false when
# OPTION takes a value (completed, or none to offer), true when it takes none.
_nlconf_cli_value() {
  local option=$1 cur=$2 role=$3
  case $option in
    --role) mapfile -t COMPREPLY < <(compgen -W "master slave" -- "$cur") ;;
    --set) _nlconf_cli_reply_set "$cur" "$role" ;;
    --log) _filedir ;;
    --record) _filedir csv ;;
    --baud) mapfile -t COMPREPLY < <(compgen -W "1200 2400 4800 9600 19200 38400 57600 115200" -- "$cur") ;;
    --parity) mapfile -t COMPREPLY < <(compgen -W "none even odd mark" -- "$cur") ;;
    --stop-bits) mapfile -t COMPREPLY < <(compgen -W "1 2" -- "$cur") ;;
    --count | --size | --min-received) COMPREPLY=() ;;
    *) return 0 ;;
  esac
  return 1
}

_nlconf_cli() {
  local cur prev words cword
  _init_completion -n =: || return

  local commands="ports read write link-test pair range-test at console help"
  if ((cword == 1)); then
    mapfile -t COMPREPLY < <(compgen -W "$commands --help --version" -- "$cur")
    return
  fi
  local command=${words[1]}
  case $command in
    help)
      ((cword == 2)) && mapfile -t COMPREPLY < <(compgen -W "$commands" -- "$cur")
      return
      ;;
    ports | read | write | link-test | pair | range-test | at | console) ;;
    *) return ;;
  esac

  local options="--log -v --json --help --"
  case $command in
    read) options+=" --role" ;;
    write) options+=" --role --set --dry-run --quiet" ;;
    link-test) options+=" --quiet" ;;
    pair) options+=" --make-pair --record --quiet" ;;
    range-test) options+=" --count --size --min-received" ;;
    at) options+=" --stop-on-error" ;;
    console) options="--log -v --help --" ;;
  esac
  case $command in ports) ;; *) options+=" --baud --parity --stop-bits --search --no-reset-key" ;; esac

  # Which operand this is, and the role given so far.
  local i operands=0 role='' ended=
  for ((i = 2; i < cword; i++)); do
    case ${words[i]} in
      --)
        if [[ -z $ended ]]; then
          ended=1
        else
          ((operands++))
        fi
        ;;
      --role | --set | --log | --record | --count | --size | --min-received | --baud | --parity | \
        --stop-bits)
        if [[ -z $ended ]]; then
          [[ ${words[i]} == --role ]] && role=${words[i + 1]}
          ((i++))
        else
          ((operands++))
        fi
        ;;
      -*) [[ -n $ended ]] && ((operands++)) ;;
      *) ((operands++)) ;;
    esac
  done

  if [[ -z $ended ]]; then
    # "--baud=96": the value after "=", which is readline's own word where
    # "=" breaks words; elsewhere each reply takes its option before it.
    if [[ $cur == --?*=* ]]; then
      local option=${cur%%=*}
      _nlconf_cli_value "$option" "${cur#*=}" "$role" && return
      if [[ $COMP_WORDBREAKS != *=* ]]; then
        for i in "${!COMPREPLY[@]}"; do
          COMPREPLY[i]=$option=${COMPREPLY[i]}
        done
      fi
      return 0
    fi
    _nlconf_cli_value "$prev" "$cur" "$role" || return 0
    if [[ $cur == -* ]]; then
      mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
      return
    fi
  fi

  local ports=0 file=
  case $command in
    read | write | at | console) ports=1 ;;
    link-test | range-test) ports=2 ;;
    pair) ports=2 ;;
  esac
  [[ $command == write || $command == pair ]] && file=1
  if ((operands < ports)); then
    _nlconf_cli_ports "$cur" "${words[0]}"
  elif [[ -n $file ]] && ((operands == ports)); then
    _filedir ini
  fi
}
complete -F _nlconf_cli nlconf-cli
