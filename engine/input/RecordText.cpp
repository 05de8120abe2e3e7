#include "RecordText.h"

#include "ScratchStore.h"

#include <cstring>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <emmintrin.h>
#endif

namespace {

// A chunk of text at a time; a small file takes a buffer of its own size,
// which still holds more than the longest line.
constexpr qint64 largestBuffer = 1 << 20;
constexpr qint64 smallestBuffer = 4 * longestRecordLine;

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define MERGEFILE_WIDE_DECODING
#define MERGEFILE_SSE2 __attribute__((target("sse2")))

// x <= limit, byte by byte, unsigned.
MERGEFILE_SSE2 inline __m128i atMost(__m128i x, __m128i limit)
{
    return _mm_cmpeq_epi8(_mm_min_epu8(x, limit), x);
}

// Sixteen characters to their values as digits; bad: lanes that are none.
MERGEFILE_SSE2 inline __m128i digitValues(__m128i c, __m128i &bad)
{
    const __m128i digit = _mm_sub_epi8(c, _mm_set1_epi8('0'));
    const __m128i letter = _mm_sub_epi8(_mm_or_si128(c, _mm_set1_epi8(0x20)), _mm_set1_epi8('a'));
    const __m128i isDigit = atMost(digit, _mm_set1_epi8(9));
    const __m128i isLetter = atMost(letter, _mm_set1_epi8(5));
    bad = _mm_or_si128(bad, _mm_andnot_si128(_mm_or_si128(isDigit, isLetter), _mm_set1_epi8(-1)));
    return _mm_or_si128(_mm_and_si128(isDigit, digit),
                        _mm_andnot_si128(isDigit, _mm_add_epi8(letter, _mm_set1_epi8(10))));
}

// Pairs of values (high first) to bytes, in the low half of each 16 bits.
MERGEFILE_SSE2 inline __m128i pairUp(__m128i values)
{
    return _mm_or_si128(_mm_slli_epi16(_mm_and_si128(values, _mm_set1_epi16(0x00FF)), 4), _mm_srli_epi16(values, 8));
}

MERGEFILE_SSE2 bool decodeWide(const char *digits, int pairs, unsigned char *out, unsigned &sum)
{
    __m128i bad = _mm_setzero_si128();
    __m128i total = _mm_setzero_si128();
    int i = 0;
    for (; i + 16 <= pairs; i += 16) {
        const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i *>(digits + 2 * i));
        const __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i *>(digits + 2 * i + 16));
        const __m128i bytes = _mm_packus_epi16(pairUp(digitValues(first, bad)), pairUp(digitValues(second, bad)));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i), bytes);
        total = _mm_add_epi64(total, _mm_sad_epu8(bytes, _mm_setzero_si128()));
    }
    sum += unsigned(_mm_cvtsi128_si32(total)) + unsigned(_mm_cvtsi128_si32(_mm_srli_si128(total, 8)));
    return _mm_movemask_epi8(bad) == 0 && decodeHexPairsByTable(digits + 2 * i, pairs - i, out + i, sum);
}

bool hasSse2()
{
    static const bool available = __builtin_cpu_supports("sse2");
    return available;
}
#endif

} // namespace

bool decodeHexPairs(const char *digits, int pairs, unsigned char *out, unsigned &sum)
{
#ifdef MERGEFILE_WIDE_DECODING
    if (pairs >= 16 && hasSse2())
        return decodeWide(digits, pairs, out, sum);
#endif
    return decodeHexPairsByTable(digits, pairs, out, sum);
}

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

bool RecordText::nextPart(const char *&part, int &length, bool &lineEnds)
{
    for (;;) {
        const char *from = buffer.get() + start;
        const auto *newline = static_cast<const char *>(std::memchr(from, '\n', size_t(end - start)));
        const bool full = end - start == bufferSize;
        if (newline || full || (atEnd && (start < end || inLine))) {
            part = from;
            length = newline ? int(newline - from) : end - start;
            start += length + (newline ? 1 : 0);
            lineEnds = newline || !full;
            if (length > 0 && part[length - 1] == '\r') {
                --length;
                // At the end of a full buffer it may be the one before the
                // LF: it waits for the next part.
                start -= lineEnds ? 0 : 1;
            }
            number += inLine ? 0 : 1;
            inLine = !lineEnds;
            return true;
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
    if (last && last->end() == address && last->dataOffset + last->size == store.end()
        && last->size + count <= largestSegment) {
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

void RecordTally::addTo(QVariantMap &details, const char *const names[], int typeCount) const
{
    QVariantMap seen;
    qint64 records = 0;
    for (int type = 0; type < typeCount; ++type) {
        if (types[type] > 0)
            seen.insert(QLatin1String(names[type]), types[type]);
        records += types[type];
    }
    details.insert(QStringLiteral("recordTypes"), seen);
    details.insert(QStringLiteral("records"), records);
    details.insert(QStringLiteral("longestRecord"), longestData);
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
