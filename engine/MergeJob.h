#ifndef MERGEJOB_H
#define MERGEJOB_H

#include "MergeLayout.h"
#include "MergeMessages.h"
#include "MergeOptions.h"

#include <QByteArray>
#include <QString>
#include <QVector>

#include <functional>
#include <memory>
#include <optional>

// The Merge button's work on plain data, for every front end. check() reads
// the inputs and runs every check, working out which bytes go where, before
// anything is written; write() streams the image in address order through a
// writer into the output, which is replaced only once the whole image is on
// disk. Memory stays a few buffers whatever the image's size. Every outcome
// is reported through the log as one line in the window's wording; a step
// that is refused keeps its refusal as data too (refusal()).
//
// The stages, each in its own folder, in the order a merge runs them:
// input (the files, told and read once), layout, checks, fields, stream,
// writers, output; platform beneath them all.
class MergeJob
{
public:
    using LogSink = Messages::Log;

    MergeJob(QVector<MergeRow> rows, QString outputFileName, LogSink log, MergeOptions options = MergeOptions());
    ~MergeJob();
    MergeJob(const MergeJob &) = delete;
    MergeJob &operator=(const MergeJob &) = delete;

    // Reads the inputs and runs every check. A pipe or device is read here
    // (up to the most that can fit) into a temporary file, since only its end
    // tells its size. Logs "Begin to merge..." unless the output name is
    // empty.
    bool check();
    // Writes the image and replaces the output with it. Needs a successful
    // check().
    bool write();
    // What a front end writes beside the output (a map, a picture): made
    // once the new output is whole and checked, before it replaces
    // anything, so that one that cannot be written stops the merge while the
    // old output still stands (a device or pipe, imageOut, was written as
    // it went); put in place once the output is, before the merge is said to
    // have succeeded. Each logs its own line when it fails.
    struct Companions
    {
        std::function<bool(bool imageOut)> make;
        std::function<bool()> place;
    };
    void setCompanions(Companions companions);
    bool run() { return check() && write(); }
    // What write() would find of the output, for a merge that writes nothing:
    // its folder, links, locks and room, checked and reported as write()
    // would, but nothing made or opened. Needs a successful check().
    bool checkOutput();
    // Reads every file as write() would and works out the digests, but writes
    // nothing. Needs a successful check().
    bool measure();

    // What stopped the last of check(), write(), checkOutput() and measure()
    // to say false: none where it said true, or was called without the
    // successful check it needs, or where what the front end writes beside
    // the output stopped it (which tells its own).
    std::optional<Refusal> refusal() const;

    const MergeLayout &layout() const;
    // SHA-256 of what write() wrote and its length; the hash is empty unless
    // the options asked for it.
    QByteArray outputSha256() const;
    qint64 outputSize() const;
    // The image's and every file's, once written or measured, when the
    // options asked for them.
    const MergeDigests &digests() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

#endif // MERGEJOB_H
