// Any bytes as the settings file: loading never crashes or hangs, and what it
// loads survives a save and a load unchanged.

#include "FuzzSupport.h"
#include "settings/MergeSettings.h"

#include <QFile>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzProcess &process = fuzzProcess();
    const QString path = process.folder.filePath(QStringLiteral("MergeTool.ini"));
    const QString again = process.folder.filePath(QStringLiteral("again.ini"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(reinterpret_cast<const char *>(data), qint64(size)) != qint64(size))
            fault("cannot write the settings file");
    }
    MergeSettings loaded;
    loaded.load(path);
    MergeSettings::keysNotInUtf8(path);
    QFile::remove(again);
    loaded.save(again);
    MergeSettings reloaded;
    reloaded.load(again);
    if (reloaded.fileNames != loaded.fileNames || reloaded.addresses != loaded.addresses
        || reloaded.enables != loaded.enables || reloaded.mergeFileName != loaded.mergeFileName)
        fault("a setting that does not survive a save");
    return 0;
}
