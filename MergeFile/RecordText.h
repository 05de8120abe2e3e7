#ifndef RECORDTEXT_H
#define RECORDTEXT_H

#include "InputReader.h"

#include <memory>

// What the Intel HEX and S-record readers share: the text read line by line
// through one buffer, hexadecimal digits, and the decoded data gathered into
// segments in the store.

// The value of each character as a hexadecimal digit, 0xFF for any other.
struct HexDigitTable
{
    unsigned char values[256];
    constexpr HexDigitTable()
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
inline constexpr HexDigitTable hexDigits;

// True when every one of the count characters is a hexadecimal digit.
bool allHexDigits(const char *text, int count);

// Decodes pairs bytes from twice as many digits into out, adding each to
// sum; false when a character is no hexadecimal digit. One pass, and out
// may be where the bytes are to stay.
inline bool decodeHexPairs(const char *digits, int pairs, unsigned char *out, unsigned &sum)
{
    const auto *in = reinterpret_cast<const unsigned char *>(digits);
    unsigned bad = 0;
    unsigned total = sum;
    for (int i = 0; i < pairs; ++i) {
        const unsigned high = hexDigits.values[in[2 * i]];
        const unsigned low = hexDigits.values[in[2 * i + 1]];
        bad |= high | low;
        const unsigned byte = (high << 4) | low;
        out[i] = static_cast<unsigned char>(byte);
        total += byte;
    }
    sum = total;
    return (bad & 0xF0) == 0;
}

class RecordText
{
public:
    explicit RecordText(ByteSource &source);
    ~RecordText();

    // The next line without its end (LF or CRLF); false at the end of the
    // text, on a read error and on a line longer than any record.
    bool nextLine(const char *&line, int &length);
    qint64 lineNumber() const { return number; }
    bool readFailed() const { return failed; }
    bool lineTooLong() const { return tooLong; }

private:
    ByteSource &source;
    std::unique_ptr<char[]> buffer;
    qint64 sourceOffset = 0;
    int start = 0;
    int end = 0;
    qint64 number = 0;
    bool atEnd = false;
    bool failed = false;
    bool tooLong = false;
};

// Gathers data records into segments: a record that goes on where the last
// one ended extends its segment, so a file written in order gives few.
class SegmentCollector
{
public:
    SegmentCollector(ScratchStore &store, QVector<MergeSegment> &segments);
    // Where the count bytes of a data record at address go; null when the
    // store cannot take them.
    unsigned char *add(qint64 address, int count);

private:
    ScratchStore &store;
    QVector<MergeSegment> &segments;
};

// How a record reader ends: the first damage is kept, but the rest of the
// text is still looked at, since one line that is no record at all makes the
// whole file raw data.
struct RecordOutcome
{
    QString problem;
    void damage(qint64 line, const QString &what)
    {
        if (problem.isEmpty())
            problem = QStringLiteral("line %1: %2").arg(line).arg(what);
    }
    // What the reader says once the text is read.
    InputReader::Result finish(const RecordText &text, QString &damage) const
    {
        if (text.readFailed())
            return InputReader::ReadFailed;
        if (text.lineTooLong())
            return InputReader::NotThisFormat;
        damage = problem;
        return problem.isEmpty() ? InputReader::Read : InputReader::Damaged;
    }
};

#endif // RECORDTEXT_H
