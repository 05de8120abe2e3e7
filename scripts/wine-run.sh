#!/usr/bin/env bash
# Runs one Windows program under 32-bit Wine, as CTest's emulator: a prefix of the
# project's own (made by scripts/windows.sh), and none of Wine's debug chatter.
export WINEPREFIX=${WINEPREFIX:-${MERGEFILE_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/mergefile}/wine-win32}
export WINEARCH=win32
export WINEDEBUG=${WINEDEBUG:--all}
# Where qemu-user runs 32-bit programs (see scripts/windows.sh), its emulated CPU
# offers AVX2 but lacks some of its instructions, which Qt's drawing code then
# uses: a CPU model without AVX keeps Qt on its SSE paths.
export QEMU_CPU=${QEMU_CPU:-Nehalem}
# Headless Qt finds no fonts of its own on Windows: Wine's are the nearest.
if [ -z "${QT_QPA_FONTDIR:-}" ] && [ -d /usr/share/wine/fonts ]; then
    export QT_QPA_FONTDIR='Z:\usr\share\wine\fonts'
fi
# Wine hands no QT_ variable to a Windows program unless it is spelled WINEQT_.
for name in $(compgen -e | grep '^QT_' || true); do
    export "WINE$name=${!name}"
done
exec wine "$@"
