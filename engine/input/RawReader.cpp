#include "InputReader.h"

namespace {

// The bytes as they are: one segment from address 0.
class RawReader : public InputReader
{
public:
    QLatin1String name() const override { return QLatin1String("raw"); }
    bool tells(const QByteArray &, qint64) const override { return true; }
    QString toldBy() const override { return QStringLiteral("its first bytes are no other format's"); }
    Result read(ByteSource &source, ScratchStore &, const ReadOptions &options, InputContent &content, QString &) const override
    {
        content = InputContent();
        // Nothing is particular to raw data but its length.
        if (options.details)
            content.details.insert(QStringLiteral("length"), source.size());
        // Runs of at most largestSegment, one after the other.
        const qint64 size = source.size();
        for (qint64 at = 0; at < size; at += largestSegment) {
            MergeSegment run;
            run.address = run.dataOffset = at;
            run.size = quint32(qMin(size - at, largestSegment));
            content.segments.append(run);
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
