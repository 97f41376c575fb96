# Bash completion of ipcam-upgrade-cli: subcommands, their options, and the values of the
# options that take a fixed set.
_ipcam_upgrade_cli() {
    local cur prev sub i
    COMPREPLY=()
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD-1]}
    sub=
    for ((i = 1; i < COMP_CWORD; i++)); do
        case ${COMP_WORDS[i]} in
            upgrade|search|batch|mirror|cache|history) sub=${COMP_WORDS[i]}; break ;;
        esac
    done
    case $prev in
        --series)
            if [ "$sub" = batch ]; then
                COMPREPLY=($(compgen -W "E F H T C E,F,H,T,C" -- "$cur"))
            else
                COMPREPLY=($(compgen -W "E F H T C" -- "$cur"))
            fi
            return ;;
        --firmware) COMPREPLY=($(compgen -W "system ui both" -- "$cur")); return ;;
        --lang) COMPREPLY=($(compgen -W "en jp" -- "$cur")); return ;;
        --folders) COMPREPLY=($(compgen -W "system" -- "$cur")); return ;;
        --cameras|--password-file|--package|--cacert)
            COMPREPLY=($(compgen -f -- "$cur")); return ;;
        --to|--cache-dir) COMPREPLY=($(compgen -d -- "$cur")); return ;;
        --firmware-server)
            COMPREPLY=($(compgen -d -- "$cur") $(compgen -W "http:// https:// file://" -- "$cur")); return ;;
        --interface) COMPREPLY=($(compgen -W "$(ls /sys/class/net 2>/dev/null)" -- "$cur")); return ;;
        --ip|--port|--user|--password|--md5|--sha256|--rounds|--jobs|--camera) return ;;
    esac
    local run="--firmware --yes --no --lang --firmware-server --cacert --json --check --package --md5 --sha256 --cache-dir"
    case $sub in
        "") COMPREPLY=($(compgen -W "upgrade search batch mirror cache history --verbose --quiet --help --version" -- "$cur")) ;;
        upgrade) COMPREPLY=($(compgen -W "--ip --port --user --password --password-file --series $run --help" -- "$cur")) ;;
        search) COMPREPLY=($(compgen -W "--rounds --json --csv --no-external --lang --interface --help" -- "$cur")) ;;
        batch) COMPREPLY=($(compgen -W "--cameras --from-search --series --rounds --no-external --jobs --user --password-file $run --help" -- "$cur")) ;;
        mirror) COMPREPLY=($(compgen -W "--to --folders --firmware-server --cacert --help" -- "$cur")) ;;
        cache) COMPREPLY=($(compgen -W "--list --clean --cache-dir --help" -- "$cur")) ;;
        history) COMPREPLY=($(compgen -W "--json --camera --help" -- "$cur")) ;;
    esac
}
complete -F _ipcam_upgrade_cli ipcam-upgrade-cli
