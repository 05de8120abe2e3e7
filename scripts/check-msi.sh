#!/usr/bin/env bash
# What a Windows user gets from the installer. First what the file itself
# says, read with msitools: the product's names and codes, the folder under
# Program Files, the four files (extracted, the same bytes as those beside the
# installer) and the two Start menu entries. Then, tried under 32-bit Wine in a
# copy of the project's Wine prefix (thrown away after): installed quietly,
# both programs under Program Files with a Start menu entry and an entry in the
# uninstall list; MergeFileCli.exe merges; the window, started and closed as a
# user closes it, keeps its rows in %LOCALAPPDATA%\MergeFile, not beside
# itself; uninstalled, nothing of it is left but the user's rows.
#   scripts/check-msi.sh [--no-wine] X.msi   (the Wine part after scripts/windows.sh
#                                             has made the prefix; --no-wine: the file only)
set -euo pipefail
wine=true
if [ "${1:-}" = --no-wine ]; then
    wine=false
    shift
fi
msi=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
export MERGEFILE_CACHE=${MERGEFILE_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/mergefile}
work=$(mktemp -d)
export WINEPREFIX=$work/prefix WINEARCH=win32 WINEDEBUG=-all QEMU_CPU=${QEMU_CPU:-Nehalem}
cleanup() {
    if $wine; then wineserver --kill 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "check-msi: $*" >&2; exit 1; }

# One table's rows, tab-separated (msiinfo writes three header lines and
# Windows line ends).
table() { msiinfo export "$msi" "$1" | tr -d '\r' | tail -n +4; }
# A Property row's value.
property() { table Property | awk -F'\t' -v name="$1" '$1 == name { print $2 }'; }
# A long name as Windows shows it ("SHORT~1|Long name" keeps both).
long_name() { sed 's/^[^|]*|//'; }

name='Varn Merge File Tool'
[ "$(property ProductName)" = "$name" ] || fail "the product is called '$(property ProductName)'"
product=$(property ProductCode)
[[ $product =~ ^\{[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\}$ ]] || fail "no ProductCode in $msi"
# The same for every version, so that a newer one replaces an older one.
[ "$(property UpgradeCode)" = '{AAD5E4A0-AF0B-48F8-9D03-7BB1DF8E3829}' ] \
    || fail "the UpgradeCode is $(property UpgradeCode)"
# Windows Installer compares three numbers, the first two at most 255.
[[ $(property ProductVersion) =~ ^([0-9]{1,3})\.([0-9]{1,3})\.[0-9]{1,5}$ ]] &&
    [ "${BASH_REMATCH[1]}" -le 255 ] && [ "${BASH_REMATCH[2]}" -le 255 ] \
    || fail "ProductVersion '$(property ProductVersion)' is no Windows Installer version"
[ "$(table Directory | awk -F'\t' '$1 == "INSTALLDIR" { print $2 }')" = ProgramFilesFolder ] \
    || fail "the program's folder is not under Program Files"
[ "$(table Directory | awk -F'\t' '$1 == "INSTALLDIR" { print $3 }' | long_name)" = "$name" ] \
    || fail "the program's folder is not called '$name'"
files=$(table File | cut -f3 | long_name | sort | paste -sd' ')
[ "$files" = "LICENSE.txt MergeFile.exe MergeFileCli.exe README.txt" ] || fail "the installer holds: $files"
shortcuts=$(table Shortcut | awk -F'\t' '{ print $2 "|" $5 }' | sort | paste -sd' ')
[ "$shortcuts" = "MenuFolder|[INSTALLDIR]LICENSE.txt MenuFolder|[INSTALLDIR]MergeFile.exe" ] \
    || fail "the Start menu entries are: $shortcuts"
# The files in its cabinet are those it was built from, where they are beside it.
msiextract -C "$work/extracted" "$msi" >/dev/null
for file in MergeFile.exe MergeFileCli.exe LICENSE.txt README.txt; do
    [ -f "$work/extracted/Program Files/$name/$file" ] || fail "$file is not in the installer's cabinet"
    [ ! -f "$(dirname "$msi")/$file" ] || cmp -s "$(dirname "$msi")/$file" "$work/extracted/Program Files/$name/$file" \
        || fail "the installer's $file differs from $(dirname "$msi")/$file"
done
echo "The installer's tables: $name $(property ProductVersion), $files, 2 Start menu entries"
$wine || exit 0

cp -a "$MERGEFILE_CACHE/wine-win32" "$WINEPREFIX"
folder="$WINEPREFIX/drive_c/Program Files/$name"
windows_folder="C:\\Program Files\\$name"
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
