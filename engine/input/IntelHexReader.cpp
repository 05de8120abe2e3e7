#include "InputReader.h"

#include "RecordText.h"

namespace {

// The data bytes each record type must hold; -1: any (data records).
const int wantedSize[] = {-1, 0, 2, 4, 2, 4};
constexpr int lastType = 5;

// Intel HEX: data records (00) at 16-bit offsets from extended segment (02)
// or linear (04) addresses, start addresses (03, 05), an end record (01).
class IntelHexReader : public InputReader
{
public:
    QLatin1String name() const override { return QLatin1String("hex"); }
    bool tells(const QByteArray &head, qint64 size) const override;
    QString toldBy() const override
    {
        return QStringLiteral("its first line that is not empty is a whole Intel HEX record whose checksum matches");
    }
    Result read(ByteSource &source, ScratchStore &store, const ReadOptions &options, InputContent &content,
                QString &problem) const override;

private:
    // The same loop with the details gathered and without: a merge, which
    // does without them, pays nothing for them.
    template <bool gather>
    Result readRecords(ByteSource &source, ScratchStore &store, InputContent &content, QString &problem) const;
};

const char *const typeNames[] = {"00", "01", "02", "03", "04", "05"};

// A file is Intel HEX when its first line holds a whole record of a known
// type whose checksum matches.
bool IntelHexReader::tells(const QByteArray &head, qint64 fileSize) const
{
    const bool whole = fileSize == head.size();
    const char *line;
    int length;
    if (!firstTextLine(head, whole, line, length) || length < 11 || line[0] != ':')
        return false;
    unsigned char bytes[260];
    unsigned sum = 0;
    if (!decodeHexPairsByTable(line + 1, 4, bytes, sum))
        return false;
    const int size = bytes[0];
    return (length - 1) / 2 >= size + 5 && bytes[3] <= lastType
           && decodeHexPairs(line + 9, size + 1, bytes + 4, sum) && (sum & 0xFF) == 0;
}

InputReader::Result IntelHexReader::read(ByteSource &source, ScratchStore &store, const ReadOptions &options,
                                         InputContent &content, QString &problem) const
{
    return options.details ? readRecords<true>(source, store, content, problem)
                           : readRecords<false>(source, store, content, problem);
}

template <bool gather>
InputReader::Result IntelHexReader::readRecords(ByteSource &source, ScratchStore &store, InputContent &content,
                                                QString &problem) const
{
    content = InputContent();
    [[maybe_unused]] RecordTally tally;
    [[maybe_unused]] QString startSegment; // CS:IP, as the last type 03 record gave it
    [[maybe_unused]] qint64 startLinear = -1; // as the last type 05 record gave it
    RecordText text(source);
    SegmentCollector data(store, content.segments);
    qint64 base = 0; // from the last extended segment (02) or linear (04) address record
    // After a segment address (02), offsets wrap round inside the 64 KiB
    // segment; after a linear one (04), or none, they run on.
    bool segmented = false;
    unsigned char bytes[8];
    const char *line;
    int length;
    const auto damage = [&](const QString &what) { return recordDamage(text.lineNumber(), what, problem); };
    const auto notHex = [&] { return damage(QStringLiteral("the record holds a character that is no hexadecimal digit")); };
    for (;;) {
        if (!text.nextLine(line, length)) {
            if (text.readFailed() || text.lineTooLong())
                return textFailure(text, problem);
            problem = QStringLiteral("it ends without an end-of-file record (a truncated file?)");
            return Damaged;
        }
        if (length == 0)
            continue;
        if (line[0] != ':')
            return damage(QStringLiteral("it is no Intel HEX record"));
        const char *digits = line + 1;
        const int count = length - 1; // digits
        if (count % 2 != 0 || count < 10)
            return allHexDigits(digits, count) ? damage(QStringLiteral("the record is cut short")) : notHex();
        // Length, offset and type; then the bytes, decoded where they stay.
        unsigned sum = 0;
        if (!decodeHexPairsByTable(digits, 4, bytes, sum))
            return notHex();
        const int size = bytes[0];
        const int type = bytes[3];
        const qint64 offset = (qint64(bytes[1]) << 8) | bytes[2];
        if (count / 2 != size + 5) {
            if (!allHexDigits(digits + 8, count - 8))
                return notHex();
            return damage(count / 2 < size + 5 ? QStringLiteral("the record is cut short")
                                               : QStringLiteral("the record is longer than its length byte says"));
        }
        // A data record's bytes go where they stay: in one run, or two where a
        // segment wraps round (each decoded before the next is asked for,
        // which may move the store's buffer). A record without bytes is no
        // data at all.
        unsigned char field[256];
        const int first = type == 0 && segmented ? int(qMin<qint64>(size, 0x10000 - offset)) : size;
        const struct
        {
            qint64 address;
            int from, count;
        } runs[] = {{base + offset, 0, first}, {base, first, size - first}};
        for (const auto &run : runs) {
            if (run.count == 0)
                continue;
            unsigned char *into = type == 0 ? data.add(run.address, run.count) : field + run.from;
            if (!into)
                return StoreFailed;
            if (!decodeHexPairs(digits + 8 + 2 * run.from, run.count, into, sum))
                return notHex();
        }
        if (!decodeHexPairs(digits + 8 + 2 * size, 1, bytes + 4, sum))
            return notHex();
        if ((sum & 0xFF) != 0)
            return damage(QStringLiteral("the checksum does not match"));
        if constexpr (gather) {
            if (type <= lastType)
                tally.count(type, type == 0 ? size : 0);
        }
        if (type == 0)
            continue;
        if (type > lastType)
            return damage(QStringLiteral("unknown record type %1")
                              .arg(QString::number(type, 16).toUpper().rightJustified(2, QLatin1Char('0'))));
        if (size != wantedSize[type])
            return damage(QStringLiteral("a type %1 record must hold %2 bytes")
                              .arg(type, 2, 10, QLatin1Char('0'))
                              .arg(wantedSize[type]));
        const quint32 value = size == 4 ? (quint32(field[0]) << 24) | (quint32(field[1]) << 16) | (quint32(field[2]) << 8) | field[3]
                                        : (quint32(field[0]) << 8) | field[1];
        switch (type) {
        case 1:
            if constexpr (gather) {
                tally.addTo(content.details, typeNames, lastType + 1);
                content.details.insert(QStringLiteral("endOfFile"), text.lineNumber());
                if (!startSegment.isEmpty())
                    content.details.insert(QStringLiteral("startSegmentAddress"), startSegment);
                if (startLinear >= 0)
                    content.details.insert(QStringLiteral("startLinearAddress"), quint64(startLinear));
            }
            return Read; // what follows the end record is passed over
        case 2:
            base = qint64(value) << 4;
            segmented = true;
            break;
        case 3: // CS:IP
            content.hasStartAddress = true;
            content.startAddress = ((value >> 16) << 4) + (value & 0xFFFF);
            if constexpr (gather)
                startSegment = QStringLiteral("%1:%2")
                                   .arg(value >> 16, 4, 16, QLatin1Char('0'))
                                   .arg(value & 0xFFFF, 4, 16, QLatin1Char('0'))
                                   .toUpper();
            break;
        case 4:
            base = qint64(value) << 16;
            segmented = false;
            break;
        case 5:
            content.hasStartAddress = true;
            content.startAddress = value;
            if constexpr (gather)
                startLinear = value;
            break;
        }
    }
}

} // namespace

MERGEFILE_REGISTER(IntelHexReader)
{
    static const IntelHexReader reader;
    InputReader::add(reader);
}
