#include "ImageWriter.h"

#include "MergeJob.h"
#include "OutputFile.h"

#include <cstring>

const char *fillBlock()
{
    static const struct Block
    {
        Block() { std::memset(bytes, MergeJob::fillByte, sizeof bytes); }
        char bytes[fillBlockSize];
    } block;
    return block.bytes;
}

qint64 RawImageWriter::outputSize(const MergeLayout &layout) const
{
    return layout.imageSize;
}

bool RawImageWriter::fill(qint64, qint64 count)
{
    for (qint64 left = count; left > 0; left -= fillBlockSize) {
        if (!output.write(fillBlock(), qMin(left, fillBlockSize)))
            return false;
    }
    return true;
}

bool RawImageWriter::data(qint64, const char *bytes, qint64 count)
{
    return output.write(bytes, count);
}
