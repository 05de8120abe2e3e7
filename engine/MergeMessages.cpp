#include "MergeMessages.h"

#include "Address.h"

#include <QCoreApplication>

namespace Messages {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("MergeMainWindow", text);
}

} // namespace

bool Log::refuse(const Refusal &refusal) const
{
    if (watcher)
        watcher(refusal);
    if (lines)
        lines(refusal.line());
    return false;
}

Log Log::watched(Watcher watch) const
{
    Log log = *this;
    log.watcher = [watch = std::move(watch), before = watcher](const Refusal &refusal) {
        watch(refusal);
        if (before)
            before(refusal);
    };
    return log;
}

QString beginToMerge()
{
    return tr("Begin to merge...");
}

QString mergeSuccess()
{
    return tr("Merge success!");
}

QString outputNameEmpty()
{
    return tr("Error!!!Merge file name cannot be empty!");
}

QString rowIncomplete(int row)
{
    return tr("Error!!!File name or start address of file%1 cannot be empty!").arg(row);
}

QString duplicateAddress(int row)
{
    return tr("Error!!!The address of file%1 is duplicated!").arg(row);
}

QString noFileToMerge()
{
    return tr("Error!!!No file to be merged!");
}

QString cannotOpen(const QString &name)
{
    return tr("Error!!!Cannot open file%1!").arg(name);
}

QString failToRead(const QString &name)
{
    return tr("Error!!!Fail to read file%1!").arg(name);
}

QString failToStore(const QString &name)
{
    return tr("Error!!!Fail to store file%1 in a temporary file!").arg(name);
}

QString cannotRead(const QString &name, const QString &problem)
{
    return tr("Error!!!Cannot read %1: %2!").arg(name, problem);
}

QString needsAnAddress(const QString &name)
{
    return tr("Error!!!%1 is not an Intel HEX, S-record, ELF, UF2 or TI-TXT file: it needs an address!").arg(name);
}

QString notEnoughMemory()
{
    return tr("Error!!!Not enough memory to merge!");
}

QString belowBase(qint64 base)
{
    if (base == 0x1000)
        return tr("Error!!!Start address cannot less than 0x1000!");
    return tr("Error!!!Start address cannot less than 0x%1!").arg(QString::number(base, 16).toUpper());
}

QString outOfRange(const QString &name)
{
    return tr("Error!!!File size of %1 is out of range!").arg(name);
}

QString imageTooLarge(qint64 size)
{
    return tr("Error!!!Merge image of %1 bytes is too large!").arg(size);
}

QString longerThanPad(qint64 size, qint64 padTo)
{
    return tr("Error!!!Merge image of %1 bytes is longer than the pad size of %2 bytes!").arg(size).arg(padTo);
}

QString twoBytesForOneAddress(const QString &name, qint64 address)
{
    return tr("Error!!!%1 gives two different bytes for address %2!").arg(name, Address::hex(address));
}

QString overlap(const QString &first, const QString &second, qint64 address)
{
    return tr("Error!!!%1 and %2 overlap at %3!").arg(first, second, Address::hex(address));
}

QString nothingKept()
{
    return tr("Error!!!No byte of the files lies in the ranges kept (--crop, --exclude)!");
}

QString pastAddressSpace(const QString &name)
{
    return tr("Error!!!%1 runs past the end of the 32-bit address range (0xFFFFFFFF)!").arg(name);
}

QString slotTooSmall(const QString &name, qint64 size, qint64 slot, qint64 address)
{
    return tr("Error!!!%1 (%2 bytes) does not fit its slot of %3 bytes at %4!")
        .arg(name)
        .arg(size)
        .arg(slot)
        .arg(Address::hex(address));
}

QString fieldName(const QString &text, bool startsSentence)
{
    return (startsSentence ? tr("Field %1") : tr("field %1")).arg(text);
}

QString fieldBelowBase(const QString &field, qint64 base)
{
    return tr("Error!!!Field %1 lies below the image's base %2!").arg(field, Address::hex(base));
}

QString fieldOnData(const QString &field, const QString &owner)
{
    return tr("Error!!!Field %1 lies on the data of %2!").arg(field, owner);
}

