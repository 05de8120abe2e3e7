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
    unsigned char bytes[8];
    const char *line;
    int length;
    while (!ended && text.nextLine(line, length)) {
        if (length == 0)
            continue;
        if (line[0] != ':' || length < 2)
            return NotThisFormat;
        const char *digits = line + 1;
        const int count = length - 1; // digits
        if (!outcome.problem.isEmpty() || count % 2 != 0 || count < 10) {
            // Only the shape of the line matters now, or it is cut short.
            if (!allHexDigits(digits, count))
                return NotThisFormat;
            if (outcome.problem.isEmpty())
                outcome.damage(text.lineNumber(), QStringLiteral("the record is cut short"));
            continue;
        }
        // Length, offset and type; then the bytes, decoded where they stay.
        unsigned sum = 0;
        if (!decodeHexPairs(digits, 4, bytes, sum))
            return NotThisFormat;
        const int size = bytes[0];
        const int type = bytes[3];
        const qint64 offset = (qint64(bytes[1]) << 8) | bytes[2];
        if (count / 2 != size + 5) {
            if (!allHexDigits(digits + 8, count - 8))
                return NotThisFormat;
            outcome.damage(text.lineNumber(), count / 2 < size + 5 ? QStringLiteral("the record is cut short")
                                                                   : QStringLiteral("the record is longer than its length byte says"));
            continue;
        }
        unsigned char field[256];
        unsigned char *into = field;
        if (type == 0) {
            into = data.add(base + offset, size);
            if (!into)
                return StoreFailed;
        }
        if (!decodeHexPairs(digits + 8, size, into, sum) || !decodeHexPairs(digits + 8 + 2 * size, 1, bytes + 4, sum))
            return NotThisFormat;
        if ((sum & 0xFF) != 0) {
            outcome.damage(text.lineNumber(), QStringLiteral("the checksum does not match"));
            continue;
        }
        if (type == 0)
            continue;
        static const int wanted[] = {-1, 0, 2, 4, 2, 4};
        if (type > 5) {
            outcome.damage(text.lineNumber(),
                           QStringLiteral("unknown record type %1")
                               .arg(QString::number(type, 16).toUpper().rightJustified(2, QLatin1Char('0'))));
            continue;
        }
        if (size != wanted[type]) {
            outcome.damage(text.lineNumber(), QStringLiteral("a type %1 record must hold %2 bytes")
                                                  .arg(type, 2, 10, QLatin1Char('0'))
                                                  .arg(wanted[type]));
            continue;
        }
        const quint32 value = size == 4 ? (quint32(field[0]) << 24) | (quint32(field[1]) << 16) | (quint32(field[2]) << 8) | field[3]
                                        : (quint32(field[0]) << 8) | field[1];
        switch (type) {
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
    if (outcome.problem.isEmpty() && !ended)
        outcome.problem = QStringLiteral("it ends without an end-of-file record (a truncated file?)");
    return outcome.finish(text, problem);
}
