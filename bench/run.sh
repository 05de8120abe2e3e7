#!/usr/bin/env bash
# Times whole merges side by side, on inputs it makes itself (and, where
# scripts/windows.sh has built it, the Windows program under Wine beside the
# Linux one):
#   ours   MergeFileCli (the window's engine), which syncs the image to disk
#   limit  cat of the inputs and the fill into one file, then sync of that file
#   peer   srec_cat from Debian's srecord package, then sync
# and, for the first layout as Intel HEX, ours against srec_cat -intel and
# objcopy -O ihex of the same image, and against the copy limit of a text of
# ours' size (cat of one made before, then sync). The "one pass" rows hold
# each path (record inputs, fields, record outputs) against the same merge
# without it, or against cat + sync of a text as long, and a file of a
# million scattered records against the same laid end to end, each with its
# aim; the same rows for the Windows build under Wine against Linux.
# Each is run RUNS times (default 9; srec_cat PEER_RUNS, default 3; the
# gigabyte layouts BIG_RUNS, default 3) with warm input caches, after a sync;
# medians are reported with the peak resident memory, and every output is
# checked to be the same bytes. Ours is also measured idle (--version), so that
# what the merge itself costs in memory shows.
set -euo pipefail
cd "$(dirname "$0")/.."

RUNS=${RUNS:-9}
PEER_RUNS=${PEER_RUNS:-3} # srec_cat takes seconds a run
BIG_RUNS=${BIG_RUNS:-3}
scripts/setup.sh time srecord bc
cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build build/bench -j"$(nproc)" >/dev/null
cli=$PWD/build/bench/cli/MergeFileCli

work=$(mktemp -d "${TMPDIR:-/tmp}/mergebench.XXXXXX")
trap 'rm -rf "$work"' EXIT
repo=$PWD
cd "$work"

MiB=$((1024 * 1024))
fill_file() { head -c "$2" /dev/zero | tr '\0' '\377' > "$1"; }
hex() { printf '0x%x' "$1"; }

