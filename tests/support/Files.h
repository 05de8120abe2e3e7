#ifndef FILES_H
#define FILES_H

// Files a test makes and reads back.

#include <QFile>

inline bool writeFile(const QString &name, const QByteArray &content)
{
    QFile file(name);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

// What the file holds; empty when it cannot be read.
inline QByteArray readFile(const QString &name)
{
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

#endif // FILES_H
