#!/usr/bin/env bash
# The set-up scripts against a package archive out of step, through
# stand-ins for apt and dpkg (standin.sh beside this file) put first on PATH:
# an index that fails to download, a lock held for a while, an i386 index
# behind the amd64 one, a file in the pool that is not what its name says,
# and a package that cannot be had. Each script must go on or stop as it
# should. Needs no root and touches nothing of this machine's apt.
#   bash tests/setup/test_apt.sh
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

bin=$work/bin
mkdir -p "$bin"
for tool in apt-get apt-cache apt-mark apt-helper dpkg dpkg-query update-alternatives; do
    ln -s "$here/standin.sh" "$bin/$tool"
done
export PATH=$bin:$PATH APT_SUDO="" APT_ETC=$work/etc-apt APT_HELPER=$bin/apt-helper
export APT_RETRY_PAUSE=0 APT_LOCK_PAUSE=0 APT_UPDATE_TRIES=3 APT_I386_ROUNDS=3
mkdir -p "$APT_ETC/sources.list.d"

passed=0
failed=0
check() { # NAME COMMAND...: passes when COMMAND succeeds
    local name=$1
    shift
    if "$@"; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAIL: $name (in $FAKE_APT)"
        sed 's/^/    /' "$FAKE_APT/out" | tail -20
    fi
}
# How many lines of the run's output match the extended regular expression.
lines() { grep -cE -- "$1" "$FAKE_APT/out"; }
calls() { grep -cE -- "$1" "$FAKE_APT/calls"; }

# A made-up machine: a fresh folder for the stand-ins.
machine() {
    export FAKE_APT=$work/$1
    mkdir -p "$FAKE_APT/pool"
    : > "$FAKE_APT/calls"
    update_answers ok
}
# What the successive runs of "apt-get update" print: ok, broken (the
# security archive's i386 index of the wrong size) or locked.
update_answers() {
    local n=1 answer
    rm -f "$FAKE_APT"/update.*
    for answer in "$@"; do
        case "$answer" in
            ok) printf '%s\n' 0 'Hit:1 http://archive.invalid/debian bookworm InRelease' 'Reading package lists...' ;;
            broken) printf '%s\n' 100 \
                'Hit:1 http://archive.invalid/debian bookworm InRelease' \
                'Get:3 http://archive.invalid/debian-security bookworm-security InRelease [34.8 kB]' \
                'Err:4 http://archive.invalid/debian-security bookworm-security/main i386 Packages' \
                '  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 192.0.2.1 80]' \
                '  Hashes of expected file:' \
                '   - Filesize:376004 [weak]' \
                'Fetched 241 kB in 1s (176 kB/s)' \
                'Reading package lists...' \
                'E: Failed to fetch http://archive.invalid/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 192.0.2.1 80]' \
                'E: Some index files failed to download. They have been ignored, or old ones used instead.' ;;
            locked) printf '%s\n' 100 'Reading package lists...' \
                'E: Could not get lock /var/lib/apt/lists/lock. It is held by process 4321 (apt-get)' \
                'E: Unable to lock directory /var/lib/apt/lists/' ;;
        esac > "$FAKE_APT/update.$n"
        n=$((n + 1))
    done
}
# Runs the functions of scripts/apt.sh named in $1 (a line of bash) in a shell
# of their own, as the scripts run them; status and output kept.
apt_sh() {
    bash -c 'set -euo pipefail; . "$0/scripts/apt.sh"; eval "$1"' "$repo" "$1" > "$FAKE_APT/out" 2>&1
    status=$?
}
run_script() { # SCRIPT ARGS...
    bash "$repo/scripts/$1" "${@:2}" > "$FAKE_APT/out" 2>&1
    status=$?
}

# --- apt-get update -----------------------------------------------------------

machine update-broken
update_answers broken
apt_sh 'apt_get update; echo "went on"'
check "an index that keeps failing does not stop the script" [ "$status" -eq 0 ]
check "and the script went on after it" [ "$(lines '^went on$')" -eq 1 ]
check "update is tried APT_UPDATE_TRIES times" [ "$(calls '^apt-get .*update')" -eq 3 ]
check "with apt's own retries asked for" [ "$(calls '^apt-get -o Acquire::Retries=[0-9]+ update')" -eq 3 ]
check "the failed index is named once, with apt's reason" [ "$(lines \
    '^apt index not updated: http://archive.invalid/debian-security bookworm-security/main i386 Packages: File has unexpected size \(374820 != 376004\)\. Mirror sync in progress\?')" -eq 1 ]
