#ifndef FIELDSCHEDULE_H
#define FIELDSCHEDULE_H

#include "MergeLayout.h"
#include "MergeMessages.h"
#include "input/Sources.h"
#include "stream/ImageSink.h"

#include <initializer_list>

class ImageWriter;
class OutputFile;

// When each field's value is worked out, and the check that the image
// written holds it:
// - before the data: a walk of its range when the merge is checked (the
//   value is known before a byte goes out), summed once more as the image is
//   written and refused if the files changed in between;
// - as written: from the bytes that went out before it, where everything it
//   covers comes before it (a SHA-256 of all the flat image before it is the
//   output's own hash so far);
// - after the data: summed as the image goes and written last, in the
//   record formats, whose records may come in any order.
class FieldSchedule
{
public:
    // Decides each field's timing (FieldTiming): as written wherever the
    // output allows, so that the files are read once; before the data where
    // valuesFirst asks for the values early (to show them), where a field
    // covers another field's bytes, or where only a walk of its range can
    // tell its value at its place. recordOutput: the output's records may
    // come in any order; imageDigests: the flat image is hashed in address
    // order as it goes.
    static void decide(MergeLayout &layout, bool valuesFirst, bool recordOutput, bool imageDigests);

    FieldSchedule(MergeLayout &layout, SourceSet &sources);

    // Works out the fields to be known before the data, in the order given,
    // each over its range of the image as it stands: files, fill, the fields
    // before it in place.
    bool workOutFirst(const Messages::Log &log);

    // The one walk of the image: to the writer (none: nothing is written)
    // and the other sinks, the fields worked out as they come and those
    // after the data written last; then the fields worked out before held to
    // the bytes that went out. file: where the writer's bytes go, if
    // anywhere; outputIsTheImage: they are the flat image itself. output
    // names it in messages.
    bool writeImage(ImageWriter *writer, std::initializer_list<ImageSink *> others, OutputFile *file,
                    bool outputIsTheImage, const QString &output, const Messages::Log &log);

private:
    // Whether field k, worked out as the image is written, is the SHA-256 of
    // every byte of the image before it and of nothing after it.
    bool isDigestOfAllBefore(int k) const;

    MergeLayout &layout;
    SourceSet &sources;
};

#endif // FIELDSCHEDULE_H
