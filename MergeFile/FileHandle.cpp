#include "FileHandle.h"

#include "Interrupts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef Q_OS_LINUX
#include <sys/xattr.h>
#endif
#endif

namespace {

// Short, so that the name of the output itself may be as long as the system
// allows; hidden, as files that are still being written should be.
QString temporaryName(const QString &folder)
{
    static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    QString name = QStringLiteral(".MergeFile-");
    for (int i = 0; i < 8; ++i)
        name += QLatin1Char(letters[QRandomGenerator::global()->bounded(36)]);
    return QDir(folder).filePath(name);
}

constexpr int tries = 100; // names taken by others before giving up

// An unusable folder (Qt gives "" for a TMPDIR that does not exist) is a
// failure, never the current folder or the root.
bool isFolder(const QString &folder)
{
    return !folder.isEmpty() && QFileInfo(folder).isDir();
}

} // namespace

FileHandle::~FileHandle()
{
    close();
}

#ifdef Q_OS_WIN

#ifndef REPLACEFILE_IGNORE_ACL_ERRORS
#define REPLACEFILE_IGNORE_ACL_ERRORS 0x00000004
#endif

// Absolute: some of the calls (ReplaceFile under Wine) take no relative name.
static std::wstring nativeName(const QString &name)
{
    return QDir::toNativeSeparators(QFileInfo(name).absoluteFilePath()).toStdWString();
}

LinkCheck followLinks(const QString &name, QString *resolved)
{
    *resolved = name;
    return LinkCheck::Followed;
}

bool FileHandle::isOpen() const
{
    return handle != nullptr;
}

void FileHandle::close()
{
    if (handle)
        CloseHandle(handle);
    handle = nullptr;
    if (!tempName.isEmpty())
        DeleteFileW(nativeName(tempName).c_str());
    tempName.clear();
    Interrupts::forget(interruptToken);
    interruptToken = -1;
}

