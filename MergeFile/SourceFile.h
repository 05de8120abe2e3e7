#ifndef SOURCEFILE_H
#define SOURCEFILE_H

#include <QString>
#include <QtGlobal>

// Which file on which volume: two names that are the same file compare equal.
struct FileIdentity
{
    quint64 volume = 0;
    quint64 node = 0;
    bool valid = false;

    bool operator==(const FileIdentity &other) const
    {
        return valid && other.valid && volume == other.volume && node == other.node;
    }
};

// Up to size bytes of an open file from offset, whatever it has read
// before: 0 at the end, -1 on an error.
#ifdef Q_OS_WIN
qint64 readFileAt(void *handle, qint64 offset, char *data, qint64 size);
#else
qint64 readFileAt(int fd, qint64 offset, char *data, qint64 size);
#endif

// A file to merge, read in chunks. Opening never waits: a FIFO without a
// writer or a terminal cannot block the merge. Pipes, devices, terminals and
// files that report no true size (such as those in /proc and /sys) are streams: their
// length is known only once they end, and a stream that gives nothing for
// the idle timeout counts as a read error.
class SourceFile
{
public:
    SourceFile() = default;
    ~SourceFile();
    SourceFile(const SourceFile &) = delete;
    SourceFile &operator=(const SourceFile &) = delete;

    // False for a missing or unreadable file and for a folder.
    bool open(const QString &name);
    void close();

    bool isStream() const { return stream; }
    qint64 size() const { return fileSize; } // of a file that is not a stream
    FileIdentity identity() const { return id; }

    // Up to max bytes; 0 at the end, -1 on a read error or a stream that
    // stayed silent for the idle timeout.
    qint64 read(char *buffer, qint64 max);
    // Up to max bytes from offset, of a file that is not a stream.
    qint64 readAt(qint64 offset, char *buffer, qint64 max)
    {
#ifdef Q_OS_WIN
        return readFileAt(handle, offset, buffer, max);
#else
        return readFileAt(fd, offset, buffer, max);
#endif
    }
    void setIdleTimeout(int milliseconds) { idleTimeout = milliseconds; }

private:
#ifdef Q_OS_WIN
    void *handle = nullptr;
#else
    int fd = -1;
#endif
    bool stream = false;
    qint64 fileSize = 0;
    FileIdentity id;
    int idleTimeout = 30000;
};

#endif // SOURCEFILE_H
