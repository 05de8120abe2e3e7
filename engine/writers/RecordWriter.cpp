#include "RecordWriter.h"

#include <cstring>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <emmintrin.h>
#endif

namespace {

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
    // Two digits a copy, lowest byte last.
    for (int i = digits - 2; i >= 0; i -= 2) {
        std::memcpy(at + i, hexPairs.text + 2 * (value & 0xFF), 2);
        value >>= 8;
    }
    if (digits % 2)
        at[0] = hexDigits[value & 0xF];
    return at + digits;
}

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
namespace {

#define MERGEFILE_SSE2 __attribute__((target("sse2")))

// Each nibble made a digit by arithmetic: '0' + n, and 7 more past 9.
MERGEFILE_SSE2 inline __m128i digits(__m128i nibbles)
{
    return _mm_add_epi8(_mm_add_epi8(nibbles, _mm_set1_epi8('0')),
                        _mm_and_si128(_mm_cmpgt_epi8(nibbles, _mm_set1_epi8(9)), _mm_set1_epi8('A' - '9' - 1)));
}

// Sixteen bytes to 32 upper-case digits at a time, the bytes summed on the
// way.
MERGEFILE_SSE2 char *putBytesWide(char *at, const unsigned char *bytes, int count, unsigned &sum)
{
    const __m128i low = _mm_set1_epi8(0x0F);
    __m128i total = _mm_setzero_si128();
    for (; count >= 16; count -= 16, bytes += 16, at += 32) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(bytes));
        const __m128i high = _mm_and_si128(_mm_srli_epi16(v, 4), low);
        const __m128i lowNibbles = _mm_and_si128(v, low);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(at), digits(_mm_unpacklo_epi8(high, lowNibbles)));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(at + 16), digits(_mm_unpackhi_epi8(high, lowNibbles)));
        total = _mm_add_epi64(total, _mm_sad_epu8(v, _mm_setzero_si128()));
    }
    sum += unsigned(_mm_cvtsi128_si32(total)) + unsigned(_mm_cvtsi128_si32(_mm_srli_si128(total, 8)));
    for (int i = 0; i < count; ++i) {
        std::memcpy(at + 2 * i, hexPairs.text + 2 * bytes[i], 2);
        sum += bytes[i];
    }
    return at + 2 * count;
}

bool hasSse2()
{
    static const bool available = __builtin_cpu_supports("sse2");
    return available;
}

} // namespace
#endif

char *putBytes(char *at, const unsigned char *bytes, int count, unsigned &sum)
{
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
    if (count >= 16 && hasSse2())
        return putBytesWide(at, bytes, count, sum);
#endif
    for (int i = 0; i < count; ++i) {
        std::memcpy(at + 2 * i, hexPairs.text + 2 * bytes[i], 2);
        sum += bytes[i];
    }
    return at + 2 * count;
}

RecordWriter::RecordWriter(ByteSink &output, int recordSize)
    : ImageWriter(output)
    , recordSize(recordSize)
    , text(output)
{
}

RecordWriter::~RecordWriter() = default;

qint64 RecordWriter::outputSize(const MergeLayout &layout) const
{
    qint64 total = headerSize() + trailerSize();
    qint64 state = -1;
    // As the merge hands them over: pieces of one file that touch go on in
    // the same records; another file, or another field, starts new ones;
    // fields worked out as the data goes come after it.
    const QVector<MergePiece> &pieces = layout.pieces;
    const auto last = [&](const MergePiece &p) {
        return p.field() >= 0 && layout.fields.at(p.field()).timing == FieldTiming::AfterTheData;
    };
    for (int i = 0; i < pieces.size();) {
        qint64 end = layout.end(pieces[i]);
        int j = i + 1;
        while (j < pieces.size() && pieces[j].sameOwner(pieces[i]) && layout.address(pieces[j]) == end)
            end += layout.size(pieces[j++]);
        if (!last(pieces[i]))
            total += dataSize(layout.address(pieces[i]), end - layout.address(pieces[i]), state);
        i = j;
    }
    for (const MergePiece &piece : pieces) {
        if (last(piece))
            total += dataSize(layout.address(piece), layout.size(piece), state);
    }
    return total;
}

bool RecordWriter::flushPending()
{
    if (pendingCount > 0)
        record(pendingAddress, pending, pendingCount);
    pendingCount = 0;
    return !text.failed();
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
    if (!bytes) // written later: it ends the run it would have gone on
        return fill(address, 0);
    const auto *in = reinterpret_cast<const unsigned char *>(bytes);
    while (count > 0 && !text.failed()) {
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
    return !text.failed();
}

bool RecordWriter::finish()
{
    start();
    flushPending();
    trailer();
    return text.flush();
}
