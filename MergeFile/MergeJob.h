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
    qint64 imageSize = 0;
};

// The Merge button's work on plain data: checks the rows, lays the files out from
// 0x1000 upwards with 0xFF in every gap and writes the image. Every outcome is
// reported through the log sink as one line in the window's wording; nothing is
// written unless the whole image was assembled.
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

    // Runs every check, opening (not yet reading) the sources, and works out the
    // layout. Logs "Begin to merge..." unless the output name is empty.
    bool check();
    // Assembles the image in memory and replaces the output with it. Needs a
    // successful check().
    bool write();
    bool run() { return check() && write(); }

    const MergeLayout &layout() const;
    // Lets write() use a second thread: the sources are read into their places
    // in two halves at once, and the image is hashed while it goes to disk.
    // Off by default: the window stays on its one thread and needs no hash.
    void setUseSecondThread(bool on);
    // SHA-256 of the image that write() produced; empty unless the second
    // thread was allowed and the write succeeded.
    QByteArray imageSha256() const;

    // The address a row's text stands for: base-16 conversion, 0 when the text
    // does not convert in full or does not fit a signed 32-bit integer.
    static qint32 addressFromText(const QString &text);
    // The largest image this build can hold in memory.
    static qint64 maxImageSize();

private:
    struct Private;
    std::unique_ptr<Private> d;
};

#endif // MERGEJOB_H
