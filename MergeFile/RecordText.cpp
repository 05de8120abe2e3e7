#include "RecordText.h"

#include "ScratchStore.h"

#include <cstring>

namespace {

constexpr int bufferSize = 1 << 20;
// Longer than any record of either format (a HEX line holds at most 521
// characters, an S-record 514): such a line means the file is no record text.
constexpr int longestLine = 1024;

struct HexTable
{
    unsigned char values[256];
    HexTable()
    {
        std::memset(values, 0xFF, sizeof values);
        for (int c = '0'; c <= '9'; ++c)
            values[c] = static_cast<unsigned char>(c - '0');
        for (int c = 'A'; c <= 'F'; ++c)
            values[c] = values[c + 'a' - 'A'] = static_cast<unsigned char>(c - 'A' + 10);
    }
};
const HexTable table;

} // namespace

bool allHexDigits(const char *text, int count)
{
    for (int i = 0; i < count; ++i) {
        if (table.values[static_cast<unsigned char>(text[i])] == 0xFF)
            return false;
    }
    return true;
}

void decodeHexPairs(const char *digits, int pairs, unsigned char *out)
{
    const auto *in = reinterpret_cast<const unsigned char *>(digits);
    for (int i = 0; i < pairs; ++i)
        out[i] = static_cast<unsigned char>((table.values[in[2 * i]] << 4) | table.values[in[2 * i + 1]]);
}

RecordText::RecordText(ByteSource &source)
    : source(source)
    , buffer(new char[bufferSize])
{
}

RecordText::~RecordText() = default;

bool RecordText::nextLine(const char *&line, int &length)
{
    for (;;) {
        const char *from = buffer.get() + start;
        const auto *newline = static_cast<const char *>(std::memchr(from, '\n', size_t(end - start)));
        if (newline || (atEnd && start < end)) {
            line = from;
            length = newline ? int(newline - from) : end - start;
            start += length + (newline ? 1 : 0);
            if (length > 0 && line[length - 1] == '\r')
                --length;
            ++number;
            tooLong = length > longestLine;
            return !tooLong;
        }
        if (end - start > longestLine) {
            ++number;
            tooLong = true;
            return false;
        }
        if (atEnd)
            return false;
        std::memmove(buffer.get(), from, size_t(end - start));
        end -= start;
        start = 0;
        const qint64 n = source.readAt(sourceOffset, buffer.get() + end, bufferSize - end);
        if (n < 0) {
            failed = true;
            return false;
        }
        atEnd = n == 0;
        sourceOffset += n;
        end += int(n);
    }
}

SegmentCollector::SegmentCollector(ScratchStore &store, QVector<MergeSegment> &segments)
    : store(store)
    , segments(segments)
{
}

bool SegmentCollector::add(qint64 address, const unsigned char *bytes, int count)
{
    if (count == 0)
        return true;
    MergeSegment *last = segments.isEmpty() ? nullptr : &segments.last();
    if (last && last->address + last->size == address && last->dataOffset + last->size == store.end()) {
        last->size += count;
    } else {
        MergeSegment segment;
        segment.address = address;
        segment.size = count;
        segment.dataOffset = store.end();
        segment.inStore = true;
        segments.append(segment);
    }
    return store.append(reinterpret_cast<const char *>(bytes), count);
}
