#include "SourceParts.h"

#include <QMap>

namespace {

// The most a stream of record text or ELF may hold: 4 GiB of data written
// as Intel HEX, with room to spare.
constexpr qint64 recordStreamLimit = qint64(12) << 30;

// Reads exactly count bytes from offset, or says it could not.
template <typename Reader>
bool readFully(Reader &&readAt, qint64 offset, char *into, qint64 count)
{
    for (qint64 done = 0; done < count;) {
        const qint64 n = readAt(offset + done, into + done, count - done);
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

} // namespace

SourceSet::SourceSet(Messages::Log log)
    : log(std::move(log))
{
}

SourceSet::~SourceSet()
{
    stopDecoding();
}

bool SourceSet::fail(const Refusal &refusal)
{
    return log.refuse(refusal);
}

const MergeInput &SourceSet::input(int k) const
{
    return sources[size_t(k)]->input;
}

void SourceSet::clear()
{
    stopDecoding();
    sources.clear();
    for (ScratchStore &store : stores)
        store.clear();
    keptOpen = 0;
}

bool SourceSet::collect(const QVector<MergeRow> &rows)
{
    clear();
    budget = SourceFile::openFileBudget();
    QMap<qint64, MergeInput> byAddress;
    QVector<MergeInput> own;
    for (int i = 0; i < rows.size(); ++i) {
        const MergeRow &row = rows.at(i);
        if (!row.enabled)
            continue;
        if (row.fileName.isEmpty() || row.address.kind == MergeAddress::Missing)
            return fail(Refusal::rowIncomplete(i + 1, row.fileName));
        const bool rawAt = row.address.kind == MergeAddress::OwnOrRawAt;
        const MergeInput input{i + 1, row.fileName, row.address.value, rawAt || row.address.kind == MergeAddress::Own,
                               rawAt, row.slotSize};
        if (input.ownAddresses) {
            own.append(input);
            continue;
        }
        const auto same = byAddress.constFind(input.address);
        if (same != byAddress.constEnd())
            return fail(Refusal::duplicateAddress(i + 1, row.fileName, input.address, same->row, same->name));
        byAddress.insert(input.address, input);
    }
    if (byAddress.isEmpty() && own.isEmpty())
        return fail(Refusal::noFileToMerge());
    QVector<MergeInput> ordered;
    for (const MergeInput &input : std::as_const(byAddress))
        ordered.append(input);
    ordered += own;
    for (const MergeInput &input : std::as_const(ordered)) {
        sources.emplace_back(new Source);
        sources.back()->input = input;
    }
    return true;
}

bool SourceSet::report(int k, Fault fault)
{
    const MergeInput &in = input(k);
    switch (fault) {
    case Fault::CannotOpen:
        return fail(Refusal::cannotOpen(in.row, in.name));
    case Fault::ReadFailed:
        return fail(Refusal::failToRead(in.row, in.name));
    case Fault::StoreFailed:
        return fail(Refusal::failToStore(in.row, in.name));
    case Fault::None:
        break;
    }
    return true;
}

bool SourceSet::openFile(Source &source)
{
    source.file.setIdleTimeout(idleTimeout);
    bool tooManyOpen = false;
    if (!source.file.open(source.input.name, &tooManyOpen)) {
        if (!tooManyOpen)
            return false;
        // The budget guessed too high: the files kept for the write are
        // opened again when their turn comes.
        for (auto &other : sources) {
            if (!other->stream)
                park(*other);
        }
        if (!source.file.open(source.input.name))
            return false;
    }
    source.stream = source.file.isStream();
    source.identity = source.file.identity();
    source.checkedSize = source.file.size();
    source.checkedWrite = source.file.lastWritten();
    source.kept = true;
    ++keptOpen;
    return true;
}

// A file put aside for the budget, opened again: it must be the very file
// that was checked.
bool SourceSet::reopen(Source &source)
{
    if (source.stream || !source.file.open(source.input.name) || !(source.file.identity() == source.identity)) {
        source.file.close();
        return false;
    }
    source.kept = true;
    ++keptOpen;
    return true;
}

void SourceSet::park(Source &source)
{
    if (!source.kept || !setAside(source))
        return;
    source.file.close();
    source.kept = false;
    --keptOpen;
}

// Up to count bytes more of a file (from offset) or a stream (where it is),
// appended to into; false on a read error.
bool SourceSet::readMore(Source &source, qint64 offset, QByteArray &into, qint64 count)
{
    const int had = into.size();
    into.resize(had + int(count));
    qint64 got = 0;
    while (got < count) {
        char *at = into.data() + had + got;
        const qint64 n = source.stream ? source.file.read(at, count - got) : source.file.readAt(offset + got, at, count - got);
        if (n < 0)
            return false;
        if (n == 0)
            break;
        got += n;
    }
    into.truncate(had + int(got));
    return true;
}

SourceSet::Fault SourceSet::readHead(Source &source)
{
    source.head.clear();
    source.tellHead.clear();
    source.spillStart = -1;
    source.spillSize = 0;
    source.blankLead = 0;
    if (!readMore(source, 0, source.head, InputReader::headSize))
        return Fault::ReadFailed;
    qint64 got = source.head.size();
    source.headIsAll = got < InputReader::headSize || (!source.stream && source.checkedSize <= got);
    int lead = 0;
    while (lead < source.head.size() && InputReader::isLineEnd(source.head.at(lead)))
        ++lead;
    if (lead == 0 || source.headIsAll) {
        source.tellHead = source.head;
        return Fault::None;
    }
    // Blank lines first: the format is told from the head's length after
    // them, however many there are.
    source.blankLead = lead;
    if (lead < source.head.size()) {
        if (!source.stream)
            return readMore(source, lead, source.tellHead, InputReader::headSize) ? Fault::None : Fault::ReadFailed;
        if (!readMore(source, 0, source.head, lead))
            return Fault::ReadFailed;
        source.headIsAll = source.head.size() < lead + InputReader::headSize;
        source.tellHead = source.head.mid(lead);
        return Fault::None;
    }
    // A head of nothing else: on through them a chunk at a time, what a
    // stream gives kept in the store as it comes.
    const ChunkBuffer buffer = allocateChunk();
    if (!buffer)
        return Fault::StoreFailed;
    if (source.stream) {
        source.spillStart = stores[0].end();
        source.spillSize = source.head.size();
        if (!stores[0].append(source.head.constData(), source.head.size()))
            return Fault::StoreFailed;
        source.head.clear();
    }
    // A run past the room of any file is as good as endless: the next head
    // is told, and the file is raw data too long for any place.
    while (source.blankLead <= addressSpaceEnd) {
        const qint64 n = source.stream ? source.file.read(buffer.get(), chunkSize) : source.file.readAt(got, buffer.get(), chunkSize);
        if (n < 0)
            return Fault::ReadFailed;
        if (n == 0) { // nothing but blank lines
            source.headIsAll = true;
            return Fault::None;
        }
        if (source.stream && !stores[0].append(buffer.get(), n))
            return Fault::StoreFailed;
        source.spillSize += source.stream ? n : 0;
        got += n;
        qint64 run = 0;
        while (run < n && InputReader::isLineEnd(buffer.get()[run]))
            ++run;
        source.blankLead += run;
        if (run < n) {
            source.tellHead = QByteArray(buffer.get() + run, int(qMin<qint64>(n - run, InputReader::headSize)));
            break;
        }
    }
    QByteArray more;
    if (!readMore(source, got, more, InputReader::headSize - source.tellHead.size()))
        return Fault::ReadFailed;
    if (source.stream) {
        if (!stores[0].append(more.constData(), more.size()))
            return Fault::StoreFailed;
        source.spillSize += more.size();
        source.headIsAll = source.tellHead.size() + more.size() < InputReader::headSize;
    }
    source.tellHead += more;
    return Fault::None;
}

void SourceSet::tellFormats()
{
    for (auto &owned : sources) {
        Source &source = *owned;
        if (!openFile(source)) {
            source.fault = Fault::CannotOpen;
            continue;
        }
        source.fault = readHead(source);
        if (source.fault == Fault::None) {
            const qint64 streamed = source.spillSize + source.head.size();
            source.reader = forcedFormat ? forcedFormat
                                         : &InputReader::tellAfterBlankLines(source.blankLead, source.tellHead,
                                                                             !source.stream       ? source.checkedSize
                                                                             : source.headIsAll ? streamed
                                                                                                : -1);
        }
        source.tellHead.clear();
        if (!source.stream) {
            source.head.clear();
            // A stream cannot be opened again; a file can, past the budget.
            if (keptOpen > budget)
                park(source);
        }
    }
}

bool SourceSet::allRaw() const
{
    for (const auto &source : sources) {
        if (source->reader && !source->reader->isRaw())
            return false;
    }
    return true;
}

bool SourceSet::open(int k)
{
    Source &source = *sources[size_t(k)];
    if (source.fault == Fault::CannotOpen)
        return report(k, source.fault);
    if (source.file.isOpen())
        return true;
    if (source.reader) // told, then put aside for the budget
        return reopen(source) || fail(Refusal::cannotOpen(source.input.row, source.input.name));
    if (!openFile(source))
        return fail(Refusal::cannotOpen(source.input.row, source.input.name));
    if (!detectFormats)
        source.reader = &InputReader::raw();
    return true;
}

SourceSet::Fault SourceSet::copyStream(Source &source, qint64 limit)
{
    const ChunkBuffer buffer = allocateChunk();
    if (!buffer)
        return Fault::StoreFailed;
    while (source.copySize <= limit) {
        const qint64 n = source.file.read(buffer.get(), qMin(chunkSize, limit + 1 - source.copySize));
        if (n < 0)
            return Fault::ReadFailed;
        if (n == 0)
            break;
        if (!stores[0].append(buffer.get(), n))
            return Fault::StoreFailed;
        source.copySize += n;
    }
    return Fault::None;
}

// Bytes already in the store, appended once more at its end.
SourceSet::Fault SourceSet::copyStored(qint64 from, qint64 size)
{
    const ChunkBuffer buffer = allocateChunk();
    if (!buffer)
        return Fault::StoreFailed;
    for (qint64 done = 0; done < size;) {
        const qint64 n = stores[0].readAt(from + done, buffer.get(), qMin(chunkSize, size - done));
        if (n <= 0 || !stores[0].append(buffer.get(), n))
            return Fault::StoreFailed;
        done += n;
    }
    return Fault::None;
}

bool SourceSet::read(int k, qint64 rawLimit, InputContent &content)
{
    Source &source = *sources[size_t(k)];
    if (source.fault != Fault::None)
        return report(k, source.fault);
    const InputReader &reader = *source.reader;
    std::unique_ptr<ByteSource> bytes;
    if (source.stream) {
        source.copyStart = stores[0].end();
        source.copySize = 0;
        // The blank lines that telling put in the store: where they are when
        // nothing came after them, else copied on.
        if (source.spillSize > 0 && source.spillStart + source.spillSize == stores[0].end()) {
            source.copyStart = source.spillStart;
            source.copySize = source.spillSize;
        } else if (source.spillSize > 0) {
            const Fault fault = copyStored(source.spillStart, source.spillSize);
            if (fault != Fault::None)
                return report(k, fault);
            source.copySize = source.spillSize;
        }
        source.copySize += source.head.size();
        if (!source.head.isEmpty() && !stores[0].append(source.head.constData(), source.head.size()))
            return report(k, Fault::StoreFailed);
        source.head.clear();
        if (!source.headIsAll) {
            const Fault fault = copyStream(source, reader.isRaw() ? rawLimit : recordStreamLimit);
            if (fault != Fault::None)
                return report(k, fault);
        }
        park(source); // read to its end: nothing more to come from it
        source.ranPast = reader.isRaw() && source.copySize > rawLimit;
        if (!reader.isRaw() && source.copySize > recordStreamLimit)
            return fail(Refusal::outOfRange(source.input.row, source.input.name, -1));
        bytes.reset(new StoredBytes(stores[0], source.copyStart, source.copySize));
    } else {
        bytes.reset(new FileBytes(source.file));
    }

    QString problem;
    InputReader::Result result = InputReader::Read;
    if (!takeDecoded(k, result, content, problem))
        result = reader.read(*bytes, stores[0], readOptions, content, problem);
    switch (result) {
    case InputReader::Damaged:
        return fail(Refusal::cannotRead(source.input.row, source.input.name, problem));
    case InputReader::ReadFailed:
        return report(k, Fault::ReadFailed);
    case InputReader::StoreFailed:
        return report(k, Fault::StoreFailed);
    case InputReader::Read:
        break;
    }
    // A record or ELF file that gives no byte is no firmware: an empty
    // record file, or a raw file that starts like one.
    if (!reader.isRaw() && content.segments.isEmpty())
        return fail(Refusal::cannotRead(source.input.row, source.input.name, QStringLiteral("it holds no data")));
    for (MergeSegment &segment : content.segments) {
        if (source.stream && !segment.inStore) {
            segment.inStore = true; // the stream's copy holds it
            segment.dataOffset += source.copyStart;
        }
        source.readAtWrite = source.readAtWrite || !segment.inStore;
    }
    // A raw file is looked at when the image is written even when it is
    // empty: it must still be.
    source.readAtWrite = source.readAtWrite || (!source.stream && reader.isRaw());
    if (!source.readAtWrite || keptOpen > budget)
        park(source);
    return true;
}

const InputReader &SourceSet::format(int k) const
{
    const InputReader *reader = sources[size_t(k)]->reader;
    return reader ? *reader : InputReader::raw();
}

qint64 SourceSet::size(int k) const
{
    const Source &source = *sources[size_t(k)];
    return source.stream ? source.copySize : source.checkedSize;
}

bool SourceSet::ranPast(int k) const
{
    return sources[size_t(k)]->ranPast;
}

bool SourceSet::readSegment(int k, const MergeSegment &segment, qint64 at, char *into, qint64 count)
{
    if (segment.inStore) {
        ScratchStore &store = stores[segment.store];
        return readFully([&store](qint64 o, char *d, qint64 n) { return store.readAt(o, d, n); },
                         segment.dataOffset + at, into, count);
    }
    Source &source = *sources[size_t(k)];
    const bool reopened = !source.file.isOpen();
    if (reopened && !reopen(source))
        return false;
    const bool ok = readFully([&source](qint64 o, char *d, qint64 n) { return source.file.readAt(o, d, n); },
                              segment.dataOffset + at, into, count);
    if (reopened && keptOpen > budget)
        park(source);
    return ok;
}

bool SourceSet::unchanged(int k)
{
    Source &source = *sources[size_t(k)];
    if (source.stream || !source.readAtWrite)
        return true;
    const bool reopened = !source.file.isOpen();
    if (reopened && !reopen(source))
        return false;
    // Written over in place, even at the same size, it is no longer the file
    // that was checked: its bytes would mix old and new.
    const bool same = source.file.currentSize() == source.checkedSize && source.file.lastWritten() == source.checkedWrite
                      && source.file.stillNamed(source.input.name);
    if (reopened && keptOpen > budget)
        park(source);
    return same;
}

QVector<FileIdentity> SourceSet::identities() const
{
    std::vector<FileIdentity> files;
    for (const auto &source : sources) {
        if (!source->stream)
            files.push_back(source->identity);
    }
    return QVector<FileIdentity>(files.begin(), files.end());
}
