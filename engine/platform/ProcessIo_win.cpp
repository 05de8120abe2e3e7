#include "ProcessIo.h"

#include <QFileInfo>

#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace ProcessIo {

void keepRunningOnFailedWrites()
{
    // A failed write is an error to report on Windows anyway.
}

void useBinaryStandardStreams()
{
    // Lines end in \n alone, as on every other system, and an image on
    // standard output goes out byte for byte.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}

bool writeLine(std::FILE *stream, const QString &line)
{
    HANDLE console = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode;
    if (console != INVALID_HANDLE_VALUE && GetConsoleMode(console, &mode)) {
        const QString text = line + QLatin1Char('\n');
        DWORD done;
        std::fflush(stream);
        return WriteConsoleW(console, text.utf16(), DWORD(text.size()), &done, nullptr);
    }
    const QByteArray bytes = line.toUtf8() + '\n';
    return std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream) == size_t(bytes.size())
           && std::fflush(stream) == 0;
}

QString undecodableArgument(int, char *[])
{
    return QString(); // Windows hands programs their arguments as UTF-16
}

bool isStandardOutput(const QString &)
{
    return false;
}

bool sameFile(const QString &a, const QString &b)
{
    const QFileInfo first(a), second(b);
    if (first.exists() && second.exists())
        return first.canonicalFilePath().compare(second.canonicalFilePath(), Qt::CaseInsensitive) == 0;
    return first.absoluteFilePath() == second.absoluteFilePath();
}

} // namespace ProcessIo
