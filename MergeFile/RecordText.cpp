#include "RecordText.h"

#include "ScratchStore.h"

#include <cstring>

namespace {

constexpr int bufferSize = 1 << 20;
// Longer than any record of either format (a HEX line holds at most 521
// characters, an S-record 514): such a line means the file is no record text.
constexpr int longestLine = 1024;

} // namespace

bool allHexDigits(const char *text, int count)
{
    unsigned bad = 0;
    for (int i = 0; i < count; ++i)
        bad |= hexDigits.values[static_cast<unsigned char>(text[i])];
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
