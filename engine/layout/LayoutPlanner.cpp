#include "LayoutPlanner.h"

#include "SignedRow.h"
#include "Trimming.h"

#include <algorithm>

LayoutPlanner::LayoutPlanner(SourceSet &sources, Messages::Log log)
    : sources(sources)
    , log(std::move(log))
{
}

bool LayoutPlanner::fail(const Refusal &refusal)
{
    return log.refuse(refusal);
}

bool LayoutPlanner::plan(bool detectFormats, MergeLayout &layout, qint64 *dataEnd)
{
    const bool trimming = Trimming::wanted(overlap, crop, exclude);
    bool window = !trimming && !signing;
    if (detectFormats) {
        sources.tellFormats();
        window = window && sources.allRaw();
        for (int k = 0; k < sources.count() && window; ++k)
            window = !sources.input(k).ownAddresses;
    }
    return window ? windowRule(layout, dataEnd) : pieceRule(layout, dataEnd);
}

// Where input k lands, with the address its row gives it.
MergePlacement LayoutPlanner::placed(int k, InputContent &content) const
{
    const MergeInput &input = sources.input(k);
    MergePlacement p;
    p.input = k;
    p.row = input.row;
    p.fileName = input.name;
    p.format = &sources.format(k);
    p.slotSize = input.slotSize;
    p.hasStartAddress = content.hasStartAddress;
    p.startAddress = content.startAddress;
    p.segments = std::move(content.segments); // one file's runs may be a million
    p.details = std::move(content.details);
    if (p.isRaw()) {
        p.address = input.address;
        p.size = sources.size(k);
        p.end = p.address + p.size;
        for (MergeSegment &segment : p.segments)
            segment.address += input.address;
    }
    return p;
}

bool LayoutPlanner::windowRule(MergeLayout &layout, qint64 *dataEnd)
{
    *dataEnd = layout.base;
    const int count = sources.count();
    for (int k = 0; k < count; ++k) {
        const MergeInput &input = sources.input(k);
        if (!sources.open(k))
            return false;
        if (k == 0 && input.address < layout.base)
            return fail(Refusal::belowBase(layout.base, input.row, input.name, input.address));
        const bool last = k + 1 == count;
        // The most raw data may hold here: up to the next file, or to the end
        // of the address range.
        const qint64 room = (last ? addressSpaceEnd : sources.input(k + 1).address) - input.address;
        InputContent content;
        if (!sources.read(k, qMax<qint64>(room, 0), content))
            return false;
        MergePlacement p = placed(k, content);
        p.offset = p.address - layout.base;
        if (k == 0)
            layout.leadingFill = p.offset;
        if (!last) {
            const qint64 gap = room - p.size;
            if (gap < 0 || sources.ranPast(k))
                return fail(Refusal::outOfRange(p.row, p.fileName, p.address + room, {p.address, p.end}));
            p.fillAfter = gap;
        } else {
            if (p.size > room)
                return fail(Refusal::imageTooLarge(p.offset + p.size, p.row, p.fileName, {p.address, p.end}));
            *dataEnd = p.end;
        }
        layout.placements.append(p);
    }
    orderPieces(layout);
    return true;
}

bool LayoutPlanner::pieceRule(MergeLayout &layout, qint64 *dataEnd)
{
    sources.decodeAhead();
    for (int k = 0; k < sources.count(); ++k) {
        const MergeInput &input = sources.input(k);
        if (!sources.open(k))
            return false;
        // A stream of raw data is read up to the next file, which it may not
        // reach into; with an overlap policy it may, and is read whole.
        const bool nextPlaced = k + 1 < sources.count() && !sources.input(k + 1).ownAddresses
                                && overlap == OverlapPolicy::Refuse;
        const qint64 room = (nextPlaced ? sources.input(k + 1).address : addressSpaceEnd) - input.address;
        InputContent content;
        if (!sources.read(k, qMax<qint64>(room, 0), content))
            return false;
        MergePlacement p = placed(k, content);
        if (p.isRaw()) {
            if (input.ownAddresses && !input.rawAtAddress)
                return fail(Refusal::needsAnAddress(p.row, p.fileName));
        } else if (!settleSegments(p)) {
            return false;
        } else {
            // A number moves the file so that its lowest address lies there.
            if (!input.ownAddresses)
                p.shift = input.address - p.segments.first().address;
            for (MergeSegment &segment : p.segments) {
                segment.address += p.shift;
                p.size += segment.size;
            }
            p.address = p.segments.first().address;
            p.end = p.segments.last().address + p.segments.last().size;
        }
        if (signing && SignedRow::isRequested(*signing, sources, k) && !SignedRow::make(*signing, sources, p, log))
            return false;
        layout.placements.append(p);
    }
    const bool trimming = Trimming::wanted(overlap, crop, exclude);
    const auto bytes = [&layout] {
        qint64 total = 0;
        for (const MergePlacement &p : std::as_const(layout.placements))
            total += p.size;
        return total;
    };
    const qint64 before = bytes();
    if (!Trimming::resolveOverlaps(layout, overlap) || !Trimming::keepRanges(layout, crop, exclude))
        return fail(Refusal::notEnoughMemory());
    // Ranges that keep nothing of files that had bytes are a mistake, not an
    // empty image.
    if (before > 0 && bytes() == 0)
        return fail(Refusal::nothingKept());

    std::stable_sort(layout.placements.begin(), layout.placements.end(),
                     [](const MergePlacement &a, const MergePlacement &b) { return a.address < b.address; });
    orderPieces(layout);
    qint64 lowest = addressSpaceEnd;
    qint64 end = layout.base;
    const MergePlacement *first = nullptr; // the file that starts lowest
    for (const MergePlacement &p : std::as_const(layout.placements)) {
        // An empty raw file still ends the image where it lies, unless
        // trimming took what it had.
        if (!p.segments.isEmpty() || (p.isRaw() && !trimming)) {
            if (p.address < lowest)
                first = &p;
            lowest = qMin(lowest, p.address);
            end = qMax(end, p.end);
        }
    }
    if (lowest < layout.base)
        return fail(Refusal::belowBase(layout.base, first->row, first->fileName, lowest));
    const MergePiece *widest = nullptr; // the piece that reaches furthest so far
    for (const MergePiece &piece : std::as_const(layout.pieces)) {
        if (widest && layout.address(piece) < layout.end(*widest)) {
            const MergePlacement &a = layout.placements.at(widest->file);
            const MergePlacement &b = layout.placements.at(piece.file);
            return fail(Refusal::overlap({a.row, a.fileName, {}}, {b.row, b.fileName, {}}, layout.address(piece)));
        }
        if (!widest || layout.end(piece) > layout.end(*widest))
            widest = &piece;
    }
    for (const MergePlacement &p : std::as_const(layout.placements)) {
        if (p.end > addressSpaceEnd)
            return fail(Refusal::pastAddressSpace(p.row, p.fileName, {p.address, p.end}));
    }
    for (int k = 0; k < layout.placements.size(); ++k) {
        MergePlacement &p = layout.placements[k];
        p.offset = p.address - layout.base;
        if (k + 1 < layout.placements.size())
            p.fillAfter = qMax<qint64>(0, layout.placements.at(k + 1).address - p.end);
    }
    layout.leadingFill = lowest == addressSpaceEnd ? 0 : lowest - layout.base;
    *dataEnd = end;
    return true;
}

