#ifndef FILES_H
#define FILES_H

// Files a test makes and reads back, in a folder of its own.

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

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

// A fresh folder, current for the length of one test; the previous current
// folder comes back before the folder is removed.
class CurrentTempDir
{
public:
    CurrentTempDir()
        : previous(QDir::currentPath())
    {
        valid = dir.isValid() && QDir::setCurrent(dir.path());
    }
    ~CurrentTempDir() { QDir::setCurrent(previous); }
    bool isValid() const { return valid; }
    QString path() const { return dir.path(); }

private:
    QString previous;
    QTemporaryDir dir;
    bool valid = false;
};

#endif // FILES_H
