#ifndef SCRATCHSTORE_H
#define SCRATCHSTORE_H

#include "Bytes.h"
#include "platform/FileHandle.h"

#include <QtGlobal>

#include <memory>

// Where a merge keeps bytes it had to take out of their files before
// writing: copies of streams and the data decoded from records. One file
// without a name in the temporary folder, appended to: memory stays one
// buffer whatever it holds, and nothing of it is left behind.
class ScratchStore
{
public:
    ScratchStore();
    ~ScratchStore();
    ScratchStore(const ScratchStore &) = delete;
    ScratchStore &operator=(const ScratchStore &) = delete;

    // Made on first use; false where the temporary folder cannot be used
    // (missing, or no file can be made in it).
    bool append(const char *data, qint64 size);
    // Room for size bytes (at most 64 KiB) at the end, to be written in
    // place; null when the store cannot be used.
    char *appendSpace(int size);
    // The offset the next byte appended will have.
    qint64 end() const { return fileEnd + buffered; }
    // Gives back everything appended from end on.
    bool truncate(qint64 end);
    // Up to size bytes from offset, through a view of the file where one can
    // be had: reading many small pieces, scattered about, takes no system
    // call each.
    qint64 readAt(qint64 offset, char *data, qint64 size);
    // A hint that the bytes at offset are read soon: where they are in view,
    // the CPU starts fetching them, so that scattered pieces do not wait on
    // memory one after the other.
    void prefetch(qint64 offset) const
    {
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
        // As an instruction of its own: GCC 12 takes __builtin_prefetch here
        // for dead code and drops it.
        if (viewCovers(offset, 1))
            asm volatile("prefetcht0 %0" : : "m"(view[offset - viewStart]));
#elif defined(__GNUC__)
        if (viewCovers(offset, 1))
            __builtin_prefetch(view + (offset - viewStart));
#else
        Q_UNUSED(offset);
#endif
    }
    void clear();

private:
    bool open();
    bool flush();
    void dropView();
    bool viewCovers(qint64 offset, qint64 size) const
    {
        return view && offset >= viewStart && offset + size <= viewStart + viewSize;
    }
    bool aheadCovers(qint64 offset, qint64 size) const
    {
        return offset >= aheadStart && offset + size <= aheadStart + aheadSize;
    }

    FileHandle file;
    std::unique_ptr<char[]> buffer;
    qint64 fileEnd = 0;
    qint64 buffered = 0;
    bool failed = false;
    const char *view = nullptr; // of the file's bytes from viewStart
    qint64 viewStart = 0;
    qint64 viewSize = 0;
    ChunkBuffer ahead; // the bytes from aheadStart, read ahead
    qint64 aheadStart = 0;
    qint64 aheadSize = 0;
    qint64 lastReadEnd = -1;
};

#endif // SCRATCHSTORE_H
