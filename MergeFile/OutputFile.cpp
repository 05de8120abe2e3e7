#include "OutputFile.h"

#include "Checksums.h"
#include "Interrupts.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>
#include <mutex>
#include <thread>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

// The image goes to disk while it is still being made, so that commit()'s
// sync has little left to wait for.
static constexpr qint64 writeBackStep = qint64(8) << 20;
static constexpr qint64 chunk = qint64(1) << 20;

// The second thread: hashes the output by reading it back from the file,
// never further than the writer has got.
struct OutputFile::Trailer
{
    FileHandle file;
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
                const qint64 n = file.readAt(position, buffer, qMin(chunk, upTo - position));
                if (n <= 0) {
                    failed = true;
                    return;
                }
                sha->add(buffer, n);
                position += n;
            }
        }
    }
};

OutputFile::OutputFile(const QString &name)
    : name(name)
{
}

OutputFile::~OutputFile()
{
    // Nothing of the target has been touched before commit(); the new image
    // goes with its file.
    trailer.reset();
}

void OutputFile::setHashing(bool on, bool secondThread)
{
    hashing = on;
    hashOnSecondThread = secondThread;
}

OutputFile::Status OutputFile::open(qint64 size, const QVector<FileIdentity> &sources)
{
    const Status status = standardOutput ? openStandardOutput(sources, false) : openNamed(size, sources, false);
    if (status == Opened && hashing)
        startHashing();
    return status;
}

OutputFile::Status OutputFile::probe(qint64 size, const QVector<FileIdentity> &sources)
{
    const Status status = standardOutput ? openStandardOutput(sources, true) : openNamed(size, sources, true);
    staged.close();
    direct.close();
    mode = Closed;
    return status;
}

OutputFile::Status OutputFile::openStandardOutput(const QVector<FileIdentity> &sources, bool dryRun)
{
    if (!dryRun)
        std::fflush(stdout); // nothing of ours may follow the image's first bytes
    if (!direct.openStandardOutput())
        return CannotOpen;
    // Redirected into a source (1<>b.bin, >> b.bin), it would change that
    // source while it is read.
    if (direct.isRegularFile() && sources.contains(direct.identity())) {
        direct.close();
        return IsASource;
    }
    direct.setIdleTimeout(idleTimeout);
    mode = Device;
    return Opened;
}

OutputFile::Status OutputFile::openNamed(qint64 size, const QVector<FileIdentity> &sources, bool dryRun)
{
    switch (followLinks(name, &target)) {
    case LinkCheck::Refused:
        return LinkRefused;
    case LinkCheck::Loop:
        return LinkLoop;
    case LinkCheck::Followed:
        break;
    }
    const QFileInfo info(target);
#ifdef Q_OS_WIN
    // Windows users mark a file read-only to keep it: never replace one.
    const DWORD attributes = GetFileAttributesW(reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(target).utf16()));
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        return CannotOpen;
#endif
    if (info.exists() && !info.isFile() && !info.isDir()) {
        // A device or FIFO: a file renamed over it would replace the node
        // itself. Not opened for a dry run: a FIFO's reader would see its end.
        if (dryRun)
            return info.isWritable() ? Opened : CannotOpen;
        if (!direct.openDevice(target))
            return CannotOpen;
        direct.setIdleTimeout(idleTimeout);
        mode = Device;
        return Opened;
    }
    if (info.isDir())
        return CannotOpen;
    if (staged.createBeside(info.absolutePath())) {
        mode = Replace;
        return Opened;
    }
    return info.isFile() ? openInPlace(size, sources) : CannotOpen;
}

OutputFile::Status OutputFile::openInPlace(qint64 size, const QVector<FileIdentity> &sources)
{
    bool busy = false;
    if (!direct.openExisting(target, &busy))
        return busy ? Locked : CannotOpen;
    if (sources.contains(direct.identity())) {
        direct.close();
        return IsASource;
    }
    if (!direct.lock()) {
        direct.close();
        return Locked;
    }
    oldLength = direct.size();
    const QString tempFolder = QDir::tempPath();
    if (!staged.createUnnamed(tempFolder))
        return NoRoomToStage;
    if (size > 0) {
        // Both must fit: the image in the temporary folder, and what the
        // target grows by; on one disk, together.
        const QStorageInfo stage(tempFolder);
        const QStorageInfo out(QFileInfo(target).absolutePath());
        const qint64 growth = qMax<qint64>(0, size - oldLength);
        const bool oneDisk = stage.isValid() && out.isValid() && stage.device() == out.device();
        if (stage.isValid() && stage.bytesAvailable() < size + (oneDisk ? growth : 0))
            return NoRoomToStage;
        if (out.isValid() && out.bytesAvailable() < growth)
            return CannotReserve;
    }
    mode = InPlace;
    return Opened;
}

void OutputFile::startHashing()
{
    sha.reset(new Sha256);
    // The new image is in a file of ours that can be read back while it is
    // written; a device or pipe is hashed inline.
    if (!hashOnSecondThread || mode == Device)
        return;
    std::unique_ptr<Trailer> t(new Trailer);
    t->buffer = static_cast<char *>(std::malloc(size_t(chunk)));
    t->sha = sha.get();
    if (!t->buffer || !staged.openReader(t->file))
        return; // hashed inline instead
    try {
        t->thread = std::thread([raw = t.get()] { raw->run(); });
        trailer = std::move(t);
    } catch (const std::exception &) {
        // No thread to be had (a process or memory limit): hashed inline.
    }
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
    FileHandle &out = mode == Device ? direct : staged;
    const bool ok = out.write(data, size);
    written += size;
    if (!ok)
        return false;
    if (trailer)
        trailer->publish(written, false);
    else if (hashing)
        sha->add(data, size);
    if (mode == Replace && written - writtenBack >= writeBackStep) {
        out.startWriteBack(writtenBack, written);
        writtenBack = written;
    }
    return true;
}

// Overwrites the target with the finished image. Its room is claimed first,
// so that a full disk or a size limit is found before a byte of it changes;
// a stop meanwhile waits for the end, so that it holds the old image or the
// new one, never half of each.
bool OutputFile::copyOver(FileHandle &from, FileHandle &to)
{
    const Interrupts::Deferred holdStops;
    if (!to.reserve(written)) {
        to.setLength(oldLength);
        return false;
    }
    const std::unique_ptr<char[]> buffer(new (std::nothrow) char[size_t(chunk)]);
    if (!buffer || !to.seek(0))
        return false;
    for (qint64 at = 0; at < written;) {
        const qint64 n = from.readAt(at, buffer.get(), qMin(chunk, written - at));
        if (n <= 0 || !to.write(buffer.get(), n))
            return false;
        at += n;
    }
    return to.setLength(written) && to.sync();
}

bool OutputFile::commit()
{
    bool ok = false;
    if (mode == Replace) {
        ok = staged.sync() && finishHashing();
        if (ok) {
            staged.copyAttributesFrom(target);
            if (!staged.replace(target)) {
#ifdef Q_OS_WIN
                renameFailed = true;
                ok = false;
#else
                // The rename itself was refused (a bind-mounted file, another
                // user's file in a shared folder): the finished image is
                // copied over it instead.
                ok = QFileInfo(target).isFile() && direct.openExisting(target) && direct.lock();
                oldLength = ok ? direct.size() : 0;
                ok = ok && copyOver(staged, direct);
#endif
            }
        }
    } else if (mode == InPlace) {
        ok = finishHashing() && copyOver(staged, direct);
    } else if (mode == Device) {
        ok = finishHashing();
    }
    staged.close();
    direct.close();
    mode = Closed;
    return ok;
}
