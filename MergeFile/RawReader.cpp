#include "InputReader.h"

InputReader::Result RawReader::read(ByteSource &source, ScratchStore &, InputContent &content, QString &) const
{
    content = InputContent();
    const qint64 size = source.size();
    if (size > 0) {
        MergeSegment all;
        all.size = size;
        content.segments.append(all);
    }
    return Read;
}
