#ifndef SOURCEPARTS_H
#define SOURCEPARTS_H

// What the source set keeps of each input, shared by its reading and its
// decoding ahead.

#include "Sources.h"

// An input that is a file on disk.
class FileBytes : public ByteSource
{
public:
    explicit FileBytes(SourceFile &file)
        : file(file)
    {
    }
    qint64 size() const override { return file.size(); }
    qint64 readAt(qint64 offset, char *data, qint64 size) override { return file.readAt(offset, data, size); }

private:
    SourceFile &file;
};

// An input whose bytes were copied into the store.
class StoredBytes : public ByteSource
{
public:
    StoredBytes(ScratchStore &store, qint64 start, qint64 length)
        : store(store)
        , start(start)
        , length(length)
    {
    }
    qint64 size() const override { return length; }
    qint64 readAt(qint64 offset, char *data, qint64 size) override
    {
        if (offset >= length)
            return 0;
        return store.readAt(start + offset, data, qMin(size, length - offset));
    }

private:
    ScratchStore &store;
    qint64 start;
    qint64 length;
};

struct SourceSet::Source
{
    MergeInput input;
    SourceFile file;
    const InputReader *reader = nullptr; // once told
    Fault fault = Fault::None;           // found while telling, reported in turn
    bool stream = false;
    FileIdentity identity;
    qint64 checkedSize = 0;  // of a file on disk, when it was opened
    qint64 checkedWrite = -1; // when it was last written then
    QByteArray head;         // a stream's first bytes, read to tell it
    bool headIsAll = false;  // the stream ended within them
    // A stream that starts with more blank lines than a head holds: those
    // read while telling, put in the store before the head.
    qint64 spillStart = -1;
    qint64 spillSize = 0;
    qint64 blankLead = 0;    // CR and LF bytes it starts with
    QByteArray tellHead;     // what telling looks at: the bytes after them
    qint64 copyStart = -1;   // a stream's copy in the store
    qint64 copySize = 0;
    bool ranPast = false;
    bool readAtWrite = false; // its own bytes are read again when the image is written
    bool kept = false;        // open, and counted against the budget
};

// A record file decoded ahead: by whom, and what it gave.
struct SourceSet::Decoded
{
    enum State { None, Waiting, Decoding, Done } state = None;
    InputReader::Result result = InputReader::Read;
    InputContent content;
    QString problem;
    int store = 0;
};

#endif // SOURCEPARTS_H
