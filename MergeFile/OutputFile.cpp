#include "OutputFile.h"

#include "Checksums.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <thread>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

// The image goes to disk while it is still being made, so that commit()'s
// sync has little left to wait for.
static constexpr qint64 writeBackStep = qint64(8) << 20;
static constexpr qint64 readBackChunk = qint64(1) << 20;

// The second thread: hashes the output by reading it back from the file,
// never further than the writer has got.
struct OutputFile::Trailer
{
    int readFd = -1;
    char *buffer = nullptr;
    Sha256 *sha = nullptr;
    std::mutex mutex;
    std::condition_variable changed;
    qint64 published = 0; // bytes the writer has written
    bool done = false;    // the writer has finished
    bool stop = false;    // give up: the output is thrown away
    bool failed = false;
    std::thread thread;

    ~Trailer()
    {
        if (thread.joinable()) {
            {
                std::lock_guard<std::mutex> lock(mutex);
                stop = true;
            }
            changed.notify_all();
            thread.join();
        }
#ifndef Q_OS_WIN
        if (readFd >= 0)
            ::close(readFd);
#endif
        std::free(buffer);
    }

    void publish(qint64 bytes, bool finished)
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            published = bytes;
            done = finished;
        }
        changed.notify_all();
    }

    void run()
    {
#ifndef Q_OS_WIN
        qint64 position = 0;
        for (;;) {
            qint64 upTo;
            {
                std::unique_lock<std::mutex> lock(mutex);
                changed.wait(lock, [&] { return published > position || done || stop; });
                if (stop || (done && position >= published))
                    return;
                upTo = published;
            }
            while (position < upTo) {
                const ssize_t n = pread(readFd, buffer, size_t(qMin(readBackChunk, upTo - position)), off_t(position));
                if (n < 0 && errno == EINTR)
                    continue;
                if (n <= 0) {
                    failed = true;
                    return;
                }
                sha->add(buffer, n);
                position += n;
            }
        }
#endif
    }
};

OutputFile::OutputFile(const QString &name)
    : name(name)
{
}

OutputFile::~OutputFile()
{
    trailer.reset();
    if (mode == InPlace) {
        // Not committed: give the old output its length back. Its bytes are
        // untouched unless the write itself failed after the reservation.
#ifdef Q_OS_WIN
        LARGE_INTEGER at;
        at.QuadPart = oldLength;
        if (SetFilePointerEx(handle, at, nullptr, FILE_BEGIN))
            SetEndOfFile(handle);
#else
        if (ftruncate(fd, off_t(oldLength)) != 0) {
            // Nothing better to do: the reservation stays.
        }
#endif
    }
    closeHandle();
    // An uncommitted QSaveFile removes its temporary file by itself.
}

void OutputFile::setHashing(bool on, bool secondThread)
{
    hashing = on;
    hashOnSecondThread = secondThread;
}

OutputFile::Status OutputFile::open(qint64 size, const QVector<FileIdentity> &sources)
{
    length = size;
    const Status status = standardOutput ? openStandardOutput() : openNamed(size, sources);
    if (status == Opened && hashing)
        startHashing();
    return status;
}

OutputFile::Status OutputFile::openNamed(qint64 size, const QVector<FileIdentity> &sources)
{
    const QFileInfo target(name);
#ifdef Q_OS_WIN
    // Windows users mark a file read-only to keep it: never replace one.
    const DWORD attributes = GetFileAttributesW(reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(name).utf16()));
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        return CannotOpen;
#endif
    if (target.exists() && !target.isFile() && !target.isDir())
        return openDevice(); // a temporary file renamed over it would replace the node itself
    save.reset(new QSaveFile(name));
    save->setDirectWriteFallback(false);
    if (save->open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        mode = Replace;
        return Opened;
    }
    save.reset();
    return target.isFile() ? openInPlace(size, sources) : CannotOpen;
}

