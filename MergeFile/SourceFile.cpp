#include "SourceFile.h"

#include <QDir>
#include <QFile>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef Q_OS_LINUX
#include <sys/vfs.h>
#endif
#endif

SourceFile::~SourceFile()
{
    close();
}

#ifdef Q_OS_WIN

bool SourceFile::open(const QString &name)
{
    close();
    const QString native = QDir::toNativeSeparators(name);
    HANDLE h = CreateFileW(reinterpret_cast<const wchar_t *>(native.utf16()), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false; // folders too: they open only with backup semantics
    handle = h;
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
    if (handle)
        CloseHandle(handle);
    handle = nullptr;
    stream = false;
    fileSize = 0;
    id = FileIdentity();
}

qint64 SourceFile::read(char *buffer, qint64 max)
{
    DWORD done = 0;
    const DWORD want = DWORD(qMin<qint64>(max, 1 << 30));
    if (ReadFile(handle, buffer, want, &done, nullptr))
        return qint64(done);
    return GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1; // a pipe's writer has finished
}

qint64 readFileAt(void *handle, qint64 offset, char *data, qint64 size)
{
    OVERLAPPED at = {};
    at.Offset = DWORD(quint64(offset));
    at.OffsetHigh = DWORD(quint64(offset) >> 32);
    DWORD done = 0;
    if (ReadFile(handle, data, DWORD(qMin<qint64>(size, 1 << 30)), &done, &at))
        return qint64(done);
    return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
}

#else

// Files of the kernel's own file systems (/proc, /sys and the like) report a
// size that is not their content (0 or 4096): only reading them to their end
// tells.
static bool reportsNoTrueSize(int fd)
{
#ifdef Q_OS_LINUX
    static const unsigned long kernelFileSystems[] = {
        0x9fa0,     // proc
        0x62656572, // sysfs
        0x64626720, // debugfs
        0x74726163, // tracefs
        0x62656570, // configfs
        0x73636673, // securityfs
        0x27e0eb,   // cgroup
        0x63677270, // cgroup2
        0x6165676c, // pstore
        0xcafe4a11, // bpf
    };
    struct statfs fs;
    if (fstatfs(fd, &fs) != 0)
        return false;
    for (unsigned long type : kernelFileSystems) {
        if ((unsigned long)fs.f_type == type)
            return true;
    }
#else
    Q_UNUSED(fd);
#endif
    return false;
}

bool SourceFile::open(const QString &name)
{
    close();
    // O_NONBLOCK: opening a FIFO must not wait for a writer.
    fd = ::open(QFile::encodeName(name).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st;
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        close();
        return false;
    }
    stream = !S_ISREG(st.st_mode) || st.st_size == 0 || reportsNoTrueSize(fd);
    fileSize = stream ? 0 : qint64(st.st_size);
    id.volume = quint64(st.st_dev);
    id.node = quint64(st.st_ino);
    id.valid = !stream;
    return true;
}

void SourceFile::close()
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
    stream = false;
    fileSize = 0;
    id = FileIdentity();
}

qint64 SourceFile::read(char *buffer, qint64 max)
{
    const size_t want = size_t(qMin<qint64>(max, 1 << 30));
    for (;;) {
        if (stream) {
            // Wait for data or the writer's end, but not for ever. Reading
            // first would take a FIFO whose writer has not come yet as empty.
            struct pollfd p = {fd, POLLIN, 0};
            const int ready = poll(&p, 1, idleTimeout);
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready <= 0)
                return -1;
        }
        const ssize_t n = ::read(fd, buffer, want);
        if (n >= 0)
            return qint64(n);
        if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)
            return -1;
    }
}

qint64 readFileAt(int fd, qint64 offset, char *data, qint64 size)
{
    for (;;) {
        const ssize_t n = pread(fd, data, size_t(qMin<qint64>(size, 1 << 30)), off_t(offset));
        if (n >= 0 || errno != EINTR)
            return qint64(n);
    }
}

#endif
