#include "ImageStreamer.h"

#include <vector>

ImageStreamer::ImageStreamer(const MergeLayout &layout, SourceSet &sources)
    : layout(layout)
    , sources(sources)
{
}

ImageStreamer::Result ImageStreamer::walk(qint64 from, qint64 to, std::initializer_list<ImageSink *> sinks,
                                          bool checkSources, FieldValues *values)
{
    failed.clear();
    const ChunkBuffer buffer = allocateChunk();
    if (!buffer)
        return NoMemory;
    const auto fill = [&](qint64 address, qint64 count) {
        for (ImageSink *sink : sinks) {
            if (sink && !sink->fill(address, count))
                return false;
        }
        return true;
    };
    const auto data = [&](qint64 address, const char *bytes, qint64 count, const MergePiece &piece) {
        for (ImageSink *sink : sinks) {
            if (sink && !sink->data(address, bytes, count, piece))
                return false;
        }
        return true;
    };
    const auto readFailed = [&](int file) {
        failed = layout.placements.at(file).fileName;
        return ReadFailed;
    };
    std::vector<bool> checked(size_t(layout.placements.size()), false);

    qint64 cursor = from;
    const MergePiece *last = nullptr;
    // How many pieces ahead the store's bytes are asked for: enough to keep
    // several fetches from memory in flight for small scattered pieces.
    constexpr int prefetchDistance = 16;
    const int pieceCount = layout.pieces.size();
    for (int i = 0; i < pieceCount; ++i) {
        const MergePiece &piece = layout.pieces.at(i);
        if (i + prefetchDistance < pieceCount) {
            const MergePiece &soon = layout.pieces.at(i + prefetchDistance);
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
            return SinkFailed;
        last = &piece;
        cursor = hi;
        if (piece.field() >= 0) {
            const MergeField &field = layout.fields.at(piece.field());
            // A field not worked out yet is asked for, or handed on without
            // its bytes.
            QByteArray now;
            if (!field.isWorkedOut() && values)
                now = values->valueNow(piece.field());
            const char *bytes = field.isWorkedOut() ? field.value.constData() : now.isEmpty() ? nullptr : now.constData();
            if (!data(lo, bytes ? bytes + (lo - pieceAddress) : nullptr, hi - lo, piece))
                return SinkFailed;
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
                return SinkFailed;
            at += n;
        }
    }
    const qint64 split = qBound(cursor, layout.dataEnd(), to);
    if (!fill(cursor, split - cursor) || !fill(split, to - split))
        return SinkFailed;
    // Still as checked once read, empty files included.
    for (int k = 0; checkSources && k < layout.placements.size(); ++k) {
        if (!sources.unchanged(layout.placements.at(k).input))
            return readFailed(k);
    }
    return Done;
}
