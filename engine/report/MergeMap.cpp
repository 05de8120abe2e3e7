#include "MergeMap.h"

#include "fields/FieldKind.h"
#include "input/InputReader.h"
#include "writers/ImageWriter.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

QVector<MergeRange> mergeRanges(const MergePlacement &placement)
{
    QVector<MergeRange> ranges;
    for (const MergeSegment &segment : placement.segments) {
        if (!ranges.isEmpty() && ranges.last().end == segment.address)
            ranges.last().end += segment.size;
        else
            ranges.append({segment.address, segment.address + segment.size});
    }
    return ranges;
}

static QJsonObject digestObject(const MergeDigest &digest)
{
    QJsonObject object;
    object.insert(QStringLiteral("crc32"), QString::fromLatin1(digest.crc32));
    object.insert(QStringLiteral("sha256"), QString::fromLatin1(digest.sha256));
    return object;
}

QByteArray mergeMapJson(const OutputFormatInfo &format, const MergeLayout &layout, const MergeDigests &digests,
                        const MergeMapOutput &output)
{
    // Every number here is below 2^33 in size, which a JSON double holds
    // exactly.
    QJsonObject image = digestObject(digests.image);
    image.insert(QStringLiteral("start"), double(layout.base));
    image.insert(QStringLiteral("length"), double(layout.imageSize));
    image.insert(QStringLiteral("leadingFill"), double(layout.leadingFill));
    image.insert(QStringLiteral("trailingFill"), double(layout.trailingFill));

    QJsonArray files;
    for (int k = 0; k < layout.placements.size(); ++k) {
        const MergePlacement &p = layout.placements.at(k);
        QJsonObject file = digestObject(k < digests.files.size() ? digests.files.at(k) : MergeDigest());
        file.insert(QStringLiteral("row"), p.row);
        file.insert(QStringLiteral("name"), p.fileName);
        file.insert(QStringLiteral("start"), double(p.address));
        file.insert(QStringLiteral("end"), double(p.end));
        file.insert(QStringLiteral("size"), double(p.size));
        file.insert(QStringLiteral("fillAfter"), double(p.fillAfter));
        file.insert(QStringLiteral("format"), QString(p.format ? p.format->name() : InputReader::raw().name()));
        file.insert(QStringLiteral("shift"), double(p.shift));
        if (p.hasStartAddress)
            file.insert(QStringLiteral("startAddress"), double(p.startAddress));
        QJsonArray segments;
        for (const MergeRange &range : mergeRanges(p)) {
            QJsonObject segment;
            segment.insert(QStringLiteral("start"), double(range.start));
            segment.insert(QStringLiteral("end"), double(range.end));
            segment.insert(QStringLiteral("size"), double(range.end - range.start));
            segments.append(segment);
        }
        file.insert(QStringLiteral("segments"), segments);
        if (p.slotSize > 0) {
            QJsonObject slot;
            slot.insert(QStringLiteral("size"), double(p.slotSize));
            slot.insert(QStringLiteral("left"), double(p.slotSize - (p.end - p.address)));
            file.insert(QStringLiteral("slot"), slot);
        }
        files.append(file);
    }

    QJsonObject map;
    map.insert(QStringLiteral("format"), QLatin1String(format.name));
    map.insert(QStringLiteral("image"), image);
    if (output.length >= 0) {
        QJsonObject written;
        written.insert(QStringLiteral("name"), output.name);
        written.insert(QStringLiteral("length"), double(output.length));
        if (!output.sha256.isEmpty())
            written.insert(QStringLiteral("sha256"), QString::fromLatin1(output.sha256));
        map.insert(QStringLiteral("output"), written);
    }
    map.insert(QStringLiteral("files"), files);
    QJsonArray fields;
    for (const MergeField &f : layout.fields) {
        QJsonObject field;
        field.insert(QStringLiteral("field"), f.text);
        field.insert(QStringLiteral("kind"), QLatin1String(f.kind->name));
        field.insert(QStringLiteral("address"), double(f.address));
        field.insert(QStringLiteral("size"), f.size);
        field.insert(QStringLiteral("from"), double(f.from));
        field.insert(QStringLiteral("to"), double(f.to));
        field.insert(QStringLiteral("wholeImage"), f.wholeImage);
        field.insert(QStringLiteral("bigEndian"), f.bigEndian);
        field.insert(QStringLiteral("bytes"), QString::fromLatin1(f.value.toHex()));
        if (fieldNumber(f) >= 0)
            field.insert(QStringLiteral("value"), double(fieldNumber(f)));
        fields.append(field);
    }
    if (!fields.isEmpty())
        map.insert(QStringLiteral("fields"), fields);
    if (layout.sectorSize > 0) {
        image.insert(QStringLiteral("sectorSize"), double(layout.sectorSize));
        image.insert(QStringLiteral("sectorsTouched"), double(layout.sectorsTouched));
        map.insert(QStringLiteral("image"), image);
    }
    return QJsonDocument(map).toJson(QJsonDocument::Indented);
}
