#ifndef BYTES_H
#define BYTES_H

#include <QtGlobal>

#include <cstdlib>
#include <memory>

// Where bytes come from and go to, as the stages pass them on.

// Bytes an input is read from while it is taken apart: a file as it lies, or
// the copy of a stream.
class ByteSource
{
public:
    virtual ~ByteSource() = default;
    virtual qint64 size() const = 0;
    // Up to size bytes from offset: 0 at the end, -1 on an error.
    virtual qint64 readAt(qint64 offset, char *data, qint64 size) = 0;
};

// Where a writer's bytes go: the output file, or a test's buffer.
class ByteSink
{
public:
    virtual ~ByteSink() = default;
    // All of it, or false.
    virtual bool write(const char *data, qint64 size) = 0;
};

// Sources are read, and fill is handed on, in chunks of this size: memory
// stays the same whatever the size of the image.
constexpr qint64 chunkSize = qint64(1) << 20;

// A chunk of fill bytes (0xFF unless asked otherwise), shared and never
// written to.
const char *fillBlock(char byte);
constexpr qint64 fillBlockSize = chunkSize;

// A chunk-sized buffer from the heap; null when there is no memory for it,
// which the stages report instead of ending the program.
struct FreeDeleter
{
    void operator()(char *p) const { std::free(p); }
};
using ChunkBuffer = std::unique_ptr<char, FreeDeleter>;
inline ChunkBuffer allocateChunk()
{
    return ChunkBuffer(static_cast<char *>(std::malloc(size_t(chunkSize))));
}

#endif // BYTES_H
