#include "MapFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace {

qint64 number(const QJsonObject &object, const char *key)
{
    return qint64(object.value(QLatin1String(key)).toDouble());
}

QString text(const QJsonObject &object, const char *key)
{
    return object.value(QLatin1String(key)).toString();
}

} // namespace

bool MapFile::read(const QString &mapPath, QString *problem)
{
    *this = MapFile();
    path = mapPath;
    QFile file(mapPath);
    if (!file.open(QIODevice::ReadOnly)) {
        *problem = QStringLiteral("it cannot be opened");
        return false;
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        *problem = QStringLiteral("it is no JSON object (%1)").arg(error.errorString());
        return false;
    }
    const QJsonObject map = document.object();
    const QJsonObject image = map.value(QLatin1String("image")).toObject();
    format = text(map, "format");
    if (format.isEmpty() || image.isEmpty() || !map.value(QLatin1String("files")).isArray()) {
        *problem = QStringLiteral("it is no map of a merge (no format, image or files)");
        return false;
    }
    imageStart = number(image, "start");
    imageLength = number(image, "length");
    if (image.contains(QLatin1String("fill")))
        fill = char(number(image, "fill"));
    imageCrc32 = text(image, "crc32").toLatin1();
    imageSha256 = text(image, "sha256").toLatin1();
    const QJsonObject output = map.value(QLatin1String("output")).toObject();
    hasOutput = !output.isEmpty();
    outputName = text(output, "name");
    outputLength = number(output, "length");
    outputSha256 = text(output, "sha256").toLatin1();
    for (const QJsonValue &value : map.value(QLatin1String("files")).toArray()) {
        const QJsonObject f = value.toObject();
        File entry;
        entry.row = int(number(f, "row"));
        entry.name = text(f, "name");
        entry.format = text(f, "format");
        entry.shift = number(f, "shift");
        entry.crc32 = text(f, "crc32").toLatin1();
        entry.sha256 = text(f, "sha256").toLatin1();
        for (const QJsonValue &s : f.value(QLatin1String("segments")).toArray())
            entry.segments.append({number(s.toObject(), "start"), number(s.toObject(), "end")});
        files.append(entry);
    }
    for (const QJsonValue &value : map.value(QLatin1String("fields")).toArray()) {
        const QJsonObject f = value.toObject();
        Field entry;
        entry.text = text(f, "field");
        entry.kind = text(f, "kind");
        entry.address = number(f, "address");
        entry.size = int(number(f, "size"));
        entry.from = number(f, "from");
        entry.to = number(f, "to");
        entry.bigEndian = f.value(QLatin1String("bigEndian")).toBool();
        entry.bytes = text(f, "bytes").toLatin1();
        fields.append(entry);
    }
    return true;
}

QString MapFile::locate(const QString &name) const
{
    if (name.isEmpty() || QFileInfo(name).isAbsolute())
        return name;
    const QDir folder = QFileInfo(path).absoluteDir();
    for (const QString &candidate : {name, folder.filePath(name), folder.filePath(QFileInfo(name).fileName())}) {
        if (QFileInfo::exists(candidate))
            return candidate;
    }
    return folder.filePath(name);
}

MapOwners::MapOwners(const MapFile &map)
{
    for (int k = 0; k < map.files.size(); ++k) {
        for (const AddressRange &r : map.files.at(k).segments)
            spans.append({r.from, r.to, {MapOwner::File, k}});
    }
    for (int k = 0; k < map.fields.size(); ++k) {
        const MapFile::Field &f = map.fields.at(k);
        spans.append({f.address, f.address + f.size, {MapOwner::Field, k}});
    }
    std::sort(spans.begin(), spans.end(), [](const Span &a, const Span &b) { return a.start < b.start; });
}

const MapOwners::Span *MapOwners::find(qint64 address) const
{
    const auto it = std::upper_bound(spans.cbegin(), spans.cend(), address,
                                     [](qint64 a, const Span &s) { return a < s.end; });
    return it == spans.cend() ? nullptr : &*it;
}