QString fieldsOverlap(const QString &first, const QString &second)
{
    return tr("Error!!!Fields %1 and %2 overlap!").arg(first, second);
}

QString fieldOutsideImage(const QString &field, qint64 from, qint64 to, qint64 base, qint64 end)
{
    return tr("Error!!!Field %1 covers %2 to %3, outside the image (%4 to %5)!")
        .arg(field, Address::hex(from), Address::hex(to), Address::hex(base), Address::hex(end));
}

QString fieldInsideItsRange(const QString &field)
{
    return tr("Error!!!Field %1 lies inside the range it covers!").arg(field);
}

QString fieldChanged(const QString &field)
{
    return tr("Error!!!Field %1 no longer matches the files: one of them changed while it was merged!").arg(field);
}

QString belowFlash(const QString &owner, qint64 address, qint64 origin)
{
    return tr("Error!!!%1 starts at %2, below the flash at %3!").arg(owner, Address::hex(address), Address::hex(origin));
}

QString pastFlash(const QString &owner, qint64 end, qint64 flashEnd)
{
    return tr("Error!!!%1 ends at %2, past the end of the flash at %3!")
        .arg(owner, Address::hex(end), Address::hex(flashEnd));
}

QString imageOutsideFlash(qint64 start, qint64 end, qint64 origin, qint64 flashEnd)
{
    return tr("Error!!!The image runs from %1 to %2, outside the flash (%3 to %4)!")
        .arg(Address::hex(start), Address::hex(end), Address::hex(origin), Address::hex(flashEnd));
}

QString sharedSector(const QString &first, const QString &second, qint64 sector)
{
    return tr("Error!!!%1 and %2 share the erase sector at %3!").arg(first, second, Address::hex(sector));
}

QString failToOpenOutput(const QString &name)
{
    return tr("Error!!!Fail to open merge file%1").arg(name);
}

QString failToWriteOutput(const QString &name)
{
    return tr("Error!!!Fail to write merge file%1").arg(name);
}

QString outputLocked(const QString &name)
{
    return tr("Error!!!Merge file%1 is being written by another program!").arg(name);
}

QString outputIsASource(const QString &name)
{
    return tr("Error!!!Merge file%1 is one of the files to merge!").arg(name);
}

QString outputInPlaceIsASource(const QString &name)
{
    return tr("Error!!!Cannot replace merge file%1 in place: it is one of the files to merge!").arg(name);
}

QString outputForeignLink(const QString &name)
{
    return tr("Error!!!Merge file%1 is a link that another user made in a shared folder!").arg(name);
}

QString outputLinkLoop(const QString &name)
{
    return tr("Error!!!Merge file%1 is a link that leads round in a loop!").arg(name);
}

QString noRoomToStage(const QString &name)
{
    return tr("Error!!!No room in the temporary folder for merge file%1!").arg(name);
}

QString outputHeldOpen(const QString &name)
{
    return tr("Error!!!Cannot replace merge file%1: it is open in another program!").arg(name);
}

QString outputNotAsMerged(const QString &name, bool kept)
{
    return kept ? tr("Error!!!The bytes written for merge file%1 are not the merged image: the file is left as it was!").arg(name)
                : tr("Error!!!The bytes written to merge file%1 are not the merged image!").arg(name);
}

QString mapForeignLink(const QString &name)
{
    return tr("Error!!!Map file%1 is a link that another user made in a shared folder!").arg(name);
}

QString mapLinkLoop(const QString &name)
{
    return tr("Error!!!Map file%1 is a link that leads round in a loop!").arg(name);
}

QString failToOpenMap(const QString &name)
{
    return tr("Error!!!Fail to open map file%1").arg(name);
}

QString failToWriteMap(const QString &name)
{
    return tr("Error!!!Fail to write map file%1").arg(name);
}

QString pictureForeignLink(const QString &name)
{
    return tr("Error!!!Picture file %1 is a link that another user made in a shared folder!").arg(name);
}

QString pictureLinkLoop(const QString &name)
{
    return tr("Error!!!Picture file %1 is a link that leads round in a loop!").arg(name);
}

QString failToOpenPicture(const QString &name)
{
    return tr("Error!!!Fail to open picture file %1").arg(name);
}

