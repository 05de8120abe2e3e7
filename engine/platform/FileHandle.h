#ifndef FILEHANDLE_H
#define FILEHANDLE_H

#include "SourceFile.h"

#include <QString>
#include <QtGlobal>

#include <cstdint>

// How a link at the end of a name that is about to be written is followed.
enum class LinkCheck { Followed, Refused, Loop };

// Follows the links at the end of name the way the kernel does where it
// protects shared folders: a link in a world-writable sticky folder (such as
// /tmp) is followed only when it belongs to the caller or to the folder's
// owner, since anyone can plant one there. resolved: the name at the end of
// the links (name itself when it is no link).
LinkCheck followLinks(const QString &name, QString *resolved);

// One open file of the system's own (a descriptor, or a handle on Windows),
// with the few things the merge asks of files it writes. Closed when it goes;
// a file it made that was never put in place goes with it.
class FileHandle
{
public:
    FileHandle() = default;
    ~FileHandle();
    FileHandle(const FileHandle &) = delete;
    FileHandle &operator=(const FileHandle &) = delete;

    bool isOpen() const { return native != noFile; }
    void close();

    // An existing regular file, opened to be overwritten; never through a
    // link at the end of the name. busy: another program keeps writers out.
    bool openExisting(const QString &name, bool *busy = nullptr);
    // A device, FIFO or terminal to write to; a FIFO without a reader fails at
    // once instead of waiting.
    bool openDevice(const QString &name);
    // The process's standard output, on a handle of its own.
    bool openStandardOutput();
    // A new file in folder that has no name at all (or loses it at once): it
    // is gone once closed, however the process ends.
    bool createUnnamed(const QString &folder);
    // A new file in folder that will take the place of another (replace());
    // until then a stopped process leaves nothing of it where it can.
    bool createBeside(const QString &folder);
    // Puts the file made by createBeside() in the place of target in one step,
    // and keeps it open. False when the system refuses: target then is as it
    // was.
    bool replace(const QString &target);
    // Whether a refused replace() still leaves the finished file readable, so
    // that it can be copied over the target instead (a bind-mounted file on
    // Linux). On Windows a refusal means another program holds the target.
    static bool canOverwriteAfterRefusedReplace();
    // A file the user marked to be kept as it is (Windows' read-only mark):
    // never replaced, whatever the folder allows.
    static bool isMarkedReadOnly(const QString &name);

    // Writes all of it; a pipe that accepts nothing for the idle timeout
    // counts as failed, and a pipe whose reader went away is an error, never a
    // signal that ends the program.
    bool write(const char *data, qint64 size);
    void setIdleTimeout(int milliseconds) { idleTimeout = milliseconds; }
    // Up to size bytes from offset: 0 at the end, -1 on an error.
    qint64 readAt(qint64 offset, char *data, qint64 size) { return readFileAt(native, offset, data, size); }
    // Where the next write() goes.
    bool seek(qint64 offset);
    bool setLength(qint64 size);
    // Claims the blocks for this length, so that writing up to it cannot run
    // out of room.
    bool reserve(qint64 size);
    bool sync();
    // Keeps other merges out while it is open (Windows' share mode does the
    // same by itself).
    bool lock();
    // Makes reader a handle of its own that reads this file, for a second
    // thread to read it back while this one writes; false where none can be
    // had (an unnamed file on Windows).
    bool openReader(FileHandle &reader) const;
    // Starts writing the bytes between the offsets to disk without waiting.
    void startWriteBack(qint64 from, qint64 to);
    // A read-only view of size bytes of the file from offset, which must be a
    // multiple of mapGranularity(); null where none can be had. Reading it
    // takes no system call; it stays valid until unmapView(), as long as the
    // file is not made shorter.
    const char *mapView(qint64 offset, qint64 size) const;
    static void unmapView(const char *view, qint64 size);
    static qint64 mapGranularity();

    qint64 size() const; // -1 when it cannot be told
    FileIdentity identity() const;
    bool isRegularFile() const;

    // Owner, group, mode, POSIX ACL and extended attributes of the file at
    // name (on Windows: its hidden, system and archive marks), given to this
    // one before it takes that file's place, as far as the process may set
    // them.
    void copyAttributesFrom(const QString &name);

private:
    void forgetTemporaryName();

    NativeFile native = noFile;
    bool unnamed = false; // made without a name yet, named by replace()
    bool pipe = false;    // a pipe or socket, whose reader may go away
    QString tempName;     // a file of ours on disk, removed unless put in place
    int interruptToken = -1;
    int idleTimeout = 30000;
};

// Short, so that the name of the output itself may be as long as the system
// allows; hidden, as files that are still being written should be.
QString temporaryFileName(const QString &folder);
// Names taken by others before making a file gives up.
constexpr int temporaryNameTries = 100;
// An unusable folder (Qt gives "" for a TMPDIR that does not exist) is a
// failure, never the current folder or the root.
bool isUsableFolder(const QString &folder);

#endif // FILEHANDLE_H
