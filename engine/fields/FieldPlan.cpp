#include "FieldPlan.h"

#include "Bytes.h"
#include "checks/Checks.h"

#include <algorithm>

bool FieldPlan::place(MergeLayout &layout, const QVector<MergeField> &fields, qint64 *dataEnd,
                      const Messages::Log &log)
{
    layout.fields = fields;
    for (int k = 0; k < layout.fields.size(); ++k) {
        const MergeField &f = layout.fields.at(k);
        if (f.address < layout.base)
            return log.refuse(Refusal::fieldBelowBase(f.text, f.address, f.size, layout.base));
        for (const MergePiece &piece : std::as_const(layout.pieces)) {
            if (layout.address(piece) < f.end() && f.address < layout.end(piece))
                return log.refuse(Refusal::fieldOnData(f.text, f.address, f.size, Checks::owner(layout, piece)));
        }
        for (int j = 0; j < k; ++j) {
            const MergeField &other = layout.fields.at(j);
            if (other.address < f.end() && f.address < other.end())
                return log.refuse(Refusal::fieldsOverlap(other.text, f.text, f.address, f.size));
        }
        *dataEnd = qMax(*dataEnd, f.end());
    }
    // Each after the pieces that start where it does or before it.
    for (int k = 0; k < layout.fields.size(); ++k) {
        const qint64 address = layout.fields.at(k).address;
        const auto at = std::upper_bound(layout.pieces.begin(), layout.pieces.end(), address,
                                         [&layout](qint64 a, const MergePiece &b) { return a < layout.address(b); });
        layout.pieces.insert(at, MergePiece::ofField(k));
    }
    return true;
}

bool FieldPlan::settleRanges(MergeLayout &layout, const Messages::Log &log)
{
    for (MergeField &f : layout.fields) {
        if (f.wholeImage) {
            f.from = layout.base;
            f.to = layout.end();
            continue;
        }
        if (f.from < layout.base || f.to > layout.end())
            return log.refuse(Refusal::fieldOutsideImage(f.text, f.address, f.from, f.to, layout.base, layout.end()));
        if (f.address < f.to && f.from < f.end())
            return log.refuse(Refusal::fieldInsideItsRange(f.text, f.address, f.from, f.to));
    }
    return true;
}

void FieldPlan::feed(const MergeLayout &layout, int k, FieldSum &sum, qint64 address, const char *bytes,
                     qint64 count, int ownerField)
{
    const MergeField &field = layout.fields.at(k);
    const qint64 lo = qMax(address, field.from);
    const qint64 hi = qMin(address + count, field.to);
    if (hi <= lo || ownerField == k)
        return;
    if (bytes && (ownerField < 0 || ownerField < k)) {
        sum.add(bytes + (lo - address), hi - lo);
        return;
    }
    const char *fill = fillBlock(layout.fill);
    for (qint64 left = hi - lo; left > 0; left -= fillBlockSize)
        sum.add(fill, qMin(left, fillBlockSize));
}
