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
    QString toldBy() const override
    {
        return QStringLiteral("its first line that is not empty is @ and a hexadecimal address");
    }
    Result read(ByteSource &source, ScratchStore &store, const ReadOptions &options, InputContent &content,
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

// A line's bytes as they come, part by part: pairs of digits between blanks,
// gathered and handed to the store a few hundred at a time, so that a line
// of any length costs no more.
class DataLine
{
public:
    explicit DataLine(SegmentCollector &data)
        : data(data)
    {
    }
    // false: it is not bytes as two hexadecimal digits separated by blanks,
    // or (outcome()) they could not be stored.
    bool take(const char *text, int length)
    {
        for (int i = 0; i < length; ++i) {
            const char c = text[i];
            if (isBlank(c)) {
                if (digits == 1)
                    return false;
                digits = 0;
                continue;
            }
            const unsigned value = hexDigits.values[static_cast<unsigned char>(c)];
            if (value > 0xF || digits == 2)
                return false;
            if (digits++ == 0) {
                high = value;
            } else {
                bytes[count++] = static_cast<unsigned char>((high << 4) | value);
                if (count == sizeof bytes && store() != Stored)
                    return false;
            }
        }
        return true;
    }
    bool lineEnds()
    {
        const bool whole = digits != 1;
        digits = 0;
        return whole;
    }
    enum Outcome { Stored, PastTheEnd, NoRoom };
    // What is gathered, to the store at the address after the last.
    Outcome store()
    {
        if (count == 0)
            return stored = Stored;
        if (address + count > addressSpaceEnd)
            return stored = PastTheEnd;
        unsigned char *into = data.add(address, count);
        if (!into)
            return stored = NoRoom;
        std::copy(bytes, bytes + count, into);
        address += count;
        count = 0;
        return stored = Stored;
    }
    Outcome outcome() const { return stored; }
    qint64 address = -1; // none given yet

private:
    SegmentCollector &data;
    unsigned char bytes[512];
    int count = 0;
    int digits = 0; // of the byte being read; 2: one was read, a blank must follow
    unsigned high = 0;
    Outcome stored = Stored;
};

InputReader::Result TiTxtReader::read(ByteSource &source, ScratchStore &store, const ReadOptions &options,
                                      InputContent &content, QString &problem) const
{
    // The details: @ lines, and the most bytes on one line, each line's
    // counted from the address it began at.
    const bool gather = options.details;
    qint64 sections = 0;
    qint64 longestLine = 0;
    qint64 lineStart = 0;
    content = InputContent();
    RecordText text(source);
    SegmentCollector data(store, content.segments);
    DataLine bytes(data);
    const char *part;
    int length;
    bool ends;
    bool first = true; // the part starts a line
    enum { Data, Address, End } line = Data;
    quint32 at = 0;
    const auto damage = [&](const QString &what) { return recordDamage(text.lineNumber(), what, problem); };
    const auto notBytes = [&] { return damage(QStringLiteral("it is not bytes as two hexadecimal digits separated by blanks")); };
    const auto storeFault = [&] {
        return bytes.outcome() == DataLine::NoRoom ? StoreFailed : damage(QStringLiteral("its bytes run past address FFFFFFFF"));
    };
    // A line of any length comes in parts; the first holds all of its start,
    // where an address or a q stands.
    while (text.nextPart(part, length, ends)) {
        int from = 0;
        if (first) {
            lineStart = bytes.address;
            if (length > 0 && (part[0] == 'q' || part[0] == 'Q')) {
                line = End;
                from = 1;
            } else if (length > 0 && part[0] == '@') {
                line = Address;
                from = 1;
                at = 0;
                for (; from < length && from <= 9; ++from) {
                    const unsigned digit = hexDigits.values[static_cast<unsigned char>(part[from])];
                    if (digit > 0xF)
                        break;
                    at = (at << 4) | digit;
                }
                if (from == 1 || from > 9)
                    return damage(QStringLiteral("the address is not one to eight hexadecimal digits"));
            } else if (length > 0) {
                line = Data;
                if (bytes.address < 0)
                    return damage(QStringLiteral("data comes before any @ address"));
            }
        }
        if (line == Data) {
            if (!bytes.take(part + from, length - from))
                return bytes.outcome() == DataLine::Stored ? notBytes() : storeFault();
        } else {
            for (int i = from; i < length; ++i) {
                if (!isBlank(part[i]))
                    return damage(line == End ? QStringLiteral("the q line holds more than q")
                                              : QStringLiteral("the address is not one to eight hexadecimal digits"));
            }
        }
        first = ends;
        if (!ends)
            continue;
        if (line == Data && !bytes.lineEnds())
            return notBytes();
        if (bytes.store() != DataLine::Stored)
            return storeFault();
        if (gather) {
            if (line == Data)
                longestLine = qMax(longestLine, bytes.address - lineStart);
            sections += line == Address ? 1 : 0;
        }
        if (line == End) {
            if (gather) {
                content.details.insert(QStringLiteral("sections"), sections);
                content.details.insert(QStringLiteral("longestLine"), longestLine);
                content.details.insert(QStringLiteral("lines"), text.lineNumber());
            }
            return Read; // what follows the end is passed over
        }
        if (line == Address)
            bytes.address = at;
        line = Data;
    }
    if (text.readFailed())
        return ReadFailed;
    return damage(QStringLiteral("the file ends without the q line that ends TI-TXT"));
}

} // namespace

MERGEFILE_REGISTER(TiTxtReader)
{
    static const TiTxtReader reader;
    InputReader::add(reader);
}
