#include "MergeJob.h"

#include "Checksums.h"
#include "Fields.h"
#include "ImageWriter.h"
#include "InputReader.h"
#include "OutputFile.h"
#include "ScratchStore.h"
#include "SourceFile.h"

#include <QCoreApplication>
#include <QMap>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("MergeMainWindow", text);
}

QString hexAddress(qint64 address)
{
    return QStringLiteral("0x") + QString::number(address, 16).toUpper().rightJustified(8, QLatin1Char('0'));
}

struct FreeDeleter
{
    void operator()(char *p) const { std::free(p); }
};
using Buffer = std::unique_ptr<char, FreeDeleter>;

// Sources are read in chunks of this size: memory stays the same whatever
// the size of the image.
constexpr qint64 chunkSize = qint64(1) << 20;
// The most a stream of record text or ELF may hold: 4 GiB of data written
// as Intel HEX, with room to spare.
constexpr qint64 recordStreamLimit = qint64(12) << 30;

Buffer allocateChunk()
{
    return Buffer(static_cast<char *>(std::malloc(size_t(chunkSize))));
}

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

} // namespace

// What write() needs of one input beyond its layout.
struct PreparedSource
{
    QString readName;
    FileIdentity identity;
    qint64 checkedSize = 0; // of the file as the check saw it
};

struct MergeJob::Private
{
    QVector<MergeRow> rows;
    QString outputFileName;
    LogSink log;

    MergeLayout layout;
    std::vector<PreparedSource> prepared; // one per placement
    // Copies of streams and data decoded from records, in a file without a
    // name: nothing of them is left behind, however the process ends.
    ScratchStore store;
    bool checked = false;
    bool secondThread = false;
    bool toStandardOutput = false;
    bool computeDigests = false;
    bool detectInputs = false;
    AddressRule addressRule = AddressRule::Window;
    OutputFormat format = OutputFormat::Raw;
    int recordSize = 16;
    qint64 padTo = 0;
    qint64 base = defaultImageBase;
    QVector<MergeField> fields;
    qint64 flashOrigin = 0;
    qint64 flashSize = 0;
    qint64 sectorSize = 0;
    char fill = imageFillByte;
    int idleTimeout = 30000;
    QByteArray outputDigest;
    qint64 outputLength = 0;
    MergeDigests digests;

    // One enabled row, its address read.
    struct Entry
    {
        int row;
        QString fileName;
        qint64 address;
        bool ownAddresses;
    };

    bool fail(const QString &message)
    {
        log(message);
        return false;
    }
    bool failToWrite() { return fail(tr("Error!!!Fail to write merge file%1").arg(outputFileName)); }
    bool failBelowBase()
    {
        if (base == defaultImageBase)
            return fail(tr("Error!!!Start address cannot less than 0x1000!"));
        return fail(tr("Error!!!Start address cannot less than 0x%1!").arg(QString::number(base, 16).toUpper()));
    }

    bool collect(QVector<Entry> &entries);
    bool anyInputNotRaw(const QVector<Entry> &entries);
    enum CopyResult { Copied, ReadFailed, StoreFailed };
    CopyResult copyStream(SourceFile &source, qint64 rawLimit, qint64 &start, qint64 &size, QByteArray &head,
                          char *buffer);
    bool readInput(const Entry &entry, SourceFile &source, qint64 rawLimit, bool *tooLong, MergePlacement &placement,
                   char *buffer);
    bool settleSegments(MergePlacement &placement);
    bool readSegment(const MergePlacement &placement, const MergeSegment &segment, qint64 at, char *into,
                     qint64 most);
    bool layOutMixed();
    void orderPieces();
    bool checkSlots();
    bool placeFields();
    bool settleFieldRanges();
    bool checkFlash();
    bool checkSectors();
    // A file's name, or "field" and the field as given.
    QString ownerName(const MergePiece &piece, bool startsSentence = false) const;
    void feedFill(FieldSum &sum, qint64 count) const;
    bool workOutFields();
    bool failToOpenOutput(OutputFile::Status status);
    std::unique_ptr<ImageWriter> makeWriter(OutputFile &output) const;
    void setUpOutput(OutputFile &output) const;
    QVector<FileIdentity> sourceIdentities() const;
    bool stream(ImageWriter *writer);
};

MergeJob::MergeJob(QVector<MergeRow> rows, QString outputFileName, LogSink log)
    : d(new Private)
{
    d->rows = std::move(rows);
    d->outputFileName = std::move(outputFileName);
    d->log = std::move(log);
}

MergeJob::~MergeJob() = default;

const MergeLayout &MergeJob::layout() const
{
    return d->layout;
}

qint32 MergeJob::addressFromText(const QString &text, bool *ok)
{
    return text.toInt(ok, 16);
}

bool MergeJob::pairAddress(const QString &text, qint64 *address, bool *ownAddresses)
{
    *ownAddresses = text == QLatin1String("-");
    *address = 0;
    if (*ownAddresses)
        return true;
    bool ok = false;
    const qint64 value = text.toLongLong(&ok, 16);
    if (!ok || value < -0x80000000LL || value >= addressSpaceEnd)
        return false;
    *address = value;
    return true;
}