QString failToWritePicture(const QString &name)
{
    return tr("Error!!!Fail to write picture file %1").arg(name);
}

QString failToOpenMap(const QString &name, const QString &output)
{
    return tr("Error!!!Fail to open map file%1: merge file%2 is left as it was!").arg(name, output);
}

QString failToWriteMap(const QString &name, const QString &output, bool outputWritten)
{
    return outputWritten ? tr("Error!!!Fail to write map file%1, though merge file%2 was written!").arg(name, output)
                         : tr("Error!!!Fail to write map file%1: merge file%2 is left as it was!").arg(name, output);
}

QString failToOpenPicture(const QString &name, const QString &output)
{
    return tr("Error!!!Fail to open picture file %1: merge file%2 is left as it was!").arg(name, output);
}

QString failToWritePicture(const QString &name, const QString &output, bool outputWritten)
{
    return outputWritten ? tr("Error!!!Fail to write picture file %1, though merge file%2 was written!").arg(name, output)
                         : tr("Error!!!Fail to write picture file %1: merge file%2 is left as it was!").arg(name, output);
}

QString failToWriteStandardOutput()
{
    return tr("Error!!!Fail to write to standard output!");
}

QString failToWriteStandardError()
{
    return tr("Error!!!Fail to write to standard error!");
}

QString cannotReadMap(const QString &map, const QString &problem)
{
    return tr("Error!!!Cannot read map %1: %2!").arg(map, problem);
}

QString mapNamesNoOutput(const QString &map)
{
    return tr("Error!!!Map %1 names no output (a dry run's): give the image to check!").arg(map);
}

QString cannotReadBack(const QString &format, const QString &readable)
{
    return tr("Error!!!A %1 image cannot be read back: verify reads %2 images!").arg(format, readable);
}

QString mcubootOption(const QString &option, const QString &value, const QString &reason)
{
    return tr("Error!!!%1 %2 is not taken: %3!").arg(option, value, reason);
}

QString mcubootVersion(const QString &text)
{
    return tr("Error!!!Image version %1 is not MAJOR.MINOR.REVISION+BUILD within 255.255.65535+4294967295!").arg(text);
}

QString mcubootHeaderRoom(const QString &payload, int headerSize)
{
    return tr("Error!!!%1 does not start with the %2 bytes of zeros the MCUboot header takes: give --pad-header to add them!")
        .arg(payload)
        .arg(headerSize);
}

QString mcubootTooLarge(const QString &payload, qint64 size, qint64 limit)
{
    return tr("Error!!!%1 (%2 bytes) is too large for an MCUboot image of at most %3 bytes!").arg(payload).arg(size).arg(limit);
}

QString mcubootSlotTooSmall(const QString &payload, qint64 size, qint64 slot)
{
    return tr("Error!!!The MCUboot image of %1 (%2 bytes with its header, TLVs and trailer) does not fit its slot of %3 bytes!")
        .arg(payload)
        .arg(size)
        .arg(slot);
}

QString mcubootKeyKind(const QString &key, const QString &kind)
{
    return tr("Error!!!%1 is a key of a kind MCUboot does not take (%2): give an ECDSA P-256 or P-384, Ed25519, RSA-2048 or RSA-3072 key!")
        .arg(key, kind);
}

QString mcubootKeyEncrypted(const QString &key)
{
    return tr("Error!!!Key %1 is encrypted: give its password!").arg(key);
}

QString mcubootKeyUnreadable(const QString &key, const QString &problem)
{
    return tr("Error!!!Cannot read key %1: %2!").arg(key, problem);
}

QString mcubootNoOpenSsl(bool signing)
{
    return signing ? tr("Error!!!This build cannot sign: it has no OpenSSL!")
                   : tr("Error!!!This build cannot check signatures: it has no OpenSSL!");
}

QString mcubootBadSignature(const QString &signature)
{
    return tr("Error!!!Signature %1 is not base64 text!").arg(signature);
}

QString mcubootSignatureMismatch(const QString &signature, const QString &key)
{
    return tr("Error!!!Signature %1 does not match key %2!").arg(signature, key);
}