# Runs "$@" once; prints wall seconds and peak memory in KiB.
measure() {
    local start end
    start=$EPOCHREALTIME
    /usr/bin/time -f '%M' -o mem.txt "$@" >/dev/null
    end=$EPOCHREALTIME
    echo "$(echo "$end - $start" | bc -l) $(cat mem.txt)"
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# time_runs CMD OUT RUNS: runs CMD RUNS times, each after removing OUT and a
# sync; sets t (median seconds), t_min, t_max and m (median peak KiB).
time_runs() {
    local times=() mems=() tt mm
    for _ in $(seq "$3"); do
        rm -f "$2"
        sync # the last run's write-back and deletion stay out of this one
        read -r tt mm < <(measure bash -c "$1")
        times+=("$tt") mems+=("$mm")
    done
    t=$(printf '%s\n' "${times[@]}" | median)
    t_min=$(printf '%s\n' "${times[@]}" | sort -g | head -1)
    t_max=$(printf '%s\n' "${times[@]}" | sort -g | tail -1)
    m=$(printf '%s\n' "${mems[@]}" | median)
}

# bench TITLE RUNS PEER_RUNS: runs the commands in ours_cmd, limit_cmd and peer_cmd, set by the caller.
bench() {
    local name=$1 label cmd runs t t_min t_max m labels=(ours limit)
    [ "$3" -gt 0 ] && labels+=(peer)
    printf '\n%s\n' "$name"
    printf '  %-6s %10s %8s %8s %12s\n' tool 'median s' 'min s' 'max s' 'peak MiB'
    for label in "${labels[@]}"; do
        cmd="${label}_cmd"
        runs=$2
        [ "$label" = peer ] && runs=$3
        time_runs "${!cmd}" "out_$label.bin" "$runs"
        printf '  %-6s %10.3f %8.3f %8.3f %12.1f\n' "$label" "$t" "$t_min" "$t_max" "$(echo "$m / 1024" | bc -l)"
        eval "${label}_time=$t; ${label}_mem=$m"
    done
    cmp out_ours.bin out_limit.bin
    [ "$3" -gt 0 ] && cmp out_ours.bin out_peer.bin
    local size
    size=$(stat -c %s out_ours.bin)
    printf '  image %d bytes (%.1f MiB), all outputs identical\n' "$size" "$(echo "$size / $MiB" | bc -l)"
    printf '  ours/limit %.2f   ours peak - ours idle %.1f MiB\n' \
        "$(echo "$ours_time / $limit_time" | bc -l)" "$(echo "($ours_mem - $idle_mem) / 1024" | bc -l)"
    [ "$3" -gt 0 ] && printf '  ours/peer %.3f (peer %.1fx slower)\n' \
        "$(echo "$ours_time / $peer_time" | bc -l)" "$(echo "$peer_time / $ours_time" | bc -l)"
    rm -f out_ours.bin out_limit.bin out_peer.bin
}

idle_mem=$(for _ in 1 2 3; do /usr/bin/time -f '%M' "$cli" --version 2>&1 >/dev/null; done | median)
printf 'MergeFileCli idle (--version): %.1f MiB peak\n' "$(echo "$idle_mem / 1024" | bc -l)"

echo "Making inputs in $work ..."
# Layout 1: eight 30 MiB files at 32 MiB steps from 0x1000: a 254 MiB image.
pairs=() cats=() srec=()
fill_file gap2.bin $((2 * MiB))
for i in 1 2 3 4 5 6 7 8; do
    head -c $((30 * MiB)) /dev/urandom > "part$i.bin"
    addr=$((0x1000 + (i - 1) * 32 * MiB))
    pairs+=("$(hex "$addr")" "part$i.bin")
    srec+=("part$i.bin" -binary -offset "$(hex "$addr")")
    cats+=("part$i.bin")
    [ "$i" -lt 8 ] && cats+=(gap2.bin)
done
end=$((0x1000 + 7 * 32 * MiB + 30 * MiB))
ours_cmd="$cli -o out_ours.bin ${pairs[*]}"
limit_cmd="cat ${cats[*]} > out_limit.bin && sync out_limit.bin"
peer_cmd="srec_cat '(' ${srec[*]} ')' -fill 0xFF 0x1000 $(hex "$end") -offset -0x1000 -o out_peer.bin -binary && sync out_peer.bin"
bench "eight 30 MiB files at 32 MiB steps (254 MiB image)" "$RUNS" "$PEER_RUNS"

# The same layout with the Windows program under Wine (32-bit, as built by
# scripts/windows.sh), next to the Linux build: the merge, and a dry run that
# works out the map's CRC-32 and SHA-256 of every file and of the image. Left
# out when the Windows program has not been built.
exe=$repo/build/win32/dist/MergeFileCli.exe
if [ -f "$exe" ] && command -v wine >/dev/null; then
    export WINEPREFIX=${WINEPREFIX:-${MERGEFILE_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/mergefile}/wine-win32}
    export WINEARCH=win32 WINEDEBUG=-all QEMU_CPU=${QEMU_CPU:-Nehalem}
    wineserver --persistent 2>/dev/null || true # one server for all the runs, as a desktop has
    wine "$exe" --version >/dev/null
    printf '\n%s\n' "the same layout, Linux build against the Windows build under Wine"
    printf '  %-22s %10s %8s %8s %12s\n' run 'median s' 'min s' 'max s' 'peak MiB'
    for label in linux_merge linux_map wine_merge wine_map; do
        case $label in
            linux_merge) cmd="$cli -o out_w.bin ${pairs[*]}" ;;
            linux_map) cmd="$cli --dry-run --map map.json -o out_w.bin ${pairs[*]}" ;;
            wine_merge) cmd="wine $exe -o out_w.bin ${pairs[*]}" ;;
            wine_map) cmd="wine $exe --dry-run --map map.json -o out_w.bin ${pairs[*]}" ;;
        esac
        time_runs "$cmd" out_w.bin "$RUNS"
        printf '  %-22s %10.3f %8.3f %8.3f %12.1f\n' "$label" "$t" "$t_min" "$t_max" "$(echo "$m / 1024" | bc -l)"
        eval "${label}_time=$t"
    done
    printf '  Wine/Linux: merge %.2fx (aim 2x), map %.2fx (aim 3x)\n' \
        "$(echo "$wine_merge_time / $linux_merge_time" | bc -l)" "$(echo "$wine_map_time / $linux_map_time" | bc -l)"
    wineserver --kill || true
    rm -f out_w.bin map.json
fi

