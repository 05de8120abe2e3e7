#include "InputReader.h"

#include <QtEndian>

#include <memory>

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
};

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
            if (flags & (notMainFlash | fileContainer))
                continue;
            if (options.uf2Family >= 0 && (!(flags & familyPresent) || le32(block + 28) != quint32(options.uf2Family)))
                continue;
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
    return numbers.complete(problem) ? Read : Damaged;
}

} // namespace

const InputReader &uf2Input()
{
    static const Uf2Reader reader;
    return reader;
}
