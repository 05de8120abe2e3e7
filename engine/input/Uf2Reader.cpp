#include "InputReader.h"
#include "Uf2Family.h"

#include "Address.h"

#include <QtEndian>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

constexpr int blockSize = 512;
constexpr int largestPayload = 476;
constexpr int blocksAtOnce = 128;
constexpr quint32 notMainFlash = 0x00000001;
constexpr quint32 fileContainer = 0x00001000;
constexpr quint32 familyPresent = 0x00002000;

quint32 le32(const unsigned char *at)
{
    return qFromLittleEndian<quint32>(at);
}

QString hex8(quint32 value)
{
    return QStringLiteral("%1").arg(value, 8, 16, QLatin1Char('0')).toUpper();
}

bool hasMagics(const unsigned char *block)
{
    return le32(block) == 0x0A324655 && le32(block + 4) == 0x9E5D5157 && le32(block + blockSize - 4) == 0x0AB16F30;
}

// Which block comes next, by the numbers each block carries: which of how
// many blocks of its file it is, from 0 in the file's order. A file made of
// UF2 files one after the other (one for each family) starts again at 0
// after the last block of each, and so may a file of another family after
// one that stopped short of its count: an RP2350 file opens with a block,
// one of two, that its boot ROM takes and passes over. Blocks passed over
// here count all the same.
class BlockNumbers
{
public:
    // Whether the block comes where its numbers say it should; why not in
    // problem.
    bool follows(const unsigned char *block, QString &problem)
    {
        const quint32 number = le32(block + 20);
        const quint32 count = le32(block + 24);
        const qint64 family = le32(block + 8) & familyPresent ? qint64(le32(block + 28)) : -1;
        const bool begins = next == 0 || (number == 0 && family != fileFamily);
        if (begins && number == 0 && count == 0) {
            problem = QStringLiteral("says its file holds no block");
            return false;
        }
        const quint32 wanted = begins ? 0 : quint32(next);
        const quint32 wantedCount = begins ? count : fileCount;
        if (number != wanted || count != wantedCount) {
            problem = count != wantedCount
                          ? QStringLiteral("says its file holds %1 blocks, where the blocks before it said %2").arg(count).arg(wantedCount)
                          : QStringLiteral("is numbered %1 of %2, where %3 of %2 should come (a block missing, given twice or "
                                           "out of order)")
                                .arg(number)
                                .arg(count)
                                .arg(wanted);
            return false;
        }
        fileCount = count;
        fileFamily = family;
        next = number + 1 == count ? 0 : qint64(number) + 1;
        return true;
    }
    // Whether the last file was whole; what is missing in problem.
    bool complete(QString &problem) const
    {
        if (next == 0)
            return true;
        problem = QStringLiteral("it ends where UF2 block %1 of %2 should follow (a truncated file?)").arg(next).arg(fileCount);
        return false;
    }

private:
    qint64 next = 0; // the number the next block must have; 0: a file may begin
    quint32 fileCount = 0;
    qint64 fileFamily = -1; // none
};

// The families UF2 boot loaders are known by.
struct Family
{
    quint32 id;
    const char *name;
};
const Family knownFamilies[] = {
    {0xE48BFF56, "rp2040"},        {0xE48BFF57, "rp2 absolute"},  {0xE48BFF58, "rp2 data"},
    {0xE48BFF59, "rp2350"},        {0xE48BFF5A, "rp2350 risc-v"}, {0xE48BFF5B, "rp2350 non-secure"},
    {0x68ED2B88, "samd21"},        {0x55114460, "samd51"},        {0xADA52840, "nrf52840"},
    {0x621E937A, "nrf52833"},      {0x5EE21072, "stm32f1"},       {0x57755A57, "stm32f4"},
    {0x00FF6919, "stm32l4"},       {0xBFDD4EEE, "esp32s2"},       {0xC47E5767, "esp32s3"},
    {0xD42BA06C, "esp32c3"},
};