# The same layout given as eight Intel HEX inputs (made here by srec_cat from
# the raw files), merged to bin: ours against srec_cat reading the same HEX
# files. The aim for ours is the raw merge above plus the time to read that
# much text (cat of the HEX files into /dev/null), times 1.5.
raw_time=$ours_time
hex_pairs=() hex_srec=()
for i in 1 2 3 4 5 6 7 8; do
    addr=$((0x1000 + (i - 1) * 32 * MiB))
    srec_cat "part$i.bin" -binary -offset "$(hex "$addr")" -o "part$i.hex" -intel -address-length=4
    hex_pairs+=(- "part$i.hex")
    hex_srec+=("part$i.hex" -intel)
done
read_text=$(for _ in 1 2 3; do
    start=$EPOCHREALTIME; cat part?.hex > /dev/null; echo "$EPOCHREALTIME - $start" | bc -l
done | median)
"$cli" -o image.bin "${pairs[@]}" >/dev/null
ours_cmd="$cli -o out_ours.bin ${hex_pairs[*]}"
limit_cmd="cat image.bin > out_limit.bin && sync out_limit.bin"
peer_cmd="srec_cat '(' ${hex_srec[*]} ')' -fill 0xFF 0x1000 $(hex "$end") -offset -0x1000 -o out_peer.bin -binary && sync out_peer.bin"
bench "the same layout from eight Intel HEX inputs ($(du -cm part?.hex | tail -1 | cut -f1) MiB of text)" "$RUNS" "$PEER_RUNS"
hex_time=$ours_time
printf '  reading the text: %.3f s; aim: ours within 1.5 x (raw merge %.3f s + text) = %.3f s: ours/aim %.2f\n' \
    "$read_text" "$raw_time" "$(echo "1.5 * ($raw_time + $read_text)" | bc -l)" \
    "$(echo "$hex_time / (1.5 * ($raw_time + $read_text))" | bc -l)"
rm -f image.bin

# One pass on every path: each row runs two commands in turn, RUNS times,
# each after a sync, and gives the ratio of their medians against its aim.
# ratio_row TITLE AIM CMD CMD_AGAINST
ratio_row() {
    local ta=() tb=() ma=() mb=() tt mm
    for _ in $(seq "$RUNS"); do
        for side in a b; do
            rm -f out_a out_a.* out_b out_b.*
            sync
            if [ "$side" = a ]; then read -r tt mm < <(measure bash -c "$3"); ta+=("$tt"); ma+=("$mm")
            else read -r tt mm < <(measure bash -c "$4"); tb+=("$tt"); mb+=("$mm"); fi
        done
    done
    row_a=$(printf '%s\n' "${ta[@]}" | median)
    row_b=$(printf '%s\n' "${tb[@]}" | median)
    row_mem=$(printf '%s\n' "${ma[@]}" | median)
    local ratio
    ratio=$(echo "$row_a / $row_b" | bc -l)
    printf '  %-60s %7.3f s %7.3f s %6.2fx  aim %sx %s\n' "$1" "$row_a" "$row_b" "$ratio" "$2" \
        "$( [ "$(echo "$ratio <= $2" | bc -l)" = 1 ] && echo met || echo 'NOT met')"
    rm -f out_a out_a.* out_b out_b.*
}
# A text as long as the file named, made once: what cat and sync of it cost.
text_like() { head -c "$(stat -c %s "$1")" /dev/zero | tr '\0' 'A' > "$2"; }

srec_pairs=()
for i in 1 2 3 4 5 6 7 8; do
    srec_cat "part$i.bin" -binary -offset "$(hex $((0x1000 + (i - 1) * 32 * MiB)))" -o "part$i.s37" -motorola -address-length=4
    srec_pairs+=(- "part$i.s37")
done
field_at=$(printf '%x' "$end")
text_formats=(hex srec ti-txt uf2)
for format in "${text_formats[@]}"; do
    "$cli" --format "$format" -o "text.$format" "${pairs[@]}" >/dev/null && text_like "text.$format" "text_$format.txt"
    rm -f "text.$format"
done
printf '\n%s\n' "one pass: the 254 MiB layout on every path (each row: ours, what it is held against, the ratio)"
ratio_row "HEX inputs to bin / the same from raw files" 1.3 "$cli -o out_a ${hex_pairs[*]}" "$cli -o out_b ${pairs[*]}"
ratio_row "S-record inputs to bin / the same from raw files" 1.3 "$cli -o out_a ${srec_pairs[*]}" "$cli -o out_b ${pairs[*]}"
for format in bin hex srec; do
    ratio_row "crc32 field over the whole image, $format / without it" 1.1 \
        "$cli --format $format --field crc32@$field_at -o out_a ${pairs[*]}" "$cli --format $format -o out_b ${pairs[*]}"
