#include "SourceFile.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef Q_OS_LINUX
#include <sys/vfs.h>
#endif

namespace {

// Files of the kernel's own file systems (/proc, /sys and the like) report a
// size that is not their content (0 or 4096): only reading them to their end
// tells.
bool reportsNoTrueSize(int fd)
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

} // namespace

SourceFile::~SourceFile()
{
    close();
}

bool SourceFile::open(const QString &name, bool *tooManyOpen)
{
    close();
    // O_NONBLOCK: opening a FIFO must not wait for a writer.
    const int fd = ::open(QFile::encodeName(name).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (tooManyOpen)
        *tooManyOpen = fd < 0 && (errno == EMFILE || errno == ENFILE);
    if (fd < 0)
        return false;
    native = fd;
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
    if (native != noFile)
        ::close(int(native));
    native = noFile;
    stream = false;
    fileSize = 0;
    id = FileIdentity();
}

qint64 SourceFile::currentSize() const
{
    struct stat st;
    return native != noFile && fstat(int(native), &st) == 0 ? qint64(st.st_size) : -1;
}

qint64 SourceFile::lastWritten() const
{
    struct stat st;
    if (native == noFile || fstat(int(native), &st) != 0)
        return -1;
    return qint64(st.st_mtim.tv_sec) * 1000000000 + qint64(st.st_mtim.tv_nsec);
}

bool SourceFile::stillNamed(const QString &name) const
{
    const QByteArray path = QFile::encodeName(name);
    struct stat st;
    if (stat(path.constData(), &st) != 0 || quint64(st.st_dev) != id.volume || quint64(st.st_ino) != id.node)
        return false;
    // As the process acts now (its effective ids), not as it was started.
    return faccessat(AT_FDCWD, path.constData(), R_OK, AT_EACCESS) == 0;
}

qint64 SourceFile::read(char *buffer, qint64 max)
{
    const size_t want = size_t(qMin<qint64>(max, 1 << 30));
    for (;;) {
        if (stream) {
            // Wait for data or the writer's end, but not for ever. Reading
            // first would take a FIFO whose writer has not come yet as empty.
            struct pollfd p = {int(native), POLLIN, 0};
            const int ready = poll(&p, 1, idleTimeout);
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready <= 0)
                return -1;
        }
        const ssize_t n = ::read(int(native), buffer, want);
        if (n >= 0)
            return qint64(n);
        if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)
            return -1;
    }
}

int SourceFile::openFileBudget()
{
    // What the merge needs besides its sources (the output, its staged copy
    // and reader, the temporary store, a folder to sync, the libraries' own)
    // stays free.
    constexpr rlim_t reserved = 64;
    struct rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return 1024;
    return int(std::min<rlim_t>(limit.rlim_cur > reserved ? limit.rlim_cur - reserved : 0, 4096));
}

qint64 readFileAt(NativeFile file, qint64 offset, char *data, qint64 size)
{
    for (;;) {
        const ssize_t n = pread(int(file), data, size_t(qMin<qint64>(size, 1 << 30)), off_t(offset));
        if (n >= 0 || errno != EINTR)
            return qint64(n);
    }
}
