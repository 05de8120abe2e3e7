#!/usr/bin/env bash
# Builds Qt 5.15 for 32-bit Windows, static and release, from Debian's own source
# package, once, into a cache folder outside the repository; prints its prefix.
# The cache is keyed by the Qt version, the configure options and the compiler,
# so a change to any of them builds a fresh copy beside the old one.
# Needs the mingw-w64 cross compiler (scripts/windows.sh installs it).
set -euo pipefail

cache=${MERGEFILE_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/mergefile}
jobs=${JOBS:-$(nproc)}

options=(-xplatform win32-g++ -device-option CROSS_COMPILE=i686-w64-mingw32-
         -static -static-runtime -release -opensource -confirm-license
         -nomake examples -nomake tests -no-opengl -no-dbus -no-icu
         -no-sql-sqlite -no-sql-odbc -no-openssl -no-feature-tabletevent
         -qt-zlib -qt-pcre -qt-libpng -qt-libjpeg -qt-freetype -qt-harfbuzz -no-fontconfig)

mkdir -p "$cache/src"
sources=$cache/src
# Debian's source package: the deb-src entry is ours, in a file of its own.
if ! ls "$sources"/qtbase-opensource-src_5.15.*.dsc >/dev/null 2>&1; then
    . "$(dirname "$0")/apt.sh"
    if ! grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ && ! grep -qs '^deb-src' /etc/apt/sources.list; then
        add_debian_source mergefile-debian-src.sources deb-src bookworm >&2
        apt_get update >&2
    fi
    (cd "$sources" && apt-get source --download-only qtbase-opensource-src >&2)
fi
dsc=$(ls "$sources"/qtbase-opensource-src_5.15.*.dsc | sort -V | tail -1)
version=$(basename "$dsc" .dsc)
version=${version#qtbase-opensource-src_}

key=$( (printf '%s\n' "$version" "${options[@]}"; i686-w64-mingw32-g++ --version | head -1) | sha256sum | cut -c1-12)
prefix=$cache/qt-${version%%+*}-win32-static-$key
if [ -f "$prefix/.complete" ]; then
    echo "$prefix"
    exit 0
fi

echo "Building Qt $version for win32 into $prefix (once; about 20 minutes on 2 cores)" >&2
work=$cache/build-$key
rm -rf "$work" "$prefix"
mkdir -p "$work"
# dpkg-source applies Debian's patches, its security fixes among them.
dpkg-source --no-check -x "$dsc" "$work/src" >&2
mkdir -p "$work/build"
cd "$work/build"
start=$SECONDS
../src/configure -prefix "$prefix" "${options[@]}" >&2
make -j"$jobs" >&2
make install >&2
echo "Qt built in $(( (SECONDS - start) / 60 )) min" >&2
touch "$prefix/.complete"
cd "$cache"
rm -rf "$work"
echo "$prefix"
