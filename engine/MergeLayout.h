#ifndef MERGELAYOUT_H
#define MERGELAYOUT_H

#include <QByteArray>
#include <QString>
#include <QVariantMap>
#include <QVector>
#include <QtGlobal>

// What a checked merge knows before it writes a byte: which bytes go where.
// Plain data, shared by every stage, the map and the front ends.

class FieldKind;
class InputReader;

// The address the image's first byte stands for, unless the command line
// names another, and the byte every gap is filled with.
constexpr qint64 defaultImageBase = 0x1000;
constexpr char imageFillByte = char(0xFF);
// Addresses are 32-bit: nothing may lie at or past this one.
constexpr qint64 addressSpaceEnd = qint64(1) << 32;

// One run of an input's bytes at consecutive addresses, after any shift. A
// file of scattered records has one for each: kept small.
struct MergeSegment
{
    qint64 address = 0;
    qint64 dataOffset = 0; // where its bytes are: in the file, or in the job's store
    quint32 size = 0;      // never more than largestSegment
    bool inStore = false;  // decoded from records, or copied from a stream
    quint8 store = 0;      // which of the merge's stores holds it

    qint64 end() const { return address + size; }
};
// Runs longer than this are made two.
constexpr qint64 largestSegment = qint64(1) << 31;

// One input file: where it lands, and the runs it is made of.
struct MergePlacement
{
    int input = 0; // which of the merge's inputs (in the order they were read)
    int row = 0;   // 1-based, as in "file3"
    QString fileName;
    const InputReader *format = nullptr; // what it was read as
    qint64 address = 0;   // its lowest address (a raw file: where it starts)
    qint64 offset = 0;    // of that address in the image
    qint64 size = 0;      // its data bytes
    qint64 end = 0;       // the first address after its highest byte
    qint64 fillAfter = 0; // fill bytes between its end and the next file
    qint64 shift = 0;     // added to the file's own addresses
    bool hasStartAddress = false;
    quint32 startAddress = 0; // where the program starts, from its records or ELF header
    qint64 slotSize = 0;      // the room it was given from its address; 0: none
    QVector<MergeSegment> segments; // ascending, never overlapping
    QVariantMap details; // what its reader found particular to its format, where asked for

    bool isRaw() const;
};

// When a field's value is worked out: by a walk of its range before the
// image is written (which reads its files once more), or while the image is
// written, from the bytes that go out: in place, where everything it covers
// goes out before it, or after the data, in the record formats (which may
// give records in any order).
enum class FieldTiming { BeforeWriting, AsWritten, AfterTheData };

// A checksum or length written into the image at an address, over a range of
// it; worked out over the image as it stands with the earlier fields in place.
struct MergeField
{
    QString text; // as given, which messages name
    const FieldKind *kind = nullptr;
    int size = 0; // its bytes
    qint64 address = 0;
    // The whole image, the field's own bytes left out; or the range given.
    bool wholeImage = true;
    qint64 from = 0; // the range covered, once the check has worked the whole image out
    qint64 to = 0;   // the first address after the range
    bool bigEndian = false;
    FieldTiming timing = FieldTiming::BeforeWriting;
    QByteArray value; // its bytes, once worked out

    qint64 end() const { return address + size; }
    bool isWorkedOut() const { return value.size() == size; }
};

// Addresses from `from` up to, not including, `to`.
struct AddressRange
{
    qint64 from = 0;
    qint64 to = 0;
};

// What wins where two files give bytes for one address: a refusal (the
// window's rule and the default), the file named later, or the one named
// first.
enum class OverlapPolicy { Refuse, LaterWins, EarlierWins };

// Addresses one file gave that another file's bytes took, by the overlap
// policy; the files as the merge's inputs (MergePlacement::input).
struct MergeOverride
{
    AddressRange range;
    int lost = 0;
    int kept = 0;
};

// One piece of the image: a segment of a file, or a field, in the order of
// addresses. Where it lies, the layout tells (address(), size()).
struct MergePiece
{
    qint32 file = 0;  // index into placements; -1 for a field
    qint32 index = 0; // into that file's segments, or into the fields

    static MergePiece ofField(int k) { return {-1, k}; }
    int field() const { return file < 0 ? index : -1; }
    bool sameOwner(const MergePiece &other) const { return file == other.file && (file >= 0 || index == other.index); }
};

struct MergeLayout
{
    qint64 base = defaultImageBase; // the address of the image's first byte
    qint64 leadingFill = 0;  // fill bytes between the base and the first file
    QVector<MergePlacement> placements; // ascending address order
    QVector<MergeField> fields;         // in the order given, which is the order worked out
    QVector<MergePiece> pieces;         // ascending address order, fields among them
    QVector<MergeOverride> overrides;   // in address order
    QVector<AddressRange> crop;         // only bytes in these were kept; none: all
    QVector<AddressRange> exclude;      // bytes in these were dropped
    char fill = imageFillByte;
    qint64 trailingFill = 0; // fill bytes after the last file, up to the pad size
    qint64 imageSize = 0;    // from the base to the end, trailing fill included
    qint64 sectorSize = 0;     // of the flash's erase sectors; 0: not given
    qint64 sectorsTouched = 0; // erase sectors that hold bytes of files or fields
    // The first address after the last data byte, where trailing fill starts.
    qint64 dataEnd() const { return base + imageSize - trailingFill; }
    qint64 end() const { return base + imageSize; }

    qint64 address(const MergePiece &p) const
    {
        return p.file < 0 ? fields.at(p.index).address : placements.at(p.file).segments.at(p.index).address;
    }
    qint64 size(const MergePiece &p) const
    {
        return p.file < 0 ? fields.at(p.index).size : placements.at(p.file).segments.at(p.index).size;
    }
    qint64 end(const MergePiece &p) const { return address(p) + size(p); }
    // The placement of the merge's input k.
    const MergePlacement &placementOf(int input) const
    {
        for (const MergePlacement &p : placements) {
            if (p.input == input)
                return p;
        }
        return placements.first(); // every input has one
    }
    bool isTrimmed() const { return !overrides.isEmpty() || !crop.isEmpty() || !exclude.isEmpty(); }
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
