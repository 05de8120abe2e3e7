#include "ImageStreamer.h"

ImageStreamer::ImageStreamer(const MergeLayout &layout, SourceSet &sources)
    : layout(layout)
    , sources(sources)
{
}

void ImageStreamer::begin(qint64 walkFrom, qint64 walkTo, std::vector<ImageSink *> walkSinks, bool walkChecks)
{
    failed.clear();
    from = walkFrom;
    to = walkTo;
    sinks = std::move(walkSinks);
    checkSources = walkChecks;
    checked.assign(size_t(layout.placements.size()), false);
    cursor = from;
    last = nullptr;
    next = 0;
    atField = false;
    over = false;
    walkResult = Done;
    if (!buffer)
        buffer = allocateChunk();
    if (!buffer)
        stop(NoMemory);
}

int ImageStreamer::stop(Result result)
{
    walkResult = result;
    over = true;
    return -1;
}

bool ImageStreamer::fill(qint64 address, qint64 count)
{
    for (ImageSink *sink : sinks) {
        if (sink && !sink->fill(address, count))
            return false;
    }
    return true;
}

bool ImageStreamer::data(qint64 address, const char *bytes, qint64 count, const MergePiece &piece)
{
    for (ImageSink *sink : sinks) {
        if (sink && !sink->data(address, bytes, count, piece))
            return false;
    }
    return true;
}

// The part of a field's piece in the walk: its bytes as they stand, or none
// where it is not worked out yet (it is written later).
bool ImageStreamer::handOnField(const MergePiece &piece)
{
    const MergeField &field = layout.fields.at(piece.field());
    const qint64 pieceAddress = layout.address(piece);
    const qint64 lo = qMax(pieceAddress, from);
    const qint64 hi = qMin(layout.end(piece), to);
    const char *bytes = field.isWorkedOut() ? field.value.constData() + (lo - pieceAddress) : nullptr;
    return data(lo, bytes, hi - lo, piece);
}

int ImageStreamer::toNextField()
{
    if (over)
        return -1;
    if (atField) {
        atField = false;
        if (!handOnField(layout.pieces.at(next)))
            return stop(SinkFailed);
        ++next;
    }
    const auto readFailed = [&](int file) {
        failed = layout.placements.at(file).fileName;
        return stop(ReadFailed);
    };
    // How many pieces ahead the store's bytes are asked for: enough to keep
    // several fetches from memory in flight for small scattered pieces.
    constexpr int prefetchDistance = 16;
    const int pieceCount = layout.pieces.size();
    for (; next < pieceCount; ++next) {
        const MergePiece &piece = layout.pieces.at(next);
        if (next + prefetchDistance < pieceCount) {
            const MergePiece &soon = layout.pieces.at(next + prefetchDistance);
            if (soon.file >= 0)
                sources.prefetch(layout.placements.at(soon.file).segments.at(soon.index));
        }
        const qint64 pieceAddress = layout.address(piece);
        const qint64 lo = qMax(pieceAddress, from);
        const qint64 hi = qMin(layout.end(piece), to);
        if (hi <= lo)
            continue;
        // Records never run from one file into the next, nor into a field.
        if ((!last || !last->sameOwner(piece) || lo != cursor) && !fill(cursor, lo - cursor))
            return stop(SinkFailed);
        last = &piece;
        cursor = hi;
        if (piece.field() >= 0) {
            // A field not worked out yet: the caller may work it out from
            // all that went before.
            if (!layout.fields.at(piece.field()).isWorkedOut()) {
                atField = true;
                return piece.field();
            }
            if (!handOnField(piece))
                return stop(SinkFailed);
            continue;
        }
        const MergePlacement &p = layout.placements.at(piece.file);
        const MergeSegment &segment = p.segments.at(piece.index);
        // Read exactly the bytes that were checked, from the file that was: a
        // file that changed since must not give a wrong image.
        if (checkSources && !checked[size_t(piece.file)]) {
            if (!sources.unchanged(p.input))
                return readFailed(piece.file);
            checked[size_t(piece.file)] = true;
        }
        for (qint64 at = lo; at < hi;) {
            const qint64 n = qMin(hi - at, chunkSize);
            if (!sources.readSegment(p.input, segment, at - pieceAddress, buffer.get(), n))
                return readFailed(piece.file);
            if (!data(at, buffer.get(), n, piece))
                return stop(SinkFailed);
            at += n;
        }
    }
    const qint64 split = qBound(cursor, layout.dataEnd(), to);
    if (!fill(cursor, split - cursor) || !fill(split, to - split))
        return stop(SinkFailed);
    // Still as checked once read, empty files included.
    for (int k = 0; checkSources && k < layout.placements.size(); ++k) {
        if (!sources.unchanged(layout.placements.at(k).input))
            return readFailed(k);
    }
    return stop(Done);
}
