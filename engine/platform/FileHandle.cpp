#include "FileHandle.h"

#include "Interrupts.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>

QString temporaryFileName(const QString &folder)
{
    static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    QString name = QStringLiteral(".MergeFile-");
    for (int i = 0; i < 8; ++i)
        name += QLatin1Char(letters[QRandomGenerator::global()->bounded(36)]);
    return QDir(folder).filePath(name);
}

bool isUsableFolder(const QString &folder)
{
    return !folder.isEmpty() && QFileInfo(folder).isDir();
}

FileHandle::~FileHandle()
{
    close();
}

void FileHandle::forgetTemporaryName()
{
    tempName.clear();
    Interrupts::forget(interruptToken);
    interruptToken = -1;
}