QString mcubootCheckFails(const QString &image, const QString &what)
{
    return tr("Error!!!MCUboot image %1: %2!").arg(image, what);
}

} // namespace Messages

// Each refusal with its data and the line above that tells it.

namespace {

Refusal made(Refusal::Kind kind, const QString &text)
{
    Refusal r;
    r.kind = kind;
    r.text = text;
    return r;
}

Refusal ofFile(Refusal::Kind kind, int row, const QString &file, const QString &text)
{
    Refusal r = made(kind, text);
    r.row = row;
    r.file = file;
    return r;
}

// As a line names it: a file by its name, a field as "field" and the field.
QString shown(const Refusal::Owner &owner, bool startsSentence)
{
    return owner.field.isEmpty() ? owner.file : Messages::fieldName(owner.field, startsSentence);
}

// The first owner a line names goes in row, file and field, the second in
// their other twins.
void setFirst(Refusal &r, const Refusal::Owner &owner)
{
    r.row = owner.row;
    r.file = owner.file;
    r.field = owner.field;
}

void setSecond(Refusal &r, const Refusal::Owner &owner)
{
    r.otherRow = owner.row;
    r.otherFile = owner.file;
    r.otherField = owner.field;
}

Refusal ofField(Refusal::Kind kind, const QString &field, qint64 address, AddressRange range, const QString &text)
{
    Refusal r = made(kind, text);
    r.field = field;
    r.address = address;
    r.range = range;
    return r;
}

} // namespace

Refusal Refusal::outputNameEmpty()
{
    return made(Kind::OutputNameEmpty, Messages::outputNameEmpty());
}

Refusal Refusal::rowIncomplete(int row, const QString &file)
{
    return ofFile(Kind::RowIncomplete, row, file, Messages::rowIncomplete(row));
}

Refusal Refusal::duplicateAddress(int row, const QString &file, qint64 address, int firstRow, const QString &firstFile)
{
    Refusal r = ofFile(Kind::DuplicateAddress, row, file, Messages::duplicateAddress(row));
    r.address = address;
    r.otherRow = firstRow;
    r.otherFile = firstFile;
    return r;
}

Refusal Refusal::noFileToMerge()
{
    return made(Kind::NoFileToMerge, Messages::noFileToMerge());
}

Refusal Refusal::cannotOpen(int row, const QString &file)
{
    return ofFile(Kind::CannotOpen, row, file, Messages::cannotOpen(file));
}

Refusal Refusal::failToRead(int row, const QString &file)
{
    return ofFile(Kind::FailToRead, row, file, Messages::failToRead(file));
}

Refusal Refusal::failToStore(int row, const QString &file)
{
    return ofFile(Kind::FailToStore, row, file, Messages::failToStore(file));
}

Refusal Refusal::cannotRead(int row, const QString &file, const QString &problem)
{
    return ofFile(Kind::CannotRead, row, file, Messages::cannotRead(file, problem));
}

Refusal Refusal::needsAnAddress(int row, const QString &file)
{
    return ofFile(Kind::NeedsAnAddress, row, file, Messages::needsAnAddress(file));
}

Refusal Refusal::notEnoughMemory()
{
    return made(Kind::NotEnoughMemory, Messages::notEnoughMemory());
}

Refusal Refusal::belowBase(qint64 base, int row, const QString &file, qint64 address)
{
    Refusal r = ofFile(Kind::BelowBase, row, file, Messages::belowBase(base));
    r.address = address;
    r.range = {address, base};
    return r;
}

Refusal Refusal::outOfRange(int row, const QString &file, qint64 address, AddressRange range)
{
    Refusal r = ofFile(Kind::OutOfRange, row, file, Messages::outOfRange(file));
    r.address = address;
    r.range = range;
    return r;
}

Refusal Refusal::imageTooLarge(qint64 size, int row, const QString &file, AddressRange range)
{
    Refusal r = ofFile(Kind::ImageTooLarge, row, file, Messages::imageTooLarge(size));
    r.address = addressSpaceEnd;
    r.range = range;
    return r;
}

Refusal Refusal::longerThanPad(qint64 base, qint64 size, qint64 padTo)
{
    Refusal r = made(Kind::LongerThanPad, Messages::longerThanPad(size, padTo));
    r.address = base + padTo;
    r.range = {base + padTo, base + size};
    return r;
}

