#include "FieldValues.h"

#include "fields/FieldPlan.h"

FieldSink::FieldSink(const MergeLayout &layout, int first, int last)
    : layout(layout)
    , first(first)
{
    for (int k = first; k < last; ++k)
        sums.push_back(layout.fields.at(k).kind->start());
}

FieldSink::~FieldSink() = default;

bool FieldSink::fill(qint64 address, qint64 count)
{
    for (size_t i = 0; i < sums.size(); ++i) {
        if (sums[i])
            FieldPlan::feed(layout, first + int(i), *sums[i], address, nullptr, count, -1);
    }
    return true;
}

bool FieldSink::data(qint64 address, const char *bytes, qint64 count, const MergePiece &piece)
{
    for (size_t i = 0; i < sums.size(); ++i) {
        if (sums[i])
            FieldPlan::feed(layout, first + int(i), *sums[i], address, bytes, count, piece.field());
    }
    return true;
}

QByteArray FieldSink::value(int k)
{
    return sums[size_t(k - first)]->bytes(layout.fields.at(k).bigEndian);
}

Refusal readFailure(const MergeLayout &layout, const ImageStreamer &streamer)
{
    const QString name = streamer.failedFile();
    for (const MergePlacement &p : layout.placements) {
        if (p.fileName == name)
            return Refusal::failToRead(p.row, name);
    }
    return Refusal::failToRead(0, name);
}
