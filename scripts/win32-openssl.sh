#!/usr/bin/env bash
# Builds OpenSSL's libcrypto for 32-bit Windows, static, from Debian's own
# source package (with its patches, security fixes among them), once, into a
# cache folder outside the repository; prints its prefix. Keyed like Qt's:
# the version, the options and the compiler.
# Needs the mingw-w64 cross compiler (scripts/windows.sh installs it).
set -euo pipefail

cache=${MERGEFILE_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/mergefile}
jobs=${JOBS:-$(nproc)}
options=(mingw no-shared no-tests --cross-compile-prefix=i686-w64-mingw32-)
# Debian's pic.patch forces ELF position-independent code into the x86
# assembly, which the Windows (PE/COFF) assembler refuses; every other patch
# of the package is applied.
skipped=(pic.patch)

mkdir -p "$cache/src"
sources=$cache/src
if ! ls "$sources"/openssl_3.*.dsc >/dev/null 2>&1; then
    . "$(dirname "$0")/apt.sh"
    if ! grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ && ! grep -qs '^deb-src' /etc/apt/sources.list; then
        add_debian_source mergefile-debian-src.sources deb-src bookworm >&2
        apt_get update >&2
    fi
    (cd "$sources" && apt-get source --download-only openssl >&2)
fi
dsc=$(ls "$sources"/openssl_3.*.dsc | sort -V | tail -1)
version=$(basename "$dsc" .dsc)
version=${version#openssl_}

key=$( (printf '%s\n' "$version" "${options[@]}" "${skipped[@]}"; i686-w64-mingw32-gcc --version | head -1) | sha256sum | cut -c1-12)
prefix=$cache/openssl-${version%%-*}-win32-static-$key
if [ -f "$prefix/.complete" ]; then
    echo "$prefix"
    exit 0
fi

echo "Building OpenSSL $version for win32 into $prefix (once; about 2 minutes on 2 cores)" >&2
work=$cache/build-openssl-$key
rm -rf "$work" "$prefix"
mkdir -p "$work"
dpkg-source --no-check --skip-patches -x "$dsc" "$work/src" >&2
cd "$work/src"
while read -r patch; do
    case "$patch" in ''|'#'*) continue ;; esac
    for skip in "${skipped[@]}"; do [ "$patch" = "$skip" ] && continue 2; done
    patch -p1 --quiet < "debian/patches/$patch" >&2
done < debian/patches/series
start=$SECONDS
./Configure "${options[@]}" --prefix="$prefix" --libdir=lib >&2
make -j"$jobs" build_libs >&2
make install_dev >&2
echo "OpenSSL built in $(( SECONDS - start )) s" >&2
touch "$prefix/.complete"
cd "$cache"
rm -rf "$work"
echo "$prefix"
