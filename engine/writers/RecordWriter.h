#ifndef RECORDWRITER_H
#define RECORDWRITER_H

#include "ImageWriter.h"
#include "TextBuffer.h"

// Records for device programmers: each file's bytes at its own address (0x1000
// stays 0x1000), in records of at most recordSize bytes, and nothing at all for
// the gaps (between files, or holes in one), so that a programmer leaves them
// alone. Text goes out through a fixed buffer; a record that a chunk of the
// image cuts in two is finished with the next chunk. Records never span two
// files: fill() ends the record, even for no bytes.
class RecordWriter : public ImageWriter
{
public:
    RecordWriter(ByteSink &output, int recordSize);
    ~RecordWriter() override;

    qint64 outputSize(const MergeLayout &layout) const override;
    bool fill(qint64 address, qint64 count) override;
    bool data(qint64 address, const char *bytes, qint64 count, const MergePiece &piece) override;
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
    char *reserve(int length) { return text.reserve(length); }
    int recordSize;

private:
    void start();
    bool flushPending();

    TextBuffer text;
    bool started = false;
    unsigned char pending[256];
    int pendingCount = 0;
    qint64 pendingAddress = 0;
};

// Writes value as `digits` upper-case hexadecimal digits.
char *putHex(char *at, quint32 value, int digits);
// Writes the bytes as digits and adds them to sum.
char *putBytes(char *at, const unsigned char *bytes, int count, unsigned &sum);

#endif // RECORDWRITER_H