int MergeJob::maxRecordSize(OutputFormat format)
{
    return format == OutputFormat::SRecord ? SRecordWriter::maxRecordSize : IntelHexWriter::maxRecordSize;
}

qint64 MergeJob::maxImageSize(qint64 base)
{
    return addressSpaceEnd - base;
}

void MergeJob::setUseSecondThread(bool on)
{
    d->secondThread = on;
}

void MergeJob::setStreamIdleTimeout(int milliseconds)
{
    d->idleTimeout = milliseconds;
}

void MergeJob::setFormat(OutputFormat format, int recordSize)
{
    d->format = format;
    d->recordSize = recordSize;
}

void MergeJob::setPadTo(qint64 size)
{
    d->padTo = size;
}

void MergeJob::setBase(qint64 address)
{
    d->base = address;
}

void MergeJob::setInputDetection(bool on)
{
    d->detectInputs = on;
}

void MergeJob::setAddressRule(AddressRule rule)
{
    d->addressRule = rule;
}

void MergeJob::setFields(const QVector<MergeField> &fields)
{
    d->fields = fields;
}

void MergeJob::setFlash(qint64 origin, qint64 size)
{
    d->flashOrigin = origin;
    d->flashSize = size;
}

void MergeJob::setSectorSize(qint64 size)
{
    d->sectorSize = size;
}

void MergeJob::setFillByte(char byte)
{
    d->fill = byte;
}

void MergeJob::setOutputToStandardOutput(bool on)
{
    d->toStandardOutput = on;
}

void MergeJob::setComputeDigests(bool on)
{
    d->computeDigests = on;
}

const MergeDigests &MergeJob::digests() const
{
    return d->digests;
}

QByteArray MergeJob::outputSha256() const
{
    return d->outputDigest;
}

qint64 MergeJob::outputSize() const
{
    return d->outputLength;
}

// The enabled rows, checked strictly in row order as the window always has,
// then in address order; inputs at their own addresses come last.
bool MergeJob::Private::collect(QVector<Entry> &entries)
{
    QMap<qint64, Entry> byAddress;
    QVector<Entry> own;
    for (int i = 0; i < rows.size(); ++i) {
        const MergeRow &row = rows.at(i);
        if (!row.enabled)
            continue;
        if (row.fileName.isEmpty() || row.addressText.isEmpty())
            return fail(tr("Error!!!File name or start address of file%1 cannot be empty!").arg(i + 1));
        Entry entry{i + 1, row.fileName, 0, false};
        if (addressRule == AddressRule::Window)
            entry.address = addressFromText(row.addressText);
        else if (!pairAddress(row.addressText, &entry.address, &entry.ownAddresses))
            entry.address = 0; // the front end has refused such a text already
        if (entry.ownAddresses) {
            own.append(entry);
            continue;
        }
        if (byAddress.contains(entry.address))
            return fail(tr("Error!!!The address of file%1 is duplicated!").arg(i + 1));
        byAddress.insert(entry.address, entry);
    }
    for (const Entry &entry : std::as_const(byAddress))
        entries.append(entry);
    entries += own;
    if (entries.isEmpty())
        return fail(tr("Error!!!No file to be merged!"));
    return true;
}

// Whether an input that is not raw data takes part, as far as can be told
// before anything is read: from the first bytes of each file. Nothing is
// reported here; the reading that follows finds every problem in order.
bool MergeJob::Private::anyInputNotRaw(const QVector<Entry> &entries)
{
    for (const Entry &entry : entries) {
        if (entry.ownAddresses)
            return true;
        SourceFile source;
        if (!source.open(entry.fileName) || source.isStream())
            continue;
        QByteArray head(InputReader::headSize, Qt::Uninitialized);
        const qint64 n = source.readAt(0, head.data(), head.size());
        if (n > 0 && InputReader::forHead(head.left(int(n))).format() != InputFormat::Raw)
            return true;
    }
    return false;
}

// Reads a stream to its end into the store. Raw data is never read more
// than rawLimit + 1 bytes: one byte past the room it may take is enough to
// know that it does not fit. head: its first bytes, which tell its format.
MergeJob::Private::CopyResult MergeJob::Private::copyStream(SourceFile &source, qint64 rawLimit, qint64 &start,
                                                          qint64 &size, QByteArray &head, char *buffer)
{
    start = store.end();
    size = 0;
    head.clear();
    qint64 limit = rawLimit;
    while (size <= limit) {
        const qint64 n = source.read(buffer, qMin(chunkSize, limit + 1 - size));
        if (n < 0)
            return ReadFailed;
        if (n == 0)
            break;
        if (size == 0) {
            head = QByteArray(buffer, int(qMin<qint64>(n, InputReader::headSize)));
            if (detectInputs && InputReader::forHead(head).format() != InputFormat::Raw)
                limit = recordStreamLimit;
        }
        if (!store.append(buffer, n))
            return StoreFailed;
        size += n;
    }
    return Copied;
}

