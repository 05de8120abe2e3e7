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

// Decodes pairs bytes from twice as many digits into out, adding each to
// sum; false when a character is no hexadecimal digit. One pass, and out
// may be where the bytes are to stay. Sixteen bytes a step where the CPU has
// SSE2 (every one that runs either build does), a table otherwise.
bool decodeHexPairs(const char *digits, int pairs, unsigned char *out, unsigned &sum);

// Whether the count characters are all hexadecimal digits: what tells a
// record cut short from a line that is no record.
inline bool allHexDigits(const char *text, int count)
{
    unsigned bad = 0;
    for (int i = 0; i < count; ++i)
        bad |= hexDigits.values[static_cast<unsigned char>(text[i])];
    return (bad & 0xF0) == 0;
}

// The same by the table alone, for the few digits of a record's head.
inline bool decodeHexPairsByTable(const char *digits, int pairs, unsigned char *out, unsigned &sum)
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

// The first line of head that is not empty, without its end (LF or CRLF);
// false when there is none, or when it does not end within head (then it is
// longer than any record, unless head is the whole file).
bool firstTextLine(const QByteArray &head, bool whole, const char *&line, int &length);

// Lines longer than this are no record of either format (a HEX line holds at
// most 521 characters, an S-record 514).
constexpr int longestRecordLine = 1024;

class RecordText
{
public:
    explicit RecordText(ByteSource &source);
    ~RecordText();

    // The next line without its end (LF or CRLF); false at the end of the
    // text, on a read error and on a line longer than any record.
    bool nextLine(const char *&line, int &length);
    // The same text for a format whose lines may be of any length, in parts
    // of at most a buffer each: the next part of the line, or the first of
    // the next line once one ended. lineEnds: the part is the line's last,
    // its end (LF or CRLF) left out. False at the end of the text and on a
    // read error. A line's first part holds all of it, or more than 4000
    // characters.
    bool nextPart(const char *&part, int &length, bool &lineEnds);
    qint64 lineNumber() const { return number; }
    bool readFailed() const { return failed; }
    bool lineTooLong() const { return tooLong; }

private:
    ByteSource &source;
    int bufferSize;
    std::unique_ptr<char[]> buffer;
    qint64 sourceOffset = 0;
    int start = 0;
    int end = 0;
    qint64 number = 0;
    bool atEnd = false;
    bool failed = false;
    bool tooLong = false;
    bool inLine = false; // a part of the line was given, not its end
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

// What the Intel HEX and S-record readers count for a look inside a file:
// the records of each type and the most data bytes in one data record.
// Counts only, so that millions of records cost no more than a few.
struct RecordTally
{
    qint64 types[10] = {};
    qint64 longestData = 0;

    void count(int type, int dataBytes)
    {
        ++types[type];
        longestData = qMax<qint64>(longestData, dataBytes);
    }
    // recordTypes (each type seen, under its name in names, and its count),
    // records and longestRecord.
    void addTo(QVariantMap &details, const char *const names[], int typeCount) const;
};

// How a record reader stops: at the first line that is wrong, which it names.
InputReader::Result recordDamage(qint64 line, const QString &what, QString &problem);
// What a reader says when the text itself gave out: a read error, or a line
// too long for any record.
InputReader::Result textFailure(const RecordText &text, QString &problem);

#endif // RECORDTEXT_H
