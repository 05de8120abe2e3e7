#ifndef MERGEMAP_H
#define MERGEMAP_H

#include "Bytes.h"
#include "MergeLayout.h"

#include <QByteArray>
#include <QString>

struct OutputFormatInfo;

// What a merge wrote, for build scripts to read: a JSON object with the
// format, the flat image's start, length and checksums, the output's (unless
// nothing was written) and, per file in address order, its row, name, input
// format, start, end (the first address after it), size (its data bytes), the
// fill after it, its checksums, the shift applied to its own addresses, its
// start address if it has one, and its segments (the address ranges it fills).
// Addresses and lengths are plain numbers.
struct MergeMapOutput
{
    QString name;
    qint64 length = -1; // -1: nothing was written
    QByteArray sha256;  // hexadecimal, empty when not known
};

// The address ranges a file fills, its segments that touch joined, one at a
// time: for (auto r = MergeRanges(p); r.next();) ... r.start, r.end.
class MergeRanges
{
public:
    explicit MergeRanges(const MergePlacement &placement)
        : segments(placement.segments)
    {
    }
    bool next()
    {
        if (at >= segments.size())
            return false;
        start = segments.at(at).address;
        end = segments.at(at).end();
        for (++at; at < segments.size() && segments.at(at).address == end; ++at)
            end = segments.at(at).end();
        return true;
    }
    qint64 start = 0;
    qint64 end = 0;

private:
    const QVector<MergeSegment> &segments;
    int at = 0;
};

// Writes the map to the sink as it goes; false when a write failed.
bool writeMergeMap(ByteSink &sink, const OutputFormatInfo &format, const MergeLayout &layout,
                   const MergeDigests &digests, const MergeMapOutput &output);

#endif // MERGEMAP_H