// Puts a file's segments in address order, in place. A file may give the
// same bytes twice (the same record two times); two different bytes for one
// address are refused.
bool LayoutPlanner::settleSegments(MergePlacement &placement)
{
    // In place: a file of a million records has no room for a copy.
    QVector<MergeSegment> &segments = placement.segments;
    std::sort(segments.begin(), segments.end(), [](const MergeSegment &a, const MergeSegment &b) {
        return a.address != b.address ? a.address < b.address : a.dataOffset < b.dataOffset;
    });
    ChunkBuffer ours, theirs;
    int kept = 0; // segments [0, kept) are settled
    for (int i = 0; i < segments.size(); ++i) {
        MergeSegment segment = segments.at(i);
        const qint64 keptEnd = kept == 0 ? 0 : segments.at(kept - 1).address + segments.at(kept - 1).size;
        if (kept > 0 && segment.address < keptEnd) {
            if (!ours && (!(ours = allocateChunk()) || !(theirs = allocateChunk())))
                return fail(Refusal::notEnoughMemory());
            // What is kept covers [segment.address, keptEnd) without a hole.
            const qint64 overlapEnd = qMin(keptEnd, segment.address + segment.size);
            int k = kept - 1;
            while (k > 0 && segments.at(k).address > segment.address)
                --k;
            for (qint64 at = segment.address; at < overlapEnd;) {
                while (segments.at(k).address + segments.at(k).size <= at)
                    ++k;
                const MergeSegment &older = segments.at(k);
                const qint64 n = qMin(qMin(overlapEnd, older.address + older.size) - at, chunkSize);
                if (!sources.readSegment(placement.input, older, at - older.address, ours.get(), n)
                    || !sources.readSegment(placement.input, segment, at - segment.address, theirs.get(), n))
                    return fail(Refusal::failToRead(placement.row, placement.fileName));
                for (qint64 j = 0; j < n; ++j) {
                    if (ours.get()[j] != theirs.get()[j])
                        return fail(Refusal::twoBytesForOneAddress(placement.row, placement.fileName, at + j));
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
        segments[kept++] = segment;
    }
    segments.resize(kept);
    segments.squeeze();
    return true;
}

// The pieces of every file, in address order: each file's segments are in
// order already, so they are merged, not sorted; ties go to the file that
// comes first.
void LayoutPlanner::orderPieces(MergeLayout &layout) const
{
    qint64 count = 0;
    for (const MergePlacement &p : std::as_const(layout.placements))
        count += p.segments.size();
    layout.pieces.clear();
    layout.pieces.reserve(int(count));
    // The next piece of each file not merged yet, lowest address on top.
    const auto later = [&layout](const MergePiece &a, const MergePiece &b) {
        const qint64 x = layout.address(a), y = layout.address(b);
        return x != y ? x > y : a.file > b.file;
    };
    std::vector<MergePiece> heads;
    for (int f = 0; f < layout.placements.size(); ++f) {
        if (!layout.placements.at(f).segments.isEmpty())
            heads.push_back(MergePiece{f, 0});
    }
    std::make_heap(heads.begin(), heads.end(), later);
    while (!heads.empty()) {
        std::pop_heap(heads.begin(), heads.end(), later);
        MergePiece &next = heads.back();
        layout.pieces.append(next);
        if (++next.index < layout.placements.at(next.file).segments.size())
            std::push_heap(heads.begin(), heads.end(), later);
        else
            heads.pop_back();
    }
}

bool LayoutPlanner::finish(MergeLayout &layout, qint64 dataEnd, qint64 padTo)
{
    const qint64 size = dataEnd - layout.base;
    if (padTo > 0 && size > padTo)
        return fail(Refusal::longerThanPad(layout.base, size, padTo));
    layout.trailingFill = padTo > 0 ? padTo - size : 0;
    layout.imageSize = size + layout.trailingFill;
    return true;
}
