#include "MergeJob.h"

#include "Checksums.h"
#include "FileHandle.h"
#include "ImageWriter.h"
#include "OutputFile.h"
#include "SourceFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QMap>
#include <QFileInfo>

#include <cstdlib>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("MergeMainWindow", text);
}

struct FreeDeleter
{
    void operator()(char *p) const { std::free(p); }
};
using Buffer = std::unique_ptr<char, FreeDeleter>;

// Sources are read in chunks of this size: memory stays the same whatever
// the size of the image.
constexpr qint64 chunkSize = qint64(1) << 20;

Buffer allocateChunk()
{
    return Buffer(static_cast<char *>(std::malloc(size_t(chunkSize))));
}

} // namespace

// What write() reads for one placement: the file itself, or the copy of a
// stream that check() had to read to learn its size.
struct PreparedSource
{
    QString readName;
    FileIdentity identity;
    qint64 copyOffset = -1; // where its copy starts in the job's scratch file
};

struct MergeJob::Private
{
    QVector<MergeRow> rows;
    QString outputFileName;
    LogSink log;

    MergeLayout layout;
    std::vector<PreparedSource> prepared; // one per placement
    // Copies of streams, one after another, in a file without a name: nothing
    // of them is left behind, however the process ends.
    FileHandle scratch;
    qint64 scratchEnd = 0;
    bool checked = false;
    bool secondThread = false;
    bool toStandardOutput = false;
    bool computeDigests = false;
    OutputFormat format = OutputFormat::Raw;
    int recordSize = 16;
    qint64 padTo = 0;
    int idleTimeout = 30000;
    QByteArray outputDigest;
    qint64 outputLength = 0;
    MergeDigests digests;

