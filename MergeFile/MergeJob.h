#ifndef MERGEJOB_H
#define MERGEJOB_H

#include "MergeLayout.h"

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
    qint64 slotSize = 0; // the room the file may take from its address; 0: any
};

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

    static constexpr qint32 imageBase = qint32(defaultImageBase);
    static constexpr char fillByte = imageFillByte;

    // How an address text is read.
    enum class AddressRule {
        Window,     // addressFromText(): base 16, 0 when it does not convert
        FullRange,  // pairAddress(): 0 to FFFFFFFF, or "-" for an input's own addresses
    };

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
    // The address the image's first byte stands for (0x1000 by default).
    void setBase(qint64 address);
    // Reads Intel HEX, S-record and ELF inputs as what they are; off, every
    // input is raw data (the window's rule).
    void setInputDetection(bool on);
    void setAddressRule(AddressRule rule);
    // Checksums and lengths written into the image, worked out in this order.
    void setFields(const QVector<MergeField> &fields);
    // The flash the image is for: every byte of it must lie there, and two
    // files (or a file and a field) may not share an erase sector. A size of
    // 0 leaves either unchecked.
    void setFlash(qint64 origin, qint64 size);
    void setSectorSize(qint64 size);
    // The byte of leading fill, gaps, holes and padding (0xFF by default).
    void setFillByte(char byte);
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
    // An address of the full 32-bit range (0 to FFFFFFFF, with or without
    // 0x; a negative one as the window reads it), or "-": an input at its own
    // addresses. False for any other text.
    static bool pairAddress(const QString &text, qint64 *address, bool *ownAddresses);
    // The most data bytes one record of the format can hold.
    static int maxRecordSize(OutputFormat format);
    // The largest image: from the base (0x1000 unless given) to the end of the
    // 32-bit address space. The same on every build, since the image is never
    // held in memory.
    static qint64 maxImageSize(qint64 base = defaultImageBase);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

#endif // MERGEJOB_H
