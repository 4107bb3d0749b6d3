# bash completion for vtbox
_vtbox() {
    local cur prev words cword
    _init_completion || return

    local commands="boxes backup restore info prune"
    local global="--host --port --ftp-port --password-file --json --help"

    case $prev in
        --host)
            _known_hosts_real -- "$cur"
            return ;;
        --port | --ftp-port | --keep-last | --keep-daily | --keep-weekly | --keep-monthly)
            return ;;
        --password-file | --input | -i | --output | -o)
            _filedir
            return ;;
        --boxes)
            COMPREPLY=($(compgen -W "all" -- "$cur"))
            return ;;
        --mode)
            COMPREPLY=($(compgen -W "replace keep-both" -- "$cur"))
            return ;;
    esac

    local command="" i
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            --host | --port | --ftp-port | --password-file | --boxes | --output | -o | --input | -i | --mode | \
                --keep-last | --keep-daily | --keep-weekly | --keep-monthly)
                ((i++)) ;;
            -*) ;;
            *)
                command=${words[i]}
                break ;;
        esac
    done

    local options
    case $command in
        "")
            if [[ $cur == -* ]]; then
                COMPREPLY=($(compgen -W "$global" -- "$cur"))
            else
                COMPREPLY=($(compgen -W "$commands" -- "$cur"))
            fi
            return ;;
        boxes) options="--json" ;;
        backup) options="--boxes --output" ;;
        restore) options="--input --boxes --mode" ;;
        info) options="--json" ;;
        prune) options="--keep-last --keep-daily --keep-weekly --keep-monthly --dry-run --json" ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$options $global" -- "$cur"))
    elif [[ $command == info ]]; then
        _filedir zip
    elif [[ $command == prune ]]; then
        _filedir -d
    fi
} && complete -F _vtbox vtbox
