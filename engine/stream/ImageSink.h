#ifndef IMAGESINK_H
#define IMAGESINK_H

#include "MergeLayout.h"

// What the image is handed to, in address order: runs of fill and runs of a
// piece's bytes (a file's, or a field's).
class ImageSink
{
public:
    virtual ~ImageSink() = default;
    // count fill bytes from address. Also said, with no bytes, where a run of
    // one file's or field's bytes ends and another's begins.
    virtual bool fill(qint64 address, qint64 count) = 0;
    // bytes null: a field whose bytes are not known yet (worked out as the
    // image goes, written later).
    virtual bool data(qint64 address, const char *bytes, qint64 count, const MergePiece &piece) = 0;
};

#endif // IMAGESINK_H
