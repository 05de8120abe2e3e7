#ifndef IMAGEWRITER_H
#define IMAGEWRITER_H

#include "Bytes.h"
#include "MergeLayout.h"
#include "stream/ImageSink.h"

#include <QString>
#include <QStringList>
#include <QVector>

#include <memory>

// Turns the image, handed over in address order as runs of fill and of
// file bytes, into the bytes of one output format.
class ImageWriter : public ImageSink
{
public:
    explicit ImageWriter(ByteSink &output)
        : output(output)
    {
    }
    ImageWriter(const ImageWriter &) = delete;
    ImageWriter &operator=(const ImageWriter &) = delete;

    // The exact number of bytes the format writes for the layout, known
    // before the first byte so that the disk space can be reserved.
    virtual qint64 outputSize(const MergeLayout &layout) const = 0;
    virtual bool finish() = 0;

protected:
    ByteSink &output;
};

// What a writer is made with.
struct WriterSettings
{
    char fill = imageFillByte;
    int recordSize = 16; // data bytes in one record, for the record formats
    const MergeLayout *layout = nullptr; // the checked layout it writes
    qint64 uf2Family = -1;  // UF2 blocks' family ID; -1: none given
    int wordBits = 8;       // of a Verilog memory word
    QString cName;          // the C array's name
};

// One output format. The formats are a registry (OutputFormats.cpp): a new
// one is a writer of its own file and a row there.
struct OutputFormatInfo
{
    const char *name;     // as --format takes it
    const char *summary;  // what --help says of it
    // The endings of an output's name that choose it when no format is
    // given, space-separated, any case (".hex .ihex"); "": none.
    const char *extensions;
    bool writesGaps;      // the flat image: fill between files, and padding
    int maxRecordSize;    // the most data bytes in one record; 0: no records
    bool isTheImage;      // its bytes are the flat image itself, not a text of it
    std::unique_ptr<ImageWriter> (*make)(ByteSink &output, const WriterSettings &settings);
};

namespace OutputFormats {
// In the order --help lists them, the flat image first.
const QVector<const OutputFormatInfo *> &all();
const OutputFormatInfo *find(const QString &name);
const OutputFormatInfo &flat();
// The format an output's name asks for by its ending; the flat image where
// none does.
const OutputFormatInfo &forFileName(const QString &fileName);
QStringList names();
} // namespace OutputFormats

#endif // IMAGEWRITER_H
