#ifndef RECORDTEXT_H
#define RECORDTEXT_H

#include "InputReader.h"

#include <memory>

// What the Intel HEX and S-record readers share: the text read line by line
// through one buffer, hexadecimal digits, and the decoded data gathered into
// segments in the store.

// True when every one of the count characters is a hexadecimal digit.
bool allHexDigits(const char *text, int count);
// pairs bytes from 2 * pairs digits that are known to be hexadecimal.
void decodeHexPairs(const char *digits, int pairs, unsigned char *out);

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
    bool add(qint64 address, const unsigned char *bytes, int count);

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
};

#endif // RECORDTEXT_H
