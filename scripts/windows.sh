#!/usr/bin/env bash
# Installs what is missing, builds MergeFile.exe and MergeFileCli.exe for 32-bit Windows
# (statically linked against Qt 5.15 and OpenSSL's libcrypto, which it builds once each from
# Debian's source packages),
# runs the whole test suite's Windows build under Wine, headless, and leaves the two
# programs, a zip of them and an installer (tried under Wine: installed, run,
# removed) in one folder, which it prints at the end.
# Where this machine's package archive cannot give Wine, it still builds all of
# that and runs the checks that need no Wine, says in one line that the tests
# under Wine did not run and why, and exits 0 if those checks passed.
#   scripts/windows.sh [--setup-only]   (--setup-only: install the packages and stop)
set -euo pipefail
cd "$(dirname "$0")/.."

. scripts/apt.sh
export MERGEFILE_CACHE=${MERGEFILE_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/mergefile}
build=${BUILD_DIR:-build/win32}
jobs=$(nproc)
start=$SECONDS

# Wine's 32-bit half is an i386 package.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $apt_sudo dpkg --add-architecture i386
    apt_get update
fi
scripts/setup.sh g++-mingw-w64-i686-posix mingw-w64-i686-dev dpkg-dev xz-utils zip srecord wixl msitools
# The engine's std::thread needs the POSIX thread model.
for tool in gcc g++; do
    $apt_sudo update-alternatives --set i686-w64-mingw32-$tool /usr/bin/i686-w64-mingw32-$tool-posix >/dev/null
done
# Wine on its own: its i386 half may lag the amd64 one in the archive (the
# libraries are then taken from the pool), and where it cannot be had at all
# the build goes on without the tests that need it. wine_answer: the
# archive's answer that stopped it.
wine_answer=""
wine_missing=$(apt_missing wine wine32 wine64 fonts-wine)
if [ -n "$wine_missing" ]; then
    apt_get update
    # shellcheck disable=SC2086 # one package a word
    apt_install_matching_i386 $wine_missing || wine_answer="Wine cannot be installed: $apt_answer"
fi
if [ "${1:-}" = --setup-only ]; then
    [ -z "$wine_answer" ] || echo "$wine_answer"
    exit 0
fi

# Some kernels (virtual machines among them) run no 32-bit programs at all, so
# 32-bit Wine cannot start. There, qemu-user from Debian's backports runs them,
# registered with binfmt_misc; the older qemu of bookworm itself is too slow
# with Wine (a minute per program start) to be of use.
if [ -z "$wine_answer" ] && ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
    echo "This kernel does not run 32-bit programs: running them through qemu-user."
    if [ ! -x /usr/bin/qemu-i386 ] || ! /usr/bin/qemu-i386 --version | grep -qE 'version ([89]|[1-9][0-9])\.'; then
        if ! grep -rqs 'bookworm-backports' "$apt_etc/sources.list" "$apt_etc/sources.list.d/"; then
            add_debian_source mergefile-backports.sources deb bookworm-backports
        fi
        apt_get update
        apt_get install -y --no-install-recommends -t bookworm-backports qemu-user ||
            wine_answer="qemu-user, which runs 32-bit Wine on this kernel, cannot be installed: $apt_answer"
    fi
fi
if [ -z "$wine_answer" ] && ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
    binfmt=/proc/sys/fs/binfmt_misc
    [ -e "$binfmt/register" ] || $apt_sudo mount -t binfmt_misc binfmt_misc "$binfmt"
    if [ ! -e "$binfmt/mergefile-i386" ]; then
        # Any 32-bit x86 ELF program; F: the interpreter is opened now, so it also
        # works inside other mount namespaces.
        printf '%s' ':mergefile-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386:F' \
            | $apt_sudo tee "$binfmt/register" >/dev/null
    fi
    /usr/lib/wine/wine --version >/dev/null
fi

qt=$(scripts/win32-qt.sh)
echo "Qt for Windows: $qt"
openssl=$(scripts/win32-openssl.sh)
echo "OpenSSL for Windows: $openssl"

