#include "SourceFile.h"

#include <QDir>

#include <windows.h>

namespace {

HANDLE handleOf(NativeFile file)
{
    return reinterpret_cast<HANDLE>(file);
}

std::wstring nativeName(const QString &name)
{
    return QDir::toNativeSeparators(name).toStdWString();
}

} // namespace

SourceFile::~SourceFile()
{
    close();
}

bool SourceFile::open(const QString &name, bool *tooManyOpen)
{
    close();
    if (tooManyOpen)
        *tooManyOpen = false; // Windows has no small limit of open handles
    HANDLE h = CreateFileW(nativeName(name).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false; // folders too: they open only with backup semantics
    native = reinterpret_cast<NativeFile>(h);
    LARGE_INTEGER size;
    stream = GetFileType(h) != FILE_TYPE_DISK || !GetFileSizeEx(h, &size) || size.QuadPart == 0;
    fileSize = stream ? 0 : qint64(size.QuadPart);
    BY_HANDLE_FILE_INFORMATION info;
    if (!stream && GetFileInformationByHandle(h, &info)) {
        id.volume = info.dwVolumeSerialNumber;
        id.node = (quint64(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
        id.valid = true;
    }
    return true;
}

void SourceFile::close()
{
    if (native != noFile)
        CloseHandle(handleOf(native));
    native = noFile;
    stream = false;
    fileSize = 0;
    id = FileIdentity();
}

qint64 SourceFile::currentSize() const
{
    LARGE_INTEGER size;
    return native != noFile && GetFileSizeEx(handleOf(native), &size) ? qint64(size.QuadPart) : -1;
}

qint64 SourceFile::lastWritten() const
{
    FILETIME written;
    if (native == noFile || !GetFileTime(handleOf(native), nullptr, nullptr, &written))
        return -1;
    return qint64((quint64(written.dwHighDateTime) << 32) | written.dwLowDateTime);
}

bool SourceFile::stillNamed(const QString &name) const
{
    // Removed while we hold it: its name lingers until the last handle goes.
    FILE_STANDARD_INFO standard;
    if (!GetFileInformationByHandleEx(handleOf(native), FileStandardInfo, &standard, sizeof standard)
        || standard.DeletePending)
        return false;
    // Opened again for reading, as the user now may: the same file, still
    // readable under its name.
    HANDLE h = CreateFileW(nativeName(name).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION info;
    const bool same = GetFileInformationByHandle(h, &info) && info.dwVolumeSerialNumber == id.volume
                      && ((quint64(info.nFileIndexHigh) << 32) | info.nFileIndexLow) == id.node;
    CloseHandle(h);
    return same;
}

qint64 SourceFile::read(char *buffer, qint64 max)
{
    DWORD done = 0;
    const DWORD want = DWORD(qMin<qint64>(max, 1 << 30));
    if (ReadFile(handleOf(native), buffer, want, &done, nullptr))
        return qint64(done);
    return GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1; // a pipe's writer has finished
}

int SourceFile::openFileBudget()
{
    return 1024;
}

qint64 readFileAt(NativeFile file, qint64 offset, char *data, qint64 size)
{
    OVERLAPPED at = {};
    at.Offset = DWORD(quint64(offset));
    at.OffsetHigh = DWORD(quint64(offset) >> 32);
    DWORD done = 0;
    if (ReadFile(handleOf(file), data, DWORD(qMin<qint64>(size, 1 << 30)), &done, &at))
        return qint64(done);
    return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
}