void OutputFile::startHashing()
{
    sha.reset(new Sha256);
    if (!hashOnSecondThread)
        return;
#ifdef Q_OS_LINUX
    // The temporary file is open for writing only; /proc gives a second,
    // reading handle on the very same file.
    const int writeFd = mode == Replace ? save->handle() : mode == InPlace ? fd : -1;
    if (writeFd < 0)
        return;
    std::unique_ptr<Trailer> t(new Trailer);
    t->readFd = ::open(QByteArray("/proc/self/fd/" + QByteArray::number(writeFd)).constData(), O_RDONLY | O_CLOEXEC);
    t->buffer = static_cast<char *>(std::malloc(size_t(readBackChunk)));
    t->sha = sha.get();
    if (t->readFd < 0 || !t->buffer)
        return; // hashed inline instead
    try {
        t->thread = std::thread([raw = t.get()] { raw->run(); });
        trailer = std::move(t);
    } catch (const std::exception &) {
        // No thread to be had (a process or memory limit): hashed inline.
    }
#endif
}

bool OutputFile::finishHashing()
{
    if (!hashing)
        return true;
    if (trailer) {
        trailer->publish(written, true);
        trailer->thread.join();
        const bool failed = trailer->failed;
        trailer.reset();
        if (failed)
            return false;
    }
    digest = sha->result();
    return true;
}

bool OutputFile::write(const char *data, qint64 size)
{
    const bool ok = mode == Replace ? save->write(data, size) == size : writeHandle(data, size);
    written += size;
    if (!ok)
        return false;
    if (trailer)
        trailer->publish(written, false);
    else if (hashing)
        sha->add(data, size);
    if (written - writtenBack >= writeBackStep)
        startWriteBack();
    return true;
}

#ifdef Q_OS_WIN

