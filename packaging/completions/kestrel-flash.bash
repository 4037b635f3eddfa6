# bash completion for kestrel-flash. The options, the emulated box's scenarios
# and the ports attached now are asked of the program being completed, so
# they are always those of the installed version and of this machine.
_kestrel_flash() {
    local program=${COMP_WORDS[0]} cur=${COMP_WORDS[COMP_CWORD]} prev=
    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
    # bash cuts --emulate=SCENARIO at the '=' into words of their own.
    if [[ $cur == = && $prev == --emulate ]]; then
        cur= prev=--emulate=
    elif [[ $prev == = ]] && ((COMP_CWORD > 1)) && [[ ${COMP_WORDS[COMP_CWORD - 2]} == --emulate ]]; then
        prev=--emulate=
    fi
    case $prev in
    --emulate=)
        COMPREPLY=($(compgen -W "$("$program" --list-scenarios 2>/dev/null)" -- "$cur"))
        return
        ;;
    -p | --port)
        # The first word of each line of the listing is the name -p takes.
        COMPREPLY=($(compgen -W "USB $("$program" --list-ports 2>/dev/null | cut -d ' ' -f 1)" -- "$cur"))
        return
        ;;
    # Numbers, formats, and names of people, stations, lots and boxes: no file name fits.
    --timeout | --wait-timeout | --repeat | --operator | --station | --lot | --label | --serial-at | --serial-first | --serial-format)
        return
        ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$("$program" --help 2>/dev/null | grep -oE -- '--[a-z][a-z-]*' | sort -u)" -- "$cur"))
        return
    fi
    compopt -o filenames 2>/dev/null
    # One file name a line, so that a name with a blank stays whole.
    local IFS=$'\n'
    COMPREPLY=($(compgen -f -- "$cur"))
}
complete -F _kestrel_flash kestrel-flash
