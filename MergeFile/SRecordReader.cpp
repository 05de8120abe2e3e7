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
    unsigned char bytes[260];
    const char *line;
    int length;
    while (text.nextLine(line, length)) {
        if (length == 0)
            continue;
        if (length < 2 || line[0] != 'S' || line[1] < '0' || line[1] > '9' || !allHexDigits(line + 2, length - 2))
            return NotThisFormat;
        if (!outcome.problem.isEmpty())
            continue; // only the shape of the rest matters now
        const qint64 at = text.lineNumber();
        const int type = line[1] - '0';
        const int digits = length - 2;
        if (addressBytes[type] < 0) {
            outcome.damage(at, QStringLiteral("unknown record type S%1").arg(type));
            continue;
        }
        if (digits % 2 != 0 || digits < 2) {
            outcome.damage(at, QStringLiteral("the record is cut short"));
            continue;
        }
        decodeHexPairs(line + 2, qMin(digits / 2, int(sizeof bytes)), bytes);
        const int count = bytes[0]; // address, data and checksum bytes
        if (digits / 2 != count + 1) {
            outcome.damage(at, digits / 2 < count + 1 ? QStringLiteral("the record is cut short")
                                                      : QStringLiteral("the record is longer than its length byte says"));
            continue;
        }
        unsigned sum = 0;
        for (int i = 0; i <= count; ++i)
            sum += bytes[i];
        if ((sum & 0xFF) != 0xFF) {
            outcome.damage(at, QStringLiteral("the checksum does not match"));
            continue;
        }
        const int width = addressBytes[type];
        if (count < width + 1) {
            outcome.damage(at, QStringLiteral("the record is too short for an S%1 record").arg(type));
            continue;
        }
        quint32 address = 0;
        for (int i = 0; i < width; ++i)
            address = (address << 8) | bytes[1 + i];
        if (type >= 1 && type <= 3) {
            if (!data.add(address, bytes + 1 + width, count - width - 1))
                return StoreFailed;
        } else if (type >= 7) {
            content.hasStartAddress = true;
            content.startAddress = address;
        }
    }
    if (text.readFailed())
        return ReadFailed;
    if (text.lineTooLong())
        return NotThisFormat;
    if (!outcome.problem.isEmpty()) {
        problem = outcome.problem;
        return Damaged;
    }
    return Read;
}