bool FileHandle::openExisting(const QString &name, bool *busy)
{
    close();
    // Sharing only reading keeps every other writer out while we write.
    HANDLE h = CreateFileW(nativeName(name).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (busy)
        *busy = h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION;
    if (h == INVALID_HANDLE_VALUE)
        return false;
    handle = h;
    if (!isRegularFile()) {
        close();
        return false;
    }
    return true;
}

bool FileHandle::openDevice(const QString &name)
{
    close();
    HANDLE h = CreateFileW(nativeName(name).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    handle = h;
    return true;
}

bool FileHandle::openStandardOutput()
{
    close();
    HANDLE process = GetCurrentProcess();
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    HANDLE h = nullptr;
    if (out == nullptr || out == INVALID_HANDLE_VALUE
        || !DuplicateHandle(process, out, process, &h, 0, FALSE, DUPLICATE_SAME_ACCESS))
        return false;
    handle = h;
    return true;
}

bool FileHandle::createUnnamed(const QString &folder)
{
    close();
    if (!isFolder(folder))
        return false;
    for (int i = 0; i < tries; ++i) {
        // Windows removes it when the last handle goes, also when the
        // process is ended.
        HANDLE h = CreateFileW(nativeName(temporaryName(folder)).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            handle = h;
            return true;
        }
        if (GetLastError() != ERROR_FILE_EXISTS)
            return false;
    }
    return false;
}

bool FileHandle::createBeside(const QString &folder)
{
    close();
    for (int i = 0; i < tries; ++i) {
        const QString name = temporaryName(folder);
        // Sharing deletion lets a console's Ctrl-C remove it while it is open.
        HANDLE h = CreateFileW(nativeName(name).c_str(), GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                               nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            handle = h;
            tempName = name;
            interruptToken = Interrupts::removeOnInterrupt(name);
            return true;
        }
        if (GetLastError() != ERROR_FILE_EXISTS)
            return false;
    }
    return false;
}

bool FileHandle::replace(const QString &target)
{
    if (tempName.isEmpty())
        return false;
    CloseHandle(handle);
    handle = nullptr;
    const std::wstring from = nativeName(tempName);
    const std::wstring to = nativeName(target);
    // ReplaceFile keeps the old file's attributes, owner and access rights.
    // A file that another program holds open is found first: ReplaceFile
    // would fail on it too, but (under Wine) leave a file of its own behind.
    const bool exists = GetFileAttributesW(to.c_str()) != INVALID_FILE_ATTRIBUTES;
    if (exists) {
        HANDLE probe = CreateFileW(to.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
        if (probe == INVALID_HANDLE_VALUE) {
            close();
            return false;
        }
        CloseHandle(probe);
    }
    const bool ok = exists ? ReplaceFileW(to.c_str(), from.c_str(), nullptr,
                                          REPLACEFILE_IGNORE_MERGE_ERRORS | REPLACEFILE_IGNORE_ACL_ERRORS, nullptr,
                                          nullptr)
                           : MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH);
    if (ok)
        tempName.clear();
    close();
    return ok;
}

bool FileHandle::write(const char *data, qint64 size)
{
    while (size > 0) {
        DWORD done = 0;
        const DWORD chunk = DWORD(qMin<qint64>(size, 1 << 30));
        if (!WriteFile(handle, data, chunk, &done, nullptr) || done == 0)
            return false;
        data += done;
        size -= done;
    }
    return true;
}

qint64 FileHandle::readAt(qint64 offset, char *data, qint64 size)
{
    return readFileAt(handle, offset, data, size);
}

bool FileHandle::seek(qint64 offset)
{
    LARGE_INTEGER at;
    at.QuadPart = offset;
    return SetFilePointerEx(handle, at, nullptr, FILE_BEGIN);
}

bool FileHandle::setLength(qint64 size)
{
    LARGE_INTEGER at;
    at.QuadPart = size;
    return SetFilePointerEx(handle, at, nullptr, FILE_BEGIN) && SetEndOfFile(handle);
}

bool FileHandle::reserve(qint64 size)
{
    // Growing a file allocates its clusters, or fails for a full disk.
    return size <= this->size() || setLength(size);
}

bool FileHandle::sync()
{
    return FlushFileBuffers(handle);
}

bool FileHandle::openReader(FileHandle &reader) const
{
    reader.close();
    if (tempName.isEmpty())
        return false;
    // Its own handle: reads and writes then neither share a file position
    // nor wait for each other.
    HANDLE h = CreateFileW(nativeName(tempName).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    reader.handle = h;
    return true;
}

bool FileHandle::lock()
{
    return true;
}

void FileHandle::startWriteBack(qint64, qint64)
{
    // Windows writes back on its own.
}

qint64 FileHandle::size() const
{
    LARGE_INTEGER size;
    return GetFileSizeEx(handle, &size) ? qint64(size.QuadPart) : -1;
}

FileIdentity FileHandle::identity() const
{
    FileIdentity id;
    BY_HANDLE_FILE_INFORMATION info;
    if (handle && GetFileInformationByHandle(handle, &info)) {
        id.volume = info.dwVolumeSerialNumber;
        id.node = (quint64(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
        id.valid = true;
    }
    return id;
}

bool FileHandle::isRegularFile() const
{
    BY_HANDLE_FILE_INFORMATION info;
    return handle && GetFileType(handle) == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &info)
           && !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

void FileHandle::copyAttributesFrom(const QString &name)
{
    // ReplaceFile keeps them too on Windows itself, but not under Wine.
    const DWORD old = GetFileAttributesW(nativeName(name).c_str());
    const DWORD kept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE
                       | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    if (old == INVALID_FILE_ATTRIBUTES || !(old & kept))
        return;
    FILE_BASIC_INFO info = {}; // times of 0 stay as they are
    info.FileAttributes = old & kept;
    SetFileInformationByHandle(handle, FileBasicInfo, &info, sizeof info);
}

#else // Unix

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

bool FileHandle::isOpen() const
{
    return fd >= 0;
}

void FileHandle::close()
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
    unnamed = false;
    pipe = false;
    if (!tempName.isEmpty())
        unlink(encoded(tempName).constData());
    tempName.clear();
    Interrupts::forget(interruptToken);
    interruptToken = -1;
}

bool FileHandle::openExisting(const QString &name, bool *busy)
{
    close();
    if (busy)
        *busy = false;
    fd = ::open(encoded(name).constData(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0 && !isRegularFile())
        close();
    return fd >= 0;
}

bool FileHandle::openDevice(const QString &name)
{
    close();
    // O_NONBLOCK: a FIFO without a reader is refused instead of waited for.
    fd = ::open(encoded(name).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
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
    fd = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
    struct stat st;
    if (fd >= 0 && fstat(fd, &st) == 0)
        pipe = S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode);
    return fd >= 0;
}

bool FileHandle::createUnnamed(const QString &folder)
{
    close();
    if (!isFolder(folder))
        return false;
    const QByteArray path = encoded(folder);
#ifdef O_TMPFILE
    fd = ::open(path.constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0)
        return true;
#endif
    // Made and unlinked at once: only a stop in between leaves it behind.
    for (int i = 0; i < tries; ++i) {
        const QByteArray name = encoded(temporaryName(folder));
        fd = ::open(name.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) {
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
        fd = ::open(encoded(folder).constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
        if (fd >= 0) {
            unnamed = true;
            return true;
        }
    }
#endif
    for (int i = 0; i < tries; ++i) {
        const QString name = temporaryName(folder);
        fd = ::open(encoded(name).constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0) {
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
        const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd);
        for (int i = 0; i < tries && tempName.isEmpty(); ++i) {
            const QString name = temporaryName(folder);
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
    tempName.clear();
    Interrupts::forget(interruptToken);
    interruptToken = -1;
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

bool FileHandle::write(const char *data, qint64 size)
{
    const QuietPipe quiet(pipe);
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(qMin<qint64>(size, 1 << 30)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // A non-blocking reader's end: wait for room as sources are
            // waited for.
            struct pollfd p = {fd, POLLOUT, 0};
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

qint64 FileHandle::readAt(qint64 offset, char *data, qint64 size)
{
    return readFileAt(fd, offset, data, size);
}

bool FileHandle::seek(qint64 offset)
{
    return lseek(fd, off_t(offset), SEEK_SET) == off_t(offset);
}

bool FileHandle::setLength(qint64 size)
{
    return ftruncate(fd, off_t(size)) == 0;
}

bool FileHandle::reserve(qint64 size)
{
    if (size <= 0)
        return true;
#ifdef Q_OS_LINUX
    return fallocate(fd, 0, 0, off_t(size)) == 0;
#else
    return posix_fallocate(fd, 0, off_t(size)) == 0;
#endif
}

bool FileHandle::sync()
{
    return fdatasync(fd) == 0;
}

bool FileHandle::openReader(FileHandle &reader) const
{
    reader.close();
    reader.fd = fcntl(fd, F_DUPFD_CLOEXEC, 0); // pread needs no position of its own
    return reader.fd >= 0;
}

bool FileHandle::lock()
{
    return flock(fd, LOCK_EX | LOCK_NB) == 0;
}

void FileHandle::startWriteBack(qint64 from, qint64 to)
{
#ifdef Q_OS_LINUX
    if (!pipe && to > from)
        sync_file_range(fd, from, to - from, SYNC_FILE_RANGE_WRITE);
#else
    Q_UNUSED(from);
    Q_UNUSED(to);
#endif
}

qint64 FileHandle::size() const
{
    struct stat st;
    return fstat(fd, &st) == 0 ? qint64(st.st_size) : -1;
}

FileIdentity FileHandle::identity() const
{
    FileIdentity id;
    struct stat st;
    if (fd >= 0 && fstat(fd, &st) == 0) {
        id.volume = quint64(st.st_dev);
        id.node = quint64(st.st_ino);
        id.valid = true;
    }
    return id;
}

bool FileHandle::isRegularFile() const
{
    struct stat st;
    return fd >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

void FileHandle::copyAttributesFrom(const QString &name)
{
    const QByteArray path = encoded(name);
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

#endif
