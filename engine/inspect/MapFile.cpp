#include "MapFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cmath>

namespace {

// A map's numbers are whole and within what a merge can write: addresses
// and lengths in the 32-bit address space, a text output's length below
// 2^44. The first that is not is the map's problem.
class Numbers
{
public:
    qint64 get(const QJsonObject &object, const char *key, qint64 lowest, qint64 highest)
    {
        const QJsonValue value = object.value(QLatin1String(key));
        if (value.isUndefined())
            return 0;
        const double d = value.toDouble(-1.0);
        if (!value.isDouble() || d != std::floor(d) || d < double(lowest) || d > double(highest)) {
            if (problem.isEmpty())
                problem = QStringLiteral("its %1 is not a whole number from %2 to %3").arg(QLatin1String(key)).arg(lowest).arg(highest);
            return 0;
        }
        return qint64(d);
    }
    QString problem;
};

constexpr qint64 space = qint64(1) << 32;

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
    Numbers numbers;
    imageStart = numbers.get(image, "start", 0, space);
    imageLength = numbers.get(image, "length", 0, space - imageStart);
    if (image.contains(QLatin1String("fill")))
        fill = char(numbers.get(image, "fill", 0, 255));
    imageCrc32 = text(image, "crc32").toLatin1();
    imageSha256 = text(image, "sha256").toLatin1();
    const QJsonObject output = map.value(QLatin1String("output")).toObject();
    hasOutput = !output.isEmpty();
    outputName = text(output, "name");
    outputLength = numbers.get(output, "length", 0, qint64(1) << 44);
    outputSha256 = text(output, "sha256").toLatin1();
    const QJsonValue fieldList = map.value(QLatin1String("fields"));
    if (!fieldList.isUndefined() && !fieldList.isArray()) {
        *problem = QStringLiteral("its fields are no list");
        return false;
    }
    for (const QJsonValue &value : map.value(QLatin1String("files")).toArray()) {
        const QJsonObject f = value.toObject();
        File entry;
        entry.row = int(numbers.get(f, "row", 0, 1 << 30));
        entry.name = text(f, "name");
        entry.format = text(f, "format");
        entry.shift = numbers.get(f, "shift", -space, space);
        entry.origin = f.contains(QLatin1String("origin")) ? numbers.get(f, "origin", -space, space) : -1;
        entry.crc32 = text(f, "crc32").toLatin1();
        entry.sha256 = text(f, "sha256").toLatin1();
        const QJsonValue segments = f.value(QLatin1String("segments"));
        if (!segments.isUndefined() && !segments.isArray()) {
            *problem = QStringLiteral("the segments of file%1 are no list").arg(entry.row);
            return false;
        }
        for (const QJsonValue &s : segments.toArray()) {
            const qint64 start = numbers.get(s.toObject(), "start", 0, space);
            entry.segments.append({start, numbers.get(s.toObject(), "end", start, space)});
        }
        files.append(entry);
    }
    for (const QJsonValue &value : fieldList.toArray()) {
        const QJsonObject f = value.toObject();
        Field entry;
        entry.text = text(f, "field");
        entry.kind = text(f, "kind");
        entry.address = numbers.get(f, "address", 0, space);
        entry.size = int(numbers.get(f, "size", 0, 1 << 16));
        entry.from = numbers.get(f, "from", 0, space);
        entry.to = numbers.get(f, "to", 0, space);
        entry.bigEndian = f.value(QLatin1String("bigEndian")).toBool();
        entry.bytes = text(f, "bytes").toLatin1();
        fields.append(entry);
    }
    if (!numbers.problem.isEmpty()) {
        *problem = numbers.problem;
        return false;
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
