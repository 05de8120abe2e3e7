# Sourced by the set-up scripts: apt-get as root, patient with a machine that
# runs its own package updates right after it boots and with an archive caught
# in the middle of a sync, and the address of Debian's archive as this
# machine's apt set-up already names it (a mirror or proxy configured there
# keeps working; no archive host is written here).
#
# An index that will not download is reported and passed over: whether the
# packages a script needs can still be had is the install's to say, and only
# an install that fails stops a script, with one line naming the packages and
# apt's answer.
#
# Settings, from the environment (the set-up's own test sets them):
#   APT_SUDO            the command that makes apt root ("sudo" unless root)
#   APT_ETC             apt's configuration folder (/etc/apt)
#   APT_LOCK_WAIT       seconds to wait for another apt's lock (300)
#   APT_LOCK_PAUSE      seconds between two looks at that lock (5)
#   APT_UPDATE_TRIES    runs of "apt-get update" while indexes fail (3)
#   APT_RETRY_PAUSE     seconds between two of those runs (15)
#   APT_ACQUIRE_RETRIES apt's own tries of each download (3)
#   APT_UPDATE_TIMEOUT  seconds one "apt-get update" may take (600)
#   APT_I386_ROUNDS     tries of an install that waits for i386 files (3)
#   APT_HELPER          apt's download helper (/usr/lib/apt/apt-helper)

if [ -n "${APT_SUDO+set}" ]; then
    apt_sudo=$APT_SUDO
elif [ "$(id -u)" -eq 0 ]; then
    apt_sudo=""
else
    apt_sudo="sudo"
fi
apt_etc=${APT_ETC:-/etc/apt}
apt_lock_wait=${APT_LOCK_WAIT:-300}
apt_lock_pause=${APT_LOCK_PAUSE:-5}
apt_update_tries=${APT_UPDATE_TRIES:-3}
apt_retry_pause=${APT_RETRY_PAUSE:-15}
apt_acquire_retries=${APT_ACQUIRE_RETRIES:-3}
apt_update_timeout=${APT_UPDATE_TIMEOUT:-600}
apt_i386_rounds=${APT_I386_ROUNDS:-3}
apt_helper=${APT_HELPER:-/usr/lib/apt/apt-helper}
# What the last apt-get run printed, and its last word when it failed: the
# "E:" lines on one line.
apt_output=""
apt_answer=""

# apt-get with its arguments. install and remove wait for dpkg's lock by
# themselves; update is handled below. A failed install ends with one line:
# what could not be installed and why.
apt_get() {
    if [ "${1:-}" = update ]; then
        shift
        apt_update "$@"
        return
    fi
    local status=0
    apt_run "$@" || status=$?
    if [ "$status" -ne 0 ] && [ "${1:-}" = install ]; then
        apt_install_failed "${@:2}"
    fi
    return "$status"
}

# One apt-get run, shown as it goes and kept in apt_output; apt_answer is set
# when it fails.
apt_run() {
    local - log status
    set +e
    log=$(mktemp)
    $apt_sudo env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout="$apt_lock_wait" "$@" 2>&1 | tee "$log"
    status=${PIPESTATUS[0]}
    apt_output=$(cat "$log")
    rm -f "$log"
    apt_answer=""
    if [ "$status" -ne 0 ]; then
        apt_answer=$(printf '%s\n' "$apt_output" | grep '^E: ' | paste -sd' ')
        [ -n "$apt_answer" ] || apt_answer="apt-get ended with status $status"
    fi
    return "$status"
}

# The one line of a failed install ($@: what was asked for): the packages apt
# named as missing, or else all that were asked for, and apt's answer.
apt_install_failed() {
    local named asked=() skip=false a
    named=$(printf '%s\n' "$apt_output" | sed -n \
        -e "s/^E: Unable to locate package \(.*\)$/\1/p" \
        -e "s/^E: Package '\([^']*\)' has no installation candidate$/\1/p" \
        -e "s/^E: Version '[^']*' for '\([^']*\)' was not found$/\1/p" | paste -sd' ')
    if [ -z "$named" ]; then
        for a in "$@"; do
            if $skip; then skip=false; continue; fi
            case "$a" in
                -o|-t|-c) skip=true ;;
                -*) ;;
                *) asked+=("${a##*/}") ;;
            esac
        done
        named=${asked[*]}
    fi
    echo "Cannot install $named from this machine's package archive: $apt_answer" >&2
}