Refusal Refusal::twoBytesForOneAddress(int row, const QString &file, qint64 address)
{
    Refusal r = ofFile(Kind::TwoBytesForOneAddress, row, file, Messages::twoBytesForOneAddress(file, address));
    r.address = address;
    return r;
}

Refusal Refusal::overlap(const Owner &first, const Owner &second, qint64 address)
{
    Refusal r = made(Kind::Overlap, Messages::overlap(shown(first, true), shown(second, false), address));
    setFirst(r, first);
    setSecond(r, second);
    r.address = address;
    return r;
}

Refusal Refusal::pastAddressSpace(int row, const QString &file, AddressRange range)
{
    Refusal r = ofFile(Kind::PastAddressSpace, row, file, Messages::pastAddressSpace(file));
    r.address = addressSpaceEnd;
    r.range = range;
    return r;
}

Refusal Refusal::nothingKept()
{
    return made(Kind::NothingKept, Messages::nothingKept());
}

Refusal Refusal::slotTooSmall(int row, const QString &file, qint64 size, qint64 slot, qint64 address)
{
    Refusal r = ofFile(Kind::SlotTooSmall, row, file, Messages::slotTooSmall(file, size, slot, address));
    r.address = address;
    r.range = {address, address + slot};
    return r;
}

Refusal Refusal::fieldBelowBase(const QString &field, qint64 address, int size, qint64 base)
{
    return ofField(Kind::FieldBelowBase, field, address, {address, address + size}, Messages::fieldBelowBase(field, base));
}

Refusal Refusal::fieldOnData(const QString &field, qint64 address, int size, const Owner &owner)
{
    Refusal r = ofField(Kind::FieldOnData, field, address, {address, address + size},
                        Messages::fieldOnData(field, shown(owner, false)));
    r.row = owner.row;
    r.file = owner.file;
    r.otherField = owner.field;
    return r;
}

Refusal Refusal::fieldsOverlap(const QString &first, const QString &second, qint64 address, int size)
{
    Refusal r = ofField(Kind::FieldsOverlap, second, address, {address, address + size}, Messages::fieldsOverlap(first, second));
    r.otherField = first;
    return r;
}

Refusal Refusal::fieldOutsideImage(const QString &field, qint64 address, qint64 from, qint64 to, qint64 base, qint64 end)
{
    return ofField(Kind::FieldOutsideImage, field, address, {from, to}, Messages::fieldOutsideImage(field, from, to, base, end));
}

Refusal Refusal::fieldInsideItsRange(const QString &field, qint64 address, qint64 from, qint64 to)
{
    return ofField(Kind::FieldInsideItsRange, field, address, {from, to}, Messages::fieldInsideItsRange(field));
}

Refusal Refusal::fieldChanged(const QString &field, qint64 address, qint64 from, qint64 to)
{
    return ofField(Kind::FieldChanged, field, address, {from, to}, Messages::fieldChanged(field));
}

Refusal Refusal::belowFlash(const Owner &owner, AddressRange bytes, qint64 origin)
{
    Refusal r = made(Kind::BelowFlash, Messages::belowFlash(shown(owner, true), bytes.from, origin));
    setFirst(r, owner);
    r.address = bytes.from;
    r.range = bytes;
    return r;
}

Refusal Refusal::pastFlash(const Owner &owner, AddressRange bytes, qint64 flashEnd)
{
    Refusal r = made(Kind::PastFlash, Messages::pastFlash(shown(owner, true), bytes.to, flashEnd));
    setFirst(r, owner);
    r.address = flashEnd;
    r.range = bytes;
    return r;
}

Refusal Refusal::imageOutsideFlash(qint64 start, qint64 end, qint64 origin, qint64 flashEnd)
{
    Refusal r = made(Kind::ImageOutsideFlash, Messages::imageOutsideFlash(start, end, origin, flashEnd));
    r.address = start < origin ? start : flashEnd;
    r.range = {start, end};
    return r;
}

