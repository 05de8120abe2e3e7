#ifndef TEMPFOLDER_H
#define TEMPFOLDER_H

// Points the temporary folder, where the engine keeps its copies of streams
// and decoded records, at a folder of the test's own while it lives: suites
// that run at the same time then cannot leave their files in what a test
// looks at, and a test sees everything the engine leaves behind.

#include <QFile>
#include <QString>

class ScopedTempFolder
{
public:
    explicit ScopedTempFolder(const QString &path)
        : had(qEnvironmentVariableIsSet(name))
        , saved(qgetenv(name))
    {
        qputenv(name, QFile::encodeName(path));
    }
    ~ScopedTempFolder()
    {
        if (had)
            qputenv(name, saved);
        else
            qunsetenv(name);
    }
    ScopedTempFolder(const ScopedTempFolder &) = delete;
    ScopedTempFolder &operator=(const ScopedTempFolder &) = delete;

private:
#ifdef Q_OS_WIN
    static constexpr const char *name = "TMP";
#else
    static constexpr const char *name = "TMPDIR";
#endif
    bool had;
    QByteArray saved;
};

#endif // TEMPFOLDER_H
