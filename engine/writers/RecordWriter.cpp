#include "RecordWriter.h"

#include <cstring>

namespace {

constexpr qint64 textBufferSize = qint64(256) << 10;
const char hexDigits[] = "0123456789ABCDEF";

// The two digits of every byte value, side by side: one copy per byte.
struct HexPairs
{
    HexPairs()
    {
        for (int b = 0; b < 256; ++b) {
            text[2 * b] = hexDigits[b >> 4];
            text[2 * b + 1] = hexDigits[b & 0xF];
        }
    }
    char text[512];
};
const HexPairs hexPairs;

} // namespace

char *putHex(char *at, quint32 value, int digits)
{
    for (int i = digits - 1; i >= 0; --i) {
        at[i] = hexDigits[value & 0xF];
        value >>= 4;
    }
    return at + digits;
}

char *putBytes(char *at, const unsigned char *bytes, int count, unsigned &sum)
{
    for (int i = 0; i < count; ++i) {
        std::memcpy(at + 2 * i, hexPairs.text + 2 * bytes[i], 2);
        sum += bytes[i];
    }
    return at + 2 * count;
}

RecordWriter::RecordWriter(ByteSink &output, int recordSize)
    : ImageWriter(output)
    , recordSize(recordSize)
    , text(new char[size_t(textBufferSize)])
{
}

RecordWriter::~RecordWriter() = default;

qint64 RecordWriter::outputSize(const MergeLayout &layout) const
{
    qint64 total = headerSize() + trailerSize();
    qint64 state = -1;
    // As the merge hands them over: pieces of one file that touch go on in
    // the same records; another file starts new ones.
    const QVector<MergePiece> &pieces = layout.pieces;
    for (int i = 0; i < pieces.size();) {
        qint64 end = pieces[i].end();
        int j = i + 1;
        while (j < pieces.size() && pieces[j].sameOwner(pieces[i]) && pieces[j].address == end)
            end += pieces[j++].size;
        total += dataSize(pieces[i].address, end - pieces[i].address, state);
        i = j;
    }
    return total;
}

char *RecordWriter::reserve(int length)
{
    if (textUsed + length > textBufferSize)
        flushText();
    char *at = text.get() + textUsed;
    textUsed += length;
    return at;
}

bool RecordWriter::flushText()
{
    if (textUsed > 0 && !failed)
        failed = !output.write(text.get(), textUsed);
    textUsed = 0;
    return !failed;
}

bool RecordWriter::flushPending()
{
    if (pendingCount > 0)
        record(pendingAddress, pending, pendingCount);
    pendingCount = 0;
    return !failed;
}

// The header goes first, whether the image starts with fill or not.
void RecordWriter::start()
{
    if (!started) {
        header();
        started = true;
    }
}

bool RecordWriter::fill(qint64, qint64)
{
    start();
    return flushPending(); // the gap itself is not written
}

bool RecordWriter::data(qint64 address, const char *bytes, qint64 count, const MergePiece &)
{
    const auto *in = reinterpret_cast<const unsigned char *>(bytes);
    while (count > 0 && !failed) {
        if (pendingCount == 0) {
            // Whole records straight from the caller's bytes.
            const qint64 limit = recordLimit(address);
            if (count >= limit) {
                record(address, in, int(limit));
                address += limit;
                in += limit;
                count -= limit;
                continue;
            }
            pendingAddress = address;
        }
        const qint64 limit = recordLimit(pendingAddress);
        const int take = int(qMin(limit - pendingCount, count));
        std::memcpy(pending + pendingCount, in, size_t(take));
        pendingCount += take;
        address += take;
        in += take;
        count -= take;
        if (pendingCount == limit)
            flushPending();
    }
    return !failed;
}

bool RecordWriter::finish()
{
    start();
    flushPending();
    trailer();
    return flushText();
}
