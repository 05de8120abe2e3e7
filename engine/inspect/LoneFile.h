#ifndef LONEFILE_H
#define LONEFILE_H

#include "MergeLayout.h"
#include "MergeMessages.h"
#include "input/Sources.h"
#include "stream/ImageStreamer.h"

#include <QString>

// How a file is looked at on its own.
struct LoneFileOptions
{
    qint64 base = defaultImageBase; // where raw data lies
    char fill = imageFillByte;      // of its holes, in its flat image
    bool detectFormats = true;      // off: raw data, whatever it holds
    const InputReader *format = nullptr; // read as this format; null: told by the rule
    bool details = false;           // what is particular to its format
    // >= 0: moved so that its lowest address lies there, as a merge moves a
    // file given an address.
    qint64 moveTo = -1;
};

// One file read as a merge reads it, alone: told by the same rule, through
// the same readers, with the same refusals; at its own addresses, raw data at
// the base. Its runs are the layout's pieces; its bytes are read again from
// where the merge would read them, chunk by chunk, never held whole.
class LoneFile
{
public:
    LoneFile(const QString &name, const LoneFileOptions &options, Messages::Log log);
    ~LoneFile();
    LoneFile(const LoneFile &) = delete;
    LoneFile &operator=(const LoneFile &) = delete;

    // Reads it; false when it cannot be, the reason logged in one line.
    bool read();

    const QString &name() const { return fileName; }
    // One placement, its pieces in address order; the image from the lowest
    // address to the end of the highest byte (from the base for raw data).
    const MergeLayout &layout() const { return lay; }
    const MergePlacement &placement() const { return lay.placements.first(); }
    bool isEmpty() const { return lay.pieces.isEmpty(); }
    qint64 lowest() const;
    qint64 end() const; // the first address after the highest byte
    // The file's own length on disk (or of a stream's copy).
    qint64 length() const;
    // count bytes of piece p from address at (within it) into `into`.
    bool readPiece(const MergePiece &piece, qint64 at, char *into, qint64 count);
    // Walks its flat image from..to (fill in the holes) to the sinks.
    ImageStreamer::Result walk(qint64 from, qint64 to, std::initializer_list<ImageSink *> sinks);

private:
    QString fileName;
    LoneFileOptions options;
    Messages::Log log;
    SourceSet sources;
    MergeLayout lay;
};

#endif // LONEFILE_H
