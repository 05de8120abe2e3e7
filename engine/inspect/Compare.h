#ifndef COMPARE_H
#define COMPARE_H

#include "LoneFile.h"

#include <functional>

// Where two images differ: a range where both have bytes and they differ,
// or that only one of them has.
struct CompareRange
{
    enum Kind { Differ, OnlyA, OnlyB };
    qint64 start = 0;
    qint64 end = 0;
    Kind kind = Differ;
};

struct CompareTotals
{
    qint64 ranges = 0;
    qint64 bytes[3] = {0, 0, 0}; // by kind
    bool startAddressDiffers = false;
};

// Walks two files read alone in address order, chunk by chunk, and hands on
// every range where they differ, in address order, touching ranges of one
// kind joined. fill >= 0: a hole compares equal to bytes of that value, so
// every difference is a Differ. False when a file's bytes cannot be read
// (logged).
bool compareFiles(LoneFile &a, LoneFile &b, int fill, const std::function<void(const CompareRange &)> &range,
                  CompareTotals &totals, const Messages::Log &log);

#endif // COMPARE_H