// Reads one input into a placement: its format, its segments at their final
// addresses. tooLong: a stream of raw data that ran past rawLimit.
bool MergeJob::Private::readInput(const Entry &entry, SourceFile &source, qint64 rawLimit, bool *tooLong,
                                  MergePlacement &placement, char *buffer)
{
    *tooLong = false;
    placement = MergePlacement();
    placement.row = entry.row;
    placement.fileName = entry.fileName;
    placement.slotSize = rows.at(entry.row - 1).slotSize;
    PreparedSource prepared;

    QByteArray head;
    qint64 copyStart = -1;
    qint64 copySize = 0;
    std::unique_ptr<ByteSource> bytes;
    if (source.isStream()) {
        switch (copyStream(source, rawLimit, copyStart, copySize, head, buffer)) {
        case ReadFailed:
            return fail(tr("Error!!!Fail to read file%1!").arg(entry.fileName));
        case StoreFailed:
            return fail(tr("Error!!!Fail to store file%1 in a temporary file!").arg(entry.fileName));
        case Copied:
            break;
        }
        bytes.reset(new StoredBytes(store, copyStart, copySize));
    } else {
        bytes.reset(new FileBytes(source));
        prepared.readName = entry.fileName;
        prepared.identity = source.identity();
        prepared.checkedSize = source.size();
        if (detectInputs) {
            head.resize(InputReader::headSize);
            const qint64 n = source.readAt(0, head.data(), head.size());
            head.truncate(int(qMax<qint64>(n, 0)));
        }
    }

    const InputReader *reader = detectInputs ? &InputReader::forHead(head) : &InputReader::raw();
    InputContent content;
    QString problem;
    const qint64 mark = store.end();
    InputReader::Result result = reader->read(*bytes, store, content, problem);
    if (result == InputReader::NotThisFormat) {
        // It only started like one: the whole file is raw data.
        store.truncate(mark);
        reader = &InputReader::raw();
        result = reader->read(*bytes, store, content, problem);
    }
    switch (result) {
    case InputReader::Damaged:
        return fail(tr("Error!!!Cannot read %1: %2!").arg(entry.fileName, problem));
    case InputReader::ReadFailed:
        return fail(tr("Error!!!Fail to read file%1!").arg(entry.fileName));
    case InputReader::StoreFailed:
        return fail(tr("Error!!!Fail to store file%1 in a temporary file!").arg(entry.fileName));
    case InputReader::NotThisFormat:
    case InputReader::Read:
        break;
    }

    placement.format = content.format;
    placement.hasStartAddress = content.hasStartAddress;
    placement.startAddress = content.startAddress;
    placement.segments = content.segments;
    for (MergeSegment &segment : placement.segments) {
        if (copyStart >= 0 && !segment.inStore) {
            segment.inStore = true; // the stream's copy holds it
            segment.dataOffset += copyStart;
        }
    }
    if (copyStart >= 0)
        prepared.checkedSize = copySize;
    this->prepared.push_back(prepared);

    if (placement.format == InputFormat::Raw) {
        if (entry.ownAddresses)
            return fail(tr("Error!!!%1 is not an Intel HEX, S-record or ELF file: it needs an address!")
                                .arg(entry.fileName));
        *tooLong = copyStart >= 0 && copySize > rawLimit;
        placement.size = copyStart >= 0 ? copySize : source.size();
        placement.address = entry.address;
        for (MergeSegment &segment : placement.segments)
            segment.address += entry.address;
        placement.end = placement.address + placement.size;
        return true;
    }
    if (copyStart >= 0 && copySize > recordStreamLimit)
        return fail(tr("Error!!!File size of %1 is out of range!").arg(entry.fileName));
    if (!settleSegments(placement))
        return false;
    // A number moves the file so that its lowest address lies there.
    if (placement.segments.isEmpty()) {
        placement.address = placement.end = entry.ownAddresses ? 0 : entry.address;
        return true;
    }
    if (!entry.ownAddresses)
        placement.shift = entry.address - placement.segments.first().address;
    for (MergeSegment &segment : placement.segments) {
        segment.address += placement.shift;
        placement.size += segment.size;
    }
    placement.address = placement.segments.first().address;
    placement.end = placement.segments.last().address + placement.segments.last().size;
    return true;
}

