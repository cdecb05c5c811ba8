# bash completion for brenvik-cli
_brenvik_cli() {
    local cur prev
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD-1]}
    local sites="qzone qqgroup tweibo baidu netease renren sina 56 poco yupoo 51 zol pchome
        taobao moko babytree pconline hupu jd instagram duitang huaban lofter topit"
    local options="-s --site --sub -l --list -a --albums -o --save --home --cookies
        --cookies-from-browser --connect-to --cacert --yes --no --json --export
        --save-pages -q --quiet -h --help --version"
    case $prev in
    -s | --site)
        mapfile -t COMPREPLY < <(compgen -W "$sites" -- "$cur")
        return ;;
    --sub)
        mapfile -t COMPREPLY < <(compgen -W "0 1 2" -- "$cur")
        return ;;
    --export)
        mapfile -t COMPREPLY < <(compgen -W "lst aria2 json" -- "$cur")
        return ;;
    --cookies-from-browser)
        mapfile -t COMPREPLY < <(compgen -W "firefox chromium chrome brave edge vivaldi" -- "$cur")
        return ;;
    -o | --save | --home | --save-pages)
        mapfile -t COMPREPLY < <(compgen -d -- "$cur")
        return ;;
    --cookies | --cacert)
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
        return ;;
    -a | --albums | --connect-to)
        return ;;
    esac
    if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
    fi
}
complete -F _brenvik_cli brenvik-cli
