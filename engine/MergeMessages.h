#ifndef MERGEMESSAGES_H
#define MERGEMESSAGES_H

#include "Refusal.h"

#include <QString>
#include <QtGlobal>

#include <functional>
#include <type_traits>
#include <utility>

// Every line a merge writes to its log, in the window's wording: progress,
// success, and the one "Error!!!" line of a merge that stops, which a
// Refusal renders. Translated in the window's context; %1 and the like are
// filled after translation.
namespace Messages {

// Where a stage's lines go: progress lines as text, a refusal as data to
// whoever watches for it and then as its line. Made from a front end's line
// handler, which gets every line, refusals' too, as text.
class Log
{
public:
    using Lines = std::function<void(const QString &)>;
    using Watcher = std::function<void(const Refusal &)>;

    Log() = default;
    template <typename Handler,
              typename = std::enable_if_t<!std::is_same<std::decay_t<Handler>, Log>::value
                                          && std::is_constructible<Lines, Handler>::value>>
    Log(Handler &&lines)
        : lines(std::forward<Handler>(lines))
    {
    }

    void progress(const QString &line) const
    {
        if (lines)
            lines(line);
    }
    // Says false, for a stage to return.
    bool refuse(const Refusal &refusal) const;
    // This log, with watch told of each refusal before anyone else.
    Log watched(Watcher watch) const;

private:
    Lines lines;
    Watcher watcher;
};

QString beginToMerge();
QString mergeSuccess();

// The rows and what they name.
QString outputNameEmpty();
QString rowIncomplete(int row);
QString duplicateAddress(int row);
QString noFileToMerge();
QString cannotOpen(const QString &name);
QString failToRead(const QString &name);
QString failToStore(const QString &name);
QString cannotRead(const QString &name, const QString &problem);
QString needsAnAddress(const QString &name);
QString notEnoughMemory();

// Where the files lie.
QString belowBase(qint64 base);
QString outOfRange(const QString &name);
QString imageTooLarge(qint64 size);
QString longerThanPad(qint64 size, qint64 padTo);
QString twoBytesForOneAddress(const QString &name, qint64 address);
QString overlap(const QString &first, const QString &second, qint64 address);
QString pastAddressSpace(const QString &name);
QString nothingKept();
QString slotTooSmall(const QString &name, qint64 size, qint64 slot, qint64 address);

// Fields, and the flash.
QString fieldName(const QString &text, bool startsSentence);
QString fieldBelowBase(const QString &field, qint64 base);
QString fieldOnData(const QString &field, const QString &owner);
QString fieldsOverlap(const QString &first, const QString &second);
QString fieldOutsideImage(const QString &field, qint64 from, qint64 to, qint64 base, qint64 end);
QString fieldInsideItsRange(const QString &field);
QString fieldChanged(const QString &field);
QString belowFlash(const QString &owner, qint64 address, qint64 origin);
QString pastFlash(const QString &owner, qint64 end, qint64 flashEnd);
QString imageOutsideFlash(qint64 start, qint64 end, qint64 origin, qint64 flashEnd);
QString sharedSector(const QString &first, const QString &second, qint64 sector);

// The output.
QString failToOpenOutput(const QString &name);
QString failToWriteOutput(const QString &name);
QString outputLocked(const QString &name);
QString outputIsASource(const QString &name);
QString outputInPlaceIsASource(const QString &name);
QString outputForeignLink(const QString &name);
QString outputLinkLoop(const QString &name);
QString noRoomToStage(const QString &name);
QString outputHeldOpen(const QString &name);
QString outputNotAsMerged(const QString &name, bool kept);

// The command line's own files and streams.
QString mapForeignLink(const QString &name);
QString mapLinkLoop(const QString &name);
QString failToOpenMap(const QString &name);
QString failToWriteMap(const QString &name);
QString pictureForeignLink(const QString &name);
QString pictureLinkLoop(const QString &name);
QString failToOpenPicture(const QString &name);
QString failToWritePicture(const QString &name);
// A map or picture that goes with an output and cannot be written, and what
// became of the output: left as it was, or written all the same.
QString failToOpenMap(const QString &name, const QString &output);
QString failToWriteMap(const QString &name, const QString &output, bool outputWritten);
QString failToOpenPicture(const QString &name, const QString &output);
QString failToWritePicture(const QString &name, const QString &output, bool outputWritten);
QString failToWriteStandardOutput();
QString failToWriteStandardError();

// Looking at images.
QString cannotReadMap(const QString &map, const QString &problem);
QString mapNamesNoOutput(const QString &map);
QString cannotReadBack(const QString &format, const QString &readable);

// MCUboot images.
QString mcubootOption(const QString &option, const QString &value, const QString &reason);
QString mcubootVersion(const QString &text);
QString mcubootHeaderRoom(const QString &payload, int headerSize);
QString mcubootTooLarge(const QString &payload, qint64 size, qint64 limit);
QString mcubootSlotTooSmall(const QString &payload, qint64 size, qint64 slot);
QString mcubootKeyKind(const QString &key, const QString &kind);
QString mcubootKeyEncrypted(const QString &key);
QString mcubootKeyUnreadable(const QString &key, const QString &problem);
QString mcubootNoOpenSsl(bool signing);
QString mcubootBadSignature(const QString &signature);
QString mcubootSignatureMismatch(const QString &signature, const QString &key);
QString mcubootCheckFails(const QString &image, const QString &what);

} // namespace Messages

#endif // MERGEMESSAGES_H
