#include "InputReader.h"

#include "RecordText.h"

namespace {

// Address bytes of S0 to S9; S4 is no record type.
const int addressBytes[] = {2, 2, 3, 4, -1, 2, 3, 4, 3, 2};

// Motorola S-records: S1, S2 and S3 data with 16-, 24- and 32-bit
// addresses, S7, S8 and S9 start addresses; S0 headers and S5/S6 counts are
// checked and passed over.
class SRecordReader : public InputReader
{
public:
    QLatin1String name() const override { return QLatin1String("srec"); }
    bool tells(const QByteArray &head, qint64 size) const override;
    QString toldBy() const override
    {
        return QStringLiteral("its first line that is not empty is a whole S-record whose checksum matches");
    }
    Result read(ByteSource &source, ScratchStore &store, const ReadOptions &options, InputContent &content,
                QString &problem) const override;

private:
    // The same loop with the details gathered and without: a merge, which
    // does without them, pays nothing for them.
    template <bool gather>
    Result readRecords(ByteSource &source, ScratchStore &store, InputContent &content, QString &problem) const;
};

const char *const typeNames[] = {"S0", "S1", "S2", "S3", "S4", "S5", "S6", "S7", "S8", "S9"};

// A header's bytes as text: printable ASCII as it is, anything else, and the
// backslash that would make an escape ambiguous, as \xNN.
QString headerText(const unsigned char *bytes, int size)
{
    QString text;
    for (int i = 0; i < size; ++i) {
        const unsigned char c = bytes[i];
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            text += QLatin1Char(char(c));
        } else {
            static const char digits[] = "0123456789ABCDEF";
            text += QLatin1String("\\x");
            text += QLatin1Char(digits[c >> 4]);
            text += QLatin1Char(digits[c & 0xF]);
        }
    }
    return text;
}

// A file is S-records when its first line holds a whole record of a known
// type whose checksum matches.
bool SRecordReader::tells(const QByteArray &head, qint64 fileSize) const
{
    const bool whole = fileSize == head.size();
    const char *line;
    int length;
    if (!firstTextLine(head, whole, line, length) || length < 4 || line[0] != 'S' || line[1] < '0' || line[1] > '9')
        return false;
    const int width = addressBytes[line[1] - '0'];
    unsigned char bytes[256];
    unsigned sum = 0;
    if (width < 0 || !decodeHexPairsByTable(line + 2, 1, bytes, sum))
        return false;
    const int size = bytes[0];
    return (length - 2) / 2 >= size + 1 && size >= width + 1 && decodeHexPairs(line + 4, size, bytes, sum)
           && (sum & 0xFF) == 0xFF;
}

InputReader::Result SRecordReader::read(ByteSource &source, ScratchStore &store, const ReadOptions &options,
                                        InputContent &content, QString &problem) const
{
    return options.details ? readRecords<true>(source, store, content, problem)
                           : readRecords<false>(source, store, content, problem);
}

template <bool gather>
InputReader::Result SRecordReader::readRecords(ByteSource &source, ScratchStore &store, InputContent &content,
                                               QString &problem) const
{
    content = InputContent();
    [[maybe_unused]] RecordTally tally;
    [[maybe_unused]] QString header; // the first S0 record's
    [[maybe_unused]] qint64 counted = -1; // the last S5 or S6 record's count
    RecordText text(source);
    SegmentCollector data(store, content.segments);
    quint32 dataRecords = 0;
    const char *line;
    int length;
    const auto damage = [&](const QString &what) { return recordDamage(text.lineNumber(), what, problem); };
    const auto notHex = [&] { return damage(QStringLiteral("the record holds a character that is no hexadecimal digit")); };
    while (text.nextLine(line, length)) {
        if (length == 0)
            continue;
        if (length < 2 || line[0] != 'S' || line[1] < '0' || line[1] > '9')
            return damage(QStringLiteral("it is no S-record"));
        const int type = line[1] - '0';
        const char *digits = line + 2;
        const int count = length - 2; // digits
        const int width = addressBytes[type];
        if (!allHexDigits(digits, count < 2 ? count : 2))
            return notHex();
        if (width < 0)
            return damage(QStringLiteral("unknown record type S%1").arg(type));
        if (count % 2 != 0 || count < 2)
            return allHexDigits(digits, count) ? damage(QStringLiteral("the record is cut short")) : notHex();
        unsigned sum = 0;
        unsigned char size;
        decodeHexPairsByTable(digits, 1, &size, sum);
        // The length byte counts the address, the data and the checksum.
        if (count / 2 != size + 1 || size < width + 1) {
            if (!allHexDigits(digits + 2, count - 2))
                return notHex();
            return damage(count / 2 < size + 1   ? QStringLiteral("the record is cut short")
                          : count / 2 > size + 1 ? QStringLiteral("the record is longer than its length byte says")
                                                 : QStringLiteral("the record is too short for an S%1 record").arg(type));
        }
        unsigned char address[4];
        if (!decodeHexPairsByTable(digits + 2, width, address, sum))
            return notHex();
        quint32 at = 0;
        for (int i = 0; i < width; ++i)
            at = (at << 8) | address[i];
        const int dataSize = size - width - 1;
        unsigned char field[256];
        unsigned char *into = field;
        const bool isData = type >= 1 && type <= 3;
        if (isData && dataSize > 0) { // a record without bytes is no data at all
            into = data.add(at, dataSize);
            if (!into)
                return StoreFailed;
        }
        unsigned char checksum;
        if (!decodeHexPairs(digits + 2 + 2 * width, dataSize, into, sum)
            || !decodeHexPairs(digits + 2 + 2 * (width + dataSize), 1, &checksum, sum))
            return notHex();
        if ((sum & 0xFF) != 0xFF)
            return damage(QStringLiteral("the checksum does not match"));
        if (isData)
            ++dataRecords;
        if constexpr (gather) {
            tally.count(type, isData ? dataSize : 0);
            if (type == 0 && tally.types[0] == 1)
                header = headerText(into, dataSize);
            if (type == 5 || type == 6)
                counted = at;
        }
        // S5 and S6 count the data records before them.
        if ((type == 5 || type == 6) && at != dataRecords)
            return damage(QStringLiteral("the S%1 record counts %2 data records, but %3 came before it")
                              .arg(type)
                              .arg(at)
                              .arg(dataRecords));
        if (type >= 7) {
            content.hasStartAddress = true;
            content.startAddress = at;
        }
    }
    if (text.readFailed() || text.lineTooLong())
        return textFailure(text, problem);
    if constexpr (gather) {
        tally.addTo(content.details, typeNames, 10);
        if (tally.types[0] > 0)
            content.details.insert(QStringLiteral("header"), header);
        // 16, 24 or 32 bits; each of them, where the data records mix them.
        QVariantList widths;
        for (int type = 1; type <= 3; ++type) {
            if (tally.types[type] > 0)
                widths << qint64(8 * addressBytes[type]);
        }
        if (widths.size() == 1)
            content.details.insert(QStringLiteral("addressWidth"), widths.first());
        else if (!widths.isEmpty())
            content.details.insert(QStringLiteral("addressWidth"), widths);
        if (counted >= 0)
            content.details.insert(QStringLiteral("count"), counted);
    }
    return Read;
}

} // namespace

MERGEFILE_REGISTER(SRecordReader)
{
    static const SRecordReader reader;
    InputReader::add(reader);
}
