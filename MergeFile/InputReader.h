#ifndef INPUTREADER_H
#define INPUTREADER_H

#include "MergeLayout.h"

#include <QByteArray>
#include <QString>
#include <QVector>

class ScratchStore;

// Where an input's bytes are read from while it is taken apart: the file
// itself, or the copy of a stream.
class ByteSource
{
public:
    virtual ~ByteSource() = default;
    virtual qint64 size() const = 0;
    // Up to size bytes from offset: 0 at the end, -1 on an error.
    virtual qint64 readAt(qint64 offset, char *data, qint64 size) = 0;
};

// What an input holds, at its own addresses.
struct InputContent
{
    InputFormat format = InputFormat::Raw;
    // In the order the file gives them. dataOffset is in the source, unless
    // inStore (bytes decoded from records).
    QVector<MergeSegment> segments;
    bool hasStartAddress = false;
    quint32 startAddress = 0;
};

// Turns one input format into segments. Data that is not in the file as it
// lies (record text) is decoded into the store, never into memory.
class InputReader
{
public:
    enum Result {
        Read,
        NotThisFormat, // it only looked like it: the file is raw data after all
        Damaged,       // of this format, but broken: problem says where and how
        ReadFailed,
        StoreFailed,
    };

    virtual ~InputReader() = default;
    virtual InputFormat format() const = 0;
    // From a file's first bytes: whether it may be of this format.
    virtual bool mayBe(const QByteArray &head) const = 0;
    virtual Result read(ByteSource &source, ScratchStore &store, InputContent &content, QString &problem) const = 0;

    // How many first bytes tell the format.
    static constexpr int headSize = 64;
    // The reader for a file that starts with head; raw data when no other fits.
    static const InputReader &forHead(const QByteArray &head);
    static const InputReader &raw();
};

// The bytes as they are: one segment from address 0.
class RawReader : public InputReader
{
public:
    InputFormat format() const override { return InputFormat::Raw; }
    bool mayBe(const QByteArray &) const override { return true; }
    Result read(ByteSource &source, ScratchStore &store, InputContent &content, QString &problem) const override;
};

// Intel HEX: data records (00) at 16-bit offsets from extended segment (02)
// or linear (04) addresses, start addresses (03, 05), an end record (01).
class IntelHexReader : public InputReader
{
public:
    InputFormat format() const override { return InputFormat::IntelHex; }
    bool mayBe(const QByteArray &head) const override;
    Result read(ByteSource &source, ScratchStore &store, InputContent &content, QString &problem) const override;
};

// Motorola S-records: S1, S2 and S3 data with 16-, 24- and 32-bit
// addresses, S7, S8 and S9 start addresses; S0 headers and S5/S6 counts are
// checked and passed over.
class SRecordReader : public InputReader
{
public:
    InputFormat format() const override { return InputFormat::SRecord; }
    bool mayBe(const QByteArray &head) const override;
    Result read(ByteSource &source, ScratchStore &store, InputContent &content, QString &problem) const override;
};

// ELF, 32- and 64-bit, either byte order: the file bytes of each PT_LOAD
// segment at its physical (load) address; the part past p_filesz (.bss) is
// not in the file and not in the image.
class ElfReader : public InputReader
{
public:
    InputFormat format() const override { return InputFormat::Elf; }
    bool mayBe(const QByteArray &head) const override;
    Result read(ByteSource &source, ScratchStore &store, InputContent &content, QString &problem) const override;
};

// The name maps and layouts give a format.
QString inputFormatName(InputFormat format);

#endif // INPUTREADER_H
