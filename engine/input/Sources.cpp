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

bool SourceSet::fail(const QString &message)
{
    log(message);
    return false;
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
            return fail(Messages::rowIncomplete(i + 1));
        const MergeInput input{i + 1, row.fileName, row.address.value, row.address.kind == MergeAddress::Own,
                               row.slotSize};
        if (input.ownAddresses) {
            own.append(input);
            continue;
        }
        if (byAddress.contains(input.address))
            return fail(Messages::duplicateAddress(i + 1));
        byAddress.insert(input.address, input);
    }
    if (byAddress.isEmpty() && own.isEmpty())
        return fail(Messages::noFileToMerge());
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
    const QString &name = input(k).name;
    switch (fault) {
    case Fault::CannotOpen:
        return fail(Messages::cannotOpen(name));
    case Fault::ReadFailed:
        return fail(Messages::failToRead(name));
    case Fault::StoreFailed:
        return fail(Messages::failToStore(name));
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

SourceSet::Fault SourceSet::readHead(Source &source)
{
    source.head.resize(InputReader::headSize);
    qint64 got = 0;
    while (got < source.head.size()) {
        const qint64 n = source.stream ? source.file.read(source.head.data() + got, source.head.size() - got)
                                       : source.file.readAt(got, source.head.data() + got, source.head.size() - got);
        if (n < 0)
            return Fault::ReadFailed;
        if (n == 0)
            break;
        got += n;
    }
    source.headIsAll = got < source.head.size() || (!source.stream && source.checkedSize <= got);
    source.head.truncate(int(got));
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
        if (source.fault == Fault::None)
            source.reader = &InputReader::tell(
                source.head, !source.stream ? source.checkedSize : source.headIsAll ? source.head.size() : -1);
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
        return reopen(source) || fail(Messages::cannotOpen(source.input.name));
    if (!openFile(source))
        return fail(Messages::cannotOpen(source.input.name));
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

bool SourceSet::read(int k, qint64 rawLimit, InputContent &content)
{
    Source &source = *sources[size_t(k)];
    if (source.fault != Fault::None)
        return report(k, source.fault);
    const InputReader &reader = *source.reader;
    std::unique_ptr<ByteSource> bytes;
    if (source.stream) {
        source.copyStart = stores[0].end();
        source.copySize = source.head.size();
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
            return fail(Messages::outOfRange(source.input.name));
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
        return fail(Messages::cannotRead(source.input.name, problem));
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
        return fail(Messages::cannotRead(source.input.name, QStringLiteral("it holds no data")));
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
    const bool same = source.file.currentSize() == source.checkedSize && source.file.stillNamed(source.input.name);
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