done
ratio_row "sha256 field over the whole image, bin / without it" 1.5 \
    "$cli --field sha256@$field_at -o out_a ${pairs[*]}" "$cli -o out_b ${pairs[*]}"
for format in "${text_formats[@]}"; do
    ratio_row "--format $format / cat + sync of an output as long" 1.5 \
        "$cli --format $format -o out_a ${pairs[*]}" "cat text_$format.txt > out_b && sync out_b"
done
# The same rows with the Windows program under Wine beside the Linux build:
# within 2x on each.
if [ -f "$exe" ] && command -v wine >/dev/null; then
    wineserver --persistent 2>/dev/null || true
    printf '\n%s\n' "one pass, the Windows build under Wine against the Linux build (aim 2x each)"
    ratio_row "HEX inputs to bin" 2 "wine $exe -o out_a ${hex_pairs[*]}" "$cli -o out_b ${hex_pairs[*]}"
    ratio_row "crc32 field over the whole image, bin" 2 \
        "wine $exe --field crc32@$field_at -o out_a ${pairs[*]}" "$cli --field crc32@$field_at -o out_b ${pairs[*]}"
    ratio_row "--format hex" 2 "wine $exe --format hex -o out_a ${pairs[*]}" "$cli --format hex -o out_b ${pairs[*]}"
    wineserver --kill || true
fi

# Looking at images: compare of two 254 MiB flat images against cmp of the
# same two (equal, and a copy with bytes changed around the first MiB's end,
# in the middle and at the last byte), with compare's peak memory; info of
# the image as one HEX file against a merge of that file.
"$cli" -o look_a.bin "${pairs[@]}" >/dev/null
cp look_a.bin look_same.bin
cp look_a.bin look_b.bin
size_look=$(stat -c %s look_a.bin)
for at in $((MiB - 1)) $MiB $((size_look / 2)) $((size_look - 1)); do
    printf '\x5a' | dd of=look_b.bin bs=1 seek="$at" conv=notrunc status=none
done
"$cli" --format hex -o look.hex "${pairs[@]}" >/dev/null
printf '\n%s\n' "looking at images: the 254 MiB layout"
# compare and cmp exit 1 for images that differ: that is the answer asked for.
# Their lists go to a file: cmp stops at the first difference when its output
# is /dev/null.
ratio_row "compare of two equal images / cmp of them" 1.5 \
    "$cli compare look_a.bin look_same.bin >/dev/null" "cmp look_a.bin look_same.bin"
compare_mem=$row_mem
ratio_row "compare of images that differ in 4 bytes / cmp -l of them" 1.5 \
    "$cli compare look_a.bin look_b.bin > out_a; test \$? = 1" "cmp -l look_a.bin look_b.bin > out_b; test \$? = 1"
printf '  compare peak memory %.1f MiB (equal images), %.1f MiB (differing)\n' \
    "$(echo "$compare_mem / 1024" | bc -l)" "$(echo "$row_mem / 1024" | bc -l)"
ratio_row "info of the image as one HEX file ($(du -m look.hex | cut -f1) MiB) / a merge of it" 1.0 \
    "$cli info look.hex >/dev/null" "$cli -o out_b - look.hex"
rm -f look_a.bin look_same.bin look_b.bin look.hex
rm -f part?.hex part?.s37 text_*.txt

# A million 16-byte records in one HEX file: at shuffled addresses 32 bytes
# apart (a million separate pieces), against the same laid end to end.
python3 - <<'PYTHON'
import random
def record(kind, offset, data):
    b = bytes([len(data), offset >> 8 & 255, offset & 255, kind]) + data
    return ':' + (b + bytes([-sum(b) & 255])).hex().upper() + '\n'
def make(name, count, scattered):
    order = list(range(count))
    if scattered:
        random.Random(1).shuffle(order)
    step, upper, out = 32 if scattered else 16, -1, []
    for i in order:
        address = 0x10000000 + i * step
        if address >> 16 != upper:
            upper = address >> 16
            out.append(record(4, 0, bytes([upper >> 8, upper & 255])))
        out.append(record(0, address & 0xFFFF, bytes((i * 7 + k) & 255 for k in range(16))))
    out.append(record(1, 0, b''))
    open(name, 'w').write(''.join(out))
