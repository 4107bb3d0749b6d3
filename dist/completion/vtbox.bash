# bash completion for vtbox
_vtbox() {
    local cur prev words cword
    _init_completion -s || return

    local commands="boxes backup restore info verify unlock version prune"
    local device="--host --port --ftp-port --timeout --password-file --password-command"
    local output="--json --quiet --verbose"

    case $prev in
        --host)
            _known_hosts_real -- "$cur"
            return ;;
        --port | --ftp-port | --timeout | --keep-last | --keep-daily | --keep-weekly | --keep-monthly)
            return ;;
        --password-command)
            compopt -o filenames
            COMPREPLY=($(compgen -c -- "$cur"))
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

    # The command: the first word that is neither an option nor its value.
    local command="" i
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            --host | --port | --ftp-port | --timeout | --password-file | --password-command | --boxes | \
                --output | -o | --input | -i | --mode | --keep-last | --keep-daily | --keep-weekly | --keep-monthly)
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
                COMPREPLY=($(compgen -W "$device $output --help --version" -- "$cur"))
            else
                COMPREPLY=($(compgen -W "$commands" -- "$cur"))
            fi
            return ;;
        boxes) options="$device $output" ;;
        backup) options="$device $output --boxes --output --verify" ;;
        restore) options="$device $output --input --boxes --mode --dry-run" ;;
        info | verify) options="$output --input" ;;
        unlock) options="$device --quiet --verbose" ;;
        version) options="--json" ;;
        prune) options="$output --keep-last --keep-daily --keep-weekly --keep-monthly --dry-run" ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$options --help" -- "$cur"))
    elif [[ $command == info || $command == verify ]]; then
        _filedir '@(zip|ZIP)'
    elif [[ $command == prune ]]; then
        _filedir -d
    fi
} && complete -F _vtbox vtbox