Refusal Refusal::sharedSector(const Owner &first, const Owner &second, qint64 sector, qint64 sectorSize)
{
    Refusal r = made(Kind::SharedSector, Messages::sharedSector(shown(first, true), shown(second, false), sector));
    setFirst(r, first);
    setSecond(r, second);
    r.address = sector;
    r.range = {sector, sector + sectorSize};
    return r;
}

Refusal Refusal::failToOpenOutput(const QString &output)
{
    return ofFile(Kind::FailToOpenOutput, 0, output, Messages::failToOpenOutput(output));
}

Refusal Refusal::failToWriteOutput(const QString &output)
{
    return ofFile(Kind::FailToWriteOutput, 0, output, Messages::failToWriteOutput(output));
}

Refusal Refusal::outputLocked(const QString &output)
{
    return ofFile(Kind::OutputLocked, 0, output, Messages::outputLocked(output));
}

Refusal Refusal::outputIsASource(const QString &output)
{
    return ofFile(Kind::OutputIsASource, 0, output, Messages::outputIsASource(output));
}

Refusal Refusal::outputInPlaceIsASource(const QString &output)
{
    return ofFile(Kind::OutputInPlaceIsASource, 0, output, Messages::outputInPlaceIsASource(output));
}

Refusal Refusal::outputForeignLink(const QString &output)
{
    return ofFile(Kind::OutputForeignLink, 0, output, Messages::outputForeignLink(output));
}

Refusal Refusal::outputLinkLoop(const QString &output)
{
    return ofFile(Kind::OutputLinkLoop, 0, output, Messages::outputLinkLoop(output));
}

Refusal Refusal::noRoomToStage(const QString &output)
{
    return ofFile(Kind::NoRoomToStage, 0, output, Messages::noRoomToStage(output));
}

Refusal Refusal::outputHeldOpen(const QString &output)
{
    return ofFile(Kind::OutputHeldOpen, 0, output, Messages::outputHeldOpen(output));
}

Refusal Refusal::outputNotAsMerged(const QString &output, bool kept)
{
    return ofFile(Kind::OutputNotAsMerged, 0, output, Messages::outputNotAsMerged(output, kept));
}

Refusal Refusal::mapForeignLink(const QString &map)
{
    return ofFile(Kind::MapForeignLink, 0, map, Messages::mapForeignLink(map));
}

Refusal Refusal::mapLinkLoop(const QString &map)
{
    return ofFile(Kind::MapLinkLoop, 0, map, Messages::mapLinkLoop(map));
}

Refusal Refusal::failToOpenMap(const QString &map)
{
    return ofFile(Kind::FailToOpenMap, 0, map, Messages::failToOpenMap(map));
}

Refusal Refusal::failToWriteMap(const QString &map)
{
    return ofFile(Kind::FailToWriteMap, 0, map, Messages::failToWriteMap(map));
}

Refusal Refusal::failToOpenMap(const QString &map, const QString &output)
{
    Refusal r = ofFile(Kind::FailToOpenMap, 0, map, Messages::failToOpenMap(map, output));
    r.otherFile = output;
    return r;
}

Refusal Refusal::failToWriteMap(const QString &map, const QString &output, bool outputWritten)
{
    Refusal r = ofFile(Kind::FailToWriteMap, 0, map, Messages::failToWriteMap(map, output, outputWritten));
    r.otherFile = output;
    return r;
}

Refusal Refusal::pictureForeignLink(const QString &picture)
{
    return ofFile(Kind::PictureForeignLink, 0, picture, Messages::pictureForeignLink(picture));
}

Refusal Refusal::pictureLinkLoop(const QString &picture)
{
    return ofFile(Kind::PictureLinkLoop, 0, picture, Messages::pictureLinkLoop(picture));
}

Refusal Refusal::failToOpenPicture(const QString &picture)
{
    return ofFile(Kind::FailToOpenPicture, 0, picture, Messages::failToOpenPicture(picture));
}

Refusal Refusal::failToWritePicture(const QString &picture)
{
    return ofFile(Kind::FailToWritePicture, 0, picture, Messages::failToWritePicture(picture));
}

Refusal Refusal::failToOpenPicture(const QString &picture, const QString &output)
{
    Refusal r = ofFile(Kind::FailToOpenPicture, 0, picture, Messages::failToOpenPicture(picture, output));
    r.otherFile = output;
    return r;
}

