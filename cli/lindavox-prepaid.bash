# bash completion for lindavox-prepaid: commands, their options, --format values, and folders
# for the directory options.
_lindavox_prepaid() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
  local commands="show find-phone set topup lock unlock empty import export reorganize decode
    list stats check"
  local global="-d --data-dir -x --exchange-dir -h --help --help-all --version"

  case $prev in
    -d | --data-dir | -x | --exchange-dir)
      mapfile -t COMPREPLY < <(compgen -d -- "$cur")
      return
      ;;
    --format)
      mapfile -t COMPREPLY < <(compgen -W "table csv json" -- "$cur")
      return
      ;;
  esac

  # The command is the first word that is no option and no option's folder.
  local i command=""
  for ((i = 1; i < COMP_CWORD; i++)); do
    case ${COMP_WORDS[i]} in
      -d | --data-dir | -x | --exchange-dir) ((i++)) ;;
      -*) ;;
      *)
        command=${COMP_WORDS[i]}
        break
        ;;
    esac
  done

  local words
  case $command in
    "") [[ $cur == -* ]] && words=$global || words=$commands ;;
    show) words="--format" ;;
    find-phone) words="--any-balance --format" ;;
    set) words="--balance --phone" ;;
    list) words="--locked --empty --format" ;;
    import) words="--dry-run" ;;
    *) words="" ;;
  esac
  [[ -n $command ]] && words="$words -h --help --help-all"
  [[ -n $command && $cur != -* ]] && words=""
  # shellcheck disable=SC2086
  mapfile -t COMPREPLY < <(compgen -W "$words" -- "$cur")
}
complete -F _lindavox_prepaid lindavox-prepaid