# apt-get update, tried again while another apt holds the lists (up to
# APT_LOCK_WAIT seconds) and while indexes fail to download (APT_UPDATE_TRIES
# runs). Indexes that still fail are named, one line each, and passed over:
# apt keeps the lists it had, and the install that follows tells whether what
# is needed can be had from them.
apt_update() {
    local - deadline=$((SECONDS + apt_lock_wait)) try=1 log status
    set +e
    log=$(mktemp)
    while :; do
        $apt_sudo timeout "$apt_update_timeout" apt-get -o Acquire::Retries="$apt_acquire_retries" update "$@" 2>&1 \
            | tee "$log"
        status=${PIPESTATUS[0]}
        [ "$status" -eq 0 ] && break
        if grep -q 'Could not get lock' "$log"; then
            [ "$SECONDS" -lt "$deadline" ] || break
            echo "apt is busy (another package run holds its lock); trying again in $apt_lock_pause s"
            sleep "$apt_lock_pause"
            continue
        fi
        [ "$try" -lt "$apt_update_tries" ] || break
        echo "Some of apt's indexes did not download (try $try of $apt_update_tries); trying again in $apt_retry_pause s"
        try=$((try + 1))
        sleep "$apt_retry_pause"
    done
    if [ "$status" -ne 0 ]; then
        apt_update_failures "$status" < "$log" >&2
    fi
    rm -f "$log"
    return 0
}

# The indexes a failed update left as they were, from its output: one line
# each with apt's reason; its error lines where it named no index.
apt_update_failures() {
    awk -v status="$1" -v timeout="$apt_update_timeout" '
        /^Err:[0-9]+ / {
            index_name = $0; sub(/^Err:[0-9]+ /, "", index_name)
            reason = ""
            if ((getline line) > 0) { reason = line; sub(/^[ \t]+/, "", reason) }
            print "apt index not updated: " index_name ": " reason; named++
            next
        }
        /^E: / && !/Some index files failed to download/ { errors[++n] = $0 }
        /Could not get lock/ { locked = 1 }
        END {
            if (named) exit
            if (status == 124) { print "apt lists not updated: apt-get update did not finish in " timeout " s"; exit }
            if (locked) { print "apt lists not updated: another package run still holds the lock"; exit }
            for (i = 1; i <= n; i++) print "apt lists not updated: " errors[i]
            if (!n) print "apt lists not updated: apt-get update ended with status " status
        }'
}

# Prints those of the named packages that are not installed.
apt_missing() {
    local installed p
    installed=" $({ dpkg-query -W -f='${Package} ${Status}\n' "$@" 2>/dev/null || true; } |
                  awk '/ ok installed$/ { printf "%s ", $1 }')"
    for p in "$@"; do
        [[ $installed == *" $p "* ]] || echo "$p"
    done
}

