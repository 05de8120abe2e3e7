#ifndef FIELDVALUES_H
#define FIELDVALUES_H

#include "ImageSink.h"
#include "ImageStreamer.h"
#include "MergeMessages.h"
#include "fields/FieldKind.h"

#include <memory>
#include <vector>

// Feeds fields the image as it passes, by the fields' own rule: each from
// first to last (exclusive) gets a sum of its kind.
class FieldSink : public ImageSink
{
public:
    FieldSink(const MergeLayout &layout, int first, int last);
    ~FieldSink() override;

    bool fill(qint64 address, qint64 count) override;
    bool data(qint64 address, const char *bytes, qint64 count, const MergePiece &piece) override;
    // Field k's bytes, as fed.
    QByteArray value(int k);
    // Field k is not fed: its value comes from elsewhere.
    void leaveOut(int k) { sums[size_t(k - first)].reset(); }

private:
    const MergeLayout &layout;
    int first;
    std::vector<std::unique_ptr<FieldSum>> sums;
};

// What a walk that could not read a file refuses: that file, and the row
// of the first placement of that name.
Refusal readFailure(const MergeLayout &layout, const ImageStreamer &streamer);

#endif // FIELDVALUES_H
