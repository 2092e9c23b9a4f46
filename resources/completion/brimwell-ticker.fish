# fish completion for brimwell-ticker: its options, the formats of --bar and the currencies.

complete -c brimwell-ticker -f
complete -c brimwell-ticker -l bar -a 'plain waybar i3bar' -d 'For status bars, in FORMAT'
complete -c brimwell-ticker -l once -d 'One pass, then exit: the title on stdout'
complete -c brimwell-ticker -l interval -x -d "This run's update interval in seconds"
complete -c brimwell-ticker -l alert-above -x -d "This run's upper alert level, in its currency"
complete -c brimwell-ticker -l alert-below -x -d "This run's lower alert level, in its currency"
complete -c brimwell-ticker -l currency -x -a 'USD EUR GBP CAD CHF AUD JPY' -d "This run's currency"
complete -c brimwell-ticker -l connect-to -x -d 'HOST:PORT:HOST2:PORT2, requests for HOST:PORT go to HOST2:PORT2'
complete -c brimwell-ticker -l cacert -r -F -d "Trust the CA certificates in FILE instead of the system's"
complete -c brimwell-ticker -l version -d 'Print the version'
complete -c brimwell-ticker -s h -l help -d 'Print the usage'
