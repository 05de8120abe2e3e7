#ifndef IMAGEWRITER_H
#define IMAGEWRITER_H

#include "Bytes.h"
#include "FormatSettings.h"
#include "MergeLayout.h"
#include "Registry.h"
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

// What a writer is made with: the checked layout it writes (its fill byte
// too), and what the format takes: the common settings its row accepts and
// its own.
struct WriterSettings
{
    const MergeLayout *layout = nullptr;
    int recordSize = 16; // data bytes in one record, where the row has records
    FormatSettings own;  // what the format's own options set

    // The fill byte of leading fill, gaps, holes and padding: the layout's.
    char fill() const { return layout ? layout->fill : imageFillByte; }
};

// One output format: a row that names what it can do, and its own options.
// Each is a writer in a file of its own that registers its row
// (MERGEFILE_REGISTER, Registry.h); nothing else names it.
struct OutputFormatInfo
{
    const char *name = "";     // as --format takes it
    const char *summary = "";  // what --help says of it
    // The endings of an output's name that choose it when no format is
    // given, space-separated, any case (".hex .ihex"); "": none.
    const char *extensions = "";
    // The flat image: fill between files, and padding (it takes --pad-to).
    bool writesGaps = false;
    // The most data bytes in one record (it takes --record-size); 0: no
    // records.
    int maxRecordSize = 0;
    // Its bytes are the flat image itself, not a text of it.
    bool isTheImage = false;
    // It writes what the inputs' readers find particular to their formats
    // (an ELF input's machine): the merge gathers it then.
    bool readsInputDetails = false;
    QVector<FormatOption> options; // its own
    std::unique_ptr<ImageWriter> (*make)(ByteSink &output, const WriterSettings &settings) = nullptr;

    bool takesRecordSize() const { return maxRecordSize > 0; }
    bool takesPadding() const { return writesGaps; }
    const FormatOption *option(const QString &optionName) const { return findOption(options, optionName); }
};

inline QLatin1String registryName(const OutputFormatInfo &format)
{
    return QLatin1String(format.name);
}

namespace OutputFormats {
// A writer's file registers its row with this.
void add(const OutputFormatInfo &format);
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
