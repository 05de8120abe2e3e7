#include "UnitWriter.h"

#include <cstring>

UnitWriter::UnitWriter(ByteSink &output, int unitSize, char fill)
    : ImageWriter(output)
    , unitSize(unitSize)
    , fillByte(fill)
    , text(output)
{
}

namespace {

// Each run of units the pieces touch that no earlier piece did: its first
// unit, how many, and whether the unit before it is left out.
template <typename Run>
void forEachRun(const MergeLayout &layout, int unitSize, Run run)
{
    qint64 last = -2; // the last unit touched
    for (const MergePiece &piece : layout.pieces) {
        const qint64 size = layout.size(piece);
        if (size <= 0)
            continue;
        qint64 first = layout.address(piece) / unitSize;
        const qint64 final = (layout.address(piece) + size - 1) / unitSize;
        first = qMax(first, last + 1); // a unit shared with the piece before counts once
        if (first > final)
            continue;
        run(first, final - first + 1, first != last + 1);
        last = final;
    }
}

} // namespace

UnitWriter::Count UnitWriter::countUnits(const MergeLayout &layout, int unitSize)
{
    Count count;
    forEachRun(layout, unitSize, [&count](qint64, qint64 units, bool newSection) {
        count.units += units;
        count.sections += newSection ? 1 : 0;
    });
    return count;
}

qint64 UnitWriter::outputSize(const MergeLayout &layout) const
{
    qint64 total = fixedSize();
    forEachRun(layout, unitSize, [&](qint64 first, qint64 units, bool newSection) {
        total += (newSection ? sectionSize(first) : 0) + unitsSize(units);
    });
    return total;
}

void UnitWriter::putUnits(qint64 index, const unsigned char *bytes, qint64 count)
{
    units(index, bytes, count, index != lastIndex + 1);
    lastIndex = index + count - 1;
}

// The unit being gathered, its bytes not given yet made fill.
void UnitWriter::flushUnit()
{
    if (unitIndex < 0)
        return;
    std::memset(unit + unitUsed, static_cast<unsigned char>(fillByte), size_t(unitSize - unitUsed));
    putUnits(unitIndex, unit, 1);
    unitIndex = -1;
}

bool UnitWriter::fill(qint64 address, qint64 count)
{
    if (count <= 0 || unitIndex < 0)
        return !text.failed();
    const qint64 start = unitIndex * unitSize;
    if (address + count >= start + unitSize) {
        flushUnit();
    } else if (address + count - start > unitUsed) {
        // The fill lies inside the unit: its bytes are set now, not left with
        // what an earlier unit put there.
        const int end = int(address + count - start);
        std::memset(unit + unitUsed, static_cast<unsigned char>(fillByte), size_t(end - unitUsed));
        unitUsed = end;
    }
    return !text.failed();
}

bool UnitWriter::data(qint64 address, const char *bytes, qint64 count, const MergePiece &)
{
    const auto *in = reinterpret_cast<const unsigned char *>(bytes);
    while (count > 0 && !text.failed()) {
        const qint64 index = address / unitSize;
        if (unitIndex >= 0 && index != unitIndex)
            flushUnit();
        const qint64 offset = address - index * unitSize;
        if (unitIndex < 0 && offset == 0 && count >= unitSize) {
            // Whole units straight from the caller's bytes.
            const qint64 whole = count / unitSize;
            putUnits(index, in, whole);
            address += whole * unitSize;
            in += whole * unitSize;
            count -= whole * unitSize;
            continue;
        }
        if (unitIndex < 0) {
            unitIndex = index;
            unitUsed = 0;
        }
        // What lies between the bytes given so far and these is fill.
        if (offset > unitUsed)
            std::memset(unit + unitUsed, static_cast<unsigned char>(fillByte), size_t(offset - unitUsed));
        const int take = int(qMin<qint64>(unitSize - offset, count));
        std::memcpy(unit + offset, in, size_t(take));
        unitUsed = int(offset) + take;
        address += take;
        in += take;
        count -= take;
        if (unitUsed == unitSize)
            flushUnit();
    }
    return !text.failed();
}

bool UnitWriter::finish()
{
    flushUnit();
    end();
    return text.flush();
}
