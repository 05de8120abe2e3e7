#ifndef SOURCES_H
#define SOURCES_H

#include "InputReader.h"
#include "MergeMessages.h"
#include "MergeOptions.h"
#include "ScratchStore.h"
#include "platform/SourceFile.h"

#include <QString>
#include <QVector>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// One enabled row, as the merge reads it.
struct MergeInput
{
    int row = 0; // 1-based, as in "file3"
    QString name;
    qint64 address = 0;
    bool ownAddresses = false; // at the file's own addresses ("-")
    bool rawAtAddress = false; // ...but raw data, which has none, at address
    qint64 slotSize = 0;
};

// The files of one merge. Each is opened once and stays open from the check
// to the write (as many as the process may keep open; past that a file is
// opened again when its bytes are wanted, and must then be the same file).
// Its format is told once; a stream is copied once, into the store, since
// only its end tells its size. Every fault is a refusal that names the file
// and its row, told to the log.
class SourceSet
{
public:
    explicit SourceSet(Messages::Log log);
    ~SourceSet();
    SourceSet(const SourceSet &) = delete;
    SourceSet &operator=(const SourceSet &) = delete;

    void setIdleTimeout(int milliseconds) { idleTimeout = milliseconds; }
    // Tell the formats of the readers' registry apart from raw data; off, every
    // input is raw data.
    void setDetectFormats(bool on) { detectFormats = on; }
    // With formats detected: every input read as this one instead, whatever
    // its first bytes say (a reader of a written output knows its format);
    // null: told by the rule.
    void setFormat(const InputReader *reader) { forcedFormat = reader; }
    void setReadOptions(const ReadOptions &options) { readOptions = options; }

    // The enabled rows, checked strictly in row order as the window always
    // has, then in address order; inputs at their own addresses come last.
    bool collect(const QVector<MergeRow> &rows);
    int count() const { return int(sources.size()); }
    const MergeInput &input(int k) const;

    // Opens every input and tells its format from its first bytes. What goes
    // wrong is only reported when the input's turn comes (open(), read()),
    // in the order of the rule the formats choose.
    void tellFormats();
    // Whether every input whose format is known is raw data.
    bool allRaw() const;
    // Starts a second thread that decodes the record files (Intel HEX,
    // S-records) ahead of read(), into a store of its own, while read() goes
    // through them in turn: on two cores, two files at once. What goes wrong
    // is still reported by read(), in turn.
    void decodeAhead();

    // Opens input k unless telling has; reports a file that cannot be.
    bool open(int k);
    // Reads input k: a stream to its end into the store (raw data never more
    // than rawLimit + 1 bytes: one byte past the room it may take tells that
    // it does not fit), then its content through its reader.
    bool read(int k, qint64 rawLimit, InputContent &content);
    const InputReader &format(int k) const;
    // Of an input once read: its bytes as read (a file's size, a stream's
    // copy), and whether a stream of raw data ran past rawLimit.
    qint64 size(int k) const;
    bool ranPast(int k) const;

    // count bytes of a segment of input k from at; false when they cannot
    // all be read.
    bool readSegment(int k, const MergeSegment &segment, qint64 at, char *into, qint64 count);
    // A hint that the segment's first bytes are read soon.
    void prefetch(const MergeSegment &segment) const
    {
        if (segment.inStore)
            stores[segment.store].prefetch(segment.dataOffset);
    }
    // Whether input k is still the file that was checked: the same file under
    // its name, readable, of the same size, not written since it was opened.
    // Streams are, being copied.
    bool unchanged(int k);
    // The files on disk that are merged, which the output must not be.
    QVector<FileIdentity> identities() const;

    // The first of the merge's stores, where streams are copied and the
    // records read() decodes itself go.
    ScratchStore &store() { return stores[0]; }
    void clear();

private:
    struct Source;
    enum class Fault { None, CannotOpen, ReadFailed, StoreFailed };

    struct Decoded; // what decoding one record file gave
    bool fail(const Refusal &refusal);
    void decodeWork();
    void decode(Source &source, int store, Decoded &result);
    bool takeDecoded(int k, InputReader::Result &result, InputContent &content, QString &problem);
    void stopDecoding();
    bool setAside(const Source &source) const;
    bool report(int k, Fault fault);
    bool openFile(Source &source);
    bool reopen(Source &source);
    void park(Source &source);
    bool readMore(Source &source, qint64 offset, QByteArray &into, qint64 count);
    Fault readHead(Source &source);
    Fault copyStored(qint64 from, qint64 size);
    Fault copyStream(Source &source, qint64 limit);

    Messages::Log log;
    ScratchStore stores[2]; // the second for the decoding thread
    std::vector<std::unique_ptr<Source>> sources;
    // Decoding ahead: the jobs, one for each input (not all are record files).
    std::vector<Decoded> decoded;
    mutable std::mutex decodeMutex;
    std::condition_variable decodeChanged;
    std::thread decoder;
    bool stopDecoder = false;
    int idleTimeout = 30000;
    bool detectFormats = false;
    const InputReader *forcedFormat = nullptr;
    ReadOptions readOptions;
    int budget = 0;   // files that may stay open
    int keptOpen = 0;
};

#endif // SOURCES_H