// What a look inside a UF2 file shows: how many blocks, of which families,
// and which blocks were passed over and why. Bounded whatever the file: the
// first families and blocks passed over, and how many in all.
class Uf2Details
{
public:
    void block(const unsigned char *block)
    {
        ++blocks;
        if (!(le32(block + 8) & familyPresent))
            return;
        const quint32 id = le32(block + 28);
        // Blocks of one family mostly come together: the last one first.
        if (last < 0 || families[size_t(last)].id != id) {
            const auto found = std::find_if(families.begin(), families.end(), [id](const Seen &seen) { return seen.id == id; });
            last = int(found - families.begin());
            if (found == families.end()) {
                if (families.size() == size_t(InputContent::listedAtMost)) {
                    unlisted = true;
                    last = -1;
                    return;
                }
                families.push_back({id, 0});
            }
        }
        ++families[size_t(last)].blocks;
    }
    void passedOver(qint64 number, const QString &reason)
    {
        if (passed.size() < InputContent::listedAtMost)
            passed << QVariantMap{{QStringLiteral("block"), number}, {QStringLiteral("reason"), reason}};
        ++passedCount;
    }
    QVariantMap details() const
    {
        QVariantList list;
        for (const Seen &family : families) {
            QVariantMap entry{{QStringLiteral("id"), quint64(family.id)}, {QStringLiteral("blocks"), family.blocks}};
            for (const Family &known : knownFamilies) {
                if (known.id == family.id)
                    entry.insert(QStringLiteral("name"), QLatin1String(known.name));
            }
            list << entry;
        }
        QVariantMap map{{QStringLiteral("blocks"), blocks},
                        {QStringLiteral("families"), list},
                        {QStringLiteral("passedOver"), passed},
                        {QStringLiteral("passedOverCount"), passedCount}};
        if (unlisted)
            map.insert(QStringLiteral("moreFamilies"), true);
        return map;
    }

private:
    struct Seen
    {
        quint32 id;
        qint64 blocks;
    };
    qint64 blocks = 0;
    std::vector<Seen> families; // in the order they came
    int last = -1;              // the last block's, in families
    bool unlisted = false;      // more families than are listed
    QVariantList passed;
    qint64 passedCount = 0;
};

// The USB Flashing Format: 512-byte blocks, each with its target address and
// up to 476 bytes of payload. The payload stays in the file: each block's is
// a segment read from there. Blocks for other memories than the main flash,
// files for a boot loader's file system and, when a family is asked for,
// blocks of other families are passed over.
class Uf2Reader : public InputReader
{
public:
    QLatin1String name() const override { return QLatin1String("uf2"); }
    bool tells(const QByteArray &head, qint64 size) const override;
    QString toldBy() const override
    {
        return QStringLiteral("its first 512 bytes are a UF2 block: both start magics and the end magic");
    }
    Result read(ByteSource &source, ScratchStore &store, const ReadOptions &options, InputContent &content,
                QString &problem) const override;
    const QVector<FormatOption> &options() const override;
};

// The families a board's boot loader names, by the names users know.
const Family askedFamilies[] = {
    {0xE48BFF56, "rp2040"},  {0xE48BFF59, "rp2350"},  {0x68ED2B88, "samd21"},
    {0x55114460, "samd51"},  {0xADA52840, "nrf52840"}, {0x621E937A, "nrf52833"},
    {0x5EE21072, "stm32f1"}, {0x57755A57, "stm32f4"}, {0x00FF6919, "stm32l4"},
};

QStringList askedFamilyNames()
{
    QStringList names;
    for (const Family &family : askedFamilies)
        names << QLatin1String(family.name);
    return names;
}

// "a, b or c"
QString alternatives(const QStringList &names)
{
    return names.size() < 2 ? names.join(QString()) : names.mid(0, names.size() - 1).join(QLatin1String(", ")) + QLatin1String(" or ") + names.last();
}

bool parseFamily(const QString &text, FormatSettings &settings, QString *error)
{
    for (const Family &family : askedFamilies) {
        if (text.compare(QLatin1String(family.name), Qt::CaseInsensitive) == 0) {
            settings.set<Uf2Family>().id = family.id;
            return true;
        }
    }
    qint64 id = -1;
    if (!Address::hexNumber(text, addressSpaceEnd - 1, &id)) {
        *error = QStringLiteral("UF2 family %1: give a hexadecimal ID or one of %2").arg(text, alternatives(askedFamilyNames()));
        return false;
    }
    settings.set<Uf2Family>().id = id;
    return true;
}

