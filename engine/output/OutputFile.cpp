#include "OutputFile.h"

#include "Sha256Thread.h"
#include "platform/Interrupts.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

#include <cstdio>
#include <cstring>

// The image goes to disk while it is still being made, so that commit()'s
// sync has little left to wait for.
static constexpr qint64 writeBackStep = qint64(8) << 20;

static OutputFile::WriteSeam writeSeam = nullptr;

void OutputFile::setWriteSeam(WriteSeam seam)
{
    writeSeam = seam;
}

OutputFile::OutputFile(const QString &name)
    : name(name)
{
}

OutputFile::~OutputFile()
{
    // Nothing of the target has been touched before commit(); the new image
    // goes with its file.
    hasher.reset();
}

void OutputFile::setHashing(bool on, bool secondThread)
{
    hashing = on;
    hashOnSecondThread = secondThread;
}

OutputFile::Status OutputFile::open(qint64 size, const QVector<FileIdentity> &sources)
{
    const Status status = standardOutput ? openStandardOutput(sources, false) : openNamed(size, sources, false);
    if (status == Opened && hashing) {
        hasher.reset(new Sha256Thread);
        hasher->start(hashOnSecondThread);
    }
    if (status == Opened) {
        gathered = allocateChunk();
        gatheredSize = 0;
        written = 0;
        writtenBack = 0;
        writtenCrc = Crc32();
        finished = false;
    }
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
    if (FileHandle::isMarkedReadOnly(target))
        return CannotOpen;
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

QByteArray OutputFile::sha256SoFar()
{
    if (!hasher || !flushGathered())
        return QByteArray();
    return hasher->resultSoFar();
}

bool OutputFile::finishHashing()
{
    if (!hasher)
        return true;
    digest = hasher->finish();
    hasher.reset();
    return !digest.isEmpty();
}

// Small writes (a piece of a scattered file, the fill between two) are
// gathered into one buffer and go out together; large ones go straight out.
bool OutputFile::write(const char *data, qint64 size)
{
    if (!gathered)
        return writeOut(data, size);
    // What is gathered goes out first, before a write that does not fit
    // beside it or goes straight out: the file takes bytes in the order given.
    const bool direct = size >= chunkSize / 4;
    if ((direct || gatheredSize + size > chunkSize) && !flushGathered())
        return false;
    if (direct)
        return writeOut(data, size);
    std::memcpy(gathered.get() + gatheredSize, data, size_t(size));
    gatheredSize += size;
    return true;
}

bool OutputFile::flushGathered()
{
    const qint64 size = gatheredSize;
    gatheredSize = 0;
    return size == 0 || writeOut(gathered.get(), size);
}

bool OutputFile::writeOut(const char *data, qint64 size)
{
    std::unique_ptr<char[]> changed;
    if (writeSeam) {
        changed.reset(new char[size_t(size)]);
        std::memcpy(changed.get(), data, size_t(size));
        writeSeam(written, changed.get(), size);
        data = changed.get();
    }
    FileHandle &out = mode == Device ? direct : staged;
    const bool ok = out.write(data, size);
    written += size;
    if (!ok)
        return false;
    writtenCrc.add(data, size);
    if (hasher)
        hasher->add(data, size);
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
    const ChunkBuffer buffer = allocateChunk();
    if (!buffer || !to.seek(0))
        return false;
    for (qint64 at = 0; at < written;) {
        const qint64 n = from.readAt(at, buffer.get(), qMin(chunkSize, written - at));
        if (n <= 0 || !to.write(buffer.get(), n))
            return false;
        at += n;
    }
    return to.setLength(written) && to.sync();
}

bool OutputFile::finish()
{
    if (finished)
        return mode != Failed;
    finished = true;
    if (mode == Closed || !flushGathered() || !finishHashing())
        mode = Failed;
    return mode != Failed;
}

bool OutputFile::commit()
{
    finish();
    bool ok = false;
    if (mode == Replace) {
        ok = staged.sync();
        if (ok) {
            staged.copyAttributesFrom(target);
            if (!staged.replace(target)) {
                // The rename itself was refused. Where the finished image can
                // still be read (a bind-mounted file, another user's file in
                // a shared folder) it is copied over the target instead;
                // otherwise another program holds the target.
                renameFailed = !FileHandle::canOverwriteAfterRefusedReplace();
                ok = !renameFailed && QFileInfo(target).isFile() && direct.openExisting(target) && direct.lock();
                oldLength = ok ? direct.size() : 0;
                ok = ok && copyOver(staged, direct);
            }
        }
    } else if (mode == InPlace) {
        ok = copyOver(staged, direct);
    } else if (mode == Device) {
        ok = true;
    }
    staged.close();
    direct.close();
    mode = Closed;
    return ok;
}

Refusal OpenRefusals::refusal(OutputFile::Status status, const QString &name) const
{
    Refusal (*given)(const QString &) = nullptr;
    switch (status) {
    case OutputFile::LinkRefused:
        given = foreignLink;
        break;
    case OutputFile::LinkLoop:
        given = linkLoop;
        break;
    case OutputFile::CannotReserve:
        given = cannotReserve;
        break;
    case OutputFile::Locked:
        given = locked;
        break;
    case OutputFile::IsASource:
        given = isASource;
        break;
    case OutputFile::NoRoomToStage:
        given = noRoomToStage;
        break;
    case OutputFile::Opened:
    case OutputFile::CannotOpen:
        break;
    }
    return (given ? given : cannotOpen)(name);
}
