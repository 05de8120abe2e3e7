#ifndef FUZZSUPPORT_H
#define FUZZSUPPORT_H

// What the fuzz targets share: bytes held in memory, the image a reader's
// content makes, and a fault that libFuzzer reports as one.

#include "Bytes.h"
#include "input/InputReader.h"
#include "input/ScratchStore.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

class MemoryBytes : public ByteSource
{
public:
    MemoryBytes(const char *data, qint64 size)
        : data(data)
        , length(size)
    {
    }
    qint64 size() const override { return length; }
    qint64 readAt(qint64 offset, char *into, qint64 size) override
    {
        if (offset >= length)
            return 0;
        const qint64 n = qMin(size, length - offset);
        std::memcpy(into, data + offset, size_t(n));
        return n;
    }

private:
    const char *data;
    qint64 length;
};

class BufferSink : public ByteSink
{
public:
    bool write(const char *data, qint64 size) override
    {
        bytes.append(data, int(size));
        return true;
    }
    QByteArray bytes;
};

// A fault in the program, not in the input: libFuzzer keeps the input.
[[noreturn]] inline void fault(const char *what)
{
    std::fprintf(stderr, "fault: %s\n", what);
    std::abort();
}

// The bytes a reader's content gives, by address; false when two segments
// give two different bytes for one address, which a merge refuses.
inline bool imageOf(const InputContent &content, ScratchStore &store, ByteSource &file, std::map<qint64, char> &image)
{
    image.clear();
    for (const MergeSegment &s : content.segments) {
        if (s.size <= 0 || s.address < 0)
            fault("a segment without bytes, or below address 0");
        QByteArray bytes(int(s.size), '\0');
        const qint64 got = s.inStore ? store.readAt(s.dataOffset, bytes.data(), s.size)
                                     : file.readAt(s.dataOffset, bytes.data(), s.size);
        if (got != s.size)
            fault("a segment's bytes cannot be read back");
        for (qint64 i = 0; i < s.size; ++i) {
            const auto placed = image.emplace(s.address + i, bytes.at(int(i)));
            if (!placed.second && placed.first->second != bytes.at(int(i)))
                return false;
        }
    }
    return true;
}

// The process's application object and a folder of the target's own, made
// once: Qt's command-line parser and settings want the one, the merge's
// temporary files the other.
struct FuzzProcess
{
    FuzzProcess()
        : app(argc, argv)
    {
        if (!folder.isValid())
            fault("no temporary folder");
        qputenv("TMPDIR", QFile::encodeName(folder.path()));
    }
    int argc = 1;
    char name[8] = "fuzzer";
    char *argv[2] = {name, nullptr};
    QCoreApplication app;
    QTemporaryDir folder;
};

inline FuzzProcess &fuzzProcess()
{
    static FuzzProcess process;
    return process;
}

#endif // FUZZSUPPORT_H