// Reads bytes of one segment, from the store or from the file.
bool MergeJob::Private::readSegment(const MergePlacement &placement, const MergeSegment &segment, qint64 at,
                                    char *into, qint64 most)
{
    SourceFile file;
    if (!segment.inStore && !file.open(placement.fileName))
        return false;
    for (qint64 done = 0; done < most;) {
        const qint64 offset = segment.dataOffset + at + done;
        const qint64 n = segment.inStore ? store.readAt(offset, into + done, most - done)
                                         : file.readAt(offset, into + done, most - done);
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

// Puts a file's segments in address order. A file may give the same bytes
// twice (the same record two times); two different bytes for one address
// are refused.
bool MergeJob::Private::settleSegments(MergePlacement &placement)
{
    QVector<MergeSegment> sorted = placement.segments;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const MergeSegment &a, const MergeSegment &b) { return a.address < b.address; });
    QVector<MergeSegment> kept;
    Buffer ours = allocateChunk();
    Buffer theirs = allocateChunk();
    if (!ours || !theirs)
        return fail(tr("Error!!!Not enough memory to merge!"));
    for (MergeSegment segment : sorted) {
        const qint64 keptEnd = kept.isEmpty() ? 0 : kept.last().address + kept.last().size;
        if (!kept.isEmpty() && segment.address < keptEnd) {
            // What is kept covers [segment.address, keptEnd) without a hole.
            const qint64 overlapEnd = qMin(keptEnd, segment.address + segment.size);
            int k = int(kept.size()) - 1;
            while (k > 0 && kept[k].address > segment.address)
                --k;
            for (qint64 at = segment.address; at < overlapEnd;) {
                while (kept[k].address + kept[k].size <= at)
                    ++k;
                const qint64 n = qMin(qMin(overlapEnd, kept[k].address + kept[k].size) - at, chunkSize);
                if (!readSegment(placement, kept[k], at - kept[k].address, ours.get(), n)
                    || !readSegment(placement, segment, at - segment.address, theirs.get(), n))
                    return fail(tr("Error!!!Fail to read file%1!").arg(placement.fileName));
                for (qint64 i = 0; i < n; ++i) {
                    if (ours.get()[i] != theirs.get()[i])
                        return fail(tr("Error!!!%1 gives two different bytes for address %2!")
                                            .arg(placement.fileName, hexAddress(at + i)));
                }
                at += n;
            }
            const qint64 cut = overlapEnd - segment.address;
            segment.address += cut;
            segment.dataOffset += cut;
            segment.size -= cut;
            if (segment.size == 0)
                continue;
        }
        kept.append(segment);
    }
    placement.segments = kept;
    return true;
}

// The pieces of every file, in address order.
void MergeJob::Private::orderPieces()
{
    layout.pieces.clear();
    for (int f = 0; f < layout.placements.size(); ++f) {
        const QVector<MergeSegment> &segments = layout.placements.at(f).segments;
        for (int s = 0; s < segments.size(); ++s)
            layout.pieces.append(MergePiece{f, s, segments.at(s).address, segments.at(s).size});
    }
    std::stable_sort(layout.pieces.begin(), layout.pieces.end(),
                     [](const MergePiece &a, const MergePiece &b) { return a.address < b.address; });
}

// Where a record or ELF input takes part: any two files that share an
// address are refused, naming both and the first address they share.
bool MergeJob::Private::layOutMixed()
{
    // Files in address order, each with what write() needs of it.
    std::vector<int> order(size_t(layout.placements.size()));
    for (size_t k = 0; k < order.size(); ++k)
        order[k] = int(k);
    std::stable_sort(order.begin(), order.end(), [this](int a, int b) {
        return layout.placements.at(a).address < layout.placements.at(b).address;
    });
    QVector<MergePlacement> placements;
    std::vector<PreparedSource> sources;
    for (int k : order) {
        placements.append(layout.placements.at(k));
        sources.push_back(prepared[size_t(k)]);
    }
    layout.placements = placements;
    prepared = sources;
    orderPieces();
    qint64 lowest = addressSpaceEnd;
    qint64 end = base;
    for (const MergePlacement &p : std::as_const(layout.placements)) {
        const bool occupies = !p.segments.isEmpty() || p.format == InputFormat::Raw;
        if (occupies) {
            lowest = qMin(lowest, p.address);
            end = qMax(end, p.end);
        }
    }
    if (lowest < base)
        return failBelowBase();
    const MergePiece *widest = nullptr; // the piece that reaches furthest so far
    for (const MergePiece &piece : std::as_const(layout.pieces)) {
        if (widest && piece.address < widest->address + widest->size) {
            return fail(tr("Error!!!%1 and %2 overlap at %3!")
                                .arg(layout.placements.at(widest->file).fileName,
                                     layout.placements.at(piece.file).fileName, hexAddress(piece.address)));
        }
        if (!widest || piece.address + piece.size > widest->address + widest->size)
            widest = &piece;
    }
    for (const MergePlacement &p : std::as_const(layout.placements)) {
        if (p.end > addressSpaceEnd)
            return fail(tr("Error!!!%1 runs past the end of the 32-bit address range (0xFFFFFFFF)!").arg(p.fileName));
    }
    for (int k = 0; k < layout.placements.size(); ++k) {
        MergePlacement &p = layout.placements[k];
        p.offset = p.address - base;
        if (k + 1 < layout.placements.size())
            p.fillAfter = qMax<qint64>(0, layout.placements.at(k + 1).address - p.end);
    }
    layout.leadingFill = layout.placements.isEmpty() || lowest == addressSpaceEnd ? 0 : lowest - base;
    layout.imageSize = end - base;
    return true;
}

