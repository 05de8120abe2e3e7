#include "MergeJob.h"

#include "checks/Checks.h"
#include "fields/FieldPlan.h"
#include "input/Sources.h"
#include "layout/LayoutPlanner.h"
#include "output/FieldSchedule.h"
#include "output/OutputFile.h"
#include "stream/DigestSink.h"
#include "writers/ImageWriter.h"

#include <new>

struct MergeJob::Private
{
    Private(QVector<MergeRow> rows, QString output, LogSink log, MergeOptions options)
        : rows(std::move(rows))
        , output(std::move(output))
        , log(log.watched([this](const Refusal &refusal) { this->refusal = refusal; }))
        , options(std::move(options))
        , sources(this->log)
    {
    }

    QVector<MergeRow> rows;
    QString output;
    LogSink log;
    MergeOptions options;
    SourceSet sources;
    MergeLayout layout;
    bool checked = false;
    quint32 imageCrc = 0; // of the flat image as the walk handed it out
    QByteArray outputDigest;
    qint64 outputLength = 0;
    MergeDigests digests;
    Companions companions;
    std::optional<Refusal> refusal; // of the last step, where one stopped it

    bool fail(const Refusal &refusal) { return log.refuse(refusal); }
    // Each step starts with no refusal of its own.
    template <typename Step>
    bool step(Step run)
    {
        refusal.reset();
        return guarded(run);
    }
    // Takes the check's verdict on one use: a second write needs a new check.
    bool takeCheck()
    {
        const bool was = checked;
        checked = false;
        return was;
    }
    std::unique_ptr<ImageWriter> makeWriter(ByteSink &sink) const
    {
        WriterSettings settings;
        settings.layout = &layout;
        settings.recordSize = options.recordSize;
        settings.own = options.formatSettings;
        return format().make(sink, settings);
    }
    void setUp(OutputFile &file) const
    {
        file.setHashing(options.hashOutput, options.hashOutput);
        file.setStandardOutput(options.toStandardOutput);
        file.setIdleTimeout(options.streamIdleTimeout);
    }
    bool opened(OutputFile::Status status);
    bool stream(ImageWriter *writer, OutputFile *file = nullptr);
    bool writtenAsMerged(const OutputFile &file) const;
    bool check();
    bool write();
    const OutputFormatInfo &format() const { return options.format ? *options.format : OutputFormats::flat(); }
    bool schedule()
    {
        FieldSchedule::decide(layout, options.fieldValuesFirst, format().maxRecordSize > 0, options.computeDigests);
        return true;
    }

    // What a file makes the merge keep in memory grows with what it holds
    // (its segments); past what the process may have, the merge stops with
    // a line, as for any other fault.
    template <typename Step>
    bool guarded(Step step)
    {
        try {
            return step();
        } catch (const std::bad_alloc &) {
            checked = false;
            return fail(Refusal::notEnoughMemory());
        }
    }
};

MergeJob::MergeJob(QVector<MergeRow> rows, QString outputFileName, LogSink log, MergeOptions options)
    : d(new Private(std::move(rows), std::move(outputFileName), std::move(log), std::move(options)))
{
}

MergeJob::~MergeJob() = default;

const MergeLayout &MergeJob::layout() const
{
    return d->layout;
}

QByteArray MergeJob::outputSha256() const
{
    return d->outputDigest;
}

qint64 MergeJob::outputSize() const
{
    return d->outputLength;
}

const MergeDigests &MergeJob::digests() const
{
    return d->digests;
}

std::optional<Refusal> MergeJob::refusal() const
{
    return d->refusal;
}

bool MergeJob::check()
{
    return d->step([this] { return d->check(); });
}

