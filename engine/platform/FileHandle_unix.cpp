#include "FileHandle.h"

#include "Interrupts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef Q_OS_LINUX
#include <sys/xattr.h>
#endif

namespace {

// A pipe whose reader went away sends SIGPIPE to the writing thread, which
// would end the program (the window with every row typed since it started).
// Held back for the length of one write, it is only the EPIPE error.
class QuietPipe
{
public:
    explicit QuietPipe(bool on)
        : on(on)
    {
        if (!on)
            return;
        sigemptyset(&pipeSignal);
        sigaddset(&pipeSignal, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipeSignal, &saved);
        sigset_t pending;
        sigpending(&pending);
        wasPending = sigismember(&pending, SIGPIPE) == 1;
    }
    ~QuietPipe()
    {
        if (!on)
            return;
        sigset_t pending;
        if (!wasPending && sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1) {
            const struct timespec now = {0, 0};
            sigtimedwait(&pipeSignal, nullptr, &now);
        }
        pthread_sigmask(SIG_SETMASK, &saved, nullptr);
    }

private:
    bool on;
    bool wasPending = false;
    sigset_t pipeSignal;
    sigset_t saved;
};

QByteArray encoded(const QString &name)
{
    return QFile::encodeName(name);
}

} // namespace

LinkCheck followLinks(const QString &name, QString *resolved)
{
    QString current = name;
    // As many links as the kernel follows before it gives up with ELOOP.
    for (int hop = 0; hop <= 40; ++hop) {
        struct stat link;
        const QByteArray path = encoded(current);
        if (lstat(path.constData(), &link) != 0 || !S_ISLNK(link.st_mode)) {
            *resolved = current;
            return LinkCheck::Followed;
        }
        const QString folder = QFileInfo(current).absolutePath();
        struct stat shared;
        if (stat(encoded(folder).constData(), &shared) == 0 && (shared.st_mode & S_ISVTX) && (shared.st_mode & S_IWOTH)
            && link.st_uid != geteuid() && link.st_uid != shared.st_uid)
            return LinkCheck::Refused;
        QByteArray target(qMax<qint64>(link.st_size, 255) + 1, Qt::Uninitialized);
        const ssize_t n = readlink(path.constData(), target.data(), size_t(target.size()));
        if (n < 0 || n >= target.size()) {
            *resolved = current; // changed under our feet: the open that follows will tell
            return LinkCheck::Followed;
        }
        target.truncate(int(n));
        const QString next = QFile::decodeName(target);
        current = QDir::isAbsolutePath(next) ? next : QDir(folder).filePath(next);
    }
    return LinkCheck::Loop;
}

void FileHandle::close()
{
    if (native != noFile)
        ::close(int(native));
    native = noFile;
    unnamed = false;
    pipe = false;
    if (!tempName.isEmpty())
        unlink(encoded(tempName).constData());
    forgetTemporaryName();
}

