#ifndef IMAGESTREAMER_H
#define IMAGESTREAMER_H

#include "Bytes.h"
#include "ImageSink.h"
#include "MergeLayout.h"
#include "input/Sources.h"

#include <initializer_list>
#include <vector>

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
    // read must still be the one that was checked, before and after. A field not worked out yet is handed on
    // without its bytes.
    Result walk(qint64 from, qint64 to, std::initializer_list<ImageSink *> sinks, bool checkSources)
    {
        begin(from, to, std::vector<ImageSink *>(sinks), checkSources);
        while (toNextField() >= 0) {
        }
        return result();
    }
    // The whole image, trailing fill included.
    Result walkAll(std::initializer_list<ImageSink *> sinks, bool checkSources)
    {
        return walk(layout.base, layout.end(), sinks, checkSources);
    }

    // The same walk in steps, for a caller that works fields out from the
    // bytes before them: begin() sets it up, toNextField() goes on until it
    // comes to a field not worked out yet and gives its index, with all
    // before it handed on, the fill up to it included. The caller may put
    // its value in place now; the next call hands the field on as it then
    // stands (without bytes if still not worked out) and goes on. -1: the
    // walk is over, result() tells how.
    void begin(qint64 from, qint64 to, std::vector<ImageSink *> sinks, bool checkSources);
    int toNextField();
    Result result() const { return walkResult; }
    QString failedFile() const { return failed; }

private:
    int stop(Result result);
    bool fill(qint64 address, qint64 count);
    bool data(qint64 address, const char *bytes, qint64 count, const MergePiece &piece);
    bool handOnField(const MergePiece &piece);

    const MergeLayout &layout;
    SourceSet &sources;
    QString failed;
    // The walk under way.
    qint64 from = 0;
    qint64 to = 0;
    std::vector<ImageSink *> sinks;
    bool checkSources = false;
    ChunkBuffer buffer;
    std::vector<bool> checked; // files found unchanged in this walk
    qint64 cursor = 0;
    const MergePiece *last = nullptr;
    int next = 0;          // the piece to go on with
    bool atField = false;  // stopped at piece `next`, a field, its fill handed on
    bool over = true;
    Result walkResult = Done;
};

#endif // IMAGESTREAMER_H
