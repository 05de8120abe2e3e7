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
    constexpr HexTable()
        : values()
    {
        for (int c = 0; c < 256; ++c)
            values[c] = 0xFF;
        for (int c = '0'; c <= '9'; ++c)
            values[c] = static_cast<unsigned char>(c - '0');
        for (int c = 'A'; c <= 'F'; ++c)
            values[c] = values[c + 'a' - 'A'] = static_cast<unsigned char>(c - 'A' + 10);
    }
};
constexpr HexTable table;

} // namespace

const unsigned char hexDigitValues[256] = {
#define ROW(n) table.values[n], table.values[n + 1], table.values[n + 2], table.values[n + 3], \
               table.values[n + 4], table.values[n + 5], table.values[n + 6], table.values[n + 7]
    ROW(0),   ROW(8),   ROW(16),  ROW(24),  ROW(32),  ROW(40),  ROW(48),  ROW(56),
    ROW(64),  ROW(72),  ROW(80),  ROW(88),  ROW(96),  ROW(104), ROW(112), ROW(120),
    ROW(128), ROW(136), ROW(144), ROW(152), ROW(160), ROW(168), ROW(176), ROW(184),
    ROW(192), ROW(200), ROW(208), ROW(216), ROW(224), ROW(232), ROW(240), ROW(248),
#undef ROW
};

bool allHexDigits(const char *text, int count)
{
    unsigned bad = 0;
    for (int i = 0; i < count; ++i)
        bad |= hexDigitValues[static_cast<unsigned char>(text[i])];
    return (bad & 0xF0) == 0;
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

unsigned char *SegmentCollector::add(qint64 address, int count)
{
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
    return reinterpret_cast<unsigned char *>(store.appendSpace(count));
}
