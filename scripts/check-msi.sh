#!/usr/bin/env bash
# What a Windows user gets from the installer, tried under 32-bit Wine in a
# copy of the project's Wine prefix (thrown away after): installed quietly,
# both programs under Program Files with a Start menu entry and an entry in the
# uninstall list; MergeFileCli.exe merges; the window, started and closed as a
# user closes it, keeps its rows in %LOCALAPPDATA%\MergeFile, not beside
# itself; uninstalled, nothing of it is left but the user's rows.
#   scripts/check-msi.sh X.msi      (after scripts/windows.sh has made the prefix)
set -euo pipefail
msi=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
export MERGEFILE_CACHE=${MERGEFILE_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/mergefile}
work=$(mktemp -d)
export WINEPREFIX=$work/prefix WINEARCH=win32 WINEDEBUG=-all QEMU_CPU=${QEMU_CPU:-Nehalem}
cleanup() {
    wineserver --kill 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
cp -a "$MERGEFILE_CACHE/wine-win32" "$WINEPREFIX"
fail() { echo "check-msi: $*" >&2; exit 1; }

folder="$WINEPREFIX/drive_c/Program Files/Varn Merge File Tool"
windows_folder='C:\Program Files\Varn Merge File Tool'
product=$(msiinfo export "$msi" Property | sed -n 's/^ProductCode\t\(.*\)\r\?$/\1/p' | tr -d '\r')
[ -n "$product" ] || fail "no ProductCode in $msi"
uninstall_key="HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$product"
menu() { find "$WINEPREFIX/drive_c" -path '*Start Menu/Programs/Varn Merge File Tool*' -name '*.lnk'; }

wine msiexec /i "$msi" /qn || fail "msiexec /i failed"
for file in MergeFile.exe MergeFileCli.exe LICENSE.txt README.txt; do
    [ -f "$folder/$file" ] || fail "not installed: $file"
done
[ "$(menu | wc -l)" -eq 2 ] || fail "the Start menu entries are not there: $(menu)"
wine reg query "$uninstall_key" /v DisplayName | grep -q 'Varn Merge File Tool' \
    || fail "no entry in the uninstall list"
echo "Installed: $(ls "$folder" | tr '\n' ' ')and $(menu | wc -l) Start menu entries"

# The installed MergeFileCli.exe merges.
(cd "$work" && printf 'BOOT' > boot.bin && printf 'APP' > app.bin &&
    wine "$windows_folder\\MergeFileCli.exe" -o image.bin 1000 boot.bin 1008 app.bin >/dev/null) \
    || fail "the installed MergeFileCli.exe did not merge"
[ "$(od -An -tx1 "$work/image.bin" | tr -d ' \n')" = "424f4f54ffffffff415050" ] || fail "the merged image is wrong"

# The window: started, closed as a user closes it (a close message to its
# window), its rows then in the user's own folder.
wine "$windows_folder\\MergeFile.exe" >/dev/null 2>&1 &
gui=$!
for _ in $(seq 60); do
    sleep 1
    wine taskkill /im MergeFile.exe >/dev/null 2>&1 || true
    kill -0 "$gui" 2>/dev/null || break
done
if kill -0 "$gui" 2>/dev/null; then
    kill "$gui"
    fail "the window did not close"
fi
wait "$gui" || fail "the window ended with status $?"
rows=$(find "$WINEPREFIX/drive_c/users" -path '*/AppData/Local/MergeFile/MergeTool.ini')
[ -n "$rows" ] || fail "the window kept no rows in %LOCALAPPDATA%\\MergeFile"
[ ! -e "$folder/cfg" ] || fail "the window wrote into Program Files"
echo "The window kept its rows in ${rows#"$WINEPREFIX/"}"

wine msiexec /x "$msi" /qn || fail "msiexec /x failed"
wineserver --wait
[ ! -e "$folder" ] || fail "left in Program Files: $(ls -A "$folder")"
[ -z "$(menu)" ] || fail "Start menu entries left: $(menu)"
! wine reg query "$uninstall_key" >/dev/null 2>&1 || fail "the uninstall list still has it"
[ -f "$rows" ] || fail "the user's rows went with the program"
echo "Uninstalled: nothing left but the user's rows."
