#include "ProcessIo.h"

#include <QFile>
#include <QFileInfo>

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

namespace ProcessIo {

void keepRunningOnFailedWrites()
{
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
}

void useBinaryStandardStreams()
{
    // They are.
}

bool writeLine(std::FILE *stream, const QString &line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    return std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream) == size_t(bytes.size())
           && std::fflush(stream) == 0;
}

QString undecodableArgument(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        const QByteArray raw(argv[i]);
        if (QFile::encodeName(QFile::decodeName(raw)) == raw)
            continue;
        QString shown;
        for (const char byte : raw) {
            const auto b = uchar(byte);
            shown += b >= 0x20 && b < 0x7F ? QString(QLatin1Char(char(b)))
                                          : QStringLiteral("\\x%1").arg(b, 2, 16, QLatin1Char('0'));
        }
        return shown;
    }
    return QString();
}

bool isStandardOutput(const QString &name)
{
    struct stat file, out;
    return stat(QFile::encodeName(name).constData(), &file) == 0 && fstat(STDOUT_FILENO, &out) == 0
           && file.st_dev == out.st_dev && file.st_ino == out.st_ino;
}

bool sameFile(const QString &a, const QString &b)
{
    struct stat x, y;
    if (stat(QFile::encodeName(a).constData(), &x) == 0 && stat(QFile::encodeName(b).constData(), &y) == 0)
        return x.st_dev == y.st_dev && x.st_ino == y.st_ino;
    return QFileInfo(a).absoluteFilePath() == QFileInfo(b).absoluteFilePath();
}

} // namespace ProcessIo