    bool fail(const QString &message)
    {
        log(message);
        return false;
    }
    bool failToWrite() { return fail(tr("Error!!!Fail to write merge file%1").arg(outputFileName)); }
    enum CopyResult { Copied, ReadFailed, StoreFailed };
    CopyResult copyStream(SourceFile &source, qint64 limit, PreparedSource &target, qint64 &size, char *buffer);
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

int MergeJob::maxRecordSize(OutputFormat format)
{
    return format == OutputFormat::SRecord ? SRecordWriter::maxRecordSize : IntelHexWriter::maxRecordSize;
}

qint64 MergeJob::maxImageSize()
{
    return (qint64(1) << 32) - imageBase;
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

// Reads a stream to its end, but never more than limit + 1 bytes: one byte
// past the limit is enough to know that it does not fit.
MergeJob::Private::CopyResult MergeJob::Private::copyStream(SourceFile &source, qint64 limit, PreparedSource &target,
                                                          qint64 &size, char *buffer)
{
    if (!scratch.isOpen()) {
        // An unusable temporary folder is a failure, never another folder.
        const QString folder = QDir::tempPath();
        if (folder.isEmpty() || !QFileInfo(folder).isDir() || !scratch.createUnnamed(folder))
            return StoreFailed;
        scratchEnd = 0;
    }
    target.copyOffset = scratchEnd;
    size = 0;
    while (size <= limit) {
        const qint64 n = source.read(buffer, qMin(chunkSize, limit + 1 - size));
        if (n < 0)
            return ReadFailed;
        if (n == 0)
            break;
        if (!scratch.write(buffer, n))
            return StoreFailed;
        size += n;
    }
    scratchEnd += size;
    return Copied;
}

bool MergeJob::check()
{
    d->layout = MergeLayout();
    d->prepared.clear();
    d->scratch.close();
    d->checked = false;

    if (d->outputFileName.isEmpty())
        return d->fail(tr("Error!!!Merge file name cannot be empty!"));

    d->log(tr("Begin to merge..."));

    struct Entry
    {
        int row;
        QString fileName;
    };
    QMap<qint32, Entry> filesByAddress;
    for (int i = 0; i < d->rows.size(); ++i) {
        const MergeRow &row = d->rows.at(i);
        if (!row.enabled)
            continue;
        if (row.fileName.isEmpty() || row.addressText.isEmpty())
            return d->fail(tr("Error!!!File name or start address of file%1 cannot be empty!").arg(i + 1));
        const qint32 address = addressFromText(row.addressText);
        if (filesByAddress.contains(address))
            return d->fail(tr("Error!!!The address of file%1 is duplicated!").arg(i + 1));
        filesByAddress.insert(address, Entry{i + 1, row.fileName});
    }
    if (filesByAddress.isEmpty())
        return d->fail(tr("Error!!!No file to be merged!"));

    Buffer buffer; // only for streams
    const auto end = filesByAddress.constEnd();
    for (auto it = filesByAddress.constBegin(); it != end; ++it) {
        // One file open at a time, so any number of rows can be merged.
        SourceFile source;
        source.setIdleTimeout(d->idleTimeout);
        if (!source.open(it->fileName))
            return d->fail(tr("Error!!!Cannot open file%1!").arg(it->fileName));

        const qint32 address = it.key();
        if (it == filesByAddress.constBegin()) {
            if (address < imageBase)
                return d->fail(tr("Error!!!Start address cannot less than 0x1000!"));
            d->layout.leadingFill = qint64(address) - imageBase;
        }
        const qint64 offset = qint64(address) - imageBase;
        const auto next = std::next(it);
        // The most this file may hold: up to the next file, or to the end of
        // the largest image.
        const qint64 room = next != end ? qint64(next.key()) - address : maxImageSize() - offset;

        PreparedSource prepared;
        qint64 size = 0;
        if (source.isStream()) {
            if (!buffer)
                buffer = allocateChunk();
            if (!buffer)
                return d->fail(tr("Error!!!Not enough memory to merge!"));
            switch (d->copyStream(source, room, prepared, size, buffer.get())) {
            case Private::ReadFailed:
                return d->fail(tr("Error!!!Fail to read file%1!").arg(it->fileName));
            case Private::StoreFailed:
                return d->fail(tr("Error!!!Fail to store file%1 in a temporary file!").arg(it->fileName));
            case Private::Copied:
                break;
            }
            if (size > room) // it did not end where it had to
                return d->fail(tr("Error!!!File size of %1 is out of range!").arg(it->fileName));
        } else {
            size = source.size();
            prepared.readName = it->fileName;
            prepared.identity = source.identity();
        }
        source.close();

        MergePlacement placement;
        placement.row = it->row;
        placement.address = address;
        placement.fileName = it->fileName;
        placement.offset = offset;
        placement.size = size;
        if (next != end) {
            const qint64 gap = room - size;
            if (gap < 0)
                return d->fail(tr("Error!!!File size of %1 is out of range!").arg(it->fileName));
            placement.fillAfter = gap;
        } else {
            if (size > room)
                return d->fail(tr("Error!!!Merge image of %1 bytes is too large!").arg(offset + size));
            d->layout.imageSize = offset + size;
        }
        d->layout.placements.append(placement);
        d->prepared.push_back(std::move(prepared));
    }
    if (d->padTo > 0) {
        if (d->layout.imageSize > d->padTo)
            return d->fail(tr("Error!!!Merge image of %1 bytes is longer than the pad size of %2 bytes!")
                                   .arg(d->layout.imageSize)
                                   .arg(d->padTo));
        d->layout.trailingFill = d->padTo - d->layout.imageSize;
        d->layout.imageSize = d->padTo;
    }
    d->checked = true;
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
    return std::unique_ptr<ImageWriter>(new RawImageWriter(output));
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
    d->scratch.close();
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
// digests are wanted), chunk by chunk.
bool MergeJob::Private::stream(ImageWriter *writer)
{
    Buffer buffer = allocateChunk();
    if (!buffer)
        return fail(tr("Error!!!Not enough memory to merge!"));

    digests = MergeDigests();
    Crc32 imageCrc;
    std::unique_ptr<Sha256> imageSha(computeDigests ? new Sha256 : nullptr);
    auto fill = [&](qint64 address, qint64 count) {
        if (writer && !writer->fill(address, count))
            return false;
        for (qint64 left = count; imageSha && left > 0; left -= fillBlockSize) {
            imageCrc.add(fillBlock(), qMin(left, fillBlockSize));
            imageSha->add(fillBlock(), qMin(left, fillBlockSize));
        }
        return true;
    };

    if (!fill(imageBase, layout.leadingFill))
        return failToWrite();
    for (int k = 0; k < layout.placements.size(); ++k) {
        const MergePlacement &p = layout.placements.at(k);
        const QString failedRead = tr("Error!!!Fail to read file%1!").arg(p.fileName);
        // Read exactly the size that was checked, and make sure nothing
        // follows: a file that changed since must not give a wrong image.
        const PreparedSource &from = prepared[size_t(k)];
        SourceFile source;
        source.setIdleTimeout(idleTimeout);
        if (from.copyOffset < 0 && !source.open(from.readName))
            return fail(failedRead);
        auto read = [&](char *into, qint64 at, qint64 most) {
            return from.copyOffset >= 0 ? scratch.readAt(from.copyOffset + at, into, most) : source.read(into, most);
        };
        Crc32 fileCrc;
        std::unique_ptr<Sha256> fileSha(computeDigests ? new Sha256 : nullptr);
        qint64 address = p.address;
        for (qint64 done = 0; done < p.size;) {
            const qint64 n = read(buffer.get(), done, qMin(p.size - done, chunkSize));
            if (n <= 0)
                return fail(failedRead);
            if (writer && !writer->data(address, buffer.get(), n))
                return failToWrite();
            if (fileSha) {
                fileCrc.add(buffer.get(), n);
                fileSha->add(buffer.get(), n);
                imageCrc.add(buffer.get(), n);
                imageSha->add(buffer.get(), n);
            }
            done += n;
            address += n;
        }
        char extra;
        if (from.copyOffset < 0 && source.read(&extra, 1) != 0)
            return fail(failedRead);
        source.close();
        if (fileSha)
            digests.files.append({fileCrc.hex(), fileSha->result().toHex()});
        if (!fill(p.address + p.size, p.fillAfter))
            return failToWrite();
    }
    const qint64 end = layout.placements.isEmpty() ? imageBase : qint64(layout.placements.last().address) + layout.placements.last().size;
    if (!fill(end, layout.trailingFill))
        return failToWrite();
    if (imageSha)
        digests.image = {imageCrc.hex(), imageSha->result().toHex()};
    return true;
}
