#ifndef MERGEJOB_H
#define MERGEJOB_H

#include <QByteArray>
#include <QString>
#include <QVector>
#include <QtGlobal>

#include <functional>
#include <memory>

// One row of the merge: whether it takes part, the source file and the start
// address exactly as the user typed it.
struct MergeRow
{
    bool enabled = false;
    QString fileName;
    QString addressText;
};

// Where one source file lands in the image. Offsets and sizes are 64-bit so that
// an address near the top of the 32-bit range plus a large file cannot wrap.
struct MergePlacement
{
    int row = 0; // 1-based, as in "file3"
    qint32 address = 0;
    QString fileName;
    qint64 offset = 0;
    qint64 size = 0;
    qint64 fillAfter = 0; // 0xFF bytes between this file and the next one
};

struct MergeLayout
{
    qint64 leadingFill = 0; // 0xFF bytes between 0x1000 and the first file
    QVector<MergePlacement> placements; // ascending address order
    qint64 trailingFill = 0; // 0xFF bytes after the last file, up to the pad size
    qint64 imageSize = 0;    // from 0x1000 to the end, trailing fill included
};

// Checksums as tools print them: CRC-32 in 8 and SHA-256 in 64 lower-case
// hexadecimal digits.
struct MergeDigest
{
    QByteArray crc32;
    QByteArray sha256;
};

// The flat image's checksums (fill included, whatever the output format) and
// each file's, in layout order.
struct MergeDigests
{
    MergeDigest image;
    QVector<MergeDigest> files;
};

// How the image is written: the flat image, or records that leave the gaps
// out.
enum class OutputFormat { Raw, IntelHex, SRecord };

// The Merge button's work on plain data. check() runs every check and works
// out the layout (which bytes go where) before anything is written; write()
// streams the image in address order through a writer into the output, which
// is replaced only once the whole image is on disk. Memory stays a few
// buffers whatever the image's size. Every outcome is reported through the
// log sink as one line in the window's wording.
class MergeJob
{
public:
    using LogSink = std::function<void(const QString &)>;

    static constexpr qint32 imageBase = 0x1000;
    static constexpr char fillByte = char(0xFF);

    MergeJob(QVector<MergeRow> rows, QString outputFileName, LogSink log);
    ~MergeJob();
    MergeJob(const MergeJob &) = delete;
    MergeJob &operator=(const MergeJob &) = delete;

    // Runs every check and works out the layout. Files are sized, not read;
    // a pipe or device is read here (up to the most that can fit) into a
    // temporary file, since only its end tells its size. Logs
    // "Begin to merge..." unless the output name is empty.
    bool check();
    // Writes the image and replaces the output with it. Needs a successful
    // check().
    bool write();
    bool run() { return check() && write(); }
    // What write() would find of the output, for a merge that writes nothing:
    // its folder, links, locks and room, checked and reported as write()
    // would, but nothing made or opened. Needs a successful check().
    bool checkOutput();
    // Reads every file as write() would and works out the digests, but writes
    // nothing. Needs a successful check().
    bool measure();

    const MergeLayout &layout() const;

    // The output format (the flat image by default) and the most data bytes
    // in one record of the record formats.
    void setFormat(OutputFormat format, int recordSize = 16);
    // Fills the flat image with 0xFF up to this many bytes; an image that is
    // already longer is refused. 0: no padding.
    void setPadTo(qint64 size);
    // Writes to the process's standard output instead of a named file; the
    // output name is then only what messages call it.
    void setOutputToStandardOutput(bool on);
    // Lets write() hash the output, on a second thread that reads it back while
    // it goes to disk (inline where that cannot be had). Off by default: the
    // window stays on its one thread and needs no hash.
    void setUseSecondThread(bool on);
    // SHA-256 of what write() wrote (for the flat image: of the image) and its
    // length; the hash is empty unless the second thread was allowed.
    QByteArray outputSha256() const;
    qint64 outputSize() const;
    // Makes write() and measure() work out the digests of the image and of
    // every file.
    void setComputeDigests(bool on);
    const MergeDigests &digests() const;
    // How long a pipe or terminal may stay silent before it counts as failed.
    void setStreamIdleTimeout(int milliseconds);

    // The address a row's text stands for: base-16 conversion, 0 when the text
    // does not convert in full or does not fit a signed 32-bit integer (ok
    // then says false).
    static qint32 addressFromText(const QString &text, bool *ok = nullptr);
    // The most data bytes one record of the format can hold.
    static int maxRecordSize(OutputFormat format);
    // The largest image: from 0x1000 to the end of the 32-bit address space.
    // The same on every build, since the image is never held in memory.
    static qint64 maxImageSize();

private:
    struct Private;
    std::unique_ptr<Private> d;
};

#endif // MERGEJOB_H