check "and no other index is named" [ "$(lines '^apt (index|lists) not updated')" -eq 1 ]

machine update-recovers
update_answers broken ok
apt_sh 'apt_get update'
check "an index that downloads on the second try: two runs" [ "$(calls '^apt-get .*update')" -eq 2 ]
check "and nothing named" [ "$(lines 'not updated')" -eq 0 ]

machine update-locked
update_answers locked locked locked ok
APT_UPDATE_TRIES=1 apt_sh 'apt_get update'
check "a lock held for a while is waited for" [ "$status" -eq 0 ]
check "its waits are not counted as tries" [ "$(calls '^apt-get .*update')" -eq 4 ]
check "each wait is said" [ "$(lines '^apt is busy')" -eq 3 ]
check "and nothing named after the lock is free" [ "$(lines 'not updated')" -eq 0 ]

machine update-locked-long
update_answers locked
APT_LOCK_WAIT=0 apt_sh 'apt_get update'
check "a lock held past APT_LOCK_WAIT ends the waiting" [ "$status" -eq 0 ]
check "after one look" [ "$(calls '^apt-get .*update')" -eq 1 ]
check "with one line saying so" [ "$(lines '^apt lists not updated: another package run still holds the lock$')" -eq 1 ]

# --- scripts/setup.sh -----------------------------------------------------------

machine setup-broken-index
update_answers broken
printf '%s\n' srecord python3-intelhex > "$FAKE_APT/missing"
run_script setup.sh
check "setup.sh gets through a broken index" [ "$status" -eq 0 ]
check "and installs what is missing" [ "$(calls '^apt-get .* install -y --no-install-recommends srecord python3-intelhex$')" -eq 1 ]

machine setup-unknown-package
printf '%s\n' no-such-tool > "$FAKE_APT/missing"
printf '%s\n' no-such-tool > "$FAKE_APT/unknown"
run_script setup.sh no-such-tool
check "setup.sh stops on a package that cannot be had" [ "$status" -ne 0 ]
check "with one line naming it and apt's answer" [ "$(lines \
    "^Cannot install no-such-tool from this machine's package archive: E: Unable to locate package no-such-tool$")" -eq 1 ]
check "and only one such line" [ "$(lines '^Cannot install')" -eq 1 ]

machine nothing-missing
run_script setup.sh
check "setup.sh with nothing missing goes on" [ "$status" -eq 0 ]
check "and asks apt nothing" [ "$(calls '^apt-get')" -eq 0 ]

# --- Wine, when the i386 index lags the amd64 one -------------------------------------

# The Debian version quoted as apt quotes it in a URI (no epoch).
quoted() { local v=${1#*:}; v=${v//+/%2b}; echo "${v//\~/%7e}"; }
# The pool folder of a package in the main or the security archive.
folder() { # SUITE NAME
    case "$1" in
        main) echo "debian/pool/main/${2:0:1}/$2" ;;
        security) echo "debian-security/pool/updates/main/${2:0:1}/$2" ;;
    esac
}
# A real package file in the pool: SUITE NAME VERSION ARCH, and the version
# it says it is (the same unless given).
pool_deb() {
    local root=$work/debroot
    rm -rf "$root"
    mkdir -p "$root/DEBIAN" "$FAKE_APT/pool/$(folder "$1" "$2")"
    printf '%s\n' "Package: $2" "Version: ${5:-$3}" "Architecture: $4" "Maintainer: Nobody <nobody@example.org>" \
        "Multi-Arch: same" "Description: made up for the set-up test" > "$root/DEBIAN/control"
    dpkg-deb --root-owner-group --build "$root" \
        "$FAKE_APT/pool/$(folder "$1" "$2")/${2}_$(quoted "$3")_$4.deb" >/dev/null
}
# One package as apt knows it: NAME MULTI-ARCH INSTALLED-AMD64 (or -)
# "AMD64 VERSIONS" "I386 VERSIONS", versions as VERSION@SUITE, the candidate
# first. An installed version not among them is known to dpkg alone.
package() {
    local name=$1 ma=$2 inst=$3 arch versions v version suite first header
    [ "$inst" != - ] || echo "$name" >> "$FAKE_APT/missing"
    for arch in i386 amd64; do
        if [ $arch = i386 ]; then versions=$5; header="$name:i386:"; else versions=$4; header="$name:"; fi
        first=${versions%% *}
        {
            echo "$header"
            if [ $arch = amd64 ] && [ "$inst" != - ]; then echo "  Installed: $inst"; else echo "  Installed: (none)"; fi
            if [ -n "$first" ]; then echo "  Candidate: ${first%@*}"; else echo "  Candidate: (none)"; fi
            echo "  Version table:"
            for v in $versions; do
                suite=${v#*@}
                version=${v%@*}
                if [ $arch = amd64 ] && [ "$version" = "$inst" ]; then echo " *** $version 500"; else echo "     $version 500"; fi
                case "$suite" in
                    main) echo "        500 http://archive.invalid/debian bookworm/main $arch Packages" ;;
                    security) echo "        500 http://archive.invalid/debian-security bookworm-security/main $arch Packages" ;;
                esac
                [ $arch = i386 ] || echo "$name:amd64=$version 'http://archive.invalid/$(folder "$suite" "$name")/${name}_$(quoted "$version")_amd64.deb' ${name}_${version/:/%3a}_amd64.deb 1000 SHA256:00" \
                    >> "$FAKE_APT/uris"
            done
            if [ $arch = amd64 ] && [ "$inst" != - ] && [[ " $versions" != *" $inst@"* ]]; then
                echo " *** $inst 100"
                echo "        100 /var/lib/dpkg/status"
            fi
        } >> "$FAKE_APT/policy"
        [ -z "$first" ] || printf '%s\n' "Package: $name" "Architecture: $arch" "Version: ${first%@*}" \
            "Multi-Arch: $ma" "" >> "$FAKE_APT/show"
    done
}

