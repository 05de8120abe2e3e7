#include "InputReader.h"

#include "RecordText.h"


// Record text starts with ':' after any empty lines.
bool IntelHexReader::mayBe(const QByteArray &head) const
{
    for (const char c : head) {
        if (c != '\r' && c != '\n')
            return c == ':';
    }
    return false;
}

InputReader::Result IntelHexReader::read(ByteSource &source, ScratchStore &store, InputContent &content,
                                         QString &problem) const
{
    content = InputContent();
    content.format = InputFormat::IntelHex;
    RecordText text(source);
    SegmentCollector data(store, content.segments);
    RecordOutcome outcome;
    qint64 base = 0; // from the last extended segment (02) or linear (04) address record
    bool ended = false;
    unsigned char bytes[260];
    const char *line;
    int length;
    while (!ended && text.nextLine(line, length)) {
        if (length == 0)
            continue;
        if (line[0] != ':' || length < 2 || !allHexDigits(line + 1, length - 1))
            return NotThisFormat;
        if (!outcome.problem.isEmpty())
            continue; // only the shape of the rest matters now
        const qint64 at = text.lineNumber();
        const int digits = length - 1;
        if (digits % 2 != 0 || digits < 10) {
            outcome.damage(at, QStringLiteral("the record is cut short"));
            continue;
        }
        decodeHexPairs(line + 1, qMin(digits / 2, int(sizeof bytes)), bytes);
        const int count = bytes[0];
        if (digits / 2 != count + 5) {
            outcome.damage(at, digits / 2 < count + 5 ? QStringLiteral("the record is cut short")
                                                      : QStringLiteral("the record is longer than its length byte says"));
            continue;
        }
        unsigned sum = 0;
        for (int i = 0; i < count + 5; ++i)
            sum += bytes[i];
        if ((sum & 0xFF) != 0) {
            outcome.damage(at, QStringLiteral("the checksum does not match"));
            continue;
        }
        const int type = bytes[3];
        const qint64 offset = (qint64(bytes[1]) << 8) | bytes[2];
        const unsigned char *field = bytes + 4;
        const int wanted[] = {-1, 0, 2, 4, 2, 4};
        if (type > 5) {
            outcome.damage(at, QStringLiteral("unknown record type %1").arg(type, 2, 16, QLatin1Char('0')).toUpper());
            continue;
        }
        if (wanted[type] >= 0 && count != wanted[type]) {
            outcome.damage(at, QStringLiteral("a type %1 record must hold %2 bytes").arg(type, 2, 10, QLatin1Char('0')).arg(wanted[type]));
            continue;
        }
        const quint32 value = count == 4 ? (quint32(field[0]) << 24) | (quint32(field[1]) << 16) | (quint32(field[2]) << 8) | field[3]
                                         : (quint32(field[0]) << 8) | field[1];
        switch (type) {
        case 0:
            if (!data.add(base + offset, field, count))
                return StoreFailed;
            break;
        case 1:
            ended = true;
            break;
        case 2:
            base = qint64(value) << 4;
            break;
        case 3: // CS:IP
            content.hasStartAddress = true;
            content.startAddress = ((value >> 16) << 4) + (value & 0xFFFF);
            break;
        case 4:
            base = qint64(value) << 16;
            break;
        case 5:
            content.hasStartAddress = true;
            content.startAddress = value;
            break;
        }
    }
    if (text.readFailed())
        return ReadFailed;
    if (text.lineTooLong())
        return NotThisFormat;
    if (outcome.problem.isEmpty() && !ended)
        outcome.problem = QStringLiteral("it ends without an end-of-file record (a truncated file?)");
    if (!outcome.problem.isEmpty()) {
        problem = outcome.problem;
        return Damaged;
    }
    return Read;
}
