#include "Checks.h"

// Programming one file erases whole sectors: two files, or a file and a
// field, in one sector would erase each other. Fill may share one, and so may
// two fields, which are written with the image.
bool Checks::sectorsApart(MergeLayout &layout, qint64 flashOrigin, qint64 flashSize, qint64 sectorSize,
                     const Messages::Log &log)
{
    if (sectorSize <= 0)
        return true;
    const qint64 origin = flashSize > 0 ? flashOrigin : 0;
    const auto sectorOf = [&](qint64 address) { return (address - origin) / sectorSize; };
    qint64 touched = 0;
    qint64 lastCounted = -1;
    for (int i = 0; i < layout.pieces.size(); ++i) {
        const MergePiece &piece = layout.pieces.at(i);
        if (i > 0) {
            const MergePiece &before = layout.pieces.at(i - 1);
            const qint64 shared = sectorOf(layout.end(before) - 1);
            const bool bothFields = before.field() >= 0 && piece.field() >= 0;
            if (!before.sameOwner(piece) && !bothFields && shared == sectorOf(layout.address(piece)))
                return log.refuse(Refusal::sharedSector(owner(layout, before), owner(layout, piece),
                                                        origin + shared * sectorSize, sectorSize));
        }
        const qint64 first = qMax(sectorOf(layout.address(piece)), lastCounted + 1);
        const qint64 last = sectorOf(layout.end(piece) - 1);
        if (last >= first) {
            touched += last - first + 1;
            lastCounted = last;
        }
    }
    layout.sectorSize = sectorSize;
    layout.sectorsTouched = touched;
    return true;
}
