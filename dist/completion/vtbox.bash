# bash completion for vtbox
_vtbox() {
    local cur prev words cword
    _init_completion -s || return

    local commands="boxes backup restore info verify ls find diff extract unlock convert version prune fleet"
    local device="--host --port --ftp-port --timeout --password-file --password-command"
    local output="--json --quiet --verbose"

    case $prev in
        --host)
            _known_hosts_real -- "$cur"
            return ;;
        --port | --ftp-port | --timeout | --keep-last | --keep-daily | --keep-weekly | --keep-monthly | --from | --to | \
            --only | --jobs)
            return ;;
        --metrics)
            _filedir prom
            return ;;
        --group | --device)
            # The groups and device names of the inventory on the line: the
            # first word after "fleet COMMAND" that is no option nor its value.
            local k inventory="" seen=0
            for ((k = 1; k < cword - 1; k++)); do
                case ${words[k]} in
                    --jobs | --group | --device | --metrics | --host | --port | --ftp-port | --timeout | \
                        --password-file | --password-command)
                        ((k++)) ;;
                    -*) ;;
                    *)
                        ((seen++))
                        if ((seen == 3)); then
                            inventory=${words[k]}
                            break
                        fi ;;
                esac
            done
            inventory=${inventory/#\~/$HOME}
            [[ -r $inventory ]] || return
            if [[ $prev == --group ]]; then
                COMPREPLY=($(compgen -W "$(sed -n 's/^[[:space:]]*\[group\.\([A-Za-z0-9._-]*\)\].*/\1/p' "$inventory")" -- "$cur"))
            else
                COMPREPLY=($(compgen -W "$(sed -n 's/^[[:space:]]*name[[:space:]]*=[[:space:]]*"\([A-Za-z0-9._-]*\)".*/\1/p' "$inventory")" -- "$cur"))
            fi
            return ;;
        --password-command)
            compopt -o filenames
            COMPREPLY=($(compgen -c -- "$cur"))
            return ;;
        --output | -o)
            # extract writes into a folder, backup a file.
            local k
            for ((k = 1; k < cword; k++)); do
                if [[ ${words[k]} == extract ]]; then
                    _filedir -d
                    return
                fi
            done
            _filedir
            return ;;
        --password-file | --input | -i)
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
                --output | -o | --input | -i | --mode | --keep-last | --keep-daily | --keep-weekly | --keep-monthly | \
                --from | --to | --only | --jobs | --group | --device | --metrics)
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
        backup) options="$device $output --boxes --output --verify --replace-read-only --no-progress" ;;
        restore) options="$device $output --input --boxes --only --mode --dry-run --no-progress" ;;
        info | verify) options="$output --input" ;;
        ls | find) options="$output" ;;
        diff) options="$device $output --boxes" ;;
        extract) options="$output --output" ;;
        unlock) options="$device --force --quiet --verbose" ;;
        version) options="--json" ;;
        prune) options="$output --keep-last --keep-daily --keep-weekly --keep-monthly --dry-run" ;;
        convert) options="--from --to --json" ;;
        fleet) ;;
    esac
    if [[ $command == fleet ]]; then
        # What to do first, then the inventory.
        local what="" j
        for ((j = i + 1; j < cword; j++)); do
            case ${words[j]} in
                --jobs | --group | --device | --metrics) ((j++)) ;;
                -*) ;;
                *) what=${words[j]}; break ;;
            esac
        done
        case $what in
            check | status) options="--json" ;;
            backup) options="--jobs --group --device --verify --json --metrics" ;;
            verify) options="--group --device --json --metrics" ;;
            *) options="--jobs --group --device --verify --json --metrics" ;;
        esac
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W "$options --help" -- "$cur"))
        elif [[ -z $what ]]; then
            COMPREPLY=($(compgen -W "check backup status verify" -- "$cur"))
        else
            local inventory="" k
            for ((k = j + 1; k < cword; k++)); do
                case ${words[k]} in
                    --jobs | --group | --device | --metrics) ((k++)) ;;
                    -*) ;;
                    *) inventory=${words[k]}; break ;;
                esac
            done
            [[ -z $inventory ]] && _filedir toml
        fi
    elif [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$options --help" -- "$cur"))
    elif [[ $command == info || $command == verify || $command == diff ]]; then
        _filedir '@(zip|ZIP)'
    elif [[ $command == ls || $command == find || $command == extract ]]; then
        # The backup file first; paths and patterns inside it are the user's.
        local first="" j
        for ((j = i + 1; j < cword; j++)); do
            case ${words[j]} in
                --output | -o) ((j++)) ;;
                -*) ;;
                *) first=${words[j]}; break ;;
            esac
        done
        [[ -z $first ]] && _filedir '@(zip|ZIP)'
    elif [[ $command == prune ]]; then
        _filedir -d
    elif [[ $command == convert ]]; then
        # What to convert first, then the source and the destination.
        local what="" j
        for ((j = i + 1; j < cword; j++)); do
            case ${words[j]} in
                --from | --to) ((j++)) ;;
                -*) ;;
                *) what=${words[j]}; break ;;
            esac
        done
        if [[ -z $what ]]; then
            COMPREPLY=($(compgen -W "backup archive summary" -- "$cur"))
        elif [[ $what != summary ]]; then
            _filedir '@(zip|ZIP)'
        fi
    fi
} && complete -F _vtbox vtbox
