#include "Checks.h"

bool Checks::fitsSlots(const MergeLayout &layout, const Messages::Log &log)
{
    for (const MergePlacement &p : layout.placements) {
        if (p.slotSize > 0 && p.end - p.address > p.slotSize)
            return log.refuse(Refusal::slotTooSmall(p.row, p.fileName, p.end - p.address, p.slotSize, p.address));
    }
    return true;
}
