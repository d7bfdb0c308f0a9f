# bash completion for korvane.
#
# The subcommand names, the menu's verbs and which arguments are files all
# come from the tool itself (korvane --list-subcommands, --list-verbs and
# each subcommand's usage line), so they cannot drift from what it accepts.

# The name of the argument at a position (from 1) in the usage line that
# "korvane SUBCOMMAND --help" prints, brackets removed and options skipped:
# "Usage: korvane checkout [OPTIONS] URL PATH [MODE]" names PATH second.
_korvane_argument_name() {
  local tool=$1 subcommand=$2 position=$3 token n=0 in_option=0
  local -a tokens
  read -ra tokens <<<"$("$tool" "$subcommand" --help 2>/dev/null | grep -m 1 '^Usage:')"
  for token in "${tokens[@]:3}"; do
    if ((in_option)); then
      [[ $token == *"]" ]] && in_option=0
      continue
    fi
    [[ $token == "[OPTIONS]" ]] && continue
    if [[ $token == "[-"* ]]; then
      [[ $token == *"]" ]] || in_option=1
      continue
    fi
    token=${token#"["}
    token=${token%"]"}
    if ((++n == position)); then
      echo "$token"
      return
    fi
  done
}

_korvane_files() {
  if declare -F _filedir >/dev/null; then
    _filedir
  else
    mapfile -t COMPREPLY < <(compgen -f -- "$1")
    compopt -o filenames 2>/dev/null
  fi
}

# The words up to the cursor with the pieces bash split at colons joined
# again ("verb", ":", "share" is "verb:share"): sets words and cword.
_korvane_join_colons() {
  words=()
  cword=-1
  local i
  for ((i = 0; i < ${#COMP_WORDS[@]}; i++)); do
    if ((i > 0)) && [[ ${COMP_WORDS[i]} == : || ${COMP_WORDS[i - 1]} == : ]] && ((${#words[@]} > 1)); then
      words[${#words[@]} - 1]+=${COMP_WORDS[i]}
    else
      words+=("${COMP_WORDS[i]}")
    fi
    ((i == COMP_CWORD)) && cword=$((${#words[@]} - 1))
  done
  ((cword >= 0)) || cword=$((${#words[@]} - 1))
}

_korvane() {
  local words cword
  _korvane_join_colons
  local cur=${words[cword]}
  local prev=${words[cword - 1]}
  local tool=${COMP_WORDS[0]}
  COMPREPLY=()

  # The subcommand is the first word that is not an option; --json may
  # stand anywhere and counts for nothing else.
  local subcommand="" position=0 i word
  for ((i = 1; i < cword; i++)); do
    word=${words[i]}
    [[ $word == --json ]] && continue
    if [[ -z $subcommand ]]; then
      [[ $word == -* ]] || subcommand=$word
      continue
    fi
    if [[ ($subcommand == menu && $word == --invoke) || $word == --timeout ]]; then
      ((i++))
      continue
    fi
    [[ $word == -* ]] || ((position++))
  done
  ((position++))

  if [[ -z $subcommand ]]; then
    if [[ $cur == -* ]]; then
      mapfile -t COMPREPLY < <(compgen -W "--help --json --version" -- "$cur")
    else
      mapfile -t COMPREPLY < <(compgen -W "$("$tool" --list-subcommands 2>/dev/null)" -- "$cur")
    fi
    return 0
  fi

  if [[ $subcommand == menu && $prev == --invoke ]]; then
    mapfile -t COMPREPLY < <(compgen -W "$("$tool" --list-verbs 2>/dev/null)" -- "$cur")
    # Readline replaces only the piece after the last colon: hand it only
    # what follows what it keeps.
    local piece=${COMP_WORDS[COMP_CWORD]}
    [[ $piece == : ]] && piece=""
    local kept=${cur%"$piece"}
    local j
    for j in "${!COMPREPLY[@]}"; do COMPREPLY[j]=${COMPREPLY[j]#"$kept"}; done
    return 0
  fi

  if [[ $cur == -* ]]; then
    local options="--help --json"
    case $subcommand in
      menu) options+=" --background --invoke --wait" ;;
      activate-path | deactivate-path | checkout | share) options+=" --wait" ;;
      start-daemon | stop-daemon) options+=" --timeout" ;;
    esac
    mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
    return 0
  fi

  case $(_korvane_argument_name "$tool" "$subcommand" "$position") in
    PATH | DIRECTORY | FOLDER | REPOSITORY) _korvane_files "$cur" ;;
  esac
  return 0
}

complete -F _korvane korvane