# A machine without Wine whose archive lags for i386, made once and copied.
wine_machine() {
    [ -d "$work/wine-machine" ] || make_wine_machine
    machine "$1"
    cp -a "$work/wine-machine/." "$FAKE_APT/"
    : > "$FAKE_APT/calls"
}
# Wine and what it needs, as "apt-cache depends --recurse" prints it: the
# i386 half through libwine:i386, which takes libfirst1 before libbar1.
make_wine_machine() {
    machine wine-machine
    cat > "$FAKE_APT/depends" <<'EOF'
wine
 |Depends: wine64
  Depends: <wine32>
    wine32:i386
  Depends: fonts-wine
wine32:i386
  Depends: libc6:i386
  Depends: libwine:i386
wine64
  Depends: libc6
  Depends: libwine
fonts-wine
libc6
libwine
  Depends: libc6
  Depends: libgstreamer-plugins-base1.0-0
  Depends: libpcre2-8-0
libgstreamer-plugins-base1.0-0
  Depends: libc6
libpcre2-8-0
libc6:i386
libwine:i386
  Depends: libc6:i386
  Depends: libgstreamer-plugins-base1.0-0:i386
  Depends: libpcre2-8-0:i386
  Depends: zlib1g:i386
  Depends: libssl3:i386
  Depends: libexpat1:i386
  Depends: libfoo1:i386
 |Depends: libfirst1:i386
  Depends: libbar1:i386
  Depends: <libz-mingw-w64:i386>
    libz-mingw-w64
libgstreamer-plugins-base1.0-0:i386
  Depends: libc6:i386
libpcre2-8-0:i386
zlib1g:i386
libssl3:i386
libexpat1:i386
libfoo1:i386
libfirst1:i386
libbar1:i386
libz-mingw-w64
EOF
    printf '%s\n' wine wine32 wine64 fonts-wine > "$FAKE_APT/missing"
    package wine32 foreign - "" "8.0~repack-4@main"
    package wine64 foreign - "8.0~repack-4@main" ""
    package libc6 same 2.36-9+deb12u14 "2.36-9+deb12u14@main" "2.36-9+deb12u14@main"
    package libwine same - "8.0~repack-4@main" "8.0~repack-4@main"
    # In step: nothing to take.
    package libfoo1 same 1.0-1 "1.0-2@main" "1.0-2@main"
    package libfirst1 same 2.0-1 "2.0-1@main" "2.0-1@main"
    # Out of step, but only the second choice of its dependency.
    package libbar1 same 3.0-1 "3.0-1+deb12u1@security 3.0-1@main" "3.0-1@main"
    # The security update installed for amd64; i386 has only the release.
    package libpcre2-8-0 same 10.42-1+deb12u2 "10.42-1+deb12u2@security 10.42-1@main" "10.42-1@main"
    # The i386 index has the installed version, but not the amd64 candidate.
    package zlib1g same 1:1.2.13.dfsg-1 "1:1.2.13.dfsg-1+deb12u1@security 1:1.2.13.dfsg-1@main" "1:1.2.13.dfsg-1@main"
    # Installed at a version no index names any more.
    package libssl3 same 3.0.19-1~deb12u2 "3.0.22-1~deb12u2@security 3.0.20-1~deb12u2@main" "3.0.20-1~deb12u2@main"
    # New on both sides: the amd64 candidate from the security archive.
    package libgstreamer-plugins-base1.0-0 same - "1.22.0-3+deb12u7@security" "1.22.0-3+deb12u2@main"
    # Installed at a version whose i386 file has left the pool.
    package libexpat1 same 2.5.0-1+deb12u1 "2.5.0-1+deb12u5@security 2.5.0-1+deb12u2@main" "2.5.0-1+deb12u2@main"
    pool_deb security libpcre2-8-0 10.42-1+deb12u2 i386
    pool_deb main zlib1g 1:1.2.13.dfsg-1 i386
    pool_deb security libssl3 3.0.19-1~deb12u2 i386
    pool_deb security libgstreamer-plugins-base1.0-0 1.22.0-3+deb12u7 i386
    pool_deb security libexpat1 2.5.0-1+deb12u5 i386
    pool_deb security libbar1 3.0-1+deb12u1 i386
    printf '%s\n' \
        'Reading package lists...' 'Some packages could not be installed.' \
        'The following packages have unmet dependencies:' \
        ' libwine:i386 : Depends: libpcre2-8-0:i386 (>= 10.22) but it is not going to be installed' \
        '                Depends: zlib1g:i386 (>= 1:1.1.4) but it is not going to be installed' \
        'E: Unable to correct problems, you have held broken packages.' > "$FAKE_APT/broken"
    # What apt needs to resolve: each i386 twin at its amd64 version.
    printf '%s\n' libpcre2-8-0_10.42-1+deb12u2_i386.deb zlib1g_1.2.13.dfsg-1_i386.deb \
        libssl3_3.0.19-1~deb12u2_i386.deb libgstreamer-plugins-base1.0-0_1.22.0-3+deb12u7_i386.deb \
        libexpat1_2.5.0-1+deb12u5_i386.deb libexpat1:amd64 > "$FAKE_APT/needs"
}
fetched() { grep '^apt-helper download-file' "$FAKE_APT/calls" | cut -d' ' -f3 | sed 's|^http://archive.invalid/||' | sort; }

