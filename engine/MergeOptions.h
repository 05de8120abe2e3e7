#ifndef MERGEOPTIONS_H
#define MERGEOPTIONS_H

#include "FormatSettings.h"
#include "MergeLayout.h"

#include <QString>
#include <QVector>

#include <memory>

struct OutputFormatInfo;
namespace Mcuboot {
struct Request;
}

// Where a row says its file goes: nowhere yet (an empty address text), at an
// address, or at the file's own addresses ("-" on the command line); or, for
// a file looked at alone, at its own addresses where it has them, and raw
// data at an address.
struct MergeAddress
{
    enum Kind { Missing, At, Own, OwnOrRawAt };
    Kind kind = Missing;
    qint64 value = 0;

    static MergeAddress at(qint64 address) { return {At, address}; }
    static MergeAddress own() { return {Own, 0}; }
    static MergeAddress ownOrRawAt(qint64 address) { return {OwnOrRawAt, address}; }
};

// One row of the merge: whether it takes part, the source file, where it
// goes, and the room it may take there.
struct MergeRow
{
    bool enabled = false;
    QString fileName;
    MergeAddress address;
    qint64 slotSize = 0; // 0: any
};

// How a merge is made. The defaults are the window's rules: every input raw
// data, a flat image from 0x1000 filled with 0xFF, nothing else.
struct MergeOptions
{
    // Read Intel HEX, S-record, ELF, UF2 and TI-TXT inputs as what they are; off, every
    // input is raw data.
    bool detectInputs = false;
    qint64 base = defaultImageBase;  // the address the image's first byte stands for
    char fill = imageFillByte;       // of leading fill, gaps, holes and padding
    const OutputFormatInfo *format = nullptr; // null: the flat image
    int recordSize = 16;             // data bytes in one record of the record formats
    FormatSettings formatSettings;   // what the formats' own options set (a UF2 family, a word's width...)
    qint64 padTo = 0;                // fill the flat image up to this size; 0: no padding
    QVector<MergeField> fields;      // worked out in this order
    OverlapPolicy overlap = OverlapPolicy::Refuse;
    QVector<AddressRange> crop;      // keep only the files' bytes in these (their union); none: all
    QVector<AddressRange> exclude;   // drop the files' bytes in these
    // Work every field out in check(), so that its value can be shown before
    // anything is written; otherwise they are worked out as the image is
    // written wherever the output allows, and the files are read once.
    bool fieldValuesFirst = false;
    qint64 flashOrigin = 0;          // every byte must lie in the flash...
    qint64 flashSize = 0;            // ...unless this is 0
    qint64 sectorSize = 0;           // no two files in one erase sector; 0: unchecked
    bool toStandardOutput = false;   // the output name is then only what messages call it
    // Hash the output on a second thread while it goes to disk. Off, the
    // window stays on its one thread and gets no hash.
    bool hashOutput = false;
    bool computeDigests = false;     // of the image and of every file, for the map
    int streamIdleTimeout = 30000;   // how long a pipe may stay silent, in ms
    // The row made into an MCUboot image, signed, before it is laid out; null: none.
    std::shared_ptr<const Mcuboot::Request> mcuboot;
};

#endif // MERGEOPTIONS_H
