#include "Checks.h"

bool Checks::fitsSlots(const MergeLayout &layout, const Messages::Log &log)
{
    for (const MergePlacement &p : layout.placements) {
        if (p.slotSize > 0 && p.end - p.address > p.slotSize) {
            log(Messages::slotTooSmall(p.fileName, p.end - p.address, p.slotSize, p.address));
            return false;
        }
    }
    return true;
}
