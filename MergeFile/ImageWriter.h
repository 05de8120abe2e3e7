#ifndef IMAGEWRITER_H
#define IMAGEWRITER_H

#include <QtGlobal>

class OutputFile;
struct MergeLayout;

// 1 MiB of fill bytes (0xFF), shared and never written to.
const char *fillBlock();
constexpr qint64 fillBlockSize = qint64(1) << 20;

// Turns a checked layout into the bytes of one output format. The merge hands
// it the image in address order, as runs of fill and runs of file bytes, and
// it writes what its format makes of them to the output.
class ImageWriter
{
public:
    explicit ImageWriter(OutputFile &output)
        : output(output)
    {
    }
    virtual ~ImageWriter() = default;
    ImageWriter(const ImageWriter &) = delete;
    ImageWriter &operator=(const ImageWriter &) = delete;

    // The exact number of bytes the format writes for the layout, known
    // before the first byte so that the disk space can be reserved.
    virtual qint64 outputSize(const MergeLayout &layout) const = 0;
    virtual bool fill(qint64 address, qint64 count) = 0;
    virtual bool data(qint64 address, const char *bytes, qint64 count) = 0;
    virtual bool finish() = 0;

protected:
    OutputFile &output;
};

// The flat image: every byte from 0x1000 to the end of the last file, the
// gaps filled.
class RawImageWriter : public ImageWriter
{
public:
    using ImageWriter::ImageWriter;

    qint64 outputSize(const MergeLayout &layout) const override;
    bool fill(qint64 address, qint64 count) override;
    bool data(qint64 address, const char *bytes, qint64 count) override;
    bool finish() override { return true; }
};

#endif // IMAGEWRITER_H
