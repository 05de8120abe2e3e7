#ifndef OUTPUTFILE_H
#define OUTPUTFILE_H

#include "Bytes.h"
#include "Checksums.h"
#include "Refusal.h"
#include "platform/FileHandle.h"

#include <QByteArray>
#include <QString>
#include <QVector>

#include <memory>

class Sha256Thread;

// Where a merge writes: nothing of the old output is touched until every
// byte of the new one is on disk.
// - Normally the bytes go to a new file beside the target, which takes its
//   place in one step on commit(), with the old file's owner, mode, ACL and
//   extended attributes.
// - Where no file can be made beside it (a read-only folder holding a
//   writable output), or the system refuses to put one in its place (a
//   bind-mounted file, another user's file in a shared folder), the image is
//   first made whole in a file of its own (in the temporary folder, or the
//   refused one), and only then copied over the target, whose room is claimed
//   first; a stop (Ctrl-C, SIGTERM, SIGHUP) during that copy waits for its end.
// - A device or pipe is written straight into.
// Anything not committed is thrown away when the object goes, and no file of
// ours is left behind.
class OutputFile : public ByteSink
{
public:
    enum Status {
        Opened,
        CannotOpen,
        CannotReserve,  // the disk or a size limit cannot take the new length
        Locked,         // another merge or program is writing it
        IsASource,      // writing it would change a file that is merged into it
        LinkRefused,    // a link in a shared folder that another user made
        LinkLoop,       // links that lead round in a circle
        NoRoomToStage,  // the temporary folder cannot hold the image for an in-place write
    };

    explicit OutputFile(const QString &name);
    ~OutputFile() override;
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;

    // Makes commit() give the SHA-256 of every byte written (Sha256Thread
    // says how), on a second thread where one can be had.
    void setHashing(bool on, bool secondThread);
    // Writes to the process's standard output; the name is only for messages.
    void setStandardOutput(bool on) { standardOutput = on; }
    // How long a pipe may accept nothing before it counts as failed.
    void setIdleTimeout(int milliseconds) { idleTimeout = milliseconds; }

    // size: the exact length that will be written, or -1 when not known yet.
    // sources: the files merged, which the output must not be.
    Status open(qint64 size, const QVector<FileIdentity> &sources);
    // The same checks as open(), for a merge that writes nothing: no file is
    // made, no device or pipe opened.
    Status probe(qint64 size, const QVector<FileIdentity> &sources);
    bool write(const char *data, qint64 size) override;
    // Sends out what is still gathered and completes the hash; the target
    // is not touched yet, so what was written can still be checked and
    // thrown away.
    bool finish();
    // Puts the new image in the target's place (finish() first if it has
    // not been called).
    bool commit();
    // What reached the file so far, in the order it lies there: how many
    // bytes, and their CRC-32.
    qint64 bytesWritten() const { return written; }
    quint32 crc32() const { return writtenCrc.result(); }
    // Tests only: sees, and may change, every run of bytes just before it
    // goes to the file, as a fault in the buffers before it would.
    using WriteSeam = void (*)(qint64 offset, char *bytes, qint64 size);
    static void setWriteSeam(WriteSeam seam);
    // After a failed commit(): the new image was complete, but the old output
    // could not be replaced (on Windows: another program holds it open).
    bool replaceFailed() const { return renameFailed; }
    QByteArray sha256() const { return digest; }
    // The SHA-256 of every byte written so far, while more may follow; empty
    // without hashing or where Sha256 cannot give it.
    QByteArray sha256SoFar();
    // Whether it is written straight into (a device, a pipe): then nothing
    // waits for commit(), and a failed merge may have changed it.
    bool isDevice() const { return mode == Device; }
    // Whether what is written is hashed (once open).
    bool isHashing() const { return bool(hasher); }

private:
    Status openNamed(qint64 size, const QVector<FileIdentity> &sources, bool dryRun);
    Status openInPlace(qint64 size, const QVector<FileIdentity> &sources);
    Status openStandardOutput(const QVector<FileIdentity> &sources, bool dryRun);
    bool copyOver(FileHandle &from, FileHandle &to);
    bool finishHashing();
    bool flushGathered();
    bool writeOut(const char *data, qint64 size);

    QString name;
    QString target; // the name at the end of any links
    qint64 oldLength = 0;
    qint64 written = 0;
    qint64 writtenBack = 0;
    enum Mode { Closed, Replace, InPlace, Device, Failed } mode = Closed;
    bool finished = false;
    FileHandle staged; // the new image, beside the target or in the temporary folder
    FileHandle direct; // the target itself, when written in place; or the device
    bool renameFailed = false;
    bool standardOutput = false;
    bool hashing = false;
    bool hashOnSecondThread = false;
    int idleTimeout = 30000;
    std::unique_ptr<Sha256Thread> hasher;
    QByteArray digest;
    ChunkBuffer gathered; // small writes, until a chunk's worth goes out
    qint64 gatheredSize = 0;
    Crc32 writtenCrc;
};

// The lines that say why a file of one kind (the merge's output, its map,
// its picture) could not be opened, by OutputFile's status: the one place a
// status becomes a refusal. What only the merge's output can meet falls back
// to cannotOpen where a kind gives nothing for it.
struct OpenRefusals
{
    Refusal (*cannotOpen)(const QString &name);
    Refusal (*foreignLink)(const QString &name);
    Refusal (*linkLoop)(const QString &name);
    Refusal (*cannotReserve)(const QString &name) = nullptr;
    Refusal (*locked)(const QString &name) = nullptr;
    Refusal (*isASource)(const QString &name) = nullptr;
    Refusal (*noRoomToStage)(const QString &name) = nullptr;

    // For a status other than Opened.
    Refusal refusal(OutputFile::Status status, const QString &name) const;
};

#endif // OUTPUTFILE_H
