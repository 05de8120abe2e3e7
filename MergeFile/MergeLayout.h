#ifndef MERGELAYOUT_H
#define MERGELAYOUT_H

#include <QByteArray>
#include <QString>
#include <QVector>
#include <QtGlobal>

// What a checked merge knows before it writes a byte: which bytes go where.
// Plain data, shared by the job, the writers, the map and the front ends.

// The address the image's first byte stands for, unless the command line
// names another, and the byte every gap is filled with.
constexpr qint64 defaultImageBase = 0x1000;
constexpr char imageFillByte = char(0xFF);
// Addresses are 32-bit: nothing may lie at or past this one.
constexpr qint64 addressSpaceEnd = qint64(1) << 32;

// What an input file is read as.
enum class InputFormat { Raw, IntelHex, SRecord, Elf };

// How the image is written: the flat image, or records that leave the gaps
// out.
enum class OutputFormat { Raw, IntelHex, SRecord };

// One run of an input's bytes at consecutive addresses, after any shift.
struct MergeSegment
{
    qint64 address = 0;
    qint64 size = 0;
    qint64 dataOffset = 0; // where its bytes are: in the file, or in the job's store
    bool inStore = false;  // decoded from records, or copied from a stream
};

// One input file: where it lands, and the runs it is made of.
struct MergePlacement
{
    int row = 0; // 1-based, as in "file3"
    QString fileName;
    InputFormat format = InputFormat::Raw;
    qint64 address = 0;   // its lowest address (a raw file: where it starts)
    qint64 offset = 0;    // of that address in the image
    qint64 size = 0;      // its data bytes
    qint64 end = 0;       // the first address after its highest byte
    qint64 fillAfter = 0; // 0xFF bytes between its end and the next file
    qint64 shift = 0;     // added to the file's own addresses
    bool hasStartAddress = false;
    quint32 startAddress = 0; // where the program starts, from its records or ELF header
    qint64 slotSize = 0;      // the room it was given from its address; 0: none
    QVector<MergeSegment> segments; // ascending, never overlapping
};

// What a field written into the image holds.
enum class FieldKind {
    Crc32,       // CRC-32/ISO-HDLC, as zlib and crc32 print it
    Crc32Mpeg2,  // CRC-32/MPEG-2, an STM32's CRC unit over bytes in address order
    Crc16Ccitt,  // CRC-16/CCITT-FALSE
    Crc16Xmodem, // CRC-16/XMODEM
    Sum8,        // the byte sum modulo 256
    Length,      // a 32-bit count of the bytes covered
    Sha256,      // 32 bytes
};

// A checksum or length written into the image at an address, over a range of
// it; worked out over the image as it stands with the earlier fields in place.
struct MergeField
{
    QString text; // as given, which messages name
    FieldKind kind = FieldKind::Crc32;
    qint64 address = 0;
    // The whole image, the field's own bytes left out; or the range given.
    bool wholeImage = true;
    qint64 from = 0; // the range covered, once the check has worked the whole image out
    qint64 to = 0;   // the first address after the range
    bool bigEndian = false;
    QByteArray value; // its bytes, once worked out

    int size() const;
    qint64 end() const { return address + size(); }
};

// One piece of the image: a segment of a file, or a field, in the order of
// addresses.
struct MergePiece
{
    int file = 0;    // index into placements; -1 for a field
    int segment = 0; // index into that file's segments
    qint64 address = 0;
    qint64 size = 0;
    int field = -1;  // index into fields, for a field

    bool sameOwner(const MergePiece &other) const { return file == other.file && field == other.field; }
};

struct MergeLayout
{
    qint64 base = defaultImageBase; // the address of the image's first byte
    qint64 leadingFill = 0;  // 0xFF bytes between the base and the first file
    QVector<MergePlacement> placements; // ascending address order
    QVector<MergeField> fields;         // in the order given, which is the order worked out
    QVector<MergePiece> pieces;         // ascending address order, fields among them
    char fill = imageFillByte;
    qint64 trailingFill = 0; // 0xFF bytes after the last file, up to the pad size
    qint64 imageSize = 0;    // from the base to the end, trailing fill included
    qint64 sectorSize = 0;     // of the flash's erase sectors; 0: not given
    qint64 sectorsTouched = 0; // erase sectors that hold bytes of files or fields
    // The first address after the last data byte, where trailing fill starts.
    qint64 dataEnd() const { return base + imageSize - trailingFill; }
};

// Checksums as tools print them: CRC-32 in 8 and SHA-256 in 64 lower-case
// hexadecimal digits.
struct MergeDigest
{
    QByteArray crc32;
    QByteArray sha256;
};

// The flat image's checksums (fill included, whatever the output format) and
// each file's over its data bytes in address order, in layout order.
struct MergeDigests
{
    MergeDigest image;
    QVector<MergeDigest> files;
};

#endif // MERGELAYOUT_H
