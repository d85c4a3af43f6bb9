#!/bin/bash
# completion_test.sh PROGRAM COMPLETION: the bash completion offers exactly the commands the
# program has, and for each command exactly the options its --help lists.
set -u
program=$1
# shellcheck source=/dev/null
. "$2"
status=0

# What the completion offers for the words "lindavox-prepaid $*" (the last word being typed).
offered() {
  COMP_WORDS=(lindavox-prepaid "$@")
  COMP_CWORD=$(($# ))
  COMPREPLY=()
  _lindavox_prepaid
  printf '%s\n' "${COMPREPLY[@]}" | sort
}
# The long options of a --help text (the help flags included), one a line.
long_options() { grep -oE '^ +(-[a-z],)?--[a-z-]+' | sed -E 's/^ +(-[a-z],)?//' | sort; }
expect() {
  if [ "$2" != "$3" ]; then
    echo "completion of '$1' offers:"; echo "$2"; echo "the program has:"; echo "$3"
    status=1
  fi
}

commands=$("$program" --help | sed -n '/^Subcommands:/,/^$/p' | awk '/^  [a-z]/ { print $1 }' | sort)
[ -n "$commands" ] || { echo "no commands in --help"; exit 1; }
expect "lindavox-prepaid " "$(offered "")" "$commands"
expect "lindavox-prepaid --" "$(offered "--" | grep -- '^--')" \
  "$("$program" --help | long_options)"
for command in $commands; do
  expect "lindavox-prepaid $command --" "$(offered "$command" "--" | grep -- '^--')" \
    "$("$program" "$command" --help | long_options)"
done
expect "lindavox-prepaid list --format " "$(offered list --format "")" "$(printf 'csv\njson\ntable')"
expect "lindavox-prepaid -d /" "$(offered -d / | head -n 1)" "$(compgen -d -- / | sort | head -n 1)"
exit $status
