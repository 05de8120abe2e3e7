#include "FieldPlan.h"

#include "Bytes.h"
#include "checks/Checks.h"

#include <algorithm>

bool FieldPlan::place(MergeLayout &layout, const QVector<MergeField> &fields, qint64 *dataEnd,
                      const Messages::Log &log)
{
    layout.fields = fields;
    const auto fail = [&log](const QString &message) {
        log(message);
        return false;
    };
    for (int k = 0; k < layout.fields.size(); ++k) {
        const MergeField &f = layout.fields.at(k);
        if (f.address < layout.base)
            return fail(Messages::fieldBelowBase(f.text, layout.base));
        for (const MergePiece &piece : std::as_const(layout.pieces)) {
            if (piece.address < f.end() && f.address < piece.end())
                return fail(Messages::fieldOnData(f.text, Checks::ownerName(layout, piece)));
        }
        for (int j = 0; j < k; ++j) {
            const MergeField &other = layout.fields.at(j);
            if (other.address < f.end() && f.address < other.end())
                return fail(Messages::fieldsOverlap(other.text, f.text));
        }
        *dataEnd = qMax(*dataEnd, f.end());
    }
    // Each after the pieces that start where it does or before it.
    for (int k = 0; k < layout.fields.size(); ++k) {
        const MergePiece piece{-1, 0, layout.fields.at(k).address, layout.fields.at(k).size, k};
        const auto at = std::upper_bound(layout.pieces.begin(), layout.pieces.end(), piece,
                                         [](const MergePiece &a, const MergePiece &b) { return a.address < b.address; });
        layout.pieces.insert(at, piece);
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
        if (f.from < layout.base || f.to > layout.end()) {
            log(Messages::fieldOutsideImage(f.text, f.from, f.to, layout.base, layout.end()));
            return false;
        }
        if (f.address < f.to && f.from < f.end()) {
            log(Messages::fieldInsideItsRange(f.text));
            return false;
        }
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