bool MergeJob::check()
{
    d->layout = MergeLayout();
    d->layout.base = d->base;
    d->layout.fill = d->fill;
    d->prepared.clear();
    d->store.clear();
    d->checked = false;

    if (d->outputFileName.isEmpty())
        return d->fail(tr("Error!!!Merge file name cannot be empty!"));

    d->log(tr("Begin to merge..."));

    QVector<Private::Entry> entries;
    if (!d->collect(entries))
        return false;
    // Raw data alone is checked file by file as the window always has, with
    // its messages; a record or ELF input anywhere makes it a layout of
    // pieces, checked once all are read.
    bool mixed = d->detectInputs && d->anyInputNotRaw(entries);

    Buffer buffer = allocateChunk();
    if (!buffer)
        return d->fail(tr("Error!!!Not enough memory to merge!"));
    for (int k = 0; k < entries.size(); ++k) {
        const Private::Entry &entry = entries.at(k);
        // One file open at a time, so any number of rows can be merged.
        SourceFile source;
        source.setIdleTimeout(d->idleTimeout);
        if (!source.open(entry.fileName))
            return d->fail(tr("Error!!!Cannot open file%1!").arg(entry.fileName));
        if (!mixed && k == 0 && entry.address < d->base)
            return d->failBelowBase();
        const Private::Entry *next = k + 1 < entries.size() && !entries.at(k + 1).ownAddresses ? &entries.at(k + 1)
                                                                                                : nullptr;
        // The most raw data may hold here: up to the next file, or to the
        // end of the address range.
        const qint64 room = (next ? next->address : addressSpaceEnd) - entry.address;

        MergePlacement placement;
        bool tooLong = false;
        if (!d->readInput(entry, source, qMax<qint64>(room, 0), &tooLong, placement, buffer.get()))
            return false;
        source.close();
        if (placement.format != InputFormat::Raw)
            mixed = true; // a stream, which only told once read
        if (!mixed) {
            placement.offset = entry.address - d->base;
            if (k == 0)
                d->layout.leadingFill = placement.offset;
            if (next) {
                const qint64 gap = room - placement.size;
                if (gap < 0 || tooLong)
                    return d->fail(tr("Error!!!File size of %1 is out of range!").arg(entry.fileName));
                placement.fillAfter = gap;
            } else {
                if (placement.size > room)
                    return d->fail(tr("Error!!!Merge image of %1 bytes is too large!")
                                           .arg(placement.offset + placement.size));
                d->layout.imageSize = placement.end - d->base;
            }
        }
        d->layout.placements.append(placement);
    }
    if (!mixed)
        d->orderPieces();
    else if (!d->layOutMixed())
        return false;
    if (!d->checkSlots() || !d->placeFields())
        return false;
    if (d->padTo > 0) {
        if (d->layout.imageSize > d->padTo)
            return d->fail(tr("Error!!!Merge image of %1 bytes is longer than the pad size of %2 bytes!")
                                   .arg(d->layout.imageSize)
                                   .arg(d->padTo));
        d->layout.trailingFill = d->padTo - d->layout.imageSize;
        d->layout.imageSize = d->padTo;
    }
    if (!d->settleFieldRanges() || !d->checkFlash() || !d->checkSectors() || !d->workOutFields())
        return false;
    d->checked = true;
    return true;
}

// Each file within the slot its pair gave it.
bool MergeJob::Private::checkSlots()
{
    for (const MergePlacement &p : std::as_const(layout.placements)) {
        if (p.slotSize > 0 && p.end - p.address > p.slotSize)
            return fail(tr("Error!!!%1 (%2 bytes) does not fit its slot of %3 bytes at %4!")
                                .arg(p.fileName)
                                .arg(p.end - p.address)
                                .arg(p.slotSize)
                                .arg(hexAddress(p.address)));
    }
    return true;
}

QString MergeJob::Private::ownerName(const MergePiece &piece, bool startsSentence) const
{
    if (piece.field >= 0)
        return (startsSentence ? tr("Field %1") : tr("field %1")).arg(layout.fields.at(piece.field).text);
    return layout.placements.at(piece.file).fileName;
}

// Fields go on fill, or past the end (the image grows to hold them), never
// on a file's bytes or on one another.
bool MergeJob::Private::placeFields()
{
    layout.fields = fields;
    qint64 end = layout.base + layout.imageSize;
    for (int k = 0; k < layout.fields.size(); ++k) {
        const MergeField &f = layout.fields.at(k);
        if (f.address < layout.base)
            return fail(tr("Error!!!Field %1 lies below the image's base %2!").arg(f.text, hexAddress(layout.base)));
        for (const MergePiece &piece : std::as_const(layout.pieces)) {
            if (piece.address < f.end() && f.address < piece.address + piece.size)
                return fail(tr("Error!!!Field %1 lies on the data of %2!").arg(f.text, ownerName(piece)));
        }
        for (int j = 0; j < k; ++j) {
            const MergeField &other = layout.fields.at(j);
            if (other.address < f.end() && f.address < other.end())
                return fail(tr("Error!!!Fields %1 and %2 overlap!").arg(other.text, f.text));
        }
        end = qMax(end, f.end());
    }
    layout.imageSize = end - layout.base;
    for (int k = 0; k < layout.fields.size(); ++k) {
        MergePiece piece;
        piece.file = -1;
        piece.field = k;
        piece.address = layout.fields.at(k).address;
        piece.size = layout.fields.at(k).size();
        layout.pieces.append(piece);
    }
    std::stable_sort(layout.pieces.begin(), layout.pieces.end(),
                     [](const MergePiece &a, const MergePiece &b) { return a.address < b.address; });
    return true;
}

