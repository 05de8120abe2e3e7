#include "LoneFile.h"

#include "layout/LayoutPlanner.h"

LoneFile::LoneFile(const QString &name, const LoneFileOptions &options, Messages::Log log)
    : fileName(name)
    , options(options)
    , log(log)
    , sources(log)
{
}

LoneFile::~LoneFile() = default;

bool LoneFile::read()
{
    // Planned from address 0, so that nothing of the file lies below the
    // image; its flat image is then taken from its lowest address on.
    lay = MergeLayout();
    lay.base = 0;
    lay.fill = options.fill;
    MergeRow row;
    row.enabled = true;
    row.fileName = fileName;
    row.address = options.moveTo >= 0        ? MergeAddress::at(options.moveTo)
                  : options.detectFormats ? MergeAddress::ownOrRawAt(options.base)
                                          : MergeAddress::at(options.base);
    sources.setDetectFormats(options.detectFormats);
    sources.setFormat(options.format);
    ReadOptions reading;
    reading.details = options.details;
    sources.setReadOptions(reading);
    LayoutPlanner planner(sources, log);
    qint64 dataEnd = 0;
    return sources.collect({row}) && planner.plan(options.detectFormats, lay, &dataEnd)
           && planner.finish(lay, dataEnd, 0);
}

qint64 LoneFile::lowest() const
{
    return lay.pieces.isEmpty() ? placement().address : lay.address(lay.pieces.first());
}

qint64 LoneFile::end() const
{
    return lay.pieces.isEmpty() ? lowest() : lay.end(lay.pieces.last());
}

qint64 LoneFile::length() const
{
    return sources.size(0);
}

bool LoneFile::readPiece(const MergePiece &piece, qint64 at, char *into, qint64 count)
{
    const MergePlacement &p = lay.placements.at(piece.file);
    const MergeSegment &segment = p.segments.at(piece.index);
    return sources.readSegment(p.input, segment, at - segment.address, into, count);
}

ImageStreamer::Result LoneFile::walk(qint64 from, qint64 to, std::initializer_list<ImageSink *> sinks)
{
    ImageStreamer streamer(lay, sources);
    return streamer.walk(from, to, sinks, false);
}