wine_machine wine-skew
update_answers broken
run_script windows.sh --setup-only
check "windows.sh gets Wine installed past a lagging i386 index" [ "$status" -eq 0 ]
check "and says nothing of Wine missing" [ "$(lines '^Wine cannot')" -eq 0 ]
expected=$(printf '%s\n' \
    debian-security/pool/updates/main/l/libexpat1/libexpat1_2.5.0-1%2bdeb12u1_i386.deb \
    debian/pool/main/l/libexpat1/libexpat1_2.5.0-1%2bdeb12u1_i386.deb \
    debian-security/pool/updates/main/l/libexpat1/libexpat1_2.5.0-1%2bdeb12u5_i386.deb \
    debian-security/pool/updates/main/l/libgstreamer-plugins-base1.0-0/libgstreamer-plugins-base1.0-0_1.22.0-3%2bdeb12u7_i386.deb \
    debian-security/pool/updates/main/l/libpcre2-8-0/libpcre2-8-0_10.42-1%2bdeb12u2_i386.deb \
    debian-security/pool/updates/main/l/libssl3/libssl3_3.0.19-1%7edeb12u2_i386.deb \
    debian/pool/main/z/zlib1g/zlib1g_1.2.13.dfsg-1_i386.deb | sort)
check "exactly the amd64 versions' i386 files are fetched, from beside the amd64 ones" [ "$(fetched)" = "$expected" ]
check "the installed version's file looked for where the other versions lie" \
    [ "$(lines '^No i386 file of libexpat1 2.5.0-1\+deb12u1 in the archive.s pool$')" -eq 1 ]
