#include "Trimming.h"

#include "Address.h"

#include <algorithm>
#include <map>
#include <new>
#include <numeric>

namespace {

// The part [from, to) of a segment.
MergeSegment part(const MergeSegment &segment, qint64 from, qint64 to)
{
    MergeSegment cut = segment;
    cut.address = from;
    cut.dataOffset += from - segment.address;
    cut.size = quint32(to - from);
    return cut;
}

// A file's address, size and end from what is left of it; one left with
// nothing keeps its address and has no bytes.
void measure(MergePlacement &p)
{
    if (p.segments.isEmpty()) {
        p.size = 0;
        p.end = p.address;
        return;
    }
    p.address = p.segments.first().address;
    p.end = p.segments.last().end();
    p.size = 0;
    for (const MergeSegment &segment : std::as_const(p.segments))
        p.size += segment.size;
}

} // namespace

bool Trimming::wanted(OverlapPolicy policy, const QVector<AddressRange> &crop, const QVector<AddressRange> &exclude)
{
    return policy != OverlapPolicy::Refuse || !crop.isEmpty() || !exclude.isEmpty();
}

bool Trimming::resolveOverlaps(MergeLayout &layout, OverlapPolicy policy)
{
    if (policy == OverlapPolicy::Refuse)
        return true;
    // Files whose extents do not meet cannot share an address: nothing to
    // give, and no map of claims for a file of a million runs.
    QVector<AddressRange> extents;
    for (const MergePlacement &p : std::as_const(layout.placements)) {
        if (!p.segments.isEmpty())
            extents.append({p.segments.first().address, p.segments.last().end()});
    }
    std::sort(extents.begin(), extents.end(), [](const AddressRange &a, const AddressRange &b) { return a.from < b.from; });
    bool meet = false;
    qint64 reach = 0; // the furthest end so far
    for (int k = 0; k < extents.size() && !meet; ++k) {
        meet = k > 0 && extents.at(k).from < reach;
        reach = qMax(reach, extents.at(k).to);
    }
    if (!meet)
        return true;
    try {
        // The files in the order they win in: the one that keeps an address
        // claims it before any other comes to it.
        QVector<int> order(layout.placements.size());
        std::iota(order.begin(), order.end(), 0);
        std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
            const int ra = layout.placements.at(a).row, rb = layout.placements.at(b).row;
            return policy == OverlapPolicy::LaterWins ? ra > rb : ra < rb;
        });
        struct Claim
        {
            qint64 end;
            int owner; // a placement
        };
        std::map<qint64, Claim> claimed;
        QVector<MergeOverride> overrides;
        for (const int k : std::as_const(order)) {
            MergePlacement &p = layout.placements[k];
            QVector<MergeSegment> kept;
            kept.reserve(p.segments.size());
            for (const MergeSegment &segment : std::as_const(p.segments)) {
                qint64 at = segment.address;
                const qint64 end = segment.end();
                auto it = claimed.upper_bound(at);
                if (it != claimed.begin() && std::prev(it)->second.end > at)
                    --it;
                for (; it != claimed.end() && it->first < end; ++it) {
                    const qint64 from = qMax(at, it->first), to = qMin(end, it->second.end);
                    if (from >= to)
                        continue;
                    if (from > at)
                        kept.append(part(segment, at, from));
                    const int lost = p.input, won = layout.placements.at(it->second.owner).input;
                    if (!overrides.isEmpty() && overrides.last().lost == lost && overrides.last().kept == won
                        && overrides.last().range.to == from)
                        overrides.last().range.to = to;
                    else
                        overrides.append({{from, to}, lost, won});
                    at = to;
                }
                if (at < end)
                    kept.append(part(segment, at, end));
            }
            // What this file keeps is claimed for it, runs that touch as one.
            for (const MergeSegment &segment : std::as_const(kept)) {
                const auto next = claimed.lower_bound(segment.address);
                if (next != claimed.begin()) {
                    Claim &before = std::prev(next)->second;
                    if (before.owner == k && before.end == segment.address) {
                        before.end = segment.end();
                        continue;
                    }
                }
                claimed.emplace_hint(next, segment.address, Claim{segment.end(), k});
            }
            p.segments = std::move(kept);
            measure(p);
        }
        std::sort(overrides.begin(), overrides.end(),
                  [](const MergeOverride &a, const MergeOverride &b) { return a.range.from < b.range.from; });
        layout.overrides = std::move(overrides);
    } catch (const std::bad_alloc &) {
        return false;
    }
    return true;
}

bool Trimming::keepRanges(MergeLayout &layout, const QVector<AddressRange> &crop, const QVector<AddressRange> &exclude)
{
    layout.crop = Address::joined(crop);
    layout.exclude = Address::joined(exclude);
    if (layout.crop.isEmpty() && layout.exclude.isEmpty())
        return true;
    try {
        // What is kept: the cropped ranges (or every address), less the
        // excluded ones, in address order.
        QVector<AddressRange> keep = layout.crop.isEmpty() ? QVector<AddressRange>{{0, addressSpaceEnd}} : layout.crop;
        for (const AddressRange &gone : std::as_const(layout.exclude)) {
            QVector<AddressRange> left;
            for (const AddressRange &r : std::as_const(keep)) {
                if (gone.to <= r.from || r.to <= gone.from) {
                    left.append(r);
                    continue;
                }
                if (r.from < gone.from)
                    left.append({r.from, gone.from});
                if (gone.to < r.to)
                    left.append({gone.to, r.to});
            }
            keep = std::move(left);
        }
        for (MergePlacement &p : layout.placements) {
            QVector<MergeSegment> kept;
            for (const MergeSegment &segment : std::as_const(p.segments)) {
                auto it = std::upper_bound(keep.cbegin(), keep.cend(), segment.address,
                                           [](qint64 a, const AddressRange &r) { return a < r.to; });
                for (; it != keep.cend() && it->from < segment.end(); ++it) {
                    const qint64 from = qMax(segment.address, it->from), to = qMin(segment.end(), it->to);
                    if (from < to)
                        kept.append(part(segment, from, to));
                }
            }
            p.segments = std::move(kept);
            measure(p);
        }
    } catch (const std::bad_alloc &) {
        return false;
    }
    return true;
}
