// Any bytes as a map a merge wrote, read back and used as verify and compare
// use it, against a small image: it is read or refused with a reason, and
// what it says is checked without a crash, whatever its numbers.

#include "FuzzSupport.h"
#include "inspect/MapFile.h"
#include "inspect/Verify.h"

#include <QFile>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzProcess &process = fuzzProcess();
    const QString mapName = process.folder.filePath(QStringLiteral("map.json"));
    const QString image = process.folder.filePath(QStringLiteral("image.bin"));
    {
        QFile file(mapName);
        if (!file.open(QIODevice::WriteOnly) || file.write(reinterpret_cast<const char *>(data), qint64(size)) != qint64(size))
            fault("cannot write the map");
        QFile bytes(image);
        if (!bytes.open(QIODevice::WriteOnly) || bytes.write(QByteArray(300, 'x')) != 300)
            fault("cannot write the image");
    }
    MapFile map;
    QString problem;
    if (!map.read(mapName, &problem)) {
        if (problem.isEmpty())
            fault("a map refused without a reason");
        return 0;
    }
    // What owns an address: spans in order, whatever the map's.
    const MapOwners owners(map);
    qint64 last = -1;
    owners.split(0, 0x100000, [&last](qint64 from, qint64 to, const MapOwner &) {
        if (from < last || to <= from)
            fault("owners out of order");
        last = to;
    });
    // An image of a few bytes against a map of any sizes: checked, never
    // walked for gigabytes.
    if (map.imageLength > (qint64(1) << 24) || map.imageLength < 0)
        return 0;
    QVector<VerifyCheck> checks;
    int refusals = 0;
    verifyImage(map, image, checks, [&refusals](const QString &) { ++refusals; });
    return 0;
}