// A field's range lies in the image as it ends up, padding included, and
// does not hold the field itself; the whole image is known only now.
bool MergeJob::Private::settleFieldRanges()
{
    const qint64 end = layout.base + layout.imageSize;
    for (MergeField &f : layout.fields) {
        if (f.wholeImage) {
            f.from = layout.base;
            f.to = end;
            continue;
        }
        if (f.from < layout.base || f.to > end)
            return fail(tr("Error!!!Field %1 covers %2 to %3, outside the image (%4 to %5)!")
                                .arg(f.text, hexAddress(f.from), hexAddress(f.to), hexAddress(layout.base), hexAddress(end)));
        if (f.address < f.to && f.from < f.end())
            return fail(tr("Error!!!Field %1 lies inside the range it covers!").arg(f.text));
    }
    return true;
}

// Every byte of the image, its files and fields first, within the flash.
bool MergeJob::Private::checkFlash()
{
    if (flashSize <= 0)
        return true;
    const qint64 flashEnd = flashOrigin + flashSize;
    for (const MergePiece &piece : std::as_const(layout.pieces)) {
        if (piece.address < flashOrigin)
            return fail(tr("Error!!!%1 starts at %2, below the flash at %3!")
                                .arg(ownerName(piece, true), hexAddress(piece.address), hexAddress(flashOrigin)));
        if (piece.address + piece.size > flashEnd)
            return fail(tr("Error!!!%1 ends at %2, past the end of the flash at %3!")
                                .arg(ownerName(piece, true), hexAddress(piece.address + piece.size),
                                     hexAddress(flashEnd)));
    }
    if (layout.base < flashOrigin || layout.base + layout.imageSize > flashEnd)
        return fail(tr("Error!!!The image runs from %1 to %2, outside the flash (%3 to %4)!")
                            .arg(hexAddress(layout.base), hexAddress(layout.base + layout.imageSize),
                                 hexAddress(flashOrigin), hexAddress(flashEnd)));
    return true;
}

// Programming one file erases whole sectors: two files, or a file and a
// field, in one sector would erase each other. Fill may share one.
bool MergeJob::Private::checkSectors()
{
    if (sectorSize <= 0)
        return true;
    const qint64 origin = flashSize > 0 ? flashOrigin : 0;
    auto sectorOf = [&](qint64 address) { return (address - origin) / sectorSize; };
    qint64 lastCounted = -1;
    for (int i = 0; i < layout.pieces.size(); ++i) {
        const MergePiece &piece = layout.pieces.at(i);
        if (i > 0) {
            const MergePiece &before = layout.pieces.at(i - 1);
            const qint64 shared = sectorOf(before.address + before.size - 1);
            // Fields may share one: they are written with the image.
            const bool bothFields = before.field >= 0 && piece.field >= 0;
            if (!before.sameOwner(piece) && !bothFields && shared == sectorOf(piece.address))
                return fail(tr("Error!!!%1 and %2 share the erase sector at %3!")
                                    .arg(ownerName(before, true), ownerName(piece),
                                         hexAddress(origin + shared * sectorSize)));
        }
        const qint64 first = qMax(sectorOf(piece.address), lastCounted + 1);
        const qint64 last = sectorOf(piece.address + piece.size - 1);
        if (last >= first) {
            layout.sectorsTouched += last - first + 1;
            lastCounted = last;
        }
    }
    layout.sectorSize = sectorSize;
    return true;
}

void MergeJob::Private::feedFill(FieldSum &sum, qint64 count) const
{
    for (qint64 left = count; left > 0; left -= fillBlockSize)
        sum.add(fillBlock(fill), qMin(left, fillBlockSize));
}

// Each field over its range of the image as it stands: files, fill, the
// fields before it in place, those after it still fill.
bool MergeJob::Private::workOutFields()
{
    if (layout.fields.isEmpty())
        return true;
    Buffer buffer = allocateChunk();
    if (!buffer)
        return fail(tr("Error!!!Not enough memory to merge!"));
    for (int k = 0; k < layout.fields.size(); ++k) {
        MergeField &field = layout.fields[k];
        const qint64 to = field.to;
        FieldSum sum(field.kind);
        qint64 cursor = field.from;
        for (const MergePiece &piece : std::as_const(layout.pieces)) {
            const qint64 lo = qMax(cursor, piece.address);
            const qint64 hi = qMin(to, piece.address + piece.size);
            if (hi <= lo)
                continue;
            feedFill(sum, lo - cursor);
            cursor = hi;
            if (piece.field == k)
                continue; // its own bytes are left out
            if (piece.field > k) {
                feedFill(sum, hi - lo); // not in place yet
                continue;
            }
            if (piece.field >= 0) {
                const QByteArray &value = layout.fields.at(piece.field).value;
                sum.add(value.constData() + (lo - piece.address), hi - lo);
                continue;
            }
            for (qint64 at = lo; at < hi;) {
                const qint64 n = qMin(hi - at, chunkSize);
                const MergePlacement &p = layout.placements.at(piece.file);
                if (!readSegment(p, p.segments.at(piece.segment), at - piece.address, buffer.get(), n))
                    return fail(tr("Error!!!Fail to read file%1!").arg(p.fileName));
                sum.add(buffer.get(), n);
                at += n;
            }
        }
        feedFill(sum, to - cursor);
        field.value = sum.bytes(field.bigEndian);
    }
    return true;
}

