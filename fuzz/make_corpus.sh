#!/usr/bin/env bash
# Makes the fuzz targets' seed corpora from small files of the kinds the
# tests make: Intel HEX and S-records by srec_cat and objcopy, ELF by ld, the
# window's settings file, command lines and field spellings. The results are
# kept in fuzz/corpus/; run this again only to change them.
set -euo pipefail
cd "$(dirname "$0")"
rm -rf corpus
mkdir -p corpus/{reader_hex,reader_srec,reader_elf,reader_uf2,reader_ti-txt,layout,merge,settings,options,spelling}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(
    cd "$work"
    head -c 40 /dev/zero | tr '\0' 'a' > a.bin
    printf '\001\002\003\004\005\006\007\010\011\012' > b.bin
    srec_cat a.bin -binary -offset 0x08000000 -o lin.hex -intel -address-length=4 -obs=16
    srec_cat b.bin -binary -offset 0x12340 -o seg.hex -intel -address-length=3
    srec_cat a.bin -binary -offset 0x100 -o small.hex -intel -address-length=2 -execution-start-address=0x104
    srec_cat b.bin -binary -offset 0x4000 -o s1.s19 -motorola -address-length=2
    srec_cat b.bin -binary -offset 0x123450 -o s2.s28 -motorola -address-length=3
    srec_cat a.bin -binary -offset 0x9D000000 -o s3.s37 -motorola -address-length=4 -execution-start-address=0x9D000010
    printf 'SECTIONS {\n .text 0x08000000 : { a.o(.data) }\n .data 0x20000000 : AT(0x08000400) { b.o(.data) }\n .bss (NOLOAD) : { . = . + 0x10; }\n}\n' > e.ld
    ld -r -b binary a.bin -o a.o
    ld -r -b binary b.bin -o b.o
    ld -n -T e.ld a.o b.o -o e64.elf
    ld -m elf_i386 -r -b binary a.bin -o a.o
    ld -m elf_i386 -r -b binary b.bin -o b.o
    ld -n -m elf_i386 -T e.ld a.o b.o -o e32.elf
    strip -s e64.elf e32.elf 2>/dev/null || true
    srec_cat a.bin -binary -offset 0x1100 b.bin -binary -offset 0x2000 -o t.txt -ti-txt
    # UF2 as its description lays it out: two blocks of a family, one for
    # another memory.
    python3 - <<'PY'
import struct
blocks = []
for n, (flags, address, data) in enumerate([(0x2000, 0x10000000, b"a" * 40), (0x2000, 0x10000100, b"b" * 10),
                                            (0x2001, 0x20000000, b"c" * 4)]):
    head = struct.pack("<8I", 0x0A324655, 0x9E5D5157, flags, address, 256, n, 3, 0xE48BFF56)
    blocks.append(head + data.ljust(476, b"\0") + struct.pack("<I", 0x0AB16F30))
open("f.uf2", "wb").write(b"".join(blocks))
PY
)
cp "$work"/{lin,seg,small}.hex corpus/reader_hex/
cp "$work"/s1.s19 "$work"/s2.s28 "$work"/s3.s37 corpus/reader_srec/
cp "$work"/e64.elf "$work"/e32.elf corpus/reader_elf/
cp "$work"/f.uf2 corpus/reader_uf2/
cp "$work"/t.txt corpus/reader_ti-txt/
cp "$work"/small.hex "$work"/s1.s19 "$work"/e32.elf "$work"/b.bin "$work"/t.txt "$work"/f.uf2 corpus/layout/
# Layouts are drawn from any bytes: a few of them start the search.
for seed in 1 2 3 4; do head -c 64 /dev/urandom > corpus/merge/seed$seed; done
printf '[MergeTool]\nFile1Name=boot.bin\nFile1Addr=1000\nFile1Enable=1\nFile2Name="a,b.bin"\nFile2Addr=0x8000\nFile2Enable=0\nMergeFileName=C:/out/\\x56fa.bin\n' > corpus/settings/window.ini
printf -- '-o\0out.bin\0--format\0hex\0--record-size\0032\0--field\0crc32@1000,1100-2000,be\0001100:100\0a.bin\0-\0b.hex' > corpus/options/pairs
printf -- '--settings\0cfg/MergeTool.ini\0--input-format\0auto\0--map\0-\0--dry-run' > corpus/options/settings
printf -- '--base\00x08000000\0--pad-to\040000\0--flash\008000000,40000\0--sector-size\0800\0--fill\000\0-o\0-\0080000000\0a.bin' > corpus/options/flash
printf 'crc32@08000004,08000800-08040000,be' > corpus/spelling/field
printf 'sha256@FFFFFFE0' > corpus/spelling/top
printf '0x1000' > corpus/spelling/address
echo "seed corpora in $(pwd)/corpus"
