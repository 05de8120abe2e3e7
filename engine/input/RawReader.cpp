#include "InputReader.h"

namespace {

// The bytes as they are: one segment from address 0.
class RawReader : public InputReader
{
public:
    QLatin1String name() const override { return QLatin1String("raw"); }
    bool tells(const QByteArray &, bool) const override { return true; }
    Result read(ByteSource &source, ScratchStore &, InputContent &content, QString &) const override
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
};

} // namespace

const InputReader &rawInput()
{
    static const RawReader reader;
    return reader;
}
