#!/bin/bash
# completion_test.sh PROGRAM COMPLETION: the bash completion, loaded with bash-completion as an
# interactive shell loads it, offers exactly the commands the program has, for each command
# exactly the options its --help lists, the values of --format, and folders (blanks and all,
# also after --data-dir=) for the directory options.
set -u
program=$1
. /usr/share/bash-completion/bash_completion || { echo "no bash-completion"; exit 1; }
# shellcheck source=/dev/null
. "$2"
status=0
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT

# readline's part, which a completion function asks for through compopt: recorded here.
compopt() { options+=" $1 $2"; }

# What the completion offers when LINE has been typed: the line is split into words as bash
# splits it for a completion (at blanks that are neither escaped nor quoted, and around "=").
offered() {
  local line=$1 word="" i c quoted=""
  COMP_WORDS=()
  for ((i = 0; i < ${#line}; i++)); do
    c=${line:i:1}
    if [[ -n $quoted ]]; then
      word+=$c
      [[ $c == '"' ]] && quoted=""
      continue
    fi
    case $c in
      \\) word+=${line:i:2} && ((i++)) ;;
      '"') word+=$c && quoted=yes ;;
      " ") [[ -n $word ]] && COMP_WORDS+=("$word") && word="" ;;
      =) [[ -n $word ]] && COMP_WORDS+=("$word") && word="" && COMP_WORDS+=("=") ;;
      *) word+=$c ;;
    esac
  done
  COMP_WORDS+=("$word")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMP_LINE=$line
  COMP_POINT=${#line}
  COMPREPLY=()
  options=""
  _lindavox_prepaid "$program" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  printf '%s\n' "${COMPREPLY[@]}" | sort
}
# The long options of a --help text (the help flags included), one a line.
long_options() { grep -oE '^ +(-[a-z],)?--[a-z-]+' | sed -E 's/^ +(-[a-z],)?//' | sort; }
expect() {
  if [ "$2" != "$3" ]; then
    echo "completion of '$1' offers:"; echo "$2"; echo "expected:"; echo "$3"
    status=1
  fi
}

commands=$("$program" --help | sed -n '/^Subcommands:/,/^$/p' | awk '/^  [a-z]/ { print $1 }' | sort)
[ -n "$commands" ] || { echo "no commands in --help"; exit 1; }
expect "lindavox-prepaid " "$(offered "lindavox-prepaid ")" "$commands"
expect "lindavox-prepaid -d /tmp " "$(offered "lindavox-prepaid -d /tmp ")" "$commands"
expect "lindavox-prepaid --" "$(offered "lindavox-prepaid --" | grep -- '^--')" \
  "$("$program" --help | long_options)"
for command in $commands; do
  expect "lindavox-prepaid $command --" "$(offered "lindavox-prepaid $command --" | grep -- '^--')" \
    "$("$program" "$command" --help | long_options)"
done
expect "lindavox-prepaid list --format " "$(offered "lindavox-prepaid list --format ")" \
  "$(printf 'csv\njson\ntable')"
expect "lindavox-prepaid list --format=j" "$(offered "lindavox-prepaid list --format=j")" json
expect "lindavox-prepaid show 42 --format=c" "$(offered "lindavox-prepaid show 42 --format=c")" csv

# Folders, and only folders, for the directory options; readline is asked to treat them as
# file names, so that it quotes a blank and puts a / after each.
mkdir "$work/my cards" "$work/my exchange" && touch "$work/my file"
for typed in "-d $work/my" "--data-dir=$work/my" "show 42 -x $work/my" "--exchange-dir $work/my"; do
  expect "lindavox-prepaid $typed" "$(offered "lindavox-prepaid $typed")" \
    "$(printf '%s\n' "$work/my cards" "$work/my exchange")"
  offered "lindavox-prepaid $typed" >/dev/null
  case $options in
    *"-o filenames"*) ;;
    *) echo "completion of '$typed' does not ask readline to quote file names: '$options'"; status=1 ;;
  esac
done
expect "lindavox-prepaid -d $work/my\\ c" "$(offered "lindavox-prepaid -d $work/my\\ c")" \
  "$work/my cards"
expect "lindavox-prepaid -d \"$work/my c" "$(offered "lindavox-prepaid -d \"$work/my c")" \
  "$work/my cards"
exit $status