make('scattered.hex', 1000000, True)
make('scattered100k.hex', 100000, True)
make('contiguous.hex', 1000000, False)
PYTHON
printf '\n%s\n' "many pieces: one HEX file of 1,000,000 16-byte records at shuffled addresses 32 bytes apart"
ratio_row "1,000,000 scattered 16-byte records / laid end to end" 5 \
    "$cli --base 10000000 -o out_a - scattered.hex" "$cli --base 10000000 -o out_b - contiguous.hex"
scattered_mem=$row_mem
contiguous_mem=$(for _ in 1 2 3; do /usr/bin/time -f '%M' "$cli" --base 10000000 -o out_b - contiguous.hex 2>&1 >/dev/null; done | median)
printf '  peak memory %.1f MiB (aim under 48); %.1f bytes for each separate segment, its 16 data bytes included (aim 32 at most)\n' \
    "$(echo "$scattered_mem / 1024" | bc -l)" "$(echo "($scattered_mem - $contiguous_mem) * 1024 / 1000000" | bc -l)"
if command -v strace >/dev/null; then
    strace -c -f -o strace.txt "$cli" --base 10000000 -o out_a - scattered100k.hex >/dev/null
    printf '  100,000 scattered pieces: %d system calls in all (aim under 5,000)\n' "$(awk '/total/ { print $4 }' strace.txt)"
fi
# An ELF of 10,000 loadable segments: opened once.
python3 - <<'PYTHON'
import struct
count = 10000
table, data = 52, 52 + 32 * count
head = b'\x7fELF' + bytes([1, 1, 1]) + bytes(9)
head += struct.pack('<HHIIIIIHHHHHH', 2, 3, 1, 0, table, 0, 0, 52, 32, count, 0, 0, 0)
entries = b''.join(struct.pack('<IIIIIIII', 1, data + 16 * i, 0x20000000 + 32 * i, 0x20000000 + 32 * i, 16, 16, 5, 4)
                   for i in range(count))
