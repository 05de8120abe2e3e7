#!/usr/bin/env bash
# A stand-in for apt-get, apt-cache, apt-mark, apt's download helper, dpkg,
# dpkg-query and update-alternatives (called by the name it is linked as),
# answering from the files of a made-up machine in $FAKE_APT:
#   calls               every call, appended, one a line
#   update.N            what the Nth "apt-get update" prints; its first line
#                       is its exit status (the last file answers the later ones)
#   missing             packages not installed, one a line (all others are)
#   unknown             packages the archive does not have
#   needs               what an install must be given to resolve: local files
#                       (by name) and packages; without it any install resolves
#   broken              what apt prints when an install does not resolve
#   depends, policy, show   apt-cache's answers (policy and show by stanza)
#   uris                "PACKAGE:ARCH=VERSION rest of the line" for download --print-uris
#   pool/               the archive, for the download helper
set -u
fake=${FAKE_APT:?}
name=$(basename "$0")
echo "$name $*" >> "$fake/calls"

# The stanzas of file $1 whose key is among the words of $2, in the order of
# the file: a stanza starts at a header line "KEY:" (policy), or, with $3 = 1,
# runs to a blank line and is keyed PACKAGE:ARCHITECTURE (show).
stanzas() {
    awk -v wanted="$2" -v blank="${3:-0}" '
        BEGIN { n = split(wanted, w, " "); for (i = 1; i <= n; i++) want[w[i]] = 1 }
        function flush() { if (text != "" && (key in want)) printf "%s", text; text = ""; key = "" }
        blank && /^$/ { flush(); next }
        !blank && /^[^ ]/ { flush(); key = $0; sub(/:$/, "", key) }
        blank && /^Package: / { key = $2 }
        blank && /^Architecture: / { key = key ":" $2 }
        { text = text $0 "\n" }
        END { flush() }' "$1"
}

case "$name" in
apt-get)
    args=()
    while [ $# -gt 0 ]; do
        case "$1" in
            -o|-t|-c) shift 2 ;;
            -*) shift ;;
            *) args+=("$1"); shift ;;
        esac
    done
    case "${args[0]:-}" in
    update)
        n=$(grep -cE '^apt-get( -[^ ]* [^ ]*)* update( |$)' "$fake/calls")
        while [ "$n" -gt 1 ] && [ ! -f "$fake/update.$n" ]; do n=$((n - 1)); done
        tail -n +2 "$fake/update.$n"
        exit "$(head -1 "$fake/update.$n")"
        ;;
    install)
        for p in "${args[@]:1}"; do
            if grep -qx "$p" "$fake/unknown" 2>/dev/null; then
                echo "E: Unable to locate package $p"
                exit 100
            fi
        done
        if [ -f "$fake/needs" ]; then
            given=" "
            for p in "${args[@]:1}"; do
                case "$p" in
                    */*) [ -f "$p" ] && given+="${p##*/} " ;;
                    *) given+="$p " ;;
                esac
            done
            while read -r need; do
                if [[ $given != *" $need "* ]]; then
                    cat "$fake/broken"
                    exit 100
                fi
            done < "$fake/needs"
        fi
        echo "Setting up ${args[*]:1}"
        ;;
    download)
        status=0
        for p in "${args[@]:1}"; do
            line=$(awk -v p="$p" '$1 == p' "$fake/uris" | head -1)
            if [ -n "$line" ]; then
                echo "${line#* }"
            else
                echo "E: Can't find a source to download version '${p#*=}' of '${p%=*}'" >&2
                status=100
            fi
        done
        exit "$status"
        ;;
    *) echo "E: the stand-in knows no apt-get ${args[0]:-}" >&2; exit 100 ;;
    esac
    ;;
apt-cache)
    case "$1" in
    depends) cat "$fake/depends" ;;
    policy)
        shift
        wanted=""
        for p in "$@"; do wanted+="${p%:amd64} "; done
        stanzas "$fake/policy" "$wanted"
        ;;
    show)
        shift
        [ "$1" != --no-all-versions ] || shift
        stanzas "$fake/show" "$*" 1
        ;;
    esac
    ;;
apt-helper)
    # download-file URI FILE
    path=$fake/pool/${2#*://*/}
    if [ "$1" = download-file ] && [ -f "$path" ]; then
        cp "$path" "$3"
    else
        echo "E: Failed to fetch $2  404  Not Found" >&2
        exit 100
    fi
    ;;
dpkg)
    case "$1" in
        --print-architecture) echo amd64 ;;
        --print-foreign-architectures) echo i386 ;;
        *) exit 1 ;;
    esac
    ;;
dpkg-query)
    # -W -f='${Package} ${Status}\n' PACKAGE...
    status=0
    for p in "${@:3}"; do
        if grep -qx "$p" "$fake/missing" 2>/dev/null; then status=1; else echo "$p install ok installed"; fi
    done
    exit "$status"
    ;;
apt-mark|update-alternatives) ;;
esac
exit 0
