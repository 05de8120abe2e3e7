#include "ProgramFolder.h"

#include <QDir>
#include <QFileInfo>

bool ProgramFolder::liesIn(const QString &folder, const QString &installFolder)
{
    const auto onDisk = [](const QString &path) {
        const QString canonical = QFileInfo(path).canonicalFilePath();
        return QDir::cleanPath(canonical.isEmpty() ? QDir(path).absolutePath() : canonical);
    };
    const QString inner = onDisk(folder);
    QString outer = onDisk(installFolder);
    if (installFolder.isEmpty() || outer.isEmpty())
        return false;
#ifdef Q_OS_WIN
    const Qt::CaseSensitivity cs = Qt::CaseInsensitive;
#else
    const Qt::CaseSensitivity cs = Qt::CaseSensitive;
#endif
    if (inner.compare(outer, cs) == 0)
        return true;
    if (!outer.endsWith(QLatin1Char('/')))
        outer += QLatin1Char('/');
    return inner.startsWith(outer, cs);
}

bool ProgramFolder::isInstalled(const QString &folder)
{
    for (const QString &installFolder : installFolders()) {
        if (liesIn(folder, installFolder))
            return true;
    }
    return false;
}
