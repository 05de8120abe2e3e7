#include "ImageWriter.h"

#include "MergeLayout.h"
#include "OutputFile.h"

#include <cstring>

const char *fillBlock(char byte)
{
    // One block per fill byte in use, made when first asked for.
    static std::unique_ptr<char[]> blocks[256];
    std::unique_ptr<char[]> &block = blocks[static_cast<unsigned char>(byte)];
    if (!block) {
        block.reset(new char[size_t(fillBlockSize)]);
        std::memset(block.get(), byte, size_t(fillBlockSize));
    }
    return block.get();
}

qint64 RawImageWriter::outputSize(const MergeLayout &layout) const
{
    return layout.imageSize;
}

bool RawImageWriter::fill(qint64, qint64 count)
{
    for (qint64 left = count; left > 0; left -= fillBlockSize) {
        if (!output.write(fillBlock(fillByte), qMin(left, fillBlockSize)))
            return false;
    }
    return true;
}

bool RawImageWriter::data(qint64, const char *bytes, qint64 count)
{
    return output.write(bytes, count);
}

namespace {

constexpr qint64 textBufferSize = qint64(256) << 10;
const char hexDigits[] = "0123456789ABCDEF";

// Writes value as `digits` upper-case hexadecimal digits.
inline char *putHex(char *at, quint32 value, int digits)
{
    for (int i = digits - 1; i >= 0; --i) {
        at[i] = hexDigits[value & 0xF];
        value >>= 4;
    }
    return at + digits;
}

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

// Writes the bytes as digits and adds them to sum.
inline char *putBytes(char *at, const unsigned char *bytes, int count, unsigned &sum)
{
    for (int i = 0; i < count; ++i) {
        std::memcpy(at + 2 * i, hexPairs.text + 2 * bytes[i], 2);
        sum += bytes[i];
    }
    return at + 2 * count;
}

const char sRecordHeader[] = "MergeFile";

} // namespace

RecordWriter::RecordWriter(OutputFile &output, int recordSize)
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
        qint64 end = pieces[i].address + pieces[i].size;
        int j = i + 1;
        while (j < pieces.size() && pieces[j].file == pieces[i].file && pieces[j].address == end)
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

bool RecordWriter::data(qint64 address, const char *bytes, qint64 count)
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

IntelHexWriter::IntelHexWriter(OutputFile &output, int recordSize)
    : RecordWriter(output, recordSize)
{
}

qint64 IntelHexWriter::recordLimit(qint64 address) const
{
    return qMin<qint64>(recordSize, 0x10000 - (address & 0xFFFF));
}

qint64 IntelHexWriter::dataSize(qint64 address, qint64 count, qint64 &lastUpper) const
{
    // Mirrors data() and record(): per 64 KiB segment one extended address
    // record (when the segment is new), full records and one shorter one.
    qint64 total = 0;
    while (count > 0) {
        const qint64 segment = qMin(count, 0x10000 - (address & 0xFFFF));
        if ((address >> 16) != lastUpper)
            total += 16;
        lastUpper = address >> 16;
        const qint64 rest = segment % recordSize;
        total += (segment / recordSize) * (2 * recordSize + 12) + (rest ? 2 * rest + 12 : 0);
        address += segment;
        count -= segment;
    }
    return total;
}

void IntelHexWriter::record(qint64 address, const unsigned char *bytes, int count)
{
    if ((address >> 16) != upper) {
        upper = address >> 16;
        char *at = reserve(16);
        const unsigned sum = 2 + 4 + unsigned(upper >> 8) + unsigned(upper & 0xFF);
        std::memcpy(at, ":02000004", 9);
        at = putHex(at + 9, quint32(upper), 4);
        at = putHex(at, (0x100 - (sum & 0xFF)) & 0xFF, 2);
        *at = '\n';
    }
    const quint32 offset = quint32(address & 0xFFFF);
    char *at = reserve(2 * count + 12);
    *at++ = ':';
    at = putHex(at, quint32(count), 2);
    at = putHex(at, offset, 4);
    *at++ = '0';
    *at++ = '0';
    unsigned sum = unsigned(count) + (offset >> 8) + (offset & 0xFF);
    at = putBytes(at, bytes, count, sum);
    at = putHex(at, (0x100 - (sum & 0xFF)) & 0xFF, 2);
    *at = '\n';
}

void IntelHexWriter::trailer()
{
    std::memcpy(reserve(12), ":00000001FF\n", 12);
}

SRecordWriter::SRecordWriter(OutputFile &output, int recordSize)
    : RecordWriter(output, qMin(recordSize, maxRecordSize))
{
}

qint64 SRecordWriter::recordLimit(qint64) const
{
    return recordSize;
}

qint64 SRecordWriter::headerSize() const
{
    return 2 * qint64(sizeof sRecordHeader - 1) + 11;
}

qint64 SRecordWriter::dataSize(qint64, qint64 count, qint64 &) const
{
    const qint64 rest = count % recordSize;
    return (count / recordSize) * (2 * recordSize + 15) + (rest ? 2 * rest + 15 : 0);
}

void SRecordWriter::header()
{
    const int length = int(sizeof sRecordHeader - 1);
    const auto *bytes = reinterpret_cast<const unsigned char *>(sRecordHeader);
    char *at = reserve(2 * length + 11);
    *at++ = 'S';
    *at++ = '0';
    at = putHex(at, quint32(length + 3), 2);
    at = putHex(at, 0, 4);
    unsigned sum = unsigned(length + 3);
    at = putBytes(at, bytes, length, sum);
    at = putHex(at, ~sum & 0xFF, 2);
    *at = '\n';
}

void SRecordWriter::record(qint64 address, const unsigned char *bytes, int count)
{
    const quint32 a = quint32(address);
    char *at = reserve(2 * count + 15);
    *at++ = 'S';
    *at++ = '3';
    at = putHex(at, quint32(count + 5), 2);
    at = putHex(at, a, 8);
    unsigned sum = unsigned(count + 5) + (a >> 24) + ((a >> 16) & 0xFF) + ((a >> 8) & 0xFF) + (a & 0xFF);
    at = putBytes(at, bytes, count, sum);
    at = putHex(at, ~sum & 0xFF, 2);
    *at = '\n';
}

void SRecordWriter::trailer()
{
    // No entry point is known: the end record says address 0.
    std::memcpy(reserve(15), "S70500000000FA\n", 15);
}
