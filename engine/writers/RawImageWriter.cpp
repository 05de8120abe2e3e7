#include "ImageWriter.h"

namespace {

// The flat image: every byte from the base to the end, the gaps filled.
class RawImageWriter : public ImageWriter
{
public:
    RawImageWriter(ByteSink &output, char fillByte)
        : ImageWriter(output)
        , fillByte(fillByte)
    {
    }

    qint64 outputSize(const MergeLayout &layout) const override { return layout.imageSize; }
    bool fill(qint64, qint64 count) override
    {
        for (qint64 left = count; left > 0; left -= fillBlockSize) {
            if (!output.write(fillBlock(fillByte), qMin(left, fillBlockSize)))
                return false;
        }
        return true;
    }
    bool data(qint64, const char *bytes, qint64 count, const MergePiece &) override
    {
        return output.write(bytes, count);
    }
    bool finish() override { return true; }

private:
    char fillByte;
};

} // namespace

// The default, where no format is given and no name chooses one.
const OutputFormatInfo &rawImageFormat()
{
    static const OutputFormatInfo format = [] {
        OutputFormatInfo f;
        f.name = "bin";
        f.summary = "the flat image, the default";
        f.writesGaps = true;
        f.isTheImage = true;
        f.make = [](ByteSink &output, const WriterSettings &settings) {
            return std::unique_ptr<ImageWriter>(new RawImageWriter(output, settings.fill()));
        };
        return f;
    }();
    return format;
}

MERGEFILE_REGISTER(RawImageWriter)
{
    OutputFormats::add(rawImageFormat());
}
