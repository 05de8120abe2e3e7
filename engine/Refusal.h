#ifndef REFUSAL_H
#define REFUSAL_H

#include "MergeLayout.h"

#include <QString>
#include <QtGlobal>

// Why a merge, or a look at one file, stopped: what was refused, the row,
// file, field and address it concerns where it concerns one, and the one
// "Error!!!" line that tells it in the window's wording. Plain data: each
// stage makes its own through the functions below, which fill the data and
// render the line together, so that the two cannot part; front ends read the
// data and show the line.
struct Refusal
{
    enum class Kind {
        // The rows and what they name.
        OutputNameEmpty,
        RowIncomplete,
        DuplicateAddress,
        NoFileToMerge,
        CannotOpen,
        FailToRead,
        FailToStore,
        CannotRead, // the file is damaged, or holds nothing
        NeedsAnAddress,
        NotEnoughMemory,
        // Where the files lie.
        BelowBase,
        OutOfRange,
        ImageTooLarge,
        LongerThanPad,
        TwoBytesForOneAddress,
        Overlap,
        PastAddressSpace,
        NothingKept,
        SlotTooSmall,
        // Fields, and the flash.
        FieldBelowBase,
        FieldOnData,
        FieldsOverlap,
        FieldOutsideImage,
        FieldInsideItsRange,
        FieldChanged,
        BelowFlash,
        PastFlash,
        ImageOutsideFlash,
        SharedSector,
        // The output.
        FailToOpenOutput,
        FailToWriteOutput,
        OutputLocked,
        OutputIsASource,
        OutputInPlaceIsASource,
        OutputForeignLink,
        OutputLinkLoop,
        NoRoomToStage,
        OutputHeldOpen,
        OutputNotAsMerged,
        // The command line's own files and streams.
        MapForeignLink,
        MapLinkLoop,
        FailToOpenMap,
        FailToWriteMap,
        PictureForeignLink,
        PictureLinkLoop,
        FailToOpenPicture,
        FailToWritePicture,
        FailToWriteStandardOutput,
        FailToWriteStandardError,
        // Looking at images: a map that cannot be read, one that names no
        // output, an image whose format cannot be read back.
        CannotReadMap,
        MapNamesNoOutput,
        CannotReadBack,
        // MCUboot images: the options, the payload, the slot, the keys and
        // signatures, and an image checked.
        McubootOption,
        McubootVersion,
        McubootHeaderRoom,
        McubootTooLarge,
        McubootSlotTooSmall,
        McubootKeyKind,
        McubootKeyEncrypted,
        McubootKeyUnreadable,
        McubootNoOpenSsl,
        McubootBadSignature,
        McubootSignatureMismatch,
        McubootCheckFails,
    };

    // What a line names where a file's bytes or a field are meant: a file
    // (its row and name) or a field (as given).
    struct Owner
    {
        int row = 0;
        QString file;
        QString field; // empty: a file
    };

    Kind kind = Kind::NoFileToMerge;
    int row = 0;          // 1-based, as in "file3"; 0: no row
    QString file;         // the file concerned, or the output, map or picture; empty: none
    int otherRow = 0;     // a second file, where two are at odds (an overlap, a
    QString otherFile;    // shared sector, a row with the same address), or the output beside a map
    QString field;        // a field as given, where one is concerned
    QString otherField;   // a second field (fields that overlap or share a sector)
    qint64 address = -1;  // where it went wrong, the first address in dispute; -1: nowhere in particular
    AddressRange range;   // the addresses it concerns (a file, a field's bytes or range, a slot, a sector); empty: none
    QString text;         // the line

    const QString &line() const { return text; }
    bool hasAddress() const { return address >= 0; }

    // The rows and what they name.
    static Refusal outputNameEmpty();
    static Refusal rowIncomplete(int row, const QString &file);
    // first: the row that has the address already.
    static Refusal duplicateAddress(int row, const QString &file, qint64 address, int firstRow, const QString &firstFile);
    static Refusal noFileToMerge();
    static Refusal cannotOpen(int row, const QString &file);
    static Refusal failToRead(int row, const QString &file);
    static Refusal failToStore(int row, const QString &file);
    static Refusal cannotRead(int row, const QString &file, const QString &problem);
    static Refusal needsAnAddress(int row, const QString &file);
    static Refusal notEnoughMemory();

