# bash completion for morva-cli. Keep its options in step with `morva-cli --help`: a test
# (Packaging.EveryOptionOfHelpIsDocumented) compares them.

_morva_cli() {
  local cur prev words cword split
  _init_completion -s || return

  case $prev in
    --port)
      # The ports the program itself would search (read from sysfs, none is opened), and any
      # path: a pseudo-terminal or a symbolic link is as good.
      COMPREPLY=($(compgen -W "$("$1" ports 2>/dev/null)" -- "$cur"))
      _filedir
      return
      ;;
    --backup)
      _filedir
      return
      ;;
  esac
  $split && return

  # The words that are not options: the command, the kind and the FILE, in that order.
  local i plain=() only_words=false
  for ((i = 1; i < cword; i++)); do
    if $only_words || [[ ${words[i]} != -* || ${words[i]} == - ]]; then
      plain+=("${words[i]}")
    elif [[ ${words[i]} == -- ]]; then
      only_words=true
    elif [[ ${words[i]} == --port || ${words[i]} == --backup || ${words[i]} == --log ]]; then
      ((i++))
    fi
  done

  if ! $only_words && [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W '--port --simulate --simulate-reset --yes --backup --verify --trace
      --quiet --all --log --help --version --' -- "$cur"))
    return
  fi

  case ${#plain[@]} in
    0) COMPREPLY=($(compgen -W 'ports detect write read verify log' -- "$cur")) ;;
    1)
      case ${plain[0]} in
        write | read | verify) COMPREPLY=($(compgen -W 'program libraries user' -- "$cur")) ;;
      esac
      ;;
    2)
      # The program takes only the kind's extension.
      case ${plain[1]} in
        program) _filedir upg ;;
        libraries) _filedir lib ;;
        user) _filedir '@(usr|bin)' ;;
      esac
      ;;
  esac
} &&
  complete -F _morva_cli morva-cli
