# bash completion for brenvik-cli (made by brenvik-cli --print-completion bash)
_brenvik_cli() {
    local cur="${COMP_WORDS[COMP_CWORD]}" prev="${COMP_WORDS[COMP_CWORD-1]}"
    case "$prev" in
        -s|--site)
            COMPREPLY=($(compgen -W "qzone qqgroup tweibo baidu netease renren sina 56 poco yupoo 51 zol pchome taobao moko babytree pconline hupu jd instagram duitang huaban lofter topit qq" -- "$cur"))
            return ;;
        --sub)
            COMPREPLY=($(compgen -W "0 1 2" -- "$cur"))
            return ;;
        -a|--albums)
            COMPREPLY=()
            return ;;
        -o|--save)
            compopt -o filenames; COMPREPLY=($(compgen -d -- "$cur"))
            return ;;
        -i|--input-file)
            compopt -o filenames; COMPREPLY=($(compgen -f -- "$cur"))
            return ;;
        --follow)
            COMPREPLY=()
            return ;;
        --unfollow)
            COMPREPLY=()
            return ;;
        --retries)
            COMPREPLY=()
            return ;;
        --limit-rate)
            COMPREPLY=()
            return ;;
        --proxy)
            COMPREPLY=()
            return ;;
        --aria2-rpc)
            COMPREPLY=()
            return ;;
        --aria2-secret)
            COMPREPLY=()
            return ;;
        --aria2-dir)
            COMPREPLY=()
            return ;;
        --home)
            compopt -o filenames; COMPREPLY=($(compgen -d -- "$cur"))
            return ;;
        --cookies)
            compopt -o filenames; COMPREPLY=($(compgen -f -- "$cur"))
            return ;;
        --cookies-from-browser)
            COMPREPLY=($(compgen -W "firefox chromium chrome brave edge vivaldi" -- "$cur"))
            return ;;
        --connect-to)
            COMPREPLY=()
            return ;;
        --cacert)
            compopt -o filenames; COMPREPLY=($(compgen -f -- "$cur"))
            return ;;
        --export)
            COMPREPLY=($(compgen -W "lst aria2 json" -- "$cur"))
            return ;;
        --save-pages)
            compopt -o filenames; COMPREPLY=($(compgen -d -- "$cur"))
            return ;;
    esac
    if [[ "$cur" == -* ]]; then
        COMPREPLY=($(compgen -W "-s --site --sub -l --list -a --albums -o --save -i --input-file --follow --unfollow --following --update --skip --no-skip --retries --limit-rate --proxy --aria2-rpc --aria2-secret --aria2-dir --wait --home --cookies --cookies-from-browser --connect-to --cacert --yes --no --json --export --save-pages -v --verbose -q --quiet -h --help --version" -- "$cur"))
    fi
}
complete -F _brenvik_cli brenvik-cli
