#include "InputReader.h"

#include "RecordText.h"

// Record text starts with 'S' and a digit after any empty lines.
bool SRecordReader::mayBe(const QByteArray &head) const
{
    for (int i = 0; i < head.size(); ++i) {
        if (head[i] != '\r' && head[i] != '\n')
            return head[i] == 'S' && i + 1 < head.size() && head[i + 1] >= '0' && head[i + 1] <= '9';
    }
    return false;
}

InputReader::Result SRecordReader::read(ByteSource &source, ScratchStore &store, InputContent &content,
                                        QString &problem) const
{
    content = InputContent();
    content.format = InputFormat::SRecord;
    RecordText text(source);
    SegmentCollector data(store, content.segments);
    RecordOutcome outcome;
    // Address bytes of S0 to S9; S4 is no record type.
    const int addressBytes[] = {2, 2, 3, 4, -1, 2, 3, 4, 3, 2};
    const char *line;
    int length;
    while (text.nextLine(line, length)) {
        if (length == 0)
            continue;
        if (length < 2 || line[0] != 'S' || line[1] < '0' || line[1] > '9')
            return NotThisFormat;
        const int type = line[1] - '0';
        const char *digits = line + 2;
        const int count = length - 2; // digits
        const int width = addressBytes[type];
        if (!outcome.problem.isEmpty() || width < 0 || count % 2 != 0 || count < 2) {
            // Only the shape of the line matters now, or it is no record.
            if (!allHexDigits(digits, count))
                return NotThisFormat;
            if (width < 0)
                outcome.damage(text.lineNumber(), QStringLiteral("unknown record type S%1").arg(type));
            else
                outcome.damage(text.lineNumber(), QStringLiteral("the record is cut short"));
            continue;
        }
        unsigned sum = 0;
        unsigned char size;
        if (!decodeHexPairs(digits, 1, &size, sum))
            return NotThisFormat;
        // The length byte counts the address, the data and the checksum.
        if (count / 2 != size + 1 || size < width + 1) {
            if (!allHexDigits(digits + 2, count - 2))
                return NotThisFormat;
            outcome.damage(text.lineNumber(),
                           count / 2 < size + 1 ? QStringLiteral("the record is cut short")
                           : count / 2 > size + 1 ? QStringLiteral("the record is longer than its length byte says")
                                                  : QStringLiteral("the record is too short for an S%1 record").arg(type));
            continue;
        }
        unsigned char address[4];
        if (!decodeHexPairs(digits + 2, width, address, sum))
            return NotThisFormat;
        quint32 at = 0;
        for (int i = 0; i < width; ++i)
            at = (at << 8) | address[i];
        const int dataSize = size - width - 1;
        unsigned char field[256];
        unsigned char *into = field;
        if (type >= 1 && type <= 3) {
            into = data.add(at, dataSize);
            if (!into)
                return StoreFailed;
        }
        unsigned char checksum;
        if (!decodeHexPairs(digits + 2 + 2 * width, dataSize, into, sum)
            || !decodeHexPairs(digits + 2 + 2 * (width + dataSize), 1, &checksum, sum))
            return NotThisFormat;
        if ((sum & 0xFF) != 0xFF) {
            outcome.damage(text.lineNumber(), QStringLiteral("the checksum does not match"));
            continue;
        }
        if (type >= 7) {
            content.hasStartAddress = true;
            content.startAddress = at;
        }
    }
    return outcome.finish(text, problem);
}
