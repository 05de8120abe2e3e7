# Sourced by the set-up scripts: apt-get as root, patient with a machine that
# runs its own package updates right after it boots, and the address of
# Debian's archive as this machine's apt set-up already names it (a mirror or
# proxy configured there keeps working; no archive host is written here).

apt_sudo=""
[ "$(id -u)" -eq 0 ] || apt_sudo="sudo"
apt_lock_wait=${APT_LOCK_WAIT:-300} # seconds

# apt-get with its arguments. install and remove wait for dpkg's lock by
# themselves; update does not, so it is tried again while another apt holds
# the lists.
apt_get() {
    if [ "${1:-}" != update ]; then
        $apt_sudo env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout="$apt_lock_wait" "$@"
        return
    fi
    local deadline=$((SECONDS + apt_lock_wait)) log status
    log=$(mktemp)
    while :; do
        if $apt_sudo apt-get "$@" >"$log" 2>&1; then status=0; else status=$?; fi
        cat "$log"
        if [ "$status" -eq 0 ] || ! grep -q 'Could not get lock' "$log" || [ "$SECONDS" -ge "$deadline" ]; then
            rm -f "$log"
            return "$status"
        fi
        echo "apt is busy (another package run holds its lock); trying again in 5 s"
        sleep 5
    done
}

# The URI of Debian's main archive (the one that carries the release's own
# suite with its main component), read from the machine's apt sources in
# either format.
debian_archive_uri() {
    local codename
    codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
    [ -n "$codename" ] || return 1
    local etc=${APT_ETC:-/etc/apt} files=() f
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
    local list=/etc/apt/sources.list.d/$1 uri
    [ -f "$list" ] && return 0
    uri=$(debian_archive_uri) || { echo "No Debian archive for $(. /etc/os-release && echo "$VERSION_CODENAME") main in this machine's apt sources" >&2; return 1; }
    printf '%s\n' "Types: $2" "URIs: $uri" "Suites: $3" 'Components: main' \
        'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg' | $apt_sudo tee "$list" >/dev/null
}
