#include "Checks.h"

Refusal::Owner Checks::owner(const MergeLayout &layout, const MergePiece &piece)
{
    if (piece.field() >= 0)
        return {0, QString(), layout.fields.at(piece.field()).text};
    const MergePlacement &p = layout.placements.at(piece.file);
    return {p.row, p.fileName, QString()};
}
