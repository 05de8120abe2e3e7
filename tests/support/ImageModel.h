#ifndef IMAGEMODEL_H
#define IMAGEMODEL_H

// The image a merge must give, worked out the plain way: every address of
// the image a byte in memory, the files copied in one after the other, the
// fields summed by their published definitions. Slow and obviously right;
// the merges of the suites and fuzzers are compared with it byte for byte.
// Also the layouts it is tried on: files, gaps and pads whose sizes lie on
// and around the sizes of the program's buffers.

#include <QByteArray>
#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QString>
#include <QStringList>
#include <QVector>

namespace Model {

// CRC-32/ISO-HDLC by the catalogue's definition (width 32, polynomial
// 0x04C11DB7 reflected, initial value and final XOR all ones), bit by bit
// into a table: check value 0xCBF43926 for "123456789".
inline quint32 crc32(const char *data, qint64 size, quint32 crc = 0)
{
    static const struct Table
    {
        quint32 entries[256];
        Table()
        {
            for (quint32 n = 0; n < 256; ++n) {
                quint32 c = n;
                for (int k = 0; k < 8; ++k)
                    c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
                entries[n] = c;
            }
        }
    } table;
    crc = ~crc;
    for (qint64 i = 0; i < size; ++i)
        crc = table.entries[(crc ^ quint8(data[i])) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

// A file of the merge: its bytes and where they lie. A record file holds
// only some of them (present: one flag a byte); a raw file all.
struct File
{
    enum Kind { Raw, Hex, SRecord };
    Kind kind = Raw;
    qint64 address = 0;  // of bytes[0]
    QByteArray bytes;
    QByteArray present;  // record files: 1 where the file has the byte
    bool ownAddresses = true; // record files: "-", else ADDR moves the lowest byte there

    bool has(int i) const { return kind == Raw || present.at(i) != 0; }
    qint64 lowest() const
    {
        for (int i = 0; i < bytes.size(); ++i) {
            if (has(i))
                return address + i;
        }
        return address;
    }
};

struct Range
{
    qint64 from = 0;
    qint64 to = 0;
    bool holds(qint64 a) const { return a >= from && a < to; }
};

struct Field
{
    QString kind; // crc32, sha256, sum8, length
    qint64 address = 0;
    bool wholeImage = true;
    Range range;
    bool bigEndian = false;

    int size() const { return kind == QLatin1String("sha256") ? 32 : kind == QLatin1String("sum8") ? 1 : 4; }
    QString option() const
    {
        QString text = QStringLiteral("%1@%2").arg(kind).arg(address, 0, 16);
        if (!wholeImage)
            text += QStringLiteral(",%1-%2").arg(range.from, 0, 16).arg(range.to, 0, 16);
        return bigEndian ? text + QStringLiteral(",be") : text;
    }
};

enum class Overlap { Refuse, Later, Earlier };

struct Merge
{
    QVector<File> files; // in the order of the rows
    qint64 base = 0x1000;
    char fill = char(0xFF);
    qint64 padTo = 0;
    Overlap overlap = Overlap::Refuse;
    QVector<Range> crop;
    QVector<Range> exclude;
    QVector<Field> fields;
};

// The merged image from the base to its end: its bytes (fill where nothing
// lies) and which of them a file or field gave.
struct Image
{
    bool refused = false;
    qint64 base = 0;
    QByteArray bytes;
    QByteArray present;
    qint64 end() const { return base + bytes.size(); }
};

inline bool kept(const Merge &merge, qint64 a)
{
    bool inCrop = merge.crop.isEmpty();
    for (const Range &r : merge.crop)
        inCrop = inCrop || r.holds(a);
    if (!inCrop)
        return false;
    for (const Range &r : merge.exclude) {
        if (r.holds(a))
            return false;
    }
    return true;
}

inline QByteArray fieldValue(const Field &field, const QByteArray &covered)
{
    QByteArray value;
    const auto number = [&](quint32 v) {
        for (int i = 0; i < 4; ++i)
            value += char(v >> (8 * (field.bigEndian ? 3 - i : i)));
    };
    if (field.kind == QLatin1String("crc32")) {
        number(crc32(covered.constData(), covered.size()));
    } else if (field.kind == QLatin1String("length")) {
        number(quint32(covered.size()));
    } else if (field.kind == QLatin1String("sum8")) {
        quint8 sum = 0;
        for (const char c : covered)
            sum = quint8(sum + quint8(c));
        value += char(sum);
    } else {
        value = QCryptographicHash::hash(covered, QCryptographicHash::Sha256);
    }
    return value;
}

// Where the merge puts the file's bytes: a record file given an address is
// moved so that its lowest byte lies there.
inline qint64 placedAt(const File &file, qint64 given)
{
    return file.kind == File::Raw || file.ownAddresses ? file.address : given;
}

inline Image image(const Merge &merge)
{
    Image out;
    out.base = merge.base;
    // Room for everything that may lie in the image, made once.
    qint64 highest = merge.base + merge.padTo;
    for (const File &f : merge.files)
        highest = qMax(highest, f.address + f.bytes.size());
    for (const Field &field : merge.fields)
        highest = qMax(highest, field.address + field.size());
    out.bytes = QByteArray(int(highest - merge.base), merge.fill);
    out.present = QByteArray(out.bytes.size(), char(0));
    QVector<int> owners(out.bytes.size(), -1); // who has each address, by the overlap rule
    int *owner = owners.data();
    char *bytes = out.bytes.data();
    char *present = out.present.data();
    qint64 dataEnd = merge.base;
    bool hadBytes = false;
    const bool trimmed = !merge.crop.isEmpty() || !merge.exclude.isEmpty();
    for (int k = 0; k < merge.files.size(); ++k) {
        const File &f = merge.files.at(k);
        // A raw file that holds nothing still ends the image at its address.
        if (f.kind == File::Raw && f.bytes.isEmpty() && kept(merge, f.address))
            dataEnd = qMax(dataEnd, f.address);
        for (int i = 0; i < f.bytes.size(); ++i) {
            const qint64 a = f.address + i;
            if (!f.has(i))
                continue;
            hadBytes = true;
            if (trimmed && !kept(merge, a))
                continue;
            if (a < merge.base) {
                out.refused = true;
                return out;
            }
            const int at = int(a - merge.base);
            if (owner[at] >= 0) {
                if (merge.overlap == Overlap::Refuse) {
                    out.refused = true;
                    return out;
                }
                if (merge.overlap == Overlap::Earlier)
                    continue;
            }
            owner[at] = k;
            bytes[at] = f.bytes.at(i);
            present[at] = 1;
            dataEnd = qMax(dataEnd, a + 1);
        }
    }
    bool keptBytes = false;
    for (int i = 0; i < out.present.size() && !keptBytes; ++i)
        keptBytes = present[i] != 0;
    for (const Field &field : merge.fields)
        dataEnd = qMax(dataEnd, field.address + field.size());
    const qint64 size = dataEnd - merge.base;
    // Crops and excludes that leave nothing of files that had bytes; an
    // image longer than its pad.
    if ((hadBytes && !keptBytes) || (merge.padTo > 0 && size > merge.padTo)) {
        out.refused = true;
        return out;
    }
    out.bytes.truncate(int(qMax(size, merge.padTo)));
    out.present.truncate(out.bytes.size());
    // A range of its own must lie in the image, without the field in it.
    for (const Field &field : merge.fields) {
        if (!field.wholeImage
            && (field.range.from < out.base || field.range.to > out.end()
                || (field.address < field.range.to && field.range.from < field.address + field.size()))) {
            out.refused = true;
            return out;
        }
    }
    // Fields in the order given: the earlier ones in place, the later ones
    // still fill; each over its range without its own bytes.
    for (const Field &field : merge.fields) {
        const qint64 from = field.wholeImage ? out.base : field.range.from;
        const qint64 to = field.wholeImage ? out.end() : field.range.to;
        // The range, but for the field's own bytes.
        const qint64 own = qBound(from, field.address, to);
        const qint64 ownEnd = qBound(from, field.address + field.size(), to);
        const QByteArray covered = out.bytes.mid(int(from - out.base), int(own - from))
                                   + out.bytes.mid(int(ownEnd - out.base), int(to - ownEnd));
        const QByteArray value = fieldValue(field, covered);
        for (int i = 0; i < value.size(); ++i) {
            out.bytes[int(field.address - out.base) + i] = value.at(i);
            out.present[int(field.address - out.base) + i] = 1;
        }
    }
    return out;
}

// Sizes on and around every buffer, chunk and unit of the program: a piece
// of a record or a unit (16, 256 bytes), a telling head and a C line block
// (4 KiB), a store's large read and a HEX segment (64 KiB), the output's
// direct writes and a text buffer (256 KiB), a chunk and a read buffer
// (1 MiB), the hashing ring (4 x 1 MiB), the write-back step (8 MiB).
inline QVector<qint64> boundarySizes(qint64 most)
{
    QVector<qint64> sizes{0, 1, 2, 3, 15, 16, 17};
    for (const qint64 b : {qint64(256), qint64(4) << 10, qint64(64) << 10, qint64(256) << 10, qint64(1) << 20,
                           qint64(2) << 20, qint64(4) << 20, qint64(8) << 20, qint64(64) << 20}) {
        for (const qint64 d : {-1, 0, 1}) {
            if (b + d <= most)
                sizes.append(b + d);
        }
    }
    return sizes;
}

// Bytes nobody would mistake for another file's: a generator seeded by the
// file's number.
inline QByteArray content(int seed, qint64 size)
{
    QByteArray bytes(int(size), Qt::Uninitialized);
    quint32 x = 0x9E3779B9u * quint32(seed + 1);
    for (qint64 i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        bytes[int(i)] = char(x >> 11);
    }
    return bytes;
}

} // namespace Model

#endif // IMAGEMODEL_H
