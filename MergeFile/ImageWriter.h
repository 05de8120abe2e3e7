#ifndef IMAGEWRITER_H
#define IMAGEWRITER_H

#include "MergeLayout.h"

#include <QByteArray>
#include <QtGlobal>

#include <memory>

class OutputFile;

// 1 MiB of fill bytes (0xFF unless asked otherwise), shared and never
// written to.
const char *fillBlock(char byte = imageFillByte);
constexpr qint64 fillBlockSize = qint64(1) << 20;

// Turns a checked layout into the bytes of one output format. The merge hands
// it the image in address order, as runs of fill and runs of file bytes, and
// it writes what its format makes of them to the output.
class ImageWriter
{
public:
    explicit ImageWriter(OutputFile &output)
        : output(output)
    {
    }
    virtual ~ImageWriter() = default;
    ImageWriter(const ImageWriter &) = delete;
    ImageWriter &operator=(const ImageWriter &) = delete;

    // The exact number of bytes the format writes for the layout, known
    // before the first byte so that the disk space can be reserved.
    virtual qint64 outputSize(const MergeLayout &layout) const = 0;
    virtual bool fill(qint64 address, qint64 count) = 0;
    virtual bool data(qint64 address, const char *bytes, qint64 count) = 0;
    virtual bool finish() = 0;

protected:
    OutputFile &output;
};

// The flat image: every byte from 0x1000 to the end of the last file, the
// gaps filled.
class RawImageWriter : public ImageWriter
{
public:
    RawImageWriter(OutputFile &output, char fillByte)
        : ImageWriter(output)
        , fillByte(fillByte)
    {
    }

    qint64 outputSize(const MergeLayout &layout) const override;
    bool fill(qint64 address, qint64 count) override;
    bool data(qint64 address, const char *bytes, qint64 count) override;
    bool finish() override { return true; }

private:
    char fillByte;
};

// Records for device programmers: each file's bytes at its own address (0x1000
// stays 0x1000), in records of at most recordSize bytes, and nothing at all for
// the gaps (between files, or holes in one), so that a programmer leaves them
// alone. Text goes out through a fixed buffer; a record that a chunk of the
// image cuts in two is finished with the next chunk. Records never span two
// files: fill() ends the record, even for no bytes.
class RecordWriter : public ImageWriter
{
public:
    RecordWriter(OutputFile &output, int recordSize);
    ~RecordWriter() override;

    qint64 outputSize(const MergeLayout &layout) const override;
    bool fill(qint64 address, qint64 count) override;
    bool data(qint64 address, const char *bytes, qint64 count) override;
    bool finish() override;

protected:
    // The most bytes one record may hold from this address on.
    virtual qint64 recordLimit(qint64 address) const = 0;
    // Lengths of the text, worked out without the bytes so that outputSize()
    // is exact: the records for one file, split at recordLimit(); state
    // carries what one file's records leave for the next (-1 at first).
    virtual qint64 headerSize() const = 0;
    virtual qint64 trailerSize() const = 0;
    virtual qint64 dataSize(qint64 address, qint64 count, qint64 &state) const = 0;
    virtual void header() = 0;
    virtual void record(qint64 address, const unsigned char *bytes, int count) = 0;
    virtual void trailer() = 0;

    // Room in the text buffer; flushed to the output when it runs short.
    char *reserve(int length);
    int recordSize;

private:
    void start();
    bool flushPending();
    bool flushText();

    std::unique_ptr<char[]> text;
    qint64 textUsed = 0;
    bool failed = false;
    bool started = false;
    unsigned char pending[256];
    int pendingCount = 0;
    qint64 pendingAddress = 0;
};

// Intel HEX with 32-bit addresses: an extended linear address record wherever
// the upper 16 bits change, data records that never cross a 64 KiB boundary,
// one end-of-file record.
class IntelHexWriter : public RecordWriter
{
public:
    static constexpr int maxRecordSize = 255; // a record counts its bytes in one byte
    IntelHexWriter(OutputFile &output, int recordSize);

protected:
    qint64 recordLimit(qint64 address) const override;
    qint64 headerSize() const override { return 0; }
    qint64 trailerSize() const override { return 12; }
    qint64 dataSize(qint64 address, qint64 count, qint64 &lastUpper) const override;
    void header() override {}
    void record(qint64 address, const unsigned char *bytes, int count) override;
    void trailer() override;

private:
    qint64 upper = -1; // upper 16 address bits of the last extended address record
};

// Motorola S-records: an S0 header, S3 data records with 32-bit addresses,
// an S7 end record.
class SRecordWriter : public RecordWriter
{
public:
    static constexpr int maxRecordSize = 250; // a record counts at most 255 bytes
    SRecordWriter(OutputFile &output, int recordSize);

protected:
    qint64 recordLimit(qint64 address) const override;
    qint64 headerSize() const override;
    qint64 trailerSize() const override { return 15; }
    qint64 dataSize(qint64 address, qint64 count, qint64 &state) const override;
    void header() override;
    void record(qint64 address, const unsigned char *bytes, int count) override;
    void trailer() override;
};

#endif // IMAGEWRITER_H
