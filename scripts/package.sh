#!/usr/bin/env bash
# Builds the Debian package mergefile_<version>-1_<arch>.deb (Qt 6) with CPack
# from the same install rules as "cmake --install", checks it with lintian,
# unpacks it into a throw-away root and runs both programs from there.
# With --install it also installs it into this machine with apt, which brings
# in what it depends on, and runs the installed copies (CI does this).
set -euo pipefail
cd "$(dirname "$0")/.."

install=false
[ "${1:-}" = --install ] && install=true

scripts/setup.sh dpkg-dev lintian desktop-file-utils file devscripts appstream binutils
build=build/package
# Built as Debian builds its packages: the compiler and linker flags from
# dpkg-buildflags with every hardening on. Fortify at level 3: at level 2,
# gcc 12 finds no call in this program to fortify.
eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all DEB_CPPFLAGS_MAINT_STRIP=-D_FORTIFY_SOURCE=2 \
        DEB_CPPFLAGS_MAINT_APPEND=-D_FORTIFY_SOURCE=3 dpkg-buildflags --export=sh)"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DMERGEFILE_QT_MAJOR=6 -DBUILD_TESTING=OFF \
      -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_CXX_FLAGS="$CPPFLAGS $CXXFLAGS" \
      -DCMAKE_EXE_LINKER_FLAGS="$LDFLAGS"
cmake --build "$build" -j"$(nproc)"
rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB)
deb=$(ls "$build"/mergefile_*.deb)
echo "Package: $deb"
dpkg-deb --field "$deb" Package Version Section Depends
# The long description as apt shows it: continuation lines as they were
# written, not joined with ';'.
if dpkg-deb --field "$deb" Description | grep -q '^ ;'; then
    echo "The package's description is garbled:" >&2
    dpkg-deb --field "$deb" Description >&2
    exit 1
fi

# lintian's errors and warnings fail the build; its notes are shown.
lintian --fail-on error,warning --info "$deb"

# Run from a throw-away root: the programs, the desktop entry, the icon, the
# manual page.
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
for f in usr/bin/MergeFile usr/bin/MergeFileCli usr/share/applications/mergefile.desktop \
         usr/share/icons/hicolor/256x256/apps/mergefile.png usr/share/icons/hicolor/scalable/apps/mergefile.svg \
         usr/share/man/man1/MergeFileCli.1.gz usr/share/doc/mergefile/copyright \
         usr/share/doc/mergefile/README.md.gz usr/share/doc/mergefile/changelog.gz \
         usr/share/lintian/overrides/mergefile; do
    [ -e "$root/$f" ] || { echo "The package lacks /$f" >&2; exit 1; }
done
desktop-file-validate "$root/usr/share/applications/mergefile.desktop"
appstreamcli validate --no-net "$root"/usr/share/metainfo/*.metainfo.xml
# Fortified, read-only relocations bound at start, stack protector, PIE.
# Not control flow marks: Debian 12's C start files carry none, so no program
# linked there has them (its own /usr/bin/ls fails that check too).
hardening-check --nocfprotection "$root/usr/bin/MergeFile" "$root/usr/bin/MergeFileCli"
for program in MergeFile MergeFileCli; do
    if readelf -S "$root/usr/bin/$program" | grep -q '\.comment'; then
        echo "/usr/bin/$program keeps its .comment section" >&2
        exit 1
    fi
done

smoke() { # $1: the folder the programs are in
    local work
    work=$(mktemp -d)
    printf 'BOOT' > "$work/boot.bin"
    printf 'APP' > "$work/app.bin"
    "$1/MergeFileCli" --version
    "$1/MergeFileCli" -o "$work/image.bin" 1000 "$work/boot.bin" 1008 "$work/app.bin"
    [ "$(od -An -tx1 "$work/image.bin" | tr -d ' \n')" = "424f4f54ffffffff415050" ] \
        || { echo "the merged image is wrong" >&2; exit 1; }
    # The window starts (headless) and stays up until it is closed.
    (cd "$work" && QT_QPA_PLATFORM=offscreen timeout 3 "$1/MergeFile" || [ $? -eq 124 ])
    rm -rf "$work"
}
smoke "$root/usr/bin"

if $install; then
    . scripts/apt.sh
    apt_get install -y --no-install-recommends "./$deb"
    smoke /usr/bin
    man -w MergeFileCli >/dev/null
    echo "Installed $(dpkg-query -W -f='${Package} ${Version}' mergefile) into this machine."
fi
echo "Package checked: $deb"