open('many.elf', 'wb').write(head + entries + bytes(range(256)) * (count // 16))
PYTHON
if command -v strace >/dev/null; then
    strace -f -e trace=openat -o opens.txt "$cli" --base 20000000 -o out_a - many.elf >/dev/null
    printf '  an ELF of 10,000 segments: opened %d time(s)\n' "$(grep -c 'many.elf' opens.txt)"
fi
if [ -f "$exe" ] && command -v wine >/dev/null; then
    wineserver --persistent 2>/dev/null || true
    ratio_row "1,000,000 scattered records, Windows under Wine / Linux" 2 \
        "wine $exe --base 10000000 -o out_a - scattered.hex" "$cli --base 10000000 -o out_b - scattered.hex"
    wineserver --kill || true
fi

# Scattered records whose data spans more than 64 MiB (the store's window):
# 2,400,000 32-byte records at shuffled addresses 40 bytes apart, against the
# same records laid in order.
python3 - <<'PYTHON'
import random
def record(kind, offset, data):
    b = bytes([len(data), offset >> 8 & 255, offset & 255, kind]) + data
    return ':' + (b + bytes([-sum(b) & 255])).hex().upper() + '\n'
def make(name, count, shuffled):
    order = list(range(count))
    if shuffled:
        random.Random(2).shuffle(order)
    upper, out = -1, []
    for i in order:
        address = 0x10000000 + i * 40
        if address >> 16 != upper:
            upper = address >> 16
            out.append(record(4, 0, bytes([upper >> 8, upper & 255])))
        out.append(record(0, address & 0xFFFF, bytes((i * 13 + k) & 255 for k in range(32))))
    out.append(record(1, 0, b''))
    open(name, 'w').write(''.join(out))
make('wide_shuffled.hex', 2400000, True)
make('wide_ordered.hex', 2400000, False)
PYTHON
ratio_row "2,400,000 shuffled 32-byte records over 96 MB / in order" 5 \
    "$cli --base 10000000 -o out_a - wide_shuffled.hex" "$cli --base 10000000 -o out_b - wide_ordered.hex"
rm -f wide_shuffled.hex wide_ordered.hex
rm -f out_a strace.txt opens.txt scattered100k.hex scattered.hex contiguous.hex many.elf

# The same layout as Intel HEX: ours straight from the files (gaps left out),
# srec_cat and objcopy from the flat image; each output is read back by
# srec_cat and must give the flat image again (gaps filled with 0xFF).
"$cli" -o image.bin "${pairs[@]}" >/dev/null
"$cli" --format hex -o made.hex "${pairs[@]}" >/dev/null
bench_hex() {
    local label cmd runs t t_min t_max m
    printf '\n%s\n' "the same layout as Intel HEX"
    printf '  %-7s %10s %8s %8s %12s %10s\n' tool 'median s' 'min s' 'max s' 'peak MiB' 'output MiB'
    for label in ours copy srec objcopy; do
        cmd="${label}_hex_cmd"
        runs=$RUNS
        [ "$label" = ours ] || [ "$label" = copy ] || runs=$PEER_RUNS
        time_runs "${!cmd}" "out_$label.hex" "$runs"
        printf '  %-7s %10.3f %8.3f %8.3f %12.1f %10.1f\n' "$label" "$t" "$t_min" "$t_max" \
            "$(echo "$m / 1024" | bc -l)" "$(echo "$(stat -c %s "out_$label.hex") / $MiB" | bc -l)"
        eval "${label}_hex_time=$t"
        srec_cat "out_$label.hex" -intel -fill 0xFF 0x1000 "$(hex "$end")" -offset -0x1000 -o back.bin -binary
        cmp back.bin image.bin
    done
    printf '  all read back to the same image\n'
    printf '  ours/copy %.2f   srec_cat/ours %.1fx   objcopy/ours %.1fx\n' \
        "$(echo "$ours_hex_time / $copy_hex_time" | bc -l)" \
        "$(echo "$srec_hex_time / $ours_hex_time" | bc -l)" "$(echo "$objcopy_hex_time / $ours_hex_time" | bc -l)"
    rm -f out_*.hex back.bin made.hex
}
ours_hex_cmd="$cli --format hex -o out_ours.hex ${pairs[*]}"
copy_hex_cmd="cat made.hex > out_copy.hex && sync out_copy.hex"
srec_hex_cmd="srec_cat image.bin -binary -offset 0x1000 -o out_srec.hex -intel && sync out_srec.hex"
objcopy_hex_cmd="objcopy -I binary -O ihex --change-addresses 0x1000 image.bin out_objcopy.hex && sync out_objcopy.hex"
bench_hex
rm -f image.bin

# Layout 2: two 64 KiB files with a 512 MiB gap between them.
head -c $((64 * 1024)) /dev/urandom > small1.bin
head -c $((64 * 1024)) /dev/urandom > small2.bin
fill_file gap512.bin $((512 * MiB))
second=$((0x1000 + 64 * 1024 + 512 * MiB))
end=$((second + 64 * 1024))
ours_cmd="$cli -o out_ours.bin 0x1000 small1.bin $(hex "$second") small2.bin"
limit_cmd="cat small1.bin gap512.bin small2.bin > out_limit.bin && sync out_limit.bin"
peer_cmd="srec_cat '(' small1.bin -binary -offset 0x1000 small2.bin -binary -offset $(hex "$second") ')' -fill 0xFF 0x1000 $(hex "$end") -offset -0x1000 -o out_peer.bin -binary && sync out_peer.bin"
bench "two 64 KiB files with a 512 MiB gap" "$RUNS" "$PEER_RUNS"
rm -f gap512.bin

# Layout 3: 64 KiB at 0x1000 and 64 KiB at 0x7FFF0000: a 2 GiB image, nearly all fill.
top=0x7FFF0000
fill_file gap2g.bin $((top - 0x1000 - 64 * 1024))
ours_cmd="$cli -o out_ours.bin 0x1000 small1.bin $top small2.bin"
limit_cmd="cat small1.bin gap2g.bin small2.bin > out_limit.bin && sync out_limit.bin"
bench "64 KiB at 0x1000 and 64 KiB at 0x7FFF0000 (2 GiB image)" "$BIG_RUNS" 0

# Layout 4: the same, but the last file is a sparse 2 GiB: a 4 GiB image.
truncate -s 2G sparse2g.bin
ours_cmd="$cli -o out_ours.bin 0x1000 small1.bin $top sparse2g.bin"
limit_cmd="cat small1.bin gap2g.bin sparse2g.bin > out_limit.bin && sync out_limit.bin"
bench "64 KiB at 0x1000 and a sparse 2 GiB file at 0x7FFF0000 (4 GiB image)" "$BIG_RUNS" 0
