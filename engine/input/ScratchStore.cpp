#include "ScratchStore.h"

#include <QDir>

#include <cstring>

static constexpr qint64 bufferSize = qint64(1) << 20;
// A view reaches this far: small beside a 32-bit process's address space,
// large beside what one read asks for. A 64-bit process views the whole
// store at once: pieces scattered over more than one window would otherwise
// map one window after another, a piece at a time.
static constexpr qint64 viewSpan = qint64(64) << 20;
static constexpr bool wholeView = sizeof(void *) >= 8;
// Reads this large are not worth keeping a copy of.
static constexpr qint64 largeRead = qint64(64) << 10;

ScratchStore::ScratchStore() = default;

ScratchStore::~ScratchStore()
{
    dropView();
}

void ScratchStore::dropView()
{
    FileHandle::unmapView(view, viewSize);
    view = nullptr;
    viewStart = viewSize = 0;
}

bool ScratchStore::open()
{
    if (file.isOpen())
        return true;
    if (failed)
        return false;
    failed = !file.createUnnamed(QDir::tempPath());
    if (!failed)
        buffer.reset(new char[size_t(bufferSize)]);
    return !failed;
}

bool ScratchStore::flush()
{
    if (buffered == 0)
        return true;
    // Reading may have moved the file's position (on Windows it does).
    if (!file.seek(fileEnd) || !file.write(buffer.get(), buffered))
        return false;
    fileEnd += buffered;
    buffered = 0;
    return true;
}

bool ScratchStore::append(const char *data, qint64 size)
{
    if (!open())
        return false;
    if (buffered + size > bufferSize && !flush())
        return false;
    if (size >= bufferSize) {
        if (!file.seek(fileEnd) || !file.write(data, size))
            return false;
        fileEnd += size;
        return true;
    }
    std::memcpy(buffer.get() + buffered, data, size_t(size));
    buffered += size;
    return true;
}

char *ScratchStore::appendSpace(int size)
{
    if (!file.isOpen() && !open())
        return nullptr;
    if (buffered + size > bufferSize && !flush())
        return nullptr;
    char *at = buffer.get() + buffered;
    buffered += size;
    return at;
}

bool ScratchStore::truncate(qint64 newEnd)
{
    if (newEnd >= fileEnd) {
        buffered = qMin(buffered, newEnd - fileEnd);
        return true;
    }
    dropView(); // a view past the file's end is not to be read
    aheadSize = 0;
    buffered = 0;
    fileEnd = newEnd;
    return file.setLength(newEnd);
}

// Large reads go straight to the file. Small ones come from what was read
// before: a read-ahead buffer where they follow one another, a view of the
// file where they jump about (the pieces of a file whose records come in no
// order); neither takes a system call a piece.
qint64 ScratchStore::readAt(qint64 offset, char *data, qint64 size)
{
    if (!flush())
        return -1;
    if (offset >= fileEnd || size <= 0)
        return 0;
    size = qMin(size, fileEnd - offset);
    const bool follows = offset == lastReadEnd;
    lastReadEnd = offset + size;
    if (size >= largeRead)
        return file.readAt(offset, data, size);
    if (viewCovers(offset, size)) {
        std::memcpy(data, view + (offset - viewStart), size_t(size));
        return size;
    }
    if (!aheadCovers(offset, size) && follows) {
        if (!ahead)
            ahead = allocateChunk();
        const qint64 n = ahead ? file.readAt(offset, ahead.get(), qMin(chunkSize, fileEnd - offset)) : -1;
        aheadStart = offset;
        aheadSize = qMax<qint64>(n, 0);
    }
    if (aheadCovers(offset, size)) {
        std::memcpy(data, ahead.get() + (offset - aheadStart), size_t(size));
        return size;
    }
    dropView();
    const qint64 start = wholeView ? 0 : offset - offset % (viewSpan / 2);
    viewSize = wholeView ? fileEnd : qMin(viewSpan, fileEnd - start);
    view = file.mapView(start, viewSize);
    viewStart = start;
    if (!view || !viewCovers(offset, size)) {
        dropView();
        return file.readAt(offset, data, size);
    }
    std::memcpy(data, view + (offset - viewStart), size_t(size));
    return size;
}

void ScratchStore::clear()
{
    dropView();
    aheadSize = 0;
    lastReadEnd = -1;
    file.close();
    buffered = 0;
    fileEnd = 0;
    failed = false;
}
