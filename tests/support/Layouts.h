#ifndef LAYOUTS_H
#define LAYOUTS_H

// Layouts to merge, drawn at random (from a seed, or from a fuzzer's bytes):
// files of sizes on and around the program's buffer sizes one after the
// other, with gaps of such sizes, some of them record files with holes; and
// another base or fill, overlaps with a policy that settles them, crops and
// excludes, fields on fill or past the end, a pad. And the record text of a
// model file.

#include "ImageModel.h"

#include <QFile>

#include <array>
#include <functional>

namespace Layouts {

using Pick = std::function<qint64(qint64)>; // a number from 0 to n-1

inline qint64 pickFrom(const Pick &pick, const QVector<qint64> &values)
{
    return values.at(int(pick(values.size())));
}

// Intel HEX or S-record text of the bytes a file has, at its addresses moved
// by shift: records of recordSize bytes, never across a 64 KiB boundary. By
// the formats' definitions, as Records.h writes single records, but without
// an allocation a record: files of megabytes in records of one byte.
inline QByteArray recordText(const Model::File &file, qint64 shift, int recordSize)
{
    QByteArray text;
    text.reserve(int(file.bytes.size() * (recordSize > 8 ? 3 : 14)) + 64);
    const bool hex = file.kind == Model::File::Hex;
    unsigned sum = 0;
    const auto put = [&](unsigned byte) {
        static const char digits[] = "0123456789ABCDEF";
        text += digits[(byte >> 4) & 0xF];
        text += digits[byte & 0xF];
        sum += byte & 0xFF;
    };
    const auto record = [&](int type, quint32 address, const char *data, int count) {
        sum = 0;
        if (hex) {
            text += ':';
            put(unsigned(count));
            put(address >> 8);
            put(address);
            put(unsigned(type));
        } else {
            text += 'S';
            text += char('0' + type);
            const int width = type == 0 ? 2 : 4;
            put(unsigned(count + width + 1));
            for (int i = width - 1; i >= 0; --i)
                put(address >> (8 * i));
        }
        for (int i = 0; i < count; ++i)
            put(quint8(data[i]));
        const unsigned check = hex ? (0x100 - (sum & 0xFF)) & 0xFF : ~sum & 0xFF;
        put(check);
        text += '\n';
    };
    if (!hex)
        record(0, 0, "model", 5);
    qint64 upper = -1;
    for (int i = 0; i < file.bytes.size();) {
        if (!file.has(i)) {
            ++i;
            continue;
        }
        const qint64 address = file.address + shift + i;
        int n = 1;
        while (n < recordSize && i + n < file.bytes.size() && file.has(i + n) && ((address + n) & 0xFFFF) != 0)
            ++n;
        if (hex) {
            if ((address >> 16) != upper) {
                upper = address >> 16;
                const char high[2] = {char(upper >> 8), char(upper)};
                record(4, 0, high, 2);
            }
            record(0, quint32(address & 0xFFFF), file.bytes.constData() + i, n);
        } else {
            record(3, quint32(address), file.bytes.constData() + i, n);
        }
        i += n;
    }
    if (hex)
        record(1, 0, nullptr, 0);
    else
        record(7, 0, nullptr, 0);
    return text;
}

struct Shape
{
    int files = 6;          // at most
    bool records = true;    // HEX and S-record files among them
    bool options = true;    // base, fill, fields, pads, overlaps, crops
    qint64 largest = (qint64(4) << 20) + 1; // the largest size drawn
    qint64 budget = qint64(12) << 20;    // the most the image may span
};

// A layout: files of sizes from the boundary list one after the other with
// gaps of such sizes, some of them record files with holes; and, where the
// shape allows, another base or fill, overlaps with a policy that settles
// them, crops and excludes, fields on fill or past the end, a pad.
inline Model::Merge randomMerge(const Pick &pick, const Shape &shape)
{
    const QVector<qint64> sizes = Model::boundarySizes(shape.largest);
    Model::Merge merge;
    if (shape.options) {
        merge.base = pickFrom(pick, {0x1000, 0x1000, 0x1000, 0, 0x20000, 0x08000000});
        merge.fill = pick(4) == 0 ? char(0x00) : char(0xFF);
        merge.overlap = Model::Overlap(pick(3) == 0 ? 1 + pick(2) : 0);
    }
    const int count = int(1 + pick(shape.files));
    qint64 cursor = merge.base + pickFrom(pick, sizes);
    qint64 span = 0;
    for (int k = 0; k < count; ++k) {
        Model::File file;
        file.kind = shape.records && pick(2) == 0 ? Model::File::Kind(1 + pick(2)) : Model::File::Raw;
        qint64 size = pickFrom(pick, sizes);
        if (size == 0 && (file.kind != Model::File::Raw || merge.overlap != Model::Overlap::Refuse))
            size = 1;
        if (span + size > shape.budget)
            size = qMin<qint64>(size, 17);
        file.bytes = Model::content(k, size);
        file.address = cursor;
        if (file.kind != Model::File::Raw) {
            file.present = QByteArray(int(size), char(1));
            if (size > 4 && pick(2) == 0) { // a hole in the middle
                const qint64 hole = qMin(pickFrom(pick, sizes), size - 2);
                const qint64 at = 1 + pick(size - hole - 1);
                for (qint64 i = at; i < at + hole; ++i)
                    file.present[int(i)] = 0;
            }
            file.ownAddresses = pick(3) != 0;
        }
        // Overlapping the file before, where a policy settles it.
        if (merge.overlap != Model::Overlap::Refuse && k > 0 && pick(2) == 0)
            file.address = qMax(merge.base, file.address - pickFrom(pick, sizes));
        merge.files.append(file);
        qint64 gap = pickFrom(pick, sizes);
        if (size == 0 && gap == 0)
            gap = 1; // no two raw files at one address
        span += size + gap;
        cursor = file.address + size + gap;
        if (span > shape.budget)
            break;
    }
    if (!shape.options)
        return merge;
    // Raw files at one address are refused whatever the policy: moved apart.
    for (int k = 0; k < merge.files.size(); ++k) {
        for (int j = 0; j < k; ++j) {
            if (merge.files[k].kind == Model::File::Raw && merge.files[j].kind == Model::File::Raw
                && merge.files[k].address == merge.files[j].address)
                merge.files[k].address += 1;
        }
    }
    qint64 lowest = -1;
    qint64 highest = merge.base;
    for (const Model::File &f : std::as_const(merge.files)) {
        lowest = lowest < 0 ? f.address : qMin(lowest, f.address);
        highest = qMax(highest, f.address + f.bytes.size());
    }
    if (pick(5) == 0) {
        const qint64 from = lowest + pick(qMax<qint64>(1, (highest - lowest) / 4));
        merge.crop.append({from, from + 1 + pick(qMax<qint64>(1, highest - from))});
    }
    if (pick(5) == 0) {
        const qint64 from = lowest + pick(qMax<qint64>(1, highest - lowest));
        merge.exclude.append({from, from + pickFrom(pick, sizes) + 1});
    }
    // Fields: in the fill before the first file, or past the end.
    const int fields = pick(3) == 0 ? int(1 + pick(2)) : 0;
    qint64 end = highest;
    for (int f = 0; f < fields; ++f) {
        Model::Field field;
        field.kind = QString::fromLatin1(std::array<const char *, 4>{"crc32", "sha256", "sum8", "length"}.at(size_t(pick(4))));
        field.bigEndian = pick(2) == 0;
        if (f == 0 && lowest - merge.base >= 64 && pick(2) == 0) {
            field.address = merge.base + pick(lowest - merge.base - 32);
        } else {
            field.address = end + pick(3) * pickFrom(pick, {0, 1, 4, 255, 256, 4096});
            end = field.address + field.size();
        }
        if (pick(3) == 0) { // a range of its own, before or after it
            field.wholeImage = false;
            if (field.address > merge.base && pick(2) == 0)
                field.range = {merge.base + pick(field.address - merge.base), field.address};
            else
                field.range = {field.address + field.size(), highest};
            if (field.range.to <= field.range.from)
                field.wholeImage = true;
        }
        merge.fields.append(field);
    }
    if (pick(4) == 0)
        merge.padTo = qMax(end, highest) - merge.base + pick(2) * pickFrom(pick, sizes);
    return merge;
}

// Where a merge is told a file lies: at its own addresses, or at one.
struct Input
{
    QString name;
    bool own = false;
    qint64 address = 0;
};

// Writes the files of a merge into a folder, record files linked elsewhere
// when an address moves them into place; how the merge is to name them.
inline QVector<Input> writeInputs(const Model::Merge &merge, const QString &folder)
{
    QVector<Input> inputs;
    for (int k = 0; k < merge.files.size(); ++k) {
        const Model::File &f = merge.files.at(k);
        const char *ending = f.kind == Model::File::Raw ? "bin" : f.kind == Model::File::Hex ? "hex" : "s37";
        const QString name = QStringLiteral("%1/in%2.%3").arg(folder).arg(k).arg(QLatin1String(ending));
        QFile file(name);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return {};
        if (f.kind == Model::File::Raw) {
            file.write(f.bytes);
            inputs.append({name, false, f.address});
        } else {
            const qint64 shift = f.ownAddresses ? 0 : (f.address >= 0x40000000 ? -0x20000000 : 0x20000000);
            // Records of a few bytes for small files; large ones in records
            // of 16 and more, which still cross every buffer of the text.
            const int recordSize = f.bytes.size() > (64 << 10) ? 16 + k % 17 : 1 + int((k * 7 + f.bytes.size()) % 32);
            file.write(recordText(f, shift, recordSize));
            inputs.append({name, f.ownAddresses, f.lowest()});
        }
    }
    return inputs;
}

} // namespace Layouts

#endif // LAYOUTS_H
