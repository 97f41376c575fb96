# Bash completion of ipcam-sim: its options, the pk2 subcommand, and the settings of a camera.
_ipcam_sim() {
    local cur prev i
    COMPREPLY=()
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD-1]}
    for ((i = 1; i < COMP_CWORD; i++)); do
        if [ "${COMP_WORDS[i]}" = pk2 ]; then
            case $cur in
                file:*) COMPREPLY=($(compgen -f -P file: -- "${cur#file:}")) ;;
                *) COMPREPLY=($(compgen -W "file: cmd:" -- "$cur") $(compgen -f -- "$cur")) ;;
            esac
            return
        fi
    done
    case $prev in
        --camera)
            COMPREPLY=($(compgen -W "series=E series=F series=H series=T series=C" -- "$cur")); return ;;
        --firmware-root) COMPREPLY=($(compgen -d -- "$cur")); return ;;
        --listen) COMPREPLY=($(compgen -W "127.0.0.1" -- "$cur")); return ;;
        --cameras|--firmware-port|--base-port|--image-size|--seconds) return ;;
    esac
    COMPREPLY=($(compgen -W "--demo --cameras --camera --listen --firmware-root --firmware-port --base-port --image-size --seconds --stdin --help --version pk2" -- "$cur"))
}
complete -F _ipcam_sim ipcam-sim
