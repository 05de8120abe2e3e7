#include "RecordText.h"

#include "ScratchStore.h"

#include <cstring>

namespace {

// A chunk of text at a time; a small file takes a buffer of its own size,
// which still holds more than the longest line.
constexpr qint64 largestBuffer = 1 << 20;
constexpr qint64 smallestBuffer = 4 * longestRecordLine;

} // namespace

bool firstTextLine(const QByteArray &head, bool whole, const char *&line, int &length)
{
    int at = 0;
    while (at < head.size() && (head.at(at) == '\n' || head.at(at) == '\r'))
        ++at;
    if (at == head.size())
        return false;
    const int newline = head.indexOf('\n', at);
    if (newline < 0 && !whole)
        return false;
    line = head.constData() + at;
    length = (newline < 0 ? head.size() : newline) - at;
    if (length > 0 && line[length - 1] == '\r')
        --length;
    return true;
}

RecordText::RecordText(ByteSource &source)
    : source(source)
    , bufferSize(int(qBound(smallestBuffer, source.size() + 1, largestBuffer)))
    , buffer(new char[size_t(bufferSize)])
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
            tooLong = length > longestRecordLine;
            return !tooLong;
        }
        if (end - start > longestRecordLine) {
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

InputReader::Result recordDamage(qint64 line, const QString &what, QString &problem)
{
    problem = QStringLiteral("line %1: %2").arg(line).arg(what);
    return InputReader::Damaged;
}

InputReader::Result textFailure(const RecordText &text, QString &problem)
{
    if (text.lineTooLong())
        return recordDamage(text.lineNumber(), QStringLiteral("the line is longer than any record"), problem);
    return InputReader::ReadFailed;
}
