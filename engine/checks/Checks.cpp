#include "Checks.h"

QString Checks::ownerName(const MergeLayout &layout, const MergePiece &piece, bool startsSentence)
{
    if (piece.field() >= 0)
        return Messages::fieldName(layout.fields.at(piece.field()).text, startsSentence);
    return layout.placements.at(piece.file).fileName;
}