    // Where the files lie. address: where the file lies below the base;
    // where it runs into the next file (-1: a stream too long to be taken
    // at all); the end of the address range, which it runs past.
    static Refusal belowBase(qint64 base, int row, const QString &file, qint64 address);
    static Refusal outOfRange(int row, const QString &file, qint64 address, AddressRange range = {});
    static Refusal imageTooLarge(qint64 size, int row, const QString &file, AddressRange range);
    static Refusal longerThanPad(qint64 base, qint64 size, qint64 padTo);
    static Refusal twoBytesForOneAddress(int row, const QString &file, qint64 address);
    static Refusal overlap(const Owner &first, const Owner &second, qint64 address);
    static Refusal pastAddressSpace(int row, const QString &file, AddressRange range);
    static Refusal nothingKept();
    static Refusal slotTooSmall(int row, const QString &file, qint64 size, qint64 slot, qint64 address);

    // Fields (address: the field's), and the flash.
    static Refusal fieldBelowBase(const QString &field, qint64 address, int size, qint64 base);
    static Refusal fieldOnData(const QString &field, qint64 address, int size, const Owner &owner);
    static Refusal fieldsOverlap(const QString &first, const QString &second, qint64 address, int size);
    static Refusal fieldOutsideImage(const QString &field, qint64 address, qint64 from, qint64 to, qint64 base, qint64 end);
    static Refusal fieldInsideItsRange(const QString &field, qint64 address, qint64 from, qint64 to);
    static Refusal fieldChanged(const QString &field, qint64 address, qint64 from, qint64 to);
    static Refusal belowFlash(const Owner &owner, AddressRange bytes, qint64 origin);
    static Refusal pastFlash(const Owner &owner, AddressRange bytes, qint64 flashEnd);
    static Refusal imageOutsideFlash(qint64 start, qint64 end, qint64 origin, qint64 flashEnd);
    static Refusal sharedSector(const Owner &first, const Owner &second, qint64 sector, qint64 sectorSize);

    // The output, named in file.
    static Refusal failToOpenOutput(const QString &output);
    static Refusal failToWriteOutput(const QString &output);
    static Refusal outputLocked(const QString &output);
    static Refusal outputIsASource(const QString &output);
    static Refusal outputInPlaceIsASource(const QString &output);
    static Refusal outputForeignLink(const QString &output);
    static Refusal outputLinkLoop(const QString &output);
    static Refusal noRoomToStage(const QString &output);
    static Refusal outputHeldOpen(const QString &output);
    static Refusal outputNotAsMerged(const QString &output, bool kept);

    // The command line's own files (the output they go with in otherFile),
    // and streams.
    static Refusal mapForeignLink(const QString &map);
    static Refusal mapLinkLoop(const QString &map);
    static Refusal failToOpenMap(const QString &map);
    static Refusal failToWriteMap(const QString &map);
    static Refusal failToOpenMap(const QString &map, const QString &output);
    static Refusal failToWriteMap(const QString &map, const QString &output, bool outputWritten);
    static Refusal pictureForeignLink(const QString &picture);
    static Refusal pictureLinkLoop(const QString &picture);
    static Refusal failToOpenPicture(const QString &picture);
    static Refusal failToWritePicture(const QString &picture);
    static Refusal failToOpenPicture(const QString &picture, const QString &output);
    static Refusal failToWritePicture(const QString &picture, const QString &output, bool outputWritten);
    static Refusal failToWriteStandardOutput();
    static Refusal failToWriteStandardError();

    // Looking at images.
    static Refusal cannotReadMap(const QString &map, const QString &problem);
    static Refusal mapNamesNoOutput(const QString &map);
    static Refusal cannotReadBack(const QString &image, const QString &format, const QString &readable);

    // MCUboot images. file: the payload, key or image named; field: the
    // option, where one is at fault. range: a slot's addresses from 0.
    static Refusal mcubootOption(const QString &option, const QString &value, const QString &reason);
    static Refusal mcubootVersion(const QString &text);
    static Refusal mcubootHeaderRoom(const QString &payload, int headerSize);
    static Refusal mcubootTooLarge(const QString &payload, qint64 size, qint64 limit);
    static Refusal mcubootSlotTooSmall(const QString &payload, qint64 size, qint64 slot);
    static Refusal mcubootKeyKind(const QString &key, const QString &kind);
    static Refusal mcubootKeyEncrypted(const QString &key);
    static Refusal mcubootKeyUnreadable(const QString &key, const QString &problem);
    // signing: to sign (true) or to check a signature (false).
    static Refusal mcubootNoOpenSsl(bool signing);
    static Refusal mcubootBadSignature(const QString &signature);
    static Refusal mcubootSignatureMismatch(const QString &signature, const QString &key);
    static Refusal mcubootCheckFails(const QString &image, const QString &what);
};

#endif // REFUSAL_H
