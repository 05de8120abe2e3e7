#ifndef IMAGESTREAMER_H
#define IMAGESTREAMER_H

#include "ImageSink.h"
#include "MergeLayout.h"
#include "input/Sources.h"

#include <initializer_list>

// Where the walk gets the bytes of a field not worked out before it.
class FieldValues
{
public:
    virtual ~FieldValues() = default;
    // Field k's bytes at this point of the walk; empty: they are written
    // later, and the walk hands the field on without bytes.
    virtual QByteArray valueNow(int k) = 0;
};

// Walks the image in address order, piece by piece and chunk by chunk, and
// hands every byte to each of its sinks: memory stays one chunk whatever the
// image's size.
class ImageStreamer
{
public:
    enum Result {
        Done,
        NoMemory,
        ReadFailed,  // failedFile() names the file
        SinkFailed,
    };

    ImageStreamer(const MergeLayout &layout, SourceSet &sources);

    // The image from `from` to `to`, to every sink that is not null. checkSources: every file whose bytes are
    // read must still be the one that was checked, before and after.
    Result walk(qint64 from, qint64 to, std::initializer_list<ImageSink *> sinks, bool checkSources,
                FieldValues *values = nullptr);
    // The whole image, trailing fill included.
    Result walkAll(std::initializer_list<ImageSink *> sinks, bool checkSources, FieldValues *values = nullptr)
    {
        return walk(layout.base, layout.end(), sinks, checkSources, values);
    }
    QString failedFile() const { return failed; }

private:
    const MergeLayout &layout;
    SourceSet &sources;
    QString failed;
};

#endif // IMAGESTREAMER_H
