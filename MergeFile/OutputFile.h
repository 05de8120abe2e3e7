#ifndef OUTPUTFILE_H
#define OUTPUTFILE_H

#include "SourceFile.h"

#include <QByteArray>
#include <QSaveFile>
#include <QString>
#include <QVector>

#include <memory>

class Sha256;

// Where a merge writes: the old output stays whole until the new one is
// complete on disk.
// - Normally the bytes go to a temporary file beside the target, which
//   replaces it on commit().
// - Where no temporary file can be made there (a read-only folder holding a
//   writable output), the target is written in place, but only after its full
//   new length is reserved on disk and it is locked against other writers, so
//   a full disk or a size limit is found before a byte is overwritten.
// - A device or pipe is written straight into.
// Anything not committed is thrown away when the object goes.
class OutputFile
{
public:
    enum Status {
        Opened,
        CannotOpen,
        CannotReserve, // the disk or a size limit cannot take the new length
        Locked,        // another merge or program is writing it
        IsASource,     // in place would overwrite a file still to be read
    };

    explicit OutputFile(const QString &name);
    ~OutputFile();
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;

    // Makes commit() give the SHA-256 of every byte written. With a second
    // thread the bytes are read back from the file behind the writer, so the
    // hashing overlaps both the writing and the final sync; where the output
    // cannot be read back or no thread can be started, write() hashes inline.
    void setHashing(bool on, bool secondThread);
    // Writes to the process's standard output; the name is only for messages.
    void setStandardOutput(bool on) { standardOutput = on; }

    // size: the exact length that will be written.
    Status open(qint64 size, const QVector<FileIdentity> &sources);
    bool write(const char *data, qint64 size);
    bool commit();
    // After a failed commit(): the new image was complete, but the old output
    // could not be replaced (on Windows: another program holds it open).
    bool replaceFailed() const { return renameFailed; }
    QByteArray sha256() const { return digest; }

private:
    Status openNamed(qint64 size, const QVector<FileIdentity> &sources);
    Status openInPlace(qint64 size, const QVector<FileIdentity> &sources);
    Status openDevice();
    Status openStandardOutput();
    void startHashing();
    bool finishHashing();
    bool writeHandle(const char *data, qint64 size);
    bool syncHandle();
    void closeHandle();
    void startWriteBack();

    QString name;
    qint64 length = 0;
    qint64 oldLength = 0;
    qint64 written = 0;
    qint64 writtenBack = 0;
    enum Mode { Closed, Replace, InPlace, Device } mode = Closed;
    std::unique_ptr<QSaveFile> save;
#ifdef Q_OS_WIN
    void *handle = nullptr;
#else
    int fd = -1;
#endif
    bool renameFailed = false;
    bool standardOutput = false;
    bool hashing = false;
    bool hashOnSecondThread = false;
    std::unique_ptr<Sha256> sha;
    QByteArray digest;
    struct Trailer;
    std::unique_ptr<Trailer> trailer; // the second thread, while it reads back
};

#endif // OUTPUTFILE_H
