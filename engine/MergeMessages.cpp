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

} // namespace Messages
