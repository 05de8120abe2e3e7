#ifndef FORMATREADERS_H
#define FORMATREADERS_H

// Readers of every output format, each written here from the format's
// published description and sharing nothing with the program's own readers
// and writers: what a file holds as runs of bytes at their addresses, or a
// line that says what is wrong with it. And the runs a model image must
// give in each format.

#include "ImageModel.h"

#include <QByteArray>
#include <QRegularExpression>
#include <QString>
#include <QVector>

#include <algorithm>

namespace Readback {

struct Run
{
    qint64 address = 0;
    QByteArray bytes;
    qint64 end() const { return address + bytes.size(); }
};
using Runs = QVector<Run>;

// Adds bytes at an address, going on with the last run where they follow it.
inline void put(Runs &runs, qint64 address, const char *bytes, int count)
{
    if (count <= 0)
        return;
    if (!runs.isEmpty() && runs.last().end() == address)
        runs.last().bytes.append(bytes, count);
    else
        runs.append(Run{address, QByteArray(bytes, count)});
}

// In address order, touching runs joined; false when two give one address.
inline bool normalise(Runs &runs, QString &error)
{
    std::stable_sort(runs.begin(), runs.end(), [](const Run &a, const Run &b) { return a.address < b.address; });
    Runs joined;
    for (const Run &r : std::as_const(runs)) {
        if (!joined.isEmpty() && r.address < joined.last().end()) {
            error = QStringLiteral("address 0x%1 given twice").arg(r.address, 0, 16);
            return false;
        }
        put(joined, r.address, r.bytes.constData(), r.bytes.size());
    }
    runs = joined;
    return true;
}

inline int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Pairs of digits to bytes; false on anything else.
inline bool hexBytes(const char *text, int pairs, QByteArray &out)
{
    out.resize(pairs);
    for (int i = 0; i < pairs; ++i) {
        const int h = hexValue(text[2 * i]);
        const int l = hexValue(text[2 * i + 1]);
        if (h < 0 || l < 0)
            return false;
        out[i] = char(h << 4 | l);
    }
    return true;
}

// Each line of text without its end.
template <typename Line>
bool forEachLine(const QByteArray &text, Line line)
{
    int start = 0;
    int number = 0;
    while (start < text.size()) {
        int end = text.indexOf('\n', start);
        if (end < 0)
            end = text.size();
        int length = end - start;
        if (length > 0 && text.at(start + length - 1) == '\r')
            --length;
        if (!line(++number, text.constData() + start, length))
            return false;
        start = end + 1;
    }
    return true;
}

// Intel HEX: ":" count, 16-bit offset, type, data, and a checksum that makes
// the sum of all bytes zero; 00 data, 01 end of file, 02 segment base (x16),
// 04 upper 16 address bits, 03 and 05 start addresses.
inline bool readIntelHex(const QByteArray &text, Runs &runs, QString &error)
{
    qint64 upper = 0;
    bool ended = false;
    QByteArray record;
    const bool ok = forEachLine(text, [&](int number, const char *line, int length) {
        if (length == 0)
            return true;
        if (ended || line[0] != ':' || length < 11 || (length - 1) % 2 || !hexBytes(line + 1, (length - 1) / 2, record)) {
            error = QStringLiteral("line %1 is no record").arg(number);
            return false;
        }
        quint8 sum = 0;
        for (const char c : std::as_const(record))
            sum = quint8(sum + quint8(c));
        const int count = quint8(record.at(0));
        if (sum != 0 || record.size() != count + 5) {
            error = QStringLiteral("line %1: checksum or length").arg(number);
            return false;
        }
        const qint64 offset = quint8(record.at(1)) << 8 | quint8(record.at(2));
        switch (quint8(record.at(3))) {
        case 0:
            put(runs, upper + offset, record.constData() + 4, count);
            return true;
        case 1:
            ended = true;
            return true;
        case 2:
            upper = qint64(quint8(record.at(4)) << 8 | quint8(record.at(5))) << 4;
            return true;
        case 4:
            upper = qint64(quint8(record.at(4)) << 8 | quint8(record.at(5))) << 16;
            return true;
        case 3:
        case 5:
            return true;
        }
        error = QStringLiteral("line %1: unknown type").arg(number);
        return false;
    });
    if (ok && !ended)
        error = QStringLiteral("no end-of-file record");
    return ok && ended;
}

// Motorola S-records: "S" type, count (address, data and checksum bytes),
// address of 2, 3 or 4 bytes, data, and the one's complement of the sum;
// S1/S2/S3 data, S0 a header, S5/S6 a count of data records, S7/S8/S9 the end.
inline bool readSRecords(const QByteArray &text, Runs &runs, QString &error)
{
    QByteArray record;
    qint64 dataRecords = 0;
    bool ended = false;
    const bool ok = forEachLine(text, [&](int number, const char *line, int length) {
        if (length == 0)
            return true;
        if (ended || length < 4 || line[0] != 'S' || length % 2 || !hexBytes(line + 2, (length - 2) / 2, record)) {
            error = QStringLiteral("line %1 is no record").arg(number);
            return false;
        }
        quint8 sum = 0;
        for (const char c : std::as_const(record))
            sum = quint8(sum + quint8(c));
        if (sum != 0xFF || quint8(record.at(0)) + 1 != record.size()) {
            error = QStringLiteral("line %1: checksum or count").arg(number);
            return false;
        }
        const char type = line[1];
        const int width = type == '1' || type == '9' || type == '0' || type == '5' ? 2 : type == '2' || type == '8' || type == '6' ? 3 : 4;
        qint64 address = 0;
        for (int i = 0; i < width; ++i)
            address = address << 8 | quint8(record.at(1 + i));
        const int count = record.size() - 2 - width;
        if (type >= '1' && type <= '3') {
            put(runs, address, record.constData() + 1 + width, count);
            ++dataRecords;
        } else if (type == '5' || type == '6') {
            if (address != dataRecords) {
                error = QStringLiteral("line %1: a count that does not match").arg(number);
                return false;
            }
        } else if (type >= '7' && type <= '9') {
            ended = true;
        } else if (type != '0') {
            error = QStringLiteral("line %1: unknown type").arg(number);
            return false;
        }
        return true;
    });
    if (ok && !ended)
        error = QStringLiteral("no end record");
    return ok && ended;
}

// Lines of "@ADDR" (in units), then units of unitSize bytes as 2 x unitSize
// digits each, big-endian, separated by blanks, at consecutive units; TI-TXT
// (unitSize 1) ends with "q", Verilog's memory text just ends.
inline bool readAtLines(const QByteArray &text, int unitSize, bool endsWithQ, Runs &runs, QString &error)
{
    qint64 unit = -1;
    bool ended = false;
    QByteArray word;
    const bool ok = forEachLine(text, [&](int number, const char *line, int length) {
        if (ended) {
            error = QStringLiteral("line %1 after the end").arg(number);
            return false;
        }
        const QList<QByteArray> tokens = QByteArray(line, length).simplified().split(' ');
        for (const QByteArray &token : tokens) {
            if (token.isEmpty())
                continue;
            if (token.startsWith('@')) {
                bool number16 = false;
                unit = token.mid(1).toLongLong(&number16, 16);
                if (!number16 || token.size() > 9) {
                    error = QStringLiteral("line %1: a wrong address").arg(number);
                    return false;
                }
            } else if (endsWithQ && token == "q") {
                ended = true;
            } else if (unit < 0 || token.size() != 2 * unitSize || !hexBytes(token.constData(), unitSize, word)) {
                error = QStringLiteral("line %1: a wrong unit %2").arg(number).arg(QString::fromLatin1(token));
                return false;
            } else {
                put(runs, unit * unitSize, word.constData(), unitSize);
                ++unit;
            }
        }
        return true;
    });
    if (ok && endsWithQ && !ended)
        error = QStringLiteral("no q at the end");
    return ok && (ended || !endsWithQ);
}

// UF2: 512-byte blocks, little-endian words: two start magics, flags, the
// target address, the payload's size, the block's number, the number of
// blocks, the family (or file size); the payload (at most 476 bytes) at
// offset 32; the end magic last. Every block numbered in turn, each giving
// the same count, which is the number of blocks.
inline bool readUf2(const QByteArray &file, Runs &runs, QString &error, qint64 *family = nullptr)
{
    const auto word = [&](qint64 at) {
        return quint32(quint8(file.at(int(at)))) | quint32(quint8(file.at(int(at + 1)))) << 8
               | quint32(quint8(file.at(int(at + 2)))) << 16 | quint32(quint8(file.at(int(at + 3)))) << 24;
    };
    if (file.size() % 512) {
        error = QStringLiteral("no whole number of blocks");
        return false;
    }
    const qint64 blocks = file.size() / 512;
    for (qint64 b = 0; b < blocks; ++b) {
        const qint64 at = b * 512;
        const quint32 size = word(at + 16);
        if (word(at) != 0x0A324655u || word(at + 4) != 0x9E5D5157u || word(at + 508) != 0x0AB16F30u || size > 476
            || word(at + 20) != quint32(b) || word(at + 24) != quint32(blocks)) {
            error = QStringLiteral("block %1 is wrong").arg(b);
            return false;
        }
        const quint32 flags = word(at + 8);
        if (family)
            *family = (flags & 0x2000) ? qint64(word(at + 28)) : -1;
        if (!(flags & 1)) // not main flash: not part of the image
            put(runs, word(at + 12), file.constData() + at + 32, int(size));
    }
    return true;
}

// The C array: NAME_base and NAME_length as hexadecimal constants, the bytes
// as 0x.. between the array's braces.
inline bool readCArray(const QByteArray &text, const QString &name, Runs &runs, QString &error)
{
    const auto constant = [&](const QString &what, qint64 &value) {
        const QRegularExpression re(QStringLiteral("const unsigned long %1 = 0x([0-9a-fA-F]+)UL;").arg(what));
        const QRegularExpressionMatch m = re.match(QString::fromLatin1(text.left(4096)));
        bool ok = false;
        value = m.hasMatch() ? m.captured(1).toLongLong(&ok, 16) : 0;
        return ok;
    };
    qint64 base = 0;
    qint64 length = 0;
    if (!constant(name + QStringLiteral("_base"), base) || !constant(name + QStringLiteral("_length"), length)) {
        error = QStringLiteral("no base or length");
        return false;
    }
    const QByteArray opening = "const unsigned char " + name.toLatin1() + "[] = {\n";
    const int from = text.indexOf(opening);
    const int to = text.lastIndexOf("};");
    if (from < 0 || to < from) {
        error = QStringLiteral("no array");
        return false;
    }
    QByteArray bytes;
    bytes.reserve(int(length));
    for (int at = from + opening.size(); at < to; ++at) {
        const char c = text.at(at);
        if (c == ' ' || c == '\n' || c == ',')
            continue;
        if (c == '0' && at + 3 < to && text.at(at + 1) == 'x') {
            const int h = hexValue(text.at(at + 2));
            const int l = hexValue(text.at(at + 3));
            if (h < 0 || l < 0)
                break;
            bytes += char(h << 4 | l);
            at += 3;
            continue;
        }
        if (c == '0' && length == 0 && bytes.isEmpty())
            continue; // the one element an empty array is given
        error = QStringLiteral("a wrong character in the array at %1").arg(at);
        return false;
    }
    if (bytes.size() != length) {
        error = QStringLiteral("%1 bytes for a length of %2").arg(bytes.size()).arg(length);
        return false;
    }
    put(runs, base, bytes.constData(), bytes.size());
    return true;
}

// DfuSe (ST's UM0391): the prefix "DfuSe", version 1, the length of the file
// without its suffix and the number of targets; each target "Target", its
// alternate setting, a named flag, a 255-byte name, the length of its
// elements and their number; each element its address, its length and its
// bytes. Then the DFU suffix's 16 bytes, read backwards from the end: the
// CRC-32 register over everything before it (zlib's value inverted), its
// length 16, "UFD", bcdDFU 0x011A, vendor, product, device. Little-endian.
struct DfuseFile
{
    int alternate = -1;
    bool named = false;
    QByteArray name;
    int elements = 0;
    quint16 device = 0;
    quint16 product = 0;
    quint16 vendor = 0;
    QVector<qint64> elementSizes;
};

inline bool readDfuse(const QByteArray &file, Runs &runs, QString &error, DfuseFile *seen = nullptr)
{
    const auto word = [&](qint64 at) {
        return quint32(quint8(file.at(int(at)))) | quint32(quint8(file.at(int(at + 1)))) << 8
               | quint32(quint8(file.at(int(at + 2)))) << 16 | quint32(quint8(file.at(int(at + 3)))) << 24;
    };
    const auto half = [&](qint64 at) { return quint16(quint8(file.at(int(at))) | quint8(file.at(int(at + 1))) << 8); };
    const qint64 size = file.size();
    if (size < 11 + 16 || file.mid(int(size - 8), 3) != "UFD" || quint8(file.at(int(size - 5))) != 16
        || half(size - 10) != 0x011A) {
        error = QStringLiteral("no DfuSe suffix");
        return false;
    }
    if (word(size - 4) != ~Model::crc32(file.constData(), size - 4)) {
        error = QStringLiteral("the suffix's CRC does not match");
        return false;
    }
    const qint64 body = size - 16;
    if (!file.startsWith("DfuSe") || file.at(5) != 1 || word(6) != quint32(body)) {
        error = QStringLiteral("no DfuSe prefix, or a length that is not the file's");
        return false;
    }
    DfuseFile f;
    f.device = half(size - 16);
    f.product = half(size - 14);
    f.vendor = half(size - 12);
    qint64 at = 11;
    for (int t = 0; t < quint8(file.at(10)); ++t) {
        if (at + 274 > body || file.mid(int(at), 6) != "Target") {
            error = QStringLiteral("target %1 has no prefix").arg(t);
            return false;
        }
        f.alternate = quint8(file.at(int(at + 6)));
        f.named = word(at + 7) != 0;
        f.name = file.mid(int(at + 11), 255);
        f.name.truncate(f.name.indexOf('\0') < 0 ? f.name.size() : f.name.indexOf('\0'));
        const qint64 targetSize = word(at + 266);
        const quint32 elements = word(at + 270);
        f.elements += int(elements);
        at += 274;
        const qint64 targetEnd = at + targetSize;
        for (quint32 e = 0; e < elements; ++e) {
            if (at + 8 > targetEnd || targetEnd > body || at + 8 + qint64(word(at + 4)) > targetEnd) {
                error = QStringLiteral("element %1 of target %2 runs past it").arg(e).arg(t);
                return false;
            }
            const qint64 length = word(at + 4);
            f.elementSizes.append(length);
            // Each element taken alone, so that two that touch are still two here.
            runs.append(Run{word(at), file.mid(int(at + 8), int(length))});
            at += 8 + length;
        }
        if (at != targetEnd) {
            error = QStringLiteral("target %1's length is not its elements'").arg(t);
            return false;
        }
    }
    if (at != body) {
        error = QStringLiteral("%1 bytes between the targets and the suffix").arg(body - at);
        return false;
    }
    if (seen)
        *seen = f;
    return true;
}

// ELF, 32-bit, either byte order (e_ident[5]: 1 little, 2 big): the header
// gives where the program headers are (e_phoff at 28, e_phentsize at 42,
// e_phnum at 44; PN_XNUM 0xFFFF there puts the count in the first section
// header's sh_info, e_shoff at 32); each PT_LOAD (type 1) entry's p_filesz
// bytes from p_offset lie at its physical address p_paddr.
inline bool readElf32(const QByteArray &file, Runs &runs, QString &error)
{
    const auto at = [&file](qint64 offset) { return quint64(quint8(file.at(int(offset)))); };
    if (file.size() < 52 || !file.startsWith("\x7f" "ELF") || at(4) != 1 || (at(5) != 1 && at(5) != 2) || at(6) != 1) {
        error = QStringLiteral("no 32-bit ELF identification");
        return false;
    }
    const bool big = at(5) == 2;
    bool inside = true;
    const auto number = [&](qint64 offset, int width) {
        quint64 value = 0;
        if (offset < 0 || offset + width > file.size()) {
            inside = false;
            return value;
        }
        for (int i = 0; i < width; ++i)
            value |= at(offset + i) << (8 * (big ? width - 1 - i : i));
        return value;
    };
    const qint64 table = qint64(number(28, 4));
    const qint64 entrySize = qint64(number(42, 2));
    qint64 count = qint64(number(44, 2));
    if (count == 0xFFFF)
        count = qint64(number(qint64(number(32, 4)) + 28, 4));
    if (count > 0 && entrySize < 32) {
        error = QStringLiteral("program headers of %1 bytes").arg(entrySize);
        return false;
    }
    for (qint64 k = 0; k < count && inside; ++k) {
        const qint64 entry = table + k * entrySize;
        if (number(entry, 4) != 1)
            continue;
        const qint64 offset = qint64(number(entry + 4, 4));
        const qint64 size = qint64(number(entry + 16, 4));
        const qint64 address = qint64(number(entry + 12, 4));
        if (!inside || offset + size > file.size()) {
            error = QStringLiteral("segment %1 lies past the end of the file").arg(k);
            return false;
        }
        put(runs, address, file.constData() + offset, int(size));
    }
    if (!inside)
        error = QStringLiteral("the program headers lie past the end of the file");
    return inside;
}

// What a written output holds, read by the reader of its format.
inline bool read(const QString &format, const QByteArray &file, qint64 base, int wordBits, const QString &cName,
                 Runs &runs, QString &error)
{
    runs.clear();
    bool ok = false;
    if (format == QLatin1String("bin")) {
        put(runs, base, file.constData(), file.size());
        ok = true;
    } else if (format == QLatin1String("hex")) {
        ok = readIntelHex(file, runs, error);
    } else if (format == QLatin1String("srec")) {
        ok = readSRecords(file, runs, error);
    } else if (format == QLatin1String("ti-txt")) {
        ok = readAtLines(file, 1, true, runs, error);
    } else if (format == QLatin1String("vmem")) {
        ok = readAtLines(file, wordBits / 8, false, runs, error);
    } else if (format == QLatin1String("uf2")) {
        ok = readUf2(file, runs, error);
    } else if (format == QLatin1String("c")) {
        ok = readCArray(file, cName, runs, error);
    } else if (format == QLatin1String("elf")) {
        ok = readElf32(file, runs, error);
    } else if (format == QLatin1String("dfuse")) {
        ok = readDfuse(file, runs, error);
    } else {
        error = QStringLiteral("no reader for %1").arg(format);
    }
    return ok && normalise(runs, error);
}

// What the model image gives in a format: the flat formats every byte, the
// record formats the bytes files and fields gave, the unit formats every unit
// that holds one of those, its other bytes the fill.
inline Runs expected(const Model::Image &image, const QString &format, int wordBits, char fill)
{
    Runs runs;
    if (format == QLatin1String("bin") || format == QLatin1String("c")) {
        put(runs, image.base, image.bytes.constData(), image.bytes.size());
        return runs;
    }
    const int unit = format == QLatin1String("uf2") ? 256 : format == QLatin1String("vmem") ? wordBits / 8 : 1;
    const int size = image.bytes.size();
    for (int i = 0; i < size;) {
        if (!image.present.at(i)) {
            ++i;
            continue;
        }
        if (unit == 1) {
            int j = i;
            while (j < size && image.present.at(j))
                ++j;
            put(runs, image.base + i, image.bytes.constData() + i, j - i);
            i = j;
            continue;
        }
        const qint64 first = (image.base + i) / unit * unit;
        QByteArray bytes(unit, fill);
        for (int k = 0; k < unit; ++k) {
            const qint64 at = first + k - image.base;
            if (at >= 0 && at < size)
                bytes[k] = image.bytes.at(int(at));
        }
        put(runs, first, bytes.constData(), unit);
        i = int(first + unit - image.base);
    }
    return runs;
}

// The first address where two sets of runs differ, for a message; empty
// when they hold the same bytes at the same addresses.
inline QString difference(const Runs &got, const Runs &want)
{
    for (int k = 0; k < qMax(got.size(), want.size()); ++k) {
        if (k >= got.size())
            return QStringLiteral("missing the run at 0x%1 (%2 bytes)").arg(want[k].address, 0, 16).arg(want[k].bytes.size());
        if (k >= want.size())
            return QStringLiteral("an extra run at 0x%1 (%2 bytes)").arg(got[k].address, 0, 16).arg(got[k].bytes.size());
        const Run &g = got[k];
        const Run &w = want[k];
        if (g.address != w.address || g.bytes.size() != w.bytes.size())
            return QStringLiteral("run %1: 0x%2+%3 instead of 0x%4+%5")
                .arg(k)
                .arg(g.address, 0, 16)
                .arg(g.bytes.size())
                .arg(w.address, 0, 16)
                .arg(w.bytes.size());
        if (g.bytes != w.bytes) {
            int i = 0;
            while (g.bytes.at(i) == w.bytes.at(i))
                ++i;
            return QStringLiteral("byte at 0x%1 is %2, not %3")
                .arg(g.address + i, 0, 16)
                .arg(quint8(g.bytes.at(i)), 2, 16, QLatin1Char('0'))
                .arg(quint8(w.bytes.at(i)), 2, 16, QLatin1Char('0'));
        }
    }
    return QString();
}

} // namespace Readback

#endif // FORMATREADERS_H
