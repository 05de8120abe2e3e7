#include "InputReader.h"

#include "RecordText.h"

#include <algorithm>

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

// "@" and one to eight hexadecimal digits, blanks after them allowed; the
// address in value.
bool addressLine(const char *line, int length, quint32 &value)
{
    while (length > 1 && isBlank(line[length - 1]))
        --length;
    if (length < 2 || length > 9 || line[0] != '@')
        return false;
    value = 0;
    for (int i = 1; i < length; ++i) {
        const unsigned digit = hexDigits.values[static_cast<unsigned char>(line[i])];
        if (digit > 0xF)
            return false;
        value = (value << 4) | digit;
    }
    return true;
}

// TI-TXT, the MSP430 programmers' text: "@ADDR" lines, then lines of bytes
// as two hexadecimal digits each, separated by blanks, at consecutive
// addresses from there; "q" ends it.
class TiTxtReader : public InputReader
{
public:
    QLatin1String name() const override { return QLatin1String("ti-txt"); }
    bool tells(const QByteArray &head, qint64 size) const override;
    Result read(ByteSource &source, ScratchStore &store, const ReadOptions &, InputContent &content,
                QString &problem) const override;
};

// A file is TI-TXT when its first line that is not empty is an address line.
bool TiTxtReader::tells(const QByteArray &head, qint64 size) const
{
    const char *line;
    int length;
    quint32 address;
    return firstTextLine(head, size == head.size(), line, length) && addressLine(line, length, address);
}

InputReader::Result TiTxtReader::read(ByteSource &source, ScratchStore &store, const ReadOptions &,
                                      InputContent &content, QString &problem) const
{
    content = InputContent();
    RecordText text(source);
    SegmentCollector data(store, content.segments);
    qint64 address = -1; // none given yet
    const char *line;
    int length;
    const auto damage = [&](const QString &what) { return recordDamage(text.lineNumber(), what, problem); };
    while (text.nextLine(line, length)) {
        if (length == 0)
            continue;
        if (line[0] == 'q' || line[0] == 'Q') {
            for (int i = 1; i < length; ++i) {
                if (!isBlank(line[i]))
                    return damage(QStringLiteral("the q line holds more than q"));
            }
            return Read; // what follows the end is passed over
        }
        if (line[0] == '@') {
            quint32 at;
            if (!addressLine(line, length, at))
                return damage(QStringLiteral("the address is not one to eight hexadecimal digits"));
            address = at;
            continue;
        }
        if (address < 0)
            return damage(QStringLiteral("data comes before any @ address"));
        // Bytes: pairs of digits, each pair on its own between blanks.
        unsigned char bytes[longestRecordLine / 2];
        int count = 0;
        for (int i = 0; i < length;) {
            if (isBlank(line[i])) {
                ++i;
                continue;
            }
            unsigned sum = 0;
            if (i + 1 >= length || (i + 2 < length && !isBlank(line[i + 2]))
                || !decodeHexPairsByTable(line + i, 1, bytes + count, sum))
                return damage(QStringLiteral("it is not bytes as two hexadecimal digits separated by blanks"));
            ++count;
            i += 2;
        }
        if (address + count > addressSpaceEnd)
            return damage(QStringLiteral("its bytes run past address FFFFFFFF"));
        if (count > 0) {
            unsigned char *into = data.add(address, count);
            if (!into)
                return StoreFailed;
            std::copy(bytes, bytes + count, into);
            address += count;
        }
    }
    if (text.readFailed() || text.lineTooLong())
        return textFailure(text, problem);
    return damage(QStringLiteral("the file ends without the q line that ends TI-TXT"));
}

} // namespace

const InputReader &tiTxtInput()
{
    static const TiTxtReader reader;
    return reader;
}