bool FileHandle::openExisting(const QString &name, bool *busy)
{
    close();
    if (busy)
        *busy = false;
    native = ::open(encoded(name).constData(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (native != noFile && !isRegularFile())
        close();
    return isOpen();
}

bool FileHandle::openDevice(const QString &name)
{
    close();
    // O_NONBLOCK: a FIFO without a reader is refused instead of waited for.
    const int fd = ::open(encoded(name).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    native = fd;
    const int flags = fcntl(fd, F_GETFL);
    struct stat st;
    if (flags == -1 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == -1 || fstat(fd, &st) != 0) {
        close();
        return false;
    }
    pipe = S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode);
    return true;
}

bool FileHandle::openStandardOutput()
{
    close();
    native = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
    struct stat st;
    if (native != noFile && fstat(int(native), &st) == 0)
        pipe = S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode);
    return isOpen();
}

bool FileHandle::createUnnamed(const QString &folder)
{
    close();
    if (!isUsableFolder(folder))
        return false;
    const QByteArray path = encoded(folder);
#ifdef O_TMPFILE
    native = ::open(path.constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (native != noFile)
        return true;
#endif
    // Made and unlinked at once: only a stop in between leaves it behind.
    for (int i = 0; i < temporaryNameTries; ++i) {
        const QByteArray name = encoded(temporaryFileName(folder));
        native = ::open(name.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (native != noFile) {
            unlink(name.constData());
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    return false;
}

bool FileHandle::createBeside(const QString &folder)
{
    close();
#ifdef O_TMPFILE
    // Unnamed until replace() names it, so that not even kill -9 leaves it
    // behind; naming it goes through /proc.
    if (access("/proc/self/fd", X_OK) == 0) {
        native = ::open(encoded(folder).constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
        if (native != noFile) {
            unnamed = true;
            return true;
        }
    }
#endif
    for (int i = 0; i < temporaryNameTries; ++i) {
        const QString name = temporaryFileName(folder);
        native = ::open(encoded(name).constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (native != noFile) {
            tempName = name;
            interruptToken = Interrupts::removeOnInterrupt(name);
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    return false;
}

bool FileHandle::replace(const QString &target)
{
    const QString folder = QFileInfo(target).absolutePath();
    if (unnamed) {
        const QByteArray self = "/proc/self/fd/" + QByteArray::number(qint64(native));
        for (int i = 0; i < temporaryNameTries && tempName.isEmpty(); ++i) {
            const QString name = temporaryFileName(folder);
            if (linkat(AT_FDCWD, self.constData(), AT_FDCWD, encoded(name).constData(), AT_SYMLINK_FOLLOW) == 0) {
                tempName = name;
                interruptToken = Interrupts::removeOnInterrupt(name);
            } else if (errno != EEXIST) {
                return false;
            }
        }
        unnamed = tempName.isEmpty();
    }
    if (tempName.isEmpty())
        return false;
    const QByteArray from = encoded(tempName);
    const bool renamed = ::rename(from.constData(), encoded(target).constData()) == 0;
    // Refused, it loses its name again but stays readable, for writing the
    // target in place.
    if (!renamed)
        unlink(from.constData());
    forgetTemporaryName();
    if (!renamed)
        return false;
    // The new name itself is on disk too, not only the bytes behind it.
    const int dir = ::open(encoded(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        ::close(dir);
    }
    return true;
}

bool FileHandle::canOverwriteAfterRefusedReplace()
{
    return true;
}

bool FileHandle::isMarkedReadOnly(const QString &)
{
    return false; // the file's mode and folder decide, as for any program
}

bool FileHandle::write(const char *data, qint64 size)
{
    const QuietPipe quiet(pipe);
    while (size > 0) {
        const ssize_t n = ::write(int(native), data, size_t(qMin<qint64>(size, 1 << 30)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // A non-blocking reader's end: wait for room as sources are
            // waited for.
            struct pollfd p = {int(native), POLLOUT, 0};
            int ready;
            do {
                ready = poll(&p, 1, idleTimeout);
            } while (ready < 0 && errno == EINTR);
            if (ready <= 0)
                return false;
            continue;
        }
        if (n <= 0)
            return false;
        data += n;
        size -= n;
    }
    return true;
}

bool FileHandle::seek(qint64 offset)
{
    return lseek(int(native), off_t(offset), SEEK_SET) == off_t(offset);
}

bool FileHandle::setLength(qint64 size)
{
    return ftruncate(int(native), off_t(size)) == 0;
}

bool FileHandle::reserve(qint64 size)
{
    if (size <= 0)
        return true;
#ifdef Q_OS_LINUX
    return fallocate(int(native), 0, 0, off_t(size)) == 0;
#else
    return posix_fallocate(int(native), 0, off_t(size)) == 0;
#endif
}

bool FileHandle::sync()
{
    return fdatasync(int(native)) == 0;
}

bool FileHandle::openReader(FileHandle &reader) const
{
    reader.close();
    reader.native = fcntl(int(native), F_DUPFD_CLOEXEC, 0); // pread needs no position of its own
    return reader.isOpen();
}

bool FileHandle::lock()
{
    return flock(int(native), LOCK_EX | LOCK_NB) == 0;
}

void FileHandle::startWriteBack(qint64 from, qint64 to)
{
#ifdef Q_OS_LINUX
    if (!pipe && to > from)
        sync_file_range(int(native), from, to - from, SYNC_FILE_RANGE_WRITE);
#else
    Q_UNUSED(from);
    Q_UNUSED(to);
#endif
}

const char *FileHandle::mapView(qint64 offset, qint64 size) const
{
    void *view = mmap(nullptr, size_t(size), PROT_READ, MAP_SHARED, int(native), off_t(offset));
    return view == MAP_FAILED ? nullptr : static_cast<const char *>(view);
}

void FileHandle::unmapView(const char *view, qint64 size)
{
    if (view)
        munmap(const_cast<char *>(view), size_t(size));
}

qint64 FileHandle::mapGranularity()
{
    static const qint64 page = sysconf(_SC_PAGESIZE);
    return page;
}

qint64 FileHandle::size() const
{
    struct stat st;
    return fstat(int(native), &st) == 0 ? qint64(st.st_size) : -1;
}

FileIdentity FileHandle::identity() const
{
    FileIdentity id;
    struct stat st;
    if (native != noFile && fstat(int(native), &st) == 0) {
        id.volume = quint64(st.st_dev);
        id.node = quint64(st.st_ino);
        id.valid = true;
    }
    return id;
}

bool FileHandle::isRegularFile() const
{
    struct stat st;
    return native != noFile && fstat(int(native), &st) == 0 && S_ISREG(st.st_mode);
}

void FileHandle::copyAttributesFrom(const QString &name)
{
    const QByteArray path = encoded(name);
    const int fd = int(native);
    struct stat old;
    if (lstat(path.constData(), &old) != 0 || !S_ISREG(old.st_mode))
        return;
    // Owner first: changing it clears set-id bits, which the mode then brings
    // back. Without the right to give files away, the group alone may do.
    if (fchown(fd, old.st_uid, old.st_gid) != 0 && fchown(fd, uid_t(-1), old.st_gid) != 0) {
        // Kept as the process's own.
    }
#ifdef Q_OS_LINUX
    // Extended attributes; the POSIX ACL is one of them
    // (system.posix_acl_access).
    ssize_t listSize = llistxattr(path.constData(), nullptr, 0);
    if (listSize > 0) {
        QByteArray list(int(listSize), Qt::Uninitialized);
        listSize = llistxattr(path.constData(), list.data(), size_t(list.size()));
        for (qint64 at = 0; listSize > 0 && at < listSize;) {
            const char *key = list.constData() + at;
            at += qint64(qstrlen(key)) + 1;
            const ssize_t valueSize = lgetxattr(path.constData(), key, nullptr, 0);
            if (valueSize < 0)
                continue;
            QByteArray value(int(valueSize), Qt::Uninitialized);
            const ssize_t got = lgetxattr(path.constData(), key, value.data(), size_t(value.size()));
            if (got >= 0 && fsetxattr(fd, key, value.constData(), size_t(got), 0) != 0) {
                // Not ours to set (a security label, a trusted attribute).
            }
        }
    }
#endif
    // After the ACL, so that the mode's group bits, which are the ACL's mask,
    // end up the old ones.
    if (fchmod(fd, old.st_mode & 07777) != 0) {
        // Kept as made.
    }
}