# Installs packages with an i386 half (Wine) when the i386 index lags the
# amd64 one: an i386 library that must be the same version as its installed
# amd64 twin (Multi-Arch: same) but is not in apt's i386 index at that
# version is taken from the archive's pool, where its file lies beside the
# amd64 one, checked, and given to the same install. A bounded number of
# rounds, each after apt could not resolve the last. Ends like apt_get install.
apt_install_matching_i386() {
    local - dir round=1 status debs=() extra=() fetched=() tried=" " roots auto=""
    set +e
    dir=$(mktemp -d)
    # apt's download helper drops to its own user when run as root.
    [ "$(id -u)" -ne 0 ] || ! getent passwd _apt >/dev/null || chown _apt "$dir"
    while :; do
        [ ${#extra[@]} -eq 0 ] || auto=$(apt-mark showauto "${extra[@]}" 2>/dev/null)
        apt_run install -y --no-install-recommends "$@" "${extra[@]}" "${debs[@]}"
        status=$?
        if [ "$status" -eq 0 ]; then
            # Named above only to offer apt their version: installed for what
            # needs them, not for their own sake.
            # shellcheck disable=SC2086 # one package a word
            [ ${#fetched[@]} -eq 0 ] || $apt_sudo apt-mark auto "${fetched[@]}" $auto >/dev/null
            break
        fi
        printf '%s\n' "$apt_output" | grep -qE 'held broken packages|Unable to correct problems|generated breaks' \
            || break
        [ "$round" -lt "$apt_i386_rounds" ] || break
        echo "apt cannot match the i386 packages to their amd64 twins; taking their files from the archive's pool (round $round of $apt_i386_rounds)"
        # What apt wanted and could not have, beside what was asked for.
        roots=$(printf '%s\n' "$apt_output" | sed -n -e 's/^ \([^ ]*\) : .*/\1/p' \
                    -e 's/.*Depends: \([^ ]*\).*/\1/p' | sort -u)
        local before=${#debs[@]}
        # shellcheck disable=SC2086 # one package a line
        apt_fetch_i386_twins "$dir" "$@" $roots
        [ ${#debs[@]} -gt "$before" ] || break
        round=$((round + 1))
    done
    rm -rf "$dir"
    [ "$status" -eq 0 ] || apt_install_failed "$@"
    return "$status"
}

# For apt_install_matching_i386 (fills its debs, extra, fetched and tried,
# the packages looked for once already): $1 the folder for the files, then
# the packages whose dependencies are followed.
# apt reads all its lists again at each start here, so it is asked a few
# questions about many packages, not many questions.
apt_fetch_i386_twins() {
    local dir=$1 native p v name ma inst cand_native cand_i386 versions ref reached
    shift
    native=$(dpkg --print-architecture)
    local -A multi_arch=() folder_of=()
    local i386=() native_reached=" " targets=() wanted=() folders=()
    # What apt would install: the first choice of each dependency, followed
    # from the packages asked for.
    reached=$(apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks \
                  --no-replaces --no-enhances "$@" 2>/dev/null | apt_first_choices "$@")
    for p in $reached; do
        case "$p" in
            *:i386) i386+=("${p%:i386}") ;;
            *:*) ;;
            *) native_reached+="$p " ;;
        esac
    done
    [ ${#i386[@]} -gt 0 ] || return 0
    while read -r name ma; do multi_arch[$name]=$ma; done < <(
        apt-cache show --no-all-versions "${i386[@]/%/:i386}" 2>/dev/null |
            awk '/^Package: / { p = $2 } /^Multi-Arch: / { print p, $2 }')
    # The twins apt will not pair by itself. It installs the i386 half of an
    # installed amd64 library as a dependency only at the amd64 one's
    # candidate version (and moves that up to it), so a lagging i386 index
    # leaves it out even where it still has the installed version. A file
    # named on the command line it takes as asked: the i386 file at the
    # installed version, or, for a library new on both sides, at the amd64
    # candidate.
    while read -r name inst cand_native cand_i386 versions; do
        [ "${multi_arch[$name]:-}" = same ] && [[ $tried != *" $name "* ]] || continue
        [ "$cand_i386" != "$cand_native" ] || continue
        if [ "$inst" != "(none)" ]; then
            ref=$inst
        elif [[ $native_reached == *" $name "* ]] && [ "$cand_native" != "(none)" ]; then
            ref=$cand_native
        else
            continue
        fi
        targets+=("$name $ref $inst $cand_native $versions")
        tried+="$name "
        for v in ${versions//,/ }; do wanted+=("$name:$native=$v"); done
    done < <(apt-cache policy "${i386[@]/%/:i386}" "${i386[@]/%/:$native}" 2>/dev/null | apt_policy_table "$native")
    [ ${#targets[@]} -gt 0 ] || return 0
    # Where the native file of each version lies (a version that only dpkg
    # still knows has none); apt names the file NAME_VERSION_ARCH.deb, the
    # epoch's colon quoted.
    while read -r p v; do v=${v%_*}; folder_of[${v//%3a/:}]=${p%/*}; done < <(
        apt-get download --print-uris "${wanted[@]}" 2>/dev/null | sed -n "s/^'\([^']*\)' \([^ ]*\) .*/\1 \2/p")
    for p in "${targets[@]}"; do
        read -r name ref inst cand_native versions <<< "$p"
        folders=()
        for v in "$ref" ${versions//,/ }; do
            v=${folder_of[${name}_$v]:-}
            [ -z "$v" ] || [[ " ${folders[*]} " == *" $v "* ]] || folders+=("$v")
        done
        apt_fetch_i386 "$dir" "$name" "$ref" "${folders[@]}" && continue
        # The installed version's i386 file has left the pool: both move up
        # to the amd64 candidate.
        if [ "$ref" = "$inst" ] && [ "$cand_native" != "(none)" ] && [ "$cand_native" != "$inst" ] &&
           apt_fetch_i386 "$dir" "$name" "$cand_native" "${folders[@]}"; then
            extra+=("$name:$native")
        fi
    done
}

# For apt_fetch_i386_twins: takes the i386 file of package $2 at version $3
# from the first of the pool folders given after them (those of the package's
# native files, through the source that this machine's apt set-up names)
# that has it, into $1. The file is taken only if it says it is that package,
# at that version, for i386.
apt_fetch_i386() {
    local dir=$1 name=$2 version=$3 folder file url got
    shift 3
    file=${name}_${version#*:}_i386.deb
    # Quoted as apt quotes it.
    url=${version#*:}
    url=${url//+/%2b}
    url=${url//\~/%7e}
    url=${name}_${url}_i386.deb
    for folder in "$@"; do
        rm -f "$dir/$file"
        timeout 300 "$apt_helper" download-file "$folder/$url" "$dir/$file" >/dev/null 2>&1 || continue
        got=$(dpkg-deb -f "$dir/$file" Package Version Architecture 2>/dev/null | sed 's/^[^:]*: //' | paste -sd' ')
        if [ "$got" != "$name $version i386" ]; then
            echo "Refused $folder/$url: it holds ${got// /, }, not $name $version i386"
            rm -f "$dir/$file"
            continue
        fi
        echo "Took $name $version for i386 from the pool: $folder/$url"
        debs+=("$dir/$file")
        fetched+=("$name:i386")
        return 0
    done
    echo "No i386 file of $name $version in the archive's pool"
    return 1
}

# Reads "apt-cache depends --recurse" and prints the packages reached from
# the named ones ($@) through the first installable alternative of each
# dependency (a virtual one through its first provider), one a line.
apt_first_choices() {
    awk -v roots="$*" '
        /^[^ ]/ { node = $0; known[node] = 1; base = node; sub(/:[^:]*$/, "", base)
                  if (!(base in by_base)) by_base[base] = node
                  groups[node] = 0; open = 0; next }
        /^ [ |][A-Za-z]+: / {
            or_next = substr($0, 2, 1) == "|"
            target = $0; sub(/^ [ |][A-Za-z]+: /, "", target)
            if (!open) group = ++groups[node]
            virtual = target ~ /^</
            if (!virtual && !((node, group) in choice)) choice[node, group] = target
            open = or_next
            next
        }
        /^    [^ ]/ { provider = $1
            if (virtual && !((node, group) in choice)) choice[node, group] = provider
            next
        }
        END {
            n = split(roots, r, " ")
            for (i = 1; i <= n; i++) {
                start = r[i] in known ? r[i] : (r[i] in by_base ? by_base[r[i]] : "")
                if (start != "" && !(start in seen)) { seen[start] = 1; queue[++tail] = start }
            }
            for (head = 1; head <= tail; head++) {
                p = queue[head]; print p
                for (g = 1; g <= groups[p]; g++)
                    if ((p, g) in choice && !(choice[p, g] in seen)) {
                        seen[choice[p, g]] = 1; queue[++tail] = choice[p, g]
                    }
            }
        }'
}

# Reads "apt-cache policy" of i386 and native ($1) packages and prints a line
# for each: name, installed native version, native candidate, i386
# candidate, the native versions apt knows (comma-separated).
apt_policy_table() {
    awk -v native="$1" '
        /^[^ ]/ { name = $0; sub(/:$/, "", name); arch = native
                  if (name ~ /:i386$/) arch = "i386"
                  sub(/:[^:]*$/, "", name); if (name == "") next
                  if (!(name in order)) order[name] = ++count
                  names[order[name]] = name; table = 0; next }
        /^  Installed: / { inst[name, arch] = $2; next }
        /^  Candidate: / { cand[name, arch] = $2; next }
        /^  Version table:/ { table = 1; next }
        table && arch == native && /^ (\*\*\*|   ) [^ ]/ {
            v = $1 == "***" ? $2 : $1
            versions[name] = versions[name] (versions[name] == "" ? "" : ",") v
        }
        END {
            for (i = 1; i <= count; i++) {
                n = names[i]
                print n, ((n, native) in inst ? inst[n, native] : "(none)"), \
                      ((n, native) in cand ? cand[n, native] : "(none)"), \
                      ((n, "i386") in cand ? cand[n, "i386"] : "(none)"), \
                      (versions[n] == "" ? "-" : versions[n])
            }
        }'
}

# The URI of Debian's main archive (the one that carries the release's own
# suite with its main component), read from the machine's apt sources in
# either format.
debian_archive_uri() {
    local codename
    codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
    [ -n "$codename" ] || return 1
    local etc=$apt_etc files=() f
    [ -f "$etc/sources.list" ] && files+=("$etc/sources.list")
    for f in "$etc"/sources.list.d/*.list "$etc"/sources.list.d/*.sources; do
        [ -f "$f" ] && files+=("$f")
    done
    [ ${#files[@]} -gt 0 ] || return 1
    awk -v codename="$codename" '
        function has(list, word,   n, i, parts) {
            n = split(list, parts, /[ \t]+/)
            for (i = 1; i <= n; i++) if (parts[i] == word) return 1
            return 0
        }
        function stanza_end() {
            if (has(types, "deb") && has(suites, codename) && has(components, "main") && enabled != "no") {
                split(uris, u, /[ \t]+/); print u[1]; found = 1; exit
            }
            types = suites = components = uris = ""; enabled = ""
        }
        FNR == 1 { if (types != "") stanza_end(); deb822 = FILENAME ~ /\.sources$/ }
        /^[ \t]*#/ { next }
        deb822 && /^[ \t]*$/ { stanza_end(); next }
        deb822 {
            key = tolower($1); sub(/:$/, "", key); value = $0; sub(/^[^:]*:[ \t]*/, "", value)
            if (key == "types") types = value
            else if (key == "suites") suites = value
            else if (key == "components") components = value
            else if (key == "uris") uris = value
            else if (key == "enabled") enabled = tolower(value)
            next
        }
        $1 == "deb" {
            line = $0; sub(/\[[^]]*\]/, "", line); n = split(line, f, /[ \t]+/)
            if (f[1] == "") { for (i = 1; i < n; i++) f[i] = f[i + 1]; n-- }
            if (n >= 4 && f[3] == codename) {
                rest = ""; for (i = 4; i <= n; i++) rest = rest " " f[i]
                if (has(rest, "main")) { print f[2]; found = 1; exit }
            }
        }
        END { if (!found && types != "") stanza_end() }
    ' "${files[@]}" | head -1 | grep .
}

# Adds an apt source of Debian's archive, in a file of our own, unless one
# with these types and suite is there already: $1 file name, $2 types, $3 suite.
add_debian_source() {
    local list=$apt_etc/sources.list.d/$1 uri
    [ -f "$list" ] && return 0
    uri=$(debian_archive_uri) || { echo "No Debian archive for $(. /etc/os-release && echo "$VERSION_CODENAME") main in this machine's apt sources" >&2; return 1; }
    printf '%s\n' "Types: $2" "URIs: $uri" "Suites: $3" 'Components: main' \
        'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg' | $apt_sudo tee "$list" >/dev/null
}
