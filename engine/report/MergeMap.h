#ifndef MERGEMAP_H
#define MERGEMAP_H

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

// The address ranges a file fills: its segments, those that touch joined.
struct MergeRange
{
    qint64 start;
    qint64 end;
};
QVector<MergeRange> mergeRanges(const MergePlacement &placement);

QByteArray mergeMapJson(const OutputFormatInfo &format, const MergeLayout &layout, const MergeDigests &digests,
                        const MergeMapOutput &output);

#endif // MERGEMAP_H
