#include "HexLinesWriter.h"

#include "RecordWriter.h"

#include <cstring>

namespace {

constexpr int bytesPerLine = 16;

// " AB" for every byte value, and a spare: one four-byte copy a byte.
struct SpacedBytes
{
    SpacedBytes()
    {
        const char digits[] = "0123456789ABCDEF";
        for (int b = 0; b < 256; ++b) {
            text[4 * b] = ' ';
            text[4 * b + 1] = digits[b >> 4];
            text[4 * b + 2] = digits[b & 0xF];
            text[4 * b + 3] = ' ';
        }
    }
    char text[4 * 256];
};
const SpacedBytes spacedBytes;

} // namespace

HexLinesWriter::HexLinesWriter(ByteSink &output, int unitSize, char fill, int minAddressDigits, const char *trailer)
    : UnitWriter(output, unitSize, fill)
    , unitsPerLine(bytesPerLine / unitSize)
    , minAddressDigits(minAddressDigits)
    , trailer(trailer)
{
}

// As many digits as the number needs, and at least the format's own.
int HexLinesWriter::addressDigits(qint64 index) const
{
    int digits = minAddressDigits;
    while (digits < 8 && (index >> (4 * digits)) != 0)
        ++digits;
    return digits;
}

qint64 HexLinesWriter::fixedSize() const
{
    return qint64(std::strlen(trailer));
}

qint64 HexLinesWriter::sectionSize(qint64 firstIndex) const
{
    return addressDigits(firstIndex) + 2;
}

// Every unit is its digits, a space before it unless it starts a line, and
// the line's end after the last of a line: one character besides its digits.
// A section that ends inside a line ends the line.
void HexLinesWriter::units(qint64 index, const unsigned char *bytes, qint64 count, bool newSection)
{
    if (newSection) {
        if (onLine > 0)
            *reserve(1) = '\n';
        onLine = 0;
        const int digits = addressDigits(index);
        char *at = reserve(digits + 2);
        *at++ = '@';
        at = putHex(at, quint32(index), digits);
        *at = '\n';
    }
    unsigned sum = 0; // not wanted here
    char digits[2 * bytesPerLine];
    while (count > 0) {
        const int take = int(qMin<qint64>(unitsPerLine - onLine, count));
        const bool endsLine = onLine + take == unitsPerLine;
        char *at = reserve((2 * unitSize + 1) * take - (onLine == 0 ? 1 : 0) + (endsLine ? 1 : 0));
        if (unitSize == 1) {
            // Bytes: " AB" each, copied four at a time (the fourth is
            // written over by the next), the line's first without its space.
            int i = 0;
            if (onLine == 0) {
                std::memcpy(at, spacedBytes.text + 4 * bytes[0] + 1, 2);
                at += 2;
                i = 1;
            }
            for (; i + 1 < take; ++i, at += 3)
                std::memcpy(at, spacedBytes.text + 4 * bytes[i], 4);
            if (i < take) {
                std::memcpy(at, spacedBytes.text + 4 * bytes[i], 3);
                at += 3;
            }
        } else {
            // The line's digits at once, then each unit's with its space.
            putBytes(digits, bytes, take * unitSize, sum);
            for (int i = 0; i < take; ++i) {
                if (onLine + i > 0)
                    *at++ = ' ';
                std::memcpy(at, digits + 2 * unitSize * i, size_t(2 * unitSize));
                at += 2 * unitSize;
            }
        }
        bytes += take * unitSize;
        onLine += take;
        if (endsLine) {
            *at = '\n';
            onLine = 0;
        }
        count -= take;
    }
}

void HexLinesWriter::end()
{
    if (onLine > 0)
        *reserve(1) = '\n';
    onLine = 0;
    const int length = int(std::strlen(trailer));
    if (length > 0)
        std::memcpy(reserve(length), trailer, size_t(length));
}