bool MergeJob::Private::failToOpenOutput(OutputFile::Status status)
{
    switch (status) {
    case OutputFile::Opened:
        return true;
    case OutputFile::CannotReserve:
        return failToWrite();
    case OutputFile::Locked:
        return fail(tr("Error!!!Merge file%1 is being written by another program!").arg(outputFileName));
    case OutputFile::IsASource:
        if (toStandardOutput)
            return fail(tr("Error!!!Merge file%1 is one of the files to merge!").arg(outputFileName));
        return fail(tr("Error!!!Cannot replace merge file%1 in place: it is one of the files to merge!")
                            .arg(outputFileName));
    case OutputFile::LinkRefused:
        return fail(tr("Error!!!Merge file%1 is a link that another user made in a shared folder!")
                            .arg(outputFileName));
    case OutputFile::LinkLoop:
        return fail(tr("Error!!!Merge file%1 is a link that leads round in a loop!").arg(outputFileName));
    case OutputFile::NoRoomToStage:
        return fail(tr("Error!!!No room in the temporary folder for merge file%1!").arg(outputFileName));
    case OutputFile::CannotOpen:
        break;
    }
    return fail(tr("Error!!!Fail to open merge file%1").arg(outputFileName));
}

std::unique_ptr<ImageWriter> MergeJob::Private::makeWriter(OutputFile &output) const
{
    switch (format) {
    case OutputFormat::IntelHex:
        return std::unique_ptr<ImageWriter>(new IntelHexWriter(output, recordSize));
    case OutputFormat::SRecord:
        return std::unique_ptr<ImageWriter>(new SRecordWriter(output, recordSize));
    case OutputFormat::Raw:
        break;
    }
    return std::unique_ptr<ImageWriter>(new RawImageWriter(output, fill));
}

void MergeJob::Private::setUpOutput(OutputFile &output) const
{
    output.setHashing(secondThread, secondThread);
    output.setStandardOutput(toStandardOutput);
    output.setIdleTimeout(idleTimeout);
}

QVector<FileIdentity> MergeJob::Private::sourceIdentities() const
{
    QVector<FileIdentity> sources;
    for (const PreparedSource &source : prepared)
        sources.append(source.identity);
    return sources;
}

bool MergeJob::checkOutput()
{
    if (!d->checked)
        return false;
    OutputFile output(d->outputFileName);
    d->setUpOutput(output);
    const std::unique_ptr<ImageWriter> writer = d->makeWriter(output);
    return d->failToOpenOutput(output.probe(writer->outputSize(d->layout), d->sourceIdentities()));
}

bool MergeJob::write()
{
    if (!d->checked)
        return false;
    d->checked = false;
    d->outputDigest.clear();

    OutputFile output(d->outputFileName);
    d->setUpOutput(output);
    const std::unique_ptr<ImageWriter> writer = d->makeWriter(output);
    d->outputLength = writer->outputSize(d->layout);
    if (!d->failToOpenOutput(output.open(d->outputLength, d->sourceIdentities())))
        return false;
    if (!d->stream(writer.get()))
        return false;
    if (!writer->finish())
        return d->failToWrite();
    if (!output.commit()) {
        if (output.replaceFailed())
            return d->fail(tr("Error!!!Cannot replace merge file%1: it is open in another program!")
                                   .arg(d->outputFileName));
        return d->failToWrite();
    }
    d->outputDigest = output.sha256();
    d->prepared.clear();
    d->store.clear();
    d->log(tr("Merge success!"));
    return true;
}

bool MergeJob::measure()
{
    if (!d->checked)
        return false;
    d->checked = false;
    return d->stream(nullptr);
}