static HANDLE openNative(const QString &name, DWORD access, DWORD share)
{
    const QString native = QDir::toNativeSeparators(name);
    return CreateFileW(reinterpret_cast<const wchar_t *>(native.utf16()), access, share, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

static bool setLength(HANDLE h, qint64 size)
{
    LARGE_INTEGER at;
    at.QuadPart = size;
    return SetFilePointerEx(h, at, nullptr, FILE_BEGIN) && SetEndOfFile(h);
}

OutputFile::Status OutputFile::openInPlace(qint64 size, const QVector<FileIdentity> &sources)
{
    // Sharing only reading keeps every other writer out while we write.
    HANDLE h = openNative(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ);
    if (h == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_SHARING_VIOLATION ? Locked : CannotOpen;
    handle = h;
    BY_HANDLE_FILE_INFORMATION info;
    LARGE_INTEGER old;
    if (!GetFileInformationByHandle(h, &info) || !GetFileSizeEx(h, &old)) {
        closeHandle();
        return CannotOpen;
    }
    FileIdentity self;
    self.volume = info.dwVolumeSerialNumber;
    self.node = (quint64(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    self.valid = true;
    if (sources.contains(self)) {
        closeHandle();
        return IsASource;
    }
    oldLength = old.QuadPart;
    // Growing the file allocates its clusters, or fails for a full disk.
    if (size > oldLength && !setLength(h, size)) {
        setLength(h, oldLength);
        closeHandle();
        return CannotReserve;
    }
    LARGE_INTEGER start;
    start.QuadPart = 0;
    SetFilePointerEx(h, start, nullptr, FILE_BEGIN);
    mode = InPlace;
    return Opened;
}

OutputFile::Status OutputFile::openDevice()
{
    HANDLE h = openNative(name, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
    if (h == INVALID_HANDLE_VALUE)
        return CannotOpen;
    handle = h;
    mode = Device;
    return Opened;
}

OutputFile::Status OutputFile::openStandardOutput()
{
    std::fflush(stdout); // nothing of ours may follow the image's first bytes
    HANDLE process = GetCurrentProcess();
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    HANDLE h = nullptr;
    if (out == nullptr || out == INVALID_HANDLE_VALUE
        || !DuplicateHandle(process, out, process, &h, 0, FALSE, DUPLICATE_SAME_ACCESS))
        return CannotOpen;
    handle = h;
    mode = Device;
    return Opened;
}

bool OutputFile::writeHandle(const char *data, qint64 size)
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

bool OutputFile::commit()
{
    bool ok = false;
    if (mode == Replace) {
        ok = finishHashing() && save->commit();
        renameFailed = !ok && save->error() == QFileDevice::RenameError;
    } else if (mode == InPlace) {
        ok = setLength(handle, length) && FlushFileBuffers(handle) && finishHashing();
        closeHandle();
    } else if (mode == Device) {
        ok = finishHashing();
        closeHandle();
    }
    mode = Closed;
    return ok;
}

void OutputFile::closeHandle()
{
    if (handle)
        CloseHandle(handle);
    handle = nullptr;
}

void OutputFile::startWriteBack()
{
    writtenBack = written; // Windows writes back on its own
}

#else

OutputFile::Status OutputFile::openInPlace(qint64 size, const QVector<FileIdentity> &sources)
{
    fd = ::open(QFile::encodeName(name).constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return CannotOpen;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        closeHandle();
        return CannotOpen;
    }
    FileIdentity self;
    self.volume = quint64(st.st_dev);
    self.node = quint64(st.st_ino);
    self.valid = true;
    if (sources.contains(self)) {
        closeHandle();
        return IsASource;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        closeHandle();
        return Locked;
    }
    oldLength = qint64(st.st_size);
    if (size > 0) {
#ifdef Q_OS_LINUX
        const int failed = fallocate(fd, 0, 0, off_t(size)) != 0 ? errno : 0;
#else
        const int failed = posix_fallocate(fd, 0, off_t(size));
#endif
        if (failed) {
            // Also where blocks cannot be reserved at all: writing without a
            // reservation could leave half an image where the old one was.
            if (ftruncate(fd, off_t(oldLength)) != 0) {
                // The old bytes are intact either way.
            }
            closeHandle();
            return CannotReserve;
        }
    }
    mode = InPlace;
    return Opened;
}

OutputFile::Status OutputFile::openDevice()
{
    // O_NONBLOCK: a FIFO without a reader is refused instead of waited for.
    fd = ::open(QFile::encodeName(name).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return CannotOpen;
    const int flags = fcntl(fd, F_GETFL);
    if (flags == -1 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == -1) {
        closeHandle();
        return CannotOpen;
    }
    mode = Device;
    return Opened;
}

OutputFile::Status OutputFile::openStandardOutput()
{
    std::fflush(stdout); // nothing of ours may follow the image's first bytes
    fd = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
    if (fd < 0)
        return CannotOpen;
    mode = Device;
    return Opened;
}

bool OutputFile::writeHandle(const char *data, qint64 size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(qMin<qint64>(size, 1 << 30)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= n;
    }
    return true;
}

bool OutputFile::commit()
{
    bool ok = false;
    if (mode == Replace) {
        // Syncing first lets the disk work while the hash catches up; the
        // sync inside QSaveFile's commit then has nothing left to do.
        ok = fdatasync(save->handle()) == 0 && finishHashing() && save->commit();
    } else if (mode == InPlace) {
        ok = ftruncate(fd, off_t(length)) == 0 && fdatasync(fd) == 0 && finishHashing();
        ok = ::close(fd) == 0 && ok;
        fd = -1;
    } else if (mode == Device) {
        ok = finishHashing();
        ok = ::close(fd) == 0 && ok;
        fd = -1;
    }
    mode = Closed;
    return ok;
}

void OutputFile::closeHandle()
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

void OutputFile::startWriteBack()
{
#ifdef Q_OS_LINUX
    const int handle = mode == Replace ? save->handle() : fd;
    if (mode != Device && handle >= 0)
        sync_file_range(handle, writtenBack, written - writtenBack, SYNC_FILE_RANGE_WRITE);
#endif
    writtenBack = written;
}

#endif
