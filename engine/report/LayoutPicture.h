#ifndef LAYOUTPICTURE_H
#define LAYOUTPICTURE_H

#include "Bytes.h"
#include "MergeLayout.h"
#include "Refusal.h"

#include <QString>

#include <optional>

// What the picture shows besides the layout.
struct PictureSettings
{
    qint64 flashOrigin = 0; // the axis runs over the flash...
    qint64 flashSize = 0;   // ...when it has a size
    // What refused the merge: its line, and a mark at its address where it
    // has one. None: a merge that passed.
    std::optional<Refusal> refusal;
};

// Draws the layout as one self-contained SVG: an address axis from the base
// (or the flash's origin) down to the end, each file a band in a colour of
// its own with its segments, fields as marks, slots as outlines, erase
// sectors as faint lines, fill and padding hatched, gaps far longer than the
// data shortened behind a break mark, a refusal in red. Text stays text; no
// scripts, fonts or files from elsewhere. Segments closer than a pixel are
// drawn as one, so a file of a million of them makes a picture of bounded
// size, written as it is drawn.
bool writeLayoutPicture(ByteSink &sink, const MergeLayout &layout, const PictureSettings &settings);

#endif // LAYOUTPICTURE_H
