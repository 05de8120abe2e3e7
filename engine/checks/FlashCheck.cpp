#include "Checks.h"

bool Checks::fitsFlash(const MergeLayout &layout, qint64 origin, qint64 size, const Messages::Log &log)
{
    if (size <= 0)
        return true;
    const qint64 flashEnd = origin + size;
    for (const MergePiece &piece : layout.pieces) {
        if (layout.address(piece) < origin)
            return log.refuse(Refusal::belowFlash(owner(layout, piece), {layout.address(piece), layout.end(piece)}, origin));
        if (layout.end(piece) > flashEnd)
            return log.refuse(Refusal::pastFlash(owner(layout, piece), {layout.address(piece), layout.end(piece)}, flashEnd));
    }
    if (layout.base < origin || layout.end() > flashEnd)
        return log.refuse(Refusal::imageOutsideFlash(layout.base, layout.end(), origin, flashEnd));
    return true;
}