// One option for UF2 in and out: an input's, so that it is taken whatever
// the output's format.
const QVector<FormatOption> &Uf2Reader::options() const
{
    static const QVector<FormatOption> list = [] {
        FormatOption family;
        family.name = QStringLiteral("uf2-family");
        family.valueName = QStringLiteral("id");
        family.help = QStringLiteral("The family ID written into every UF2 block (and the only family read from UF2 "
                                     "inputs): a hexadecimal number, or one of %1. Without it the blocks carry none.")
                          .arg(askedFamilyNames().join(QLatin1String(", ")));
        family.words = askedFamilyNames();
        family.parse = parseFamily;
        return QVector<FormatOption>{family};
    }();
    return list;
}

// A file is UF2 when its first 512 bytes are a block with both start magics
// and the end magic. Its length is not asked: a file cut short is still UF2,
// and refused as such.
bool Uf2Reader::tells(const QByteArray &head, qint64) const
{
    return head.size() >= blockSize && hasMagics(reinterpret_cast<const unsigned char *>(head.constData()));
}

InputReader::Result Uf2Reader::read(ByteSource &source, ScratchStore &, const ReadOptions &options,
                                    InputContent &content, QString &problem) const
{
    content = InputContent();
    const qint64 size = source.size();
    if (size % blockSize != 0) {
        problem = QStringLiteral("its length, %1 bytes, is not a whole number of 512-byte UF2 blocks").arg(size);
        return Damaged;
    }
    const auto damaged = [&](qint64 number, const QString &why) {
        problem = QStringLiteral("UF2 block %1 (at byte %2) %3").arg(number).arg(number * blockSize).arg(why);
        return Damaged;
    };
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[blocksAtOnce * blockSize]);
    BlockNumbers numbers;
    std::unique_ptr<Uf2Details> details(options.details ? new Uf2Details : nullptr);
    const qint64 asked = options.formats.get<Uf2Family>().id;
    for (qint64 first = 0; first * blockSize < size;) {
        const qint64 blocks = qMin<qint64>(blocksAtOnce, size / blockSize - first);
        for (qint64 done = 0; done < blocks * blockSize;) {
            const qint64 n = source.readAt(first * blockSize + done, reinterpret_cast<char *>(buffer.get()) + done,
                                           blocks * blockSize - done);
            if (n <= 0)
                return ReadFailed;
            done += n;
        }
        for (qint64 k = 0; k < blocks; ++k) {
            const unsigned char *block = buffer.get() + k * blockSize;
            const qint64 number = first + k;
            if (!hasMagics(block))
                return damaged(number, QStringLiteral("lacks the UF2 magic numbers"));
            QString why;
            if (!numbers.follows(block, why))
                return damaged(number, why);
            const quint32 flags = le32(block + 8);
            const quint32 address = le32(block + 12);
            const quint32 payload = le32(block + 16);
            if (details)
                details->block(block);
            if (flags & (notMainFlash | fileContainer)) {
                if (details)
                    details->passedOver(number, flags & notMainFlash ? QStringLiteral("not for the main flash")
                                                                     : QStringLiteral("a file for the boot loader's file system"));
                continue;
            }
            if (asked >= 0 && (!(flags & familyPresent) || le32(block + 28) != quint32(asked))) {
                if (details)
                    details->passedOver(number, flags & familyPresent
                                                    ? QStringLiteral("of family 0x%1, not the one asked for").arg(hex8(le32(block + 28)))
                                                    : QStringLiteral("of no family, where one was asked for"));
                continue;
            }
            if (payload == 0 || payload > largestPayload)
                return damaged(number, QStringLiteral("says it carries %1 bytes; a block carries 1 to 476").arg(payload));
            if (qint64(address) + payload > addressSpaceEnd)
                return damaged(number, QStringLiteral("runs past address FFFFFFFF"));
            MergeSegment segment;
            segment.address = address;
            segment.size = payload;
            segment.dataOffset = number * blockSize + 32;
            content.segments.append(segment);
        }
        first += blocks;
    }
    if (!numbers.complete(problem))
        return Damaged;
    if (details)
        content.details = details->details();
    return Read;
}

} // namespace

MERGEFILE_REGISTER(Uf2Reader)
{
    static const Uf2Reader reader;
    InputReader::add(reader);
}