# Both prefixes are searched under the toolchain's find roots.
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-i686.cmake" -DCMAKE_PREFIX_PATH="$qt;$openssl" \
      -DCMAKE_BUILD_TYPE=Release -DMERGEFILE_QT_MAJOR=5 -DMERGEFILE_USE_OPENSSL=ON -DOPENSSL_USE_STATIC_LIBS=TRUE \
      -DMERGEFILE_WERROR=ON
cmake --build "$build" -j"$jobs"

status=0
if [ -z "$wine_answer" ]; then
    # A 32-bit Wine prefix of our own, made once.
    export WINEPREFIX=$MERGEFILE_CACHE/wine-win32 WINEARCH=win32 WINEDEBUG=-all QEMU_CPU=${QEMU_CPU:-Nehalem}
    if [ ! -f "$WINEPREFIX/.mergefile-ready" ]; then
        echo "Making the Wine prefix $WINEPREFIX"
        rm -rf "$WINEPREFIX"
        wineboot --init >/dev/null 2>&1
        # Windows without a display: the window tests draw offscreen, but Windows
        # itself still makes a few hidden windows.
        wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
        wineserver --wait
        touch "$WINEPREFIX/.mergefile-ready"
    fi
    # One server and one set of Wine's own services for all the tests, started here
    # with nothing of CTest's: a service started by a test would inherit the test's
    # output pipe and hold CTest up until the server ends.
    wineserver --kill 2>/dev/null || true
    wineserver --persistent
    wine cmd.exe /c exit 0 </dev/null >/dev/null 2>&1
    (cd "$build" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$jobs") || status=1
    wineserver --kill || true
else
    # Without Wine: the tests that read the programs and the sources (linking,
    # subsystem, icon, manifest, resources), not those that run a program.
    no_wine_tests=$(cd "$build" && ctest --show-only=json-v1 | python3 -c '
import json, sys
tests = json.load(sys.stdin)["tests"]
print("|".join(t["name"] for t in tests if not any("wine-run.sh" in part for part in t.get("command", []))))')
    echo "Without Wine, only these tests: ${no_wine_tests//|/ }"
    (cd "$build" && ctest --output-on-failure -j"$jobs" --no-tests=error -R "^($no_wine_tests)\$") || status=1
fi

dist=$build/dist
rm -rf "$dist"
mkdir -p "$dist"
cp "$build/MergeFile/MergeFile.exe" "$build/cli/MergeFileCli.exe" "$dist/"
i686-w64-mingw32-strip "$dist/MergeFile.exe" "$dist/MergeFileCli.exe"
cp "$build/packaging/README.txt" "$dist/README.txt"
cat packaging/windows-license.txt LICENSE > "$dist/LICENSE.txt"
version=$(cat "$build/packaging/version.txt")
(cd "$dist" && zip -q -X "MergeFile-$version-win32.zip" MergeFile.exe MergeFileCli.exe README.txt LICENSE.txt)
# The installer, of the same four files (wixl takes its sources relative to
# the folder it runs in).
cp MergeFile/images/MainWnd.ico "$dist/"
product_version=$(cat "$build/packaging/product-version.txt")
wxs=$PWD/packaging/mergefile.wxs
(cd "$dist" && wixl -a x86 -D Version="$product_version" -D Dist=. -D Icon=MainWnd.ico \
                    -o "MergeFile-$version-win32.msi" "$wxs")
rm "$dist/MainWnd.ico"
if [ -z "$wine_answer" ]; then
    scripts/check-msi.sh "$dist/MergeFile-$version-win32.msi" || status=1
else
    scripts/check-msi.sh --no-wine "$dist/MergeFile-$version-win32.msi" || status=1
fi
echo "Windows build and tests took $(( (SECONDS - start) / 60 )) min $(( (SECONDS - start) % 60 )) s."
echo "Programs, zip and installer: $(cd "$dist" && pwd)"
if [ "$status" -ne 0 ]; then
    echo "Some Windows tests FAILED."
elif [ -n "$wine_answer" ]; then
    echo "The Windows tests under Wine did NOT run, the checks without Wine passed. $wine_answer"
else
    echo "All Windows tests passed."
fi
exit "$status"
