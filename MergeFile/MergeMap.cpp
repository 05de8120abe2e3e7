#include "MergeMap.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

QString formatName(OutputFormat format)
{
    switch (format) {
    case OutputFormat::IntelHex:
        return QStringLiteral("hex");
    case OutputFormat::SRecord:
        return QStringLiteral("srec");
    case OutputFormat::Raw:
        break;
    }
    return QStringLiteral("bin");
}

static QJsonObject digestObject(const MergeDigest &digest)
{
    QJsonObject object;
    object.insert(QStringLiteral("crc32"), QString::fromLatin1(digest.crc32));
    object.insert(QStringLiteral("sha256"), QString::fromLatin1(digest.sha256));
    return object;
}

QByteArray mergeMapJson(OutputFormat format, const MergeLayout &layout, const MergeDigests &digests,
                        const MergeMapOutput &output)
{
    // Every number here is below 2^33, which a JSON double holds exactly.
    QJsonObject image = digestObject(digests.image);
    image.insert(QStringLiteral("start"), double(MergeJob::imageBase));
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
        file.insert(QStringLiteral("end"), double(qint64(p.address) + p.size));
        file.insert(QStringLiteral("size"), double(p.size));
        file.insert(QStringLiteral("fillAfter"), double(p.fillAfter));
        files.append(file);
    }

    QJsonObject map;
    map.insert(QStringLiteral("format"), formatName(format));
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
    return QJsonDocument(map).toJson(QJsonDocument::Indented);
}