// Reads the image in address order and hands it to the writer (none: only the
// digests are wanted), piece by piece and chunk by chunk.
bool MergeJob::Private::stream(ImageWriter *writer)
{
    Buffer buffer = allocateChunk();
    if (!buffer)
        return fail(tr("Error!!!Not enough memory to merge!"));

    digests = MergeDigests();
    Crc32 imageCrc;
    std::unique_ptr<Sha256> imageSha(computeDigests ? new Sha256 : nullptr);
    std::vector<Crc32> fileCrcs(computeDigests ? size_t(layout.placements.size()) : 0);
    std::vector<std::unique_ptr<Sha256>> fileShas;
    for (size_t k = 0; k < fileCrcs.size(); ++k)
        fileShas.emplace_back(new Sha256);
    // The fields are worked out once more over what is written: a file that
    // changed since the check must not leave a field that does not match.
    std::vector<FieldSum> fieldSums;
    for (const MergeField &field : std::as_const(layout.fields))
        fieldSums.emplace_back(field.kind);
    auto feedFields = [&](qint64 address, const char *bytes, qint64 count, int ownerField) {
        for (int k = 0; k < layout.fields.size(); ++k) {
            const MergeField &field = layout.fields.at(k);
            const qint64 lo = qMax(address, field.from);
            const qint64 hi = qMin(address + count, field.to);
            if (hi <= lo || ownerField == k)
                continue;
            if (ownerField > k || !bytes)
                feedFill(fieldSums[size_t(k)], hi - lo);
            else
                fieldSums[size_t(k)].add(bytes + (lo - address), hi - lo);
        }
    };
    auto writeFill = [&](qint64 address, qint64 count) {
        if (writer && !writer->fill(address, count))
            return false;
        for (qint64 left = count; imageSha && left > 0; left -= fillBlockSize) {
            imageCrc.add(fillBlock(fill), qMin(left, fillBlockSize));
            imageSha->add(fillBlock(fill), qMin(left, fillBlockSize));
        }
        feedFields(address, nullptr, count, -1);
        return true;
    };
    auto data = [&](qint64 address, const char *bytes, qint64 count, const MergePiece &piece) {
        if (writer && !writer->data(address, bytes, count))
            return false;
        if (imageSha) {
            if (piece.file >= 0) {
                fileCrcs[size_t(piece.file)].add(bytes, count);
                fileShas[size_t(piece.file)]->add(bytes, count);
            }
            imageCrc.add(bytes, count);
            imageSha->add(bytes, count);
        }
        feedFields(address, bytes, count, piece.field);
        return true;
    };

    qint64 cursor = layout.base;
    const MergePiece *last = nullptr;
    for (const MergePiece &piece : std::as_const(layout.pieces)) {
        // Records never run from one file into the next, nor into a field.
        if ((!last || !last->sameOwner(piece) || piece.address != cursor) && !writeFill(cursor, piece.address - cursor))
            return failToWrite();
        last = &piece;
        cursor = piece.address + piece.size;
        if (piece.field >= 0) {
            if (!data(piece.address, layout.fields.at(piece.field).value.constData(), piece.size, piece))
                return failToWrite();
            continue;
        }
        const MergePlacement &p = layout.placements.at(piece.file);
        const MergeSegment &segment = p.segments.at(piece.segment);
        const PreparedSource &from = prepared[size_t(piece.file)];
        const QString failedRead = tr("Error!!!Fail to read file%1!").arg(p.fileName);

        // Read exactly the bytes that were checked, and make sure the file is
        // as it was: a file that changed since must not give a wrong image.
        SourceFile source;
        source.setIdleTimeout(idleTimeout);
        if (!segment.inStore) {
            if (!source.open(from.readName) || (p.format != InputFormat::Raw && source.size() != from.checkedSize))
                return fail(failedRead);
        }
        qint64 address = piece.address;
        for (qint64 done = 0; done < piece.size;) {
            const qint64 most = qMin(piece.size - done, chunkSize);
            const qint64 n = segment.inStore ? store.readAt(segment.dataOffset + done, buffer.get(), most)
                             : p.format == InputFormat::Raw ? source.read(buffer.get(), most)
                                                             : source.readAt(segment.dataOffset + done, buffer.get(), most);
            if (n <= 0)
                return fail(failedRead);
            if (!data(address, buffer.get(), n, piece))
                return failToWrite();
            done += n;
            address += n;
        }
        char extra;
        if (!segment.inStore && p.format == InputFormat::Raw && source.read(&extra, 1) != 0)
            return fail(failedRead);
    }
    // A raw file that changed since the check, but holds no piece (it was
    // empty), must still be empty.
    for (int k = 0; k < layout.placements.size(); ++k) {
        const MergePlacement &p = layout.placements.at(k);
        if (p.format == InputFormat::Raw && p.segments.isEmpty() && !prepared[size_t(k)].readName.isEmpty()) {
            SourceFile source;
            source.setIdleTimeout(idleTimeout);
            char extra;
            if (!source.open(prepared[size_t(k)].readName) || source.read(&extra, 1) != 0)
                return fail(tr("Error!!!Fail to read file%1!").arg(p.fileName));
        }
    }
    if (!writeFill(cursor, layout.dataEnd() - cursor) || !writeFill(layout.dataEnd(), layout.trailingFill))
        return failToWrite();
    for (int k = 0; k < layout.fields.size(); ++k) {
        const MergeField &field = layout.fields.at(k);
        if (fieldSums[size_t(k)].bytes(field.bigEndian) != field.value)
            return fail(tr("Error!!!Field %1 no longer matches the files: one of them changed while it was merged!")
                                .arg(field.text));
    }
    if (imageSha) {
        for (size_t k = 0; k < fileCrcs.size(); ++k)
            digests.files.append({fileCrcs[k].hex(), fileShas[k]->result().toHex()});
        digests.image = {imageCrc.hex(), imageSha->result().toHex()};
    }
    return true;
}