bool MergeJob::Private::check()
{
    const MergeOptions &o = options;
    layout = MergeLayout();
    layout.base = o.base;
    layout.fill = o.fill;
    checked = false;
    sources.clear();
    if (output.isEmpty())
        return fail(Refusal::outputNameEmpty());
    log.progress(Messages::beginToMerge());

    sources.setIdleTimeout(o.streamIdleTimeout);
    sources.setDetectFormats(o.detectInputs);
    ReadOptions reading;
    reading.formats = o.formatSettings;
    reading.details = format().readsInputDetails;
    sources.setReadOptions(reading);
    LayoutPlanner planner(sources, log);
    planner.setTrimming(o.overlap, o.crop, o.exclude);
    planner.setSigned(o.mcuboot);
    qint64 dataEnd = 0;
    checked = sources.collect(rows) && planner.plan(o.detectInputs, layout, &dataEnd) && Checks::fitsSlots(layout, log)
              && FieldPlan::place(layout, o.fields, &dataEnd, log) && planner.finish(layout, dataEnd, o.padTo)
              && FieldPlan::settleRanges(layout, log) && schedule() && Checks::fitsFlash(layout, o.flashOrigin, o.flashSize, log)
              && Checks::sectorsApart(layout, o.flashOrigin, o.flashSize, o.sectorSize, log)
              && FieldSchedule(layout, sources).workOutFirst(log);
    return checked;
}

bool MergeJob::Private::opened(OutputFile::Status status)
{
    if (status == OutputFile::Opened)
        return true;
    OpenRefusals refusals{Refusal::failToOpenOutput, Refusal::outputForeignLink, Refusal::outputLinkLoop};
    refusals.cannotReserve = Refusal::failToWriteOutput;
    refusals.locked = Refusal::outputLocked;
    refusals.isASource = options.toStandardOutput ? Refusal::outputIsASource : Refusal::outputInPlaceIsASource;
    refusals.noRoomToStage = Refusal::noRoomToStage;
    return fail(refusals.refusal(status, output));
}

bool MergeJob::checkOutput()
{
    return d->step([this] {
        if (!d->checked)
            return false;
        OutputFile file(d->output);
        d->setUp(file);
        const std::unique_ptr<ImageWriter> writer = d->makeWriter(file);
        return d->opened(file.probe(writer->outputSize(d->layout), d->sources.identities()));
    });
}

bool MergeJob::write()
{
    return d->step([this] { return d->takeCheck() && d->write(); });
}

bool MergeJob::Private::write()
{
    outputDigest.clear();
    OutputFile file(output);
    setUp(file);
    const std::unique_ptr<ImageWriter> writer = makeWriter(file);
    outputLength = writer->outputSize(layout);
    if (!opened(file.open(outputLength, sources.identities())) || !stream(writer.get(), &file))
        return false;
    if (!writer->finish() || !file.finish())
        return fail(Refusal::failToWriteOutput(output));
    if (!writtenAsMerged(file))
        return fail(Refusal::outputNotAsMerged(output, !file.isDevice()));
    outputDigest = file.sha256(); // what goes with the output tells it
    const bool made = !companions.make || companions.make(file.isDevice());
    if (!made || !file.commit()) {
        outputDigest.clear();
        return made && fail(file.replaceFailed() ? Refusal::outputHeldOpen(output) : Refusal::failToWriteOutput(output));
    }
    if (companions.place && !companions.place())
        return false;
    sources.clear();
    log.progress(Messages::mergeSuccess());
    return true;
}

void MergeJob::setCompanions(Companions companions)
{
    d->companions = std::move(companions);
}

// The output checked against the merge before it replaces anything: as long
// as promised, and for the flat image the very bytes the walk handed out, in
// their order (its CRC-32, and its SHA-256 where the map has one).
bool MergeJob::Private::writtenAsMerged(const OutputFile &file) const
{
    if (file.bytesWritten() != outputLength)
        return false;
    if (!format().isTheImage)
        return true;
    if (file.crc32() != imageCrc)
        return false;
    return digests.image.sha256.isEmpty() || file.sha256().isEmpty() || file.sha256().toHex() == digests.image.sha256;
}

bool MergeJob::measure()
{
    return d->step([this] { return d->takeCheck() && d->stream(nullptr); });
}

// The image, walked once: to the writer (none: only the digests are wanted),
// to the digests when asked for, and to the fields (FieldSchedule).
bool MergeJob::Private::stream(ImageWriter *writer, OutputFile *file)
{
    const std::unique_ptr<DigestSink> digest(options.computeDigests ? new DigestSink(layout) : nullptr);
    const std::unique_ptr<ImageCrcSink> crc(file && format().isTheImage ? new ImageCrcSink(layout.fill) : nullptr);
    if (!FieldSchedule(layout, sources).writeImage(writer, {digest.get(), crc.get()}, file, format().isTheImage, output, log))
        return false;
    if (digest)
        digests = digest->result();
    imageCrc = crc ? crc->result() : 0;
    return true;
}