check "first a plain install, then one with the files" [ "$(calls '^apt-get .* install ')" -eq 2 ]
check "the files and the amd64 library moved up with its i386 twin given to one install" \
    [ "$(calls '^apt-get .* install -y --no-install-recommends wine wine32 wine64 fonts-wine libexpat1:amd64 /.*')" -eq 1 ]
check "the files then count as installed for what needs them" [ "$(grep '^apt-mark auto ' "$FAKE_APT/calls" |
    tr ' ' '\n' | tail -n +3 | sort | paste -sd' ')" = \
    "libexpat1:i386 libgstreamer-plugins-base1.0-0:i386 libpcre2-8-0:i386 libssl3:i386 zlib1g:i386" ]

wine_machine wine-wrong-file
# The pool's file of pcre2 says it is the release, not the security update.
pool_deb security libpcre2-8-0 10.42-1+deb12u2 i386 10.42-1
run_script windows.sh --setup-only
check "a pool file that is not the version asked for is refused" [ "$(lines \
    '^Refused http://archive.invalid/debian-security/pool/updates/main/l/libpcre2-8-0/libpcre2-8-0_10.42-1%2bdeb12u2_i386.deb: it holds libpcre2-8-0, 10.42-1, i386, not libpcre2-8-0 10.42-1\+deb12u2 i386$')" -eq 1 ]
check "and never given to apt" [ "$(calls '^apt-get .*libpcre2-8-0_')" -eq 0 ]
check "the rounds are bounded: one more install after the files, and none after that" \
    [ "$(calls '^apt-get .* install ')" -eq 2 ]
check "without Wine windows.sh goes on" [ "$status" -eq 0 ]
check "saying in one line that Wine cannot be installed and apt's answer" [ "$(lines \
    "^Wine cannot be installed: E: Unable to correct problems, you have held broken packages\.$")" -eq 1 ]
check "the install's own line names what was asked for" [ "$(lines \
    "^Cannot install wine wine32 wine64 fonts-wine from this machine's package archive: E: Unable to correct problems, you have held broken packages\.$")" -eq 1 ]

wine_machine wine-never
rm "$FAKE_APT"/pool -r
mkdir "$FAKE_APT/pool"
APT_I386_ROUNDS=1 run_script windows.sh --setup-only
check "with one round: one install" [ "$(calls '^apt-get .* install ')" -eq 1 ]
check "and no fetching" [ "$(calls '^apt-helper')" -eq 0 ]
check "and windows.sh still goes on" [ "$status" -eq 0 ]
check "saying why once" [ "$(lines '^Wine cannot be installed')" -eq 1 ]

wine_machine wine-in-step
rm "$FAKE_APT/needs"
run_script windows.sh --setup-only
check "an archive in step: Wine installed" [ "$status" -eq 0 ]
check "in one install" [ "$(calls '^apt-get .* install ')" -eq 1 ]
check "with nothing from the pool" [ "$(calls '^apt-helper')" -eq 0 ]

wine_machine no-compiler
printf '%s\n' g++-mingw-w64-i686-posix >> "$FAKE_APT/missing"
printf '%s\n' g++-mingw-w64-i686-posix > "$FAKE_APT/unknown"
run_script windows.sh --setup-only
check "windows.sh stops when the cross compiler cannot be had" [ "$status" -ne 0 ]
check "naming it" [ "$(lines "^Cannot install g\+\+-mingw-w64-i686-posix from this machine's package archive: E: Unable to locate package g\+\+-mingw-w64-i686-posix$")" -eq 1 ]
check "before it looks at Wine" [ "$(calls '^apt-get .* install .*wine')" -eq 0 ]

echo "set-up: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
