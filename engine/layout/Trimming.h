#ifndef TRIMMING_H
#define TRIMMING_H

#include "MergeLayout.h"

// What is left of each file's segments once the overlap policy has chosen
// which file keeps an address that two of them give, and once only the
// cropped ranges, less the excluded ones, are kept. What goes becomes a hole.
// Runs on placements in address order, before their pieces are ordered; each
// placement's address, size and end are worked out again from what is left.
namespace Trimming {

// Whether anything is to be trimmed at all: without, the layout is as read.
bool wanted(OverlapPolicy policy, const QVector<AddressRange> &crop, const QVector<AddressRange> &exclude);
// Gives overridden addresses to the file the policy chooses (each range
// noted in layout.overrides); false where memory runs out.
bool resolveOverlaps(MergeLayout &layout, OverlapPolicy policy);
// Keeps only what lies in crop (all, when it is empty) and not in exclude.
bool keepRanges(MergeLayout &layout, const QVector<AddressRange> &crop, const QVector<AddressRange> &exclude);

} // namespace Trimming

#endif // TRIMMING_H
