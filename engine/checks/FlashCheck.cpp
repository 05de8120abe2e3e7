#include "Checks.h"

bool Checks::fitsFlash(const MergeLayout &layout, qint64 origin, qint64 size, const Messages::Log &log)
{
    if (size <= 0)
        return true;
    const qint64 flashEnd = origin + size;
    for (const MergePiece &piece : layout.pieces) {
        if (layout.address(piece) < origin) {
            log(Messages::belowFlash(ownerName(layout, piece, true), layout.address(piece), origin));
            return false;
        }
        if (layout.end(piece) > flashEnd) {
            log(Messages::pastFlash(ownerName(layout, piece, true), layout.end(piece), flashEnd));
            return false;
        }
    }
    if (layout.base < origin || layout.end() > flashEnd) {
        log(Messages::imageOutsideFlash(layout.base, layout.end(), origin, flashEnd));
        return false;
    }
    return true;
}
