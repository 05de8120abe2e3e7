#include "UnitWriter.h"

#include "Address.h"
#include "Checksums.h"

#include <QtEndian>

#include <cstring>

namespace {

constexpr int prefixSize = 11;        // "DfuSe", version, image size, target count
constexpr int targetPrefixSize = 274; // "Target", alternate setting, named, name, size, elements
constexpr int elementHeaderSize = 8;  // address, size
constexpr int suffixSize = 16;
constexpr int nameRoom = 255;
constexpr int longestName = nameRoom - 1; // one NUL left, so that the name ends

struct DfuseSettings
{
    int alternate = 0;
    QByteArray name; // empty: the target is not named
    quint16 vendor = 0x0483;  // ST
    quint16 product = 0xDF11; // ST's DFU boot loader
    quint16 device = 0xFFFF;  // any release
};

bool parseAlternate(const QString &text, FormatSettings &settings, QString *error)
{
    bool ok = false;
    const int alternate = text.trimmed().toInt(&ok, 10);
    if (!ok || alternate < 0 || alternate > 255) {
        *error = QStringLiteral("DFU alternate setting %1: give 0 to 255").arg(text);
        return false;
    }
    settings.set<DfuseSettings>().alternate = alternate;
    return true;
}

bool parseName(const QString &text, FormatSettings &settings, QString *error)
{
    bool printable = !text.isEmpty() && text.size() <= longestName;
    for (const QChar c : text)
        printable = printable && c.unicode() >= 0x20 && c.unicode() < 0x7F;
    if (!printable) {
        *error = QStringLiteral("DFU target name %1: give 1 to %2 printable ASCII characters").arg(text).arg(longestName);
        return false;
    }
    settings.set<DfuseSettings>().name = text.toLatin1();
    return true;
}

// The suffix's three USB numbers: four hexadecimal digits at most.
template <quint16 DfuseSettings::*field>
bool parseUsbNumber(const QString &text, FormatSettings &settings, QString *error)
{
    qint64 value = 0;
    if (!Address::hexNumber(text, 0xFFFF, &value)) {
        *error = QStringLiteral("DFU suffix number %1: give a hexadecimal number from 0 to FFFF").arg(text);
        return false;
    }
    settings.set<DfuseSettings>().*field = quint16(value);
    return true;
}

// A run of addresses the image has bytes at: one element each.
struct Element
{
    qint64 address = 0;
    qint64 size = 0;
};

// The elements, as UnitWriter counts the runs of one-byte units: a byte that
// follows the last one goes on with its run, a piece's bytes already counted
// count once.
QVector<Element> elementsOf(const MergeLayout *layout)
{
    QVector<Element> elements;
    if (!layout)
        return elements;
    qint64 last = -1; // the first address after the last run
    for (const MergePiece &piece : layout->pieces) {
        const qint64 from = qMax(layout->address(piece), last);
        const qint64 to = layout->end(piece);
        if (from >= to)
            continue;
        if (from == last)
            elements.last().size += to - from;
        else
            elements.append({from, to - from});
        last = to;
    }
    return elements;
}

// ST's DfuSe file, which STM32 boot loaders in DFU mode take through
// dfu-util: a prefix with the file's length, one target (its alternate
// setting, its name) holding an element for each run of the image's bytes at
// its address, then the DFU suffix with the USB numbers and a CRC-32 of all
// before it. Gaps get nothing. Every length is known from the layout before
// the first byte; the CRC is taken as the bytes go out.
class DfuseWriter : public UnitWriter
{
public:
    DfuseWriter(ByteSink &output, const WriterSettings &settings)
        : UnitWriter(output, 1, settings.fill())
        , own(settings.own.get<DfuseSettings>())
        , elements(elementsOf(settings.layout))
    {
    }

