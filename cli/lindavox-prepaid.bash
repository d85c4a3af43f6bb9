# bash completion for lindavox-prepaid, on the helpers of bash-completion. The commands, each
# command's options and the values of --format come from the program's own --help, so they
# always fit the installed program; folders complete for the directory options (also written
# --data-dir=DIR), groups for --group.

# _lindavox_prepaid_command PROGRAM: the command among the words before the cursor: the first
# word that is no option and no option's value.
_lindavox_prepaid_command() {
  local i
  for ((i = 1; i < cword; i++)); do
    case ${words[i]} in
      -d | --data-dir | -x | --exchange-dir | --format | --group | --balance | --phone) ((i++)) ;;
      -*) ;;
      *)
        printf '%s\n' "${words[i]}"
        return
        ;;
    esac
  done
}

_lindavox_prepaid() {
  local cur prev words cword split
  _init_completion -s || return

  local program=$1 command
  command=$(_lindavox_prepaid_command)

  case $prev in
    -d | --data-dir | -x | --exchange-dir)
      # _filedir -d looks the folder up as typed: a quote opened before it, or a blank written
      # as "\ ", is taken off first; readline puts its own quoting back.
      case $cur in
        [\"\']*) cur=${cur:1} ;;
        *\\*) cur=$(sed 's/\\\(.\)/\1/g' <<<"$cur") ;;
      esac
      _filedir -d
      return
      ;;
    --format)
      # "--format FORMAT:{table,csv,json}" in the command's help.
      local formats
      formats=$(LC_ALL=C "$program" $command --help 2>/dev/null |
        sed -n 's/.*--format [A-Z]*:{\([^}]*\)}.*/\1/p' | tr , ' ')
      mapfile -t COMPREPLY < <(compgen -W "$formats" -- "$cur")
      return
      ;;
    --group)
      mapfile -t COMPREPLY < <(compgen -g -- "$cur")
      return
      ;;
    --balance | --phone)
      return
      ;;
  esac
  $split && return

  if [[ $cur == -* ]]; then
    mapfile -t COMPREPLY < <(compgen -W "$(_parse_help "$program" "$command --help")" -- "$cur")
  elif [[ -z $command ]]; then
    # The names listed under "Subcommands:" of the program's help.
    local commands
    commands=$(LC_ALL=C "$program" --help 2>/dev/null |
      sed -n '/^Subcommands:/,/^$/s/^  \([a-z][a-z-]*\) .*/\1/p')
    mapfile -t COMPREPLY < <(compgen -W "$commands" -- "$cur")
  fi
} &&
  complete -F _lindavox_prepaid lindavox-prepaid
