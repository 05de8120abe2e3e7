#ifndef SOURCEFILE_H
#define SOURCEFILE_H

#include <QString>
#include <QtGlobal>

#include <cstdint>

// A file of the system's own: a descriptor, or a Windows HANDLE.
using NativeFile = std::intptr_t;
constexpr NativeFile noFile = -1;

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
qint64 readFileAt(NativeFile file, qint64 offset, char *data, qint64 size);

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

    // False for a missing or unreadable file and for a folder. tooManyOpen:
    // the process has no file left to open (its limit of open files).
    bool open(const QString &name, bool *tooManyOpen = nullptr);
    void close();
    bool isOpen() const { return native != noFile; }

    bool isStream() const { return stream; }
    qint64 size() const { return fileSize; } // of a file that is not a stream, as opened
    FileIdentity identity() const { return id; }
    // The size the open file has now; -1 when it cannot be told.
    qint64 currentSize() const;
    // When its content last changed, as the system keeps it (in its own
    // units); -1 when it cannot be told. A file written over in place, its
    // size unchanged, tells itself by this.
    qint64 lastWritten() const;
    // Whether name still leads to this very file and the process may still
    // read it there: a file that was removed, replaced or made unreadable
    // since it was opened is not the one the user meant any more.
    bool stillNamed(const QString &name) const;

    // Up to max bytes; 0 at the end, -1 on a read error or a stream that
    // stayed silent for the idle timeout.
    qint64 read(char *buffer, qint64 max);
    // Up to max bytes from offset, of a file that is not a stream.
    qint64 readAt(qint64 offset, char *buffer, qint64 max) { return readFileAt(native, offset, buffer, max); }
    void setIdleTimeout(int milliseconds) { idleTimeout = milliseconds; }

    // How many source files a merge may keep open at once, leaving room for
    // everything else the process opens.
    static int openFileBudget();

private:
    NativeFile native = noFile;
    bool stream = false;
    qint64 fileSize = 0;
    FileIdentity id;
    int idleTimeout = 30000;
};

#endif // SOURCEFILE_H
