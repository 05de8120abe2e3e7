#include "ScratchStore.h"

#include <QDir>

#include <cstring>

static constexpr qint64 bufferSize = qint64(1) << 20;

ScratchStore::ScratchStore() = default;
ScratchStore::~ScratchStore() = default;

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
    buffered = 0;
    fileEnd = newEnd;
    return file.setLength(newEnd);
}

qint64 ScratchStore::readAt(qint64 offset, char *data, qint64 size)
{
    if (!flush())
        return -1;
    return file.readAt(offset, data, size);
}

void ScratchStore::clear()
{
    file.close();
    buffered = 0;
    fileEnd = 0;
    failed = false;
}
