# bash completion for lindavox-prepaid: commands, their options (those every command takes
# among them), --format values, folders for the directory options and groups for --group.
_lindavox_prepaid() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
  local commands="show find-phone set topup lock unlock empty import export reorganize decode
    list stats check init"
  local common="-d --data-dir -x --exchange-dir -q --quiet -v --verbose --journal"

  # The command is the first word that is no option and no option's value.
  local i command=""
  for ((i = 1; i < COMP_CWORD; i++)); do
    case ${COMP_WORDS[i]} in
      -d | --data-dir | -x | --exchange-dir | --format | --group | --balance | --phone) ((i++)) ;;
      -*) ;;
      *)
        command=${COMP_WORDS[i]}
        break
        ;;
    esac
  done

  case $prev in
    -d | --data-dir | -x | --exchange-dir)
      mapfile -t COMPREPLY < <(compgen -d -- "$cur")
      return
      ;;
    --format)
      case $command in
        show | find-phone | list) mapfile -t COMPREPLY < <(compgen -W "table csv json" -- "$cur") ;;
        *) mapfile -t COMPREPLY < <(compgen -W "text json" -- "$cur") ;;
      esac
      return
      ;;
    --group)
      mapfile -t COMPREPLY < <(compgen -g -- "$cur")
      return
      ;;
  esac

  local words
  case $command in
    "") [[ $cur == -* ]] && words="$common -h --help --help-all --version" || words=$commands ;;
    show) words="--format" ;;
    find-phone) words="--any-balance --format" ;;
    set) words="--balance --phone --dry-run" ;;
    topup) words="--create --dry-run" ;;
    lock | unlock | empty | reorganize) words="--dry-run" ;;
    import) words="--format --dry-run" ;;
    export | stats | check) words="--format" ;;
    list) words="--locked --empty --format" ;;
    init) words="--group" ;;
    *) words="" ;;
  esac
  [[ -n $command ]] && words="$words $common -h --help --help-all"
  [[ -n $command && $cur != -* ]] && words=""
  # shellcheck disable=SC2086
  mapfile -t COMPREPLY < <(compgen -W "$words" -- "$cur")
}
complete -F _lindavox_prepaid lindavox-prepaid
