# fish completion for kestrel-flash. The options, the emulated box's scenarios
# and the ports attached now are asked of kestrel-flash itself, so they are
# always those of the installed version and of this machine.
function __kestrel_flash_options
    command kestrel-flash --help 2>/dev/null | string match -ar -- '--[a-z][a-z-]*' | sort -u
end
function __kestrel_flash_ports
    echo USB
    # The first word of each line of the listing is the name -p takes.
    command kestrel-flash --list-ports 2>/dev/null | string replace -r -- ' .*' ''
end
complete -c kestrel-flash -s p -l port -x -a '(__kestrel_flash_ports)'
complete -c kestrel-flash -l emulate -x -a '(command kestrel-flash --list-scenarios 2>/dev/null)'
# Numbers, and names of people, stations and lots: no file name fits.
complete -c kestrel-flash -l timeout -l wait-timeout -l repeat -l operator -l station -l lot -l label -l serial-at -l serial-first -l serial-format -x
complete -c kestrel-flash -n 'string match -q -- "-*" (commandline -ct)' -f -a '(__kestrel_flash_options)'