Refusal Refusal::failToWritePicture(const QString &picture, const QString &output, bool outputWritten)
{
    Refusal r = ofFile(Kind::FailToWritePicture, 0, picture, Messages::failToWritePicture(picture, output, outputWritten));
    r.otherFile = output;
    return r;
}

Refusal Refusal::failToWriteStandardOutput()
{
    return made(Kind::FailToWriteStandardOutput, Messages::failToWriteStandardOutput());
}

Refusal Refusal::failToWriteStandardError()
{
    return made(Kind::FailToWriteStandardError, Messages::failToWriteStandardError());
}

Refusal Refusal::cannotReadMap(const QString &map, const QString &problem)
{
    return ofFile(Kind::CannotReadMap, 0, map, Messages::cannotReadMap(map, problem));
}

Refusal Refusal::mapNamesNoOutput(const QString &map)
{
    return ofFile(Kind::MapNamesNoOutput, 0, map, Messages::mapNamesNoOutput(map));
}

Refusal Refusal::cannotReadBack(const QString &image, const QString &format, const QString &readable)
{
    return ofFile(Kind::CannotReadBack, 0, image, Messages::cannotReadBack(format, readable));
}

Refusal Refusal::mcubootOption(const QString &option, const QString &value, const QString &reason)
{
    Refusal r = made(Kind::McubootOption, Messages::mcubootOption(option, value, reason));
    r.field = option;
    return r;
}

Refusal Refusal::mcubootVersion(const QString &text)
{
    Refusal r = made(Kind::McubootVersion, Messages::mcubootVersion(text));
    r.field = QStringLiteral("--version");
    return r;
}

Refusal Refusal::mcubootHeaderRoom(const QString &payload, int headerSize)
{
    Refusal r = ofFile(Kind::McubootHeaderRoom, 0, payload, Messages::mcubootHeaderRoom(payload, headerSize));
    r.range = {0, headerSize};
    return r;
}

Refusal Refusal::mcubootTooLarge(const QString &payload, qint64 size, qint64 limit)
{
    Refusal r = ofFile(Kind::McubootTooLarge, 0, payload, Messages::mcubootTooLarge(payload, size, limit));
    r.address = limit;
    r.range = {0, size};
    return r;
}

Refusal Refusal::mcubootSlotTooSmall(const QString &payload, qint64 size, qint64 slot)
{
    Refusal r = ofFile(Kind::McubootSlotTooSmall, 0, payload, Messages::mcubootSlotTooSmall(payload, size, slot));
    r.address = slot;
    r.range = {0, slot};
    return r;
}

Refusal Refusal::mcubootKeyKind(const QString &key, const QString &kind)
{
    return ofFile(Kind::McubootKeyKind, 0, key, Messages::mcubootKeyKind(key, kind));
}

Refusal Refusal::mcubootKeyEncrypted(const QString &key)
{
    return ofFile(Kind::McubootKeyEncrypted, 0, key, Messages::mcubootKeyEncrypted(key));
}

Refusal Refusal::mcubootKeyUnreadable(const QString &key, const QString &problem)
{
    return ofFile(Kind::McubootKeyUnreadable, 0, key, Messages::mcubootKeyUnreadable(key, problem));
}

Refusal Refusal::mcubootNoOpenSsl(bool signing)
{
    return made(Kind::McubootNoOpenSsl, Messages::mcubootNoOpenSsl(signing));
}

Refusal Refusal::mcubootBadSignature(const QString &signature)
{
    return ofFile(Kind::McubootBadSignature, 0, signature, Messages::mcubootBadSignature(signature));
}

Refusal Refusal::mcubootSignatureMismatch(const QString &signature, const QString &key)
{
    Refusal r = ofFile(Kind::McubootSignatureMismatch, 0, signature, Messages::mcubootSignatureMismatch(signature, key));
    r.otherFile = key;
    return r;
}

Refusal Refusal::mcubootCheckFails(const QString &image, const QString &what)
{
    return ofFile(Kind::McubootCheckFails, 0, image, Messages::mcubootCheckFails(image, what));
}
