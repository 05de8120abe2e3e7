#ifndef CHECKS_H
#define CHECKS_H

#include "MergeLayout.h"
#include "MergeMessages.h"

// What the flash asks of a laid-out image, each check in a file of its own.
// Each gives the log one refusal and says false when the image does not pass.
namespace Checks {

// Whose a piece is: a file (its row and name) or a field (as given).
Refusal::Owner owner(const MergeLayout &layout, const MergePiece &piece);

// Each file within the slot its row gave it.
bool fitsSlots(const MergeLayout &layout, const Messages::Log &log);
// Every byte of the image, its files and fields first, within the flash
// (origin, size); a size of 0 leaves it unchecked.
bool fitsFlash(const MergeLayout &layout, qint64 origin, qint64 size, const Messages::Log &log);
// No two files, nor a file and a field, in one erase sector (counted from the
// flash's origin, or from 0 without a flash); a size of 0 leaves it
// unchecked. Counts the sectors the image touches into the layout.
bool sectorsApart(MergeLayout &layout, qint64 flashOrigin, qint64 flashSize, qint64 sectorSize, const Messages::Log &log);

} // namespace Checks

#endif // CHECKS_H
