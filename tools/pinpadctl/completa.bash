# Bash completion for pinpadctl and kolvar-lote. One file for both: it is
# installed under each program's name, as bash-completion loads it on demand.

# Serial devices a pinpad is found on, then any path that starts with the word
# (a simulator's link, say).
_pinpad_portas() {
    local cur=$1 d
    local -a portas=()
    for d in /dev/serial/by-id/* /dev/ttyACM* /dev/ttyUSB* /dev/ttyAMA* /dev/rfcomm*; do
        [[ -e $d ]] && portas+=("$d")
    done
    # The many ttyS devices of a PC only when asked for.
    if [[ $cur == /dev/ttyS* ]]; then
        for d in /dev/ttyS*; do [[ -e $d ]] && portas+=("$d"); done
    fi
    COMPREPLY=($(compgen -W "${portas[*]}" -- "$cur"))
    if [[ -n $cur ]]; then
        local IFS=$'\n'
        COMPREPLY+=($(compgen -f -- "$cur"))
    fi
}

_pinpadctl() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
    local comandos="diagnostico info mostra tecla cifra carimbo evento remove cartao"
    COMPREPLY=()
    case $prev in
        --espera | --indices | --chave-trabalho) return 0 ;;
    esac
    # The words before the cursor that are not options: PORTA, then COMANDO.
    local i w comando="" posicionais=0
    for ((i = 1; i < COMP_CWORD; i++)); do
        w=${COMP_WORDS[i]}
        case $w in
            --espera | --indices | --chave-trabalho) ((i++)) ;;
            -*) ;;
            *)
                ((posicionais++))
                # "portas" takes the place of PORTA: a command without a port.
                ((posicionais == 1)) && [[ $w == portas ]] && comando=portas
                ((posicionais == 2)) && [[ $comando != portas ]] && comando=$w
                ;;
        esac
    done
    if [[ $cur == -* ]]; then
        local opcoes="--json --help --version"
        case $comando in
            diagnostico) opcoes+=" --teclado --indices --espera" ;;
            cifra) opcoes+=" --des --3des --chave-trabalho" ;;
            tecla | evento | remove | cartao) opcoes+=" --espera" ;;
            portas) opcoes+=" --sonda --espera" ;;
        esac
        COMPREPLY=($(compgen -W "$opcoes" -- "$cur"))
    elif [[ $comando == portas ]]; then
        _pinpad_portas "$cur"
    elif ((posicionais == 0)); then
        _pinpad_portas "$cur"
        [[ portas == "$cur"* ]] && COMPREPLY+=(portas)
    elif ((posicionais == 1)); then
        COMPREPLY=($(compgen -W "$comandos" -- "$cur"))
    fi
    return 0
}

_kolvar_lote() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
    local IFS=$'\n'
    COMPREPLY=()
    case $prev in
        --saida) COMPREPLY=($(compgen -d -- "$cur")); return 0 ;;
        --json | --junit | --html | --kolvar) COMPREPLY=($(compgen -f -- "$cur")); return 0 ;;
        --limite) return 0 ;;
    esac
    if [[ $cur == -* ]]; then
        IFS=$' \t\n'
        COMPREPLY=($(compgen -W "--saida --json --junit --html --kolvar --limite --aceita-nao-aplica --help --version" -- "$cur"))
    else
        _pinpad_portas "$cur"
    fi
    return 0
}

complete -F _pinpadctl pinpadctl
complete -F _kolvar_lote kolvar-lote
