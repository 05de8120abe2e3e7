#ifndef MERGEMAP_H
#define MERGEMAP_H

#include "MergeJob.h"

#include <QByteArray>
#include <QString>

// What a merge wrote, for build scripts to read: a JSON object with the
// format, the flat image's length and checksums, the output's (unless
// nothing was written) and, per file in address order, its row, name, start,
// end (the first address after it), size, the fill after it and its checksums.
// Addresses and lengths are plain numbers.
struct MergeMapOutput
{
    QString name;
    qint64 length = -1; // -1: nothing was written
    QByteArray sha256;  // hexadecimal, empty when not known
};

QByteArray mergeMapJson(OutputFormat format, const MergeLayout &layout, const MergeDigests &digests,
                        const MergeMapOutput &output);
QString formatName(OutputFormat format);

#endif // MERGEMAP_H
