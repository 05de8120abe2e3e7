#include "Compare.h"

#include <cstring>

namespace {

// One file's pieces in address order, as a cursor.
class Pieces
{
public:
    explicit Pieces(LoneFile &file)
        : file(file)
        , pieces(file.layout().pieces)
    {
    }
    // Passes the pieces that end at or before address.
    void passTo(qint64 address)
    {
        while (at < pieces.size() && file.layout().end(pieces.at(at)) <= address)
            ++at;
    }
    bool done() const { return at >= pieces.size(); }
    qint64 start() const { return file.layout().address(pieces.at(at)); }
    qint64 end() const { return file.layout().end(pieces.at(at)); }
    bool holds(qint64 address) const { return !done() && start() <= address; }
    bool read(qint64 address, char *into, qint64 count) { return file.readPiece(pieces.at(at), address, into, count); }

private:
    LoneFile &file;
    const QVector<MergePiece> &pieces;
    int at = 0;
};

// Ranges handed on once they can grow no more.
class Ranges
{
public:
    Ranges(const std::function<void(const CompareRange &)> &out, CompareTotals &totals)
        : out(out)
        , totals(totals)
    {
    }
    void add(qint64 start, qint64 end, CompareRange::Kind kind)
    {
        totals.bytes[kind] += end - start;
        if (open && pending.kind == kind && pending.end == start) {
            pending.end = end;
            return;
        }
        flush();
        pending = {start, end, kind};
        open = true;
    }
    void flush()
    {
        if (!open)
            return;
        ++totals.ranges;
        out(pending);
        open = false;
    }

private:
    const std::function<void(const CompareRange &)> &out;
    CompareTotals &totals;
    CompareRange pending;
    bool open = false;
};

// The runs of differing bytes of two buffers, as ranges from base.
void differences(const char *a, const char *b, qint64 count, qint64 base, Ranges &ranges)
{
    if (std::memcmp(a, b, size_t(count)) == 0)
        return;
    for (qint64 i = 0; i < count;) {
        // Whole blocks that agree are passed at memcmp's speed.
        constexpr qint64 block = 64;
        if (i % block == 0 && i + block <= count && std::memcmp(a + i, b + i, block) == 0) {
            i += block;
            continue;
        }
        if (a[i] == b[i]) {
            ++i;
            continue;
        }
        qint64 j = i + 1;
        while (j < count && a[j] != b[j])
            ++j;
        ranges.add(base + i, base + j, CompareRange::Differ);
        i = j;
    }
}

} // namespace

bool compareFiles(LoneFile &a, LoneFile &b, int fill, const std::function<void(const CompareRange &)> &range,
                  CompareTotals &totals, const Messages::Log &log)
{
    totals = CompareTotals();
    const MergePlacement &pa = a.placement();
    const MergePlacement &pb = b.placement();
    totals.startAddressDiffers = pa.hasStartAddress != pb.hasStartAddress
                                 || (pa.hasStartAddress && pa.startAddress != pb.startAddress);
    const ChunkBuffer bufferA = allocateChunk();
    const ChunkBuffer bufferB = allocateChunk();
    if (!bufferA || !bufferB) {
        log.refuse(Refusal::notEnoughMemory());
        return false;
    }
    // Where one file has a hole, the fill's bytes stand in for it.
    const char *fillBytes = fill >= 0 ? fillBlock(char(fill)) : nullptr;
    Ranges ranges(range, totals);
    Pieces inA(a);
    Pieces inB(b);
    constexpr qint64 nowhere = qint64(1) << 40;
    qint64 at = qMin(inA.done() ? nowhere : inA.start(), inB.done() ? nowhere : inB.start());
    while (!inA.done() || !inB.done()) {
        inA.passTo(at);
        inB.passTo(at);
        if (inA.done() && inB.done())
            break;
        const bool hasA = inA.holds(at);
        const bool hasB = inB.holds(at);
        const qint64 nextA = inA.done() ? nowhere : hasA ? inA.end() : inA.start();
        const qint64 nextB = inB.done() ? nowhere : hasB ? inB.end() : inB.start();
        if (!hasA && !hasB) {
            at = qMin(nextA, nextB);
            continue;
        }
        const qint64 end = qMin(qMin(nextA, nextB), at + chunkSize);
        const qint64 count = end - at;
        if ((hasA && !inA.read(at, bufferA.get(), count)) || (hasB && !inB.read(at, bufferB.get(), count))) {
            log.refuse(Refusal::failToRead(0, (hasA ? a : b).name()));
            return false;
        }
        if (hasA && hasB)
            differences(bufferA.get(), bufferB.get(), count, at, ranges);
        else if (fillBytes)
            differences(hasA ? bufferA.get() : bufferB.get(), fillBytes, count, at, ranges);
        else
            ranges.add(at, end, hasA ? CompareRange::OnlyA : CompareRange::OnlyB);
        at = end;
    }
    ranges.flush();
    return true;
}
