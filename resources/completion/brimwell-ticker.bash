# bash completion for brimwell-ticker: its options, the formats of --bar, the currencies
# and a file for --cacert. Needs nothing of the bash-completion package.

_brimwell_ticker() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]} words
    # With "=" among the word breaks (bash's default), "--bar=w" comes as "--bar" "=" "w".
    if [[ $cur == "=" ]]; then
        prev+="=" cur=
    elif [[ $prev == "=" ]]; then
        prev=${COMP_WORDS[COMP_CWORD - 2]}=
    fi
    case $prev in
    --bar=)
        words="plain waybar i3bar"
        ;;
    --currency | --currency=)
        words="USD EUR GBP CAD CHF AUD JPY"
        ;;
    --cacert | --cacert=)
        compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
        return
        ;;
    --interval | --alert-above | --alert-below | --connect-to | *=)
        COMPREPLY=() # a number, or HOST:PORT:HOST2:PORT2
        return
        ;;
    *)
        words="--bar --bar=plain --bar=waybar --bar=i3bar --once --interval --alert-above
               --alert-below --currency --connect-to --cacert --version --help"
        ;;
    esac
    mapfile -t COMPREPLY < <(compgen -W "$words" -- "$cur")
}
complete -F _brimwell_ticker brimwell-ticker