    // Refused where the bytes came in other runs than the layout's, whose
    // lengths the file already gives.
    bool finish() override { return UnitWriter::finish() && !wrong && next == elements.size(); }

protected:
    void units(qint64 index, const unsigned char *bytes, qint64 count, bool newSection) override
    {
        start();
        if (newSection) {
            // Its size is the run's as the layout gave it: bytes that start a
            // run elsewhere would not match the lengths already written.
            wrong = wrong || next >= elements.size() || elements.at(next).address != index;
            putWord(quint32(index));
            putWord(wrong ? 0 : quint32(elements.at(next).size));
            ++next;
        }
        while (count > 0) {
            const int step = int(qMin<qint64>(count, 64 << 10));
            put(bytes, step);
            bytes += step;
            count -= step;
        }
    }
    void end() override
    {
        start();
        unsigned char suffix[12];
        qToLittleEndian(own.device, suffix);
        qToLittleEndian(own.product, suffix + 2);
        qToLittleEndian(own.vendor, suffix + 4);
        qToLittleEndian(quint16(0x011A), suffix + 6); // DFU 1.1a, as DfuSe files give it
        std::memcpy(suffix + 8, "UFD", 3);
        suffix[11] = suffixSize;
        put(suffix, sizeof suffix);
        // The CRC register as it stands, without the final inversion zlib's
        // CRC-32 makes.
        putWord(~crc.result());
    }
    qint64 fixedSize() const override { return prefixSize + targetPrefixSize + suffixSize; }
    qint64 sectionSize(qint64) const override { return elementHeaderSize; }
    qint64 unitsSize(qint64 count) const override { return count; }

private:
    void put(const void *bytes, int length)
    {
        std::memcpy(reserve(length), bytes, size_t(length));
        crc.add(static_cast<const char *>(bytes), length);
    }
    void putWord(quint32 value)
    {
        unsigned char word[4];
        qToLittleEndian(value, word);
        put(word, 4);
    }
    // The prefix and the target's, before the first element.
    void start()
    {
        if (started)
            return;
        started = true;
        qint64 targetSize = 0;
        for (const Element &e : std::as_const(elements))
            targetSize += elementHeaderSize + e.size;
        unsigned char prefix[prefixSize];
        std::memcpy(prefix, "DfuSe", 5);
        prefix[5] = 0x01;
        qToLittleEndian(quint32(prefixSize + targetPrefixSize + targetSize), prefix + 6);
        prefix[10] = 1; // targets
        put(prefix, prefixSize);
        unsigned char target[targetPrefixSize];
        std::memset(target, 0, sizeof target);
        std::memcpy(target, "Target", 6);
        target[6] = quint8(own.alternate);
        qToLittleEndian(quint32(own.name.isEmpty() ? 0 : 1), target + 7);
        std::memcpy(target + 11, own.name.constData(), size_t(qMin(own.name.size(), longestName)));
        qToLittleEndian(quint32(targetSize), target + 11 + nameRoom);
        qToLittleEndian(quint32(elements.size()), target + 15 + nameRoom);
        put(target, targetPrefixSize);
    }

    DfuseSettings own;
    QVector<Element> elements;
    int next = 0; // the element that starts next
    bool wrong = false; // the bytes came in other runs than the layout's
    bool started = false;
    Crc32 crc;
};

FormatOption option(const char *name, const char *value, const QString &help,
                    bool (*parse)(const QString &, FormatSettings &, QString *))
{
    FormatOption o;
    o.name = QLatin1String(name);
    o.valueName = QLatin1String(value);
    o.help = help;
    o.parse = parse;
    return o;
}

} // namespace

MERGEFILE_REGISTER(DfuseWriter)
{
    static const OutputFormatInfo format = [] {
        OutputFormatInfo f;
        f.name = "dfuse";
        f.summary = "DfuSe for dfu-util and STM32 DFU boot loaders (--dfu-*)";
        f.extensions = ".dfu";
        f.options = {
            option("dfu-alt", "n",
                   QStringLiteral("The alternate setting of --format dfuse's one target, the memory the boot loader "
                                  "writes it to: 0 (the default, an STM32's internal flash) to 255."),
                   parseAlternate),
            option("dfu-target-name", "text",
                   QStringLiteral("The name of --format dfuse's target (up to 254 printable ASCII characters); "
                                  "without it the target is not named."),
                   parseName),
            option("dfu-vid", "id",
                   QStringLiteral("The USB vendor ID in --format dfuse's DFU suffix, hexadecimal: 0483 (ST) unless "
                                  "given; FFFF: any."),
                   parseUsbNumber<&DfuseSettings::vendor>),
            option("dfu-pid", "id",
                   QStringLiteral("The USB product ID in --format dfuse's DFU suffix, hexadecimal: DF11 (the STM32 "
                                  "boot loader) unless given; FFFF: any."),
                   parseUsbNumber<&DfuseSettings::product>),
            option("dfu-bcd", "release",
                   QStringLiteral("The device release (bcdDevice) in --format dfuse's DFU suffix, hexadecimal: FFFF "
                                  "(any) unless given."),
                   parseUsbNumber<&DfuseSettings::device>),
        };
        f.make = [](ByteSink &output, const WriterSettings &settings) {
            return std::unique_ptr<ImageWriter>(new DfuseWriter(output, settings));
        };
        return f;
    }();
    OutputFormats::add(format);
}
