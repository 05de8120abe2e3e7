#include "CliOptions.h"

#include "Address.h"
#include "fields/FieldKind.h"
#include "fields/FieldSpec.h"
#include "input/InputReader.h"
#include "platform/ProcessIo.h"
#include "writers/ImageWriter.h"

#include <QFileInfo>
#include <QRegularExpression>

namespace {

bool usage(QString *error, const QString &message)
{
    *error = message;
    return false;
}

// "a, b or c"
QString alternatives(const QStringList &names, const QString &last = QStringLiteral(" or "))
{
    if (names.size() < 2)
        return names.join(QString());
    return names.mid(0, names.size() - 1).join(QLatin1String(", ")) + last + names.last();
}

QStringList formatNames(bool (*keep)(const OutputFormatInfo &))
{
    QStringList names;
    for (const OutputFormatInfo *format : OutputFormats::all()) {
        if (keep(*format))
            names << QLatin1String(format->name);
    }
    return names;
}

const OutputFormatInfo &formatOf(const CliOptions &options)
{
    return options.merge.format ? *options.merge.format : OutputFormats::flat();
}

QString formatHelp()
{
    QStringList listed;
    for (const OutputFormatInfo *format : OutputFormats::all())
        listed << QStringLiteral("%1 (%2)").arg(QLatin1String(format->name), QLatin1String(format->summary));
    const QStringList gapless = formatNames([](const OutputFormatInfo &f) { return !f.writesGaps; });
    return alternatives(listed) + QStringLiteral(". %1 put each file at its own address and write nothing for the gaps.")
                                      .arg(alternatives(gapless, QStringLiteral(" and ")));
}

// What -o says of the names that choose a format, from the formats' rows.
QString outputHelp()
{
    QStringList chosen;
    for (const OutputFormatInfo *format : OutputFormats::all()) {
        const QString endings = QString::fromLatin1(format->extensions)
                                    .split(QLatin1Char(' '), Qt::SkipEmptyParts)
                                    .join(QLatin1String(", "));
        if (!endings.isEmpty())
            chosen << QStringLiteral("%1 %2").arg(endings, QLatin1String(format->name));
    }
    return QStringLiteral("The output file; - for standard output (the log then goes to standard error). With "
                          "--settings it replaces the saved output name. Unless --format is given, its name's ending "
                          "chooses the format, in any case: %1; any other name %2.")
        .arg(alternatives(chosen, QStringLiteral("; ")), QLatin1String(OutputFormats::flat().name));
}

QString recordSizeHelp()
{
    QStringList limits;
    for (const OutputFormatInfo *format : OutputFormats::all()) {
        if (format->maxRecordSize > 0)
            limits << QStringLiteral("1 to %1 for %2").arg(format->maxRecordSize).arg(QLatin1String(format->name));
    }
    return QStringLiteral("Data bytes per record: %1 (16 by default).").arg(alternatives(limits, QStringLiteral(", ")));
}

QString fieldHelp()
{
    return QStringLiteral("Write a checksum or length into the image: KIND@ADDR[,FROM-TO][,be], KIND one of %1; over "
                          "FROM-TO (TO the first address after the range) or, by default, the whole image without "
                          "the field's own bytes; be writes numbers big-endian. As often as needed; worked out in "
                          "the order given, each with the earlier fields in place.")
        .arg(FieldKinds::names().join(QLatin1String(", ")));
}

bool applyHelp(const QStringList &, CliOptions &options, QString *)
{
    options.action = CliOptions::Action::Help;
    return true;
}

bool applyVersion(const QStringList &, CliOptions &options, QString *)
{
    options.action = CliOptions::Action::Version;
    return true;
}

bool applySettings(const QStringList &values, CliOptions &options, QString *)
{
    options.settingsPath = values.last();
    options.settingsGiven = true;
    return true;
}

bool applyOutput(const QStringList &values, CliOptions &options, QString *)
{
    options.output = values.last();
    options.outputGiven = true;
    // The name's ending chooses the format unless --format (applied after
    // this) names one.
    const OutputFormatInfo &byName = OutputFormats::forFileName(options.output);
    if (&byName != &OutputFormats::flat()) {
        options.merge.format = &byName;
        options.formatFromName = true;
    }
    return true;
}

bool applyFormat(const QStringList &values, CliOptions &options, QString *error)
{
    options.merge.format = OutputFormats::find(values.last());
    options.formatFromName = false;
    if (!options.merge.format)
        return usage(error, QStringLiteral("unknown format %1: %2").arg(values.last(), alternatives(OutputFormats::names())));
    return true;
}

bool applyInputFormat(const QStringList &values, CliOptions &options, QString *error)
{
    options.inputFormat = values.last();
    if (options.inputFormat != QLatin1String("auto") && options.inputFormat != QLatin1String("raw"))
        return usage(error, QStringLiteral("unknown input format %1: auto or raw").arg(options.inputFormat));
    return true;
}

bool applyBase(const QStringList &values, CliOptions &options, QString *error)
{
    if (!Address::hexNumber(values.last(), addressSpaceEnd - 1, &options.merge.base))
        return usage(error, QStringLiteral("base %1: give a hexadecimal address from 0 to FFFFFFFF").arg(values.last()));
    return true;
}

// Taken by the formats with records only: applied once the format is known.
bool applyRecordSize(const QStringList &values, CliOptions &options, QString *error)
{
    const OutputFormatInfo &format = formatOf(options);
    bool ok = false;
    options.merge.recordSize = values.last().toInt(&ok, 10);
    if (!ok || options.merge.recordSize < 1 || options.merge.recordSize > format.maxRecordSize)
        return usage(error, QStringLiteral("record size %1: give 1 to %2 for --format %3")
                                .arg(values.last())
                                .arg(format.maxRecordSize)
                                .arg(QLatin1String(format.name)));
    return true;
}

// Taken by the formats that write the gaps only: applied once the format is
// known.
bool applyPadTo(const QStringList &values, CliOptions &options, QString *error)
{
    const qint64 most = addressSpaceEnd - options.merge.base;
    if (!Address::hexNumber(values.last(), most, &options.merge.padTo) || options.merge.padTo < 1)
        return usage(error, QStringLiteral("pad size %1: give a hexadecimal size from 1 to %2")
                                .arg(values.last(), QString::number(most, 16)));
    return true;
}

bool applyOverlap(const QStringList &values, CliOptions &options, QString *error)
{
    const QString &policy = values.last();
    if (policy == QLatin1String("error"))
        options.merge.overlap = OverlapPolicy::Refuse;
    else if (policy == QLatin1String("later"))
        options.merge.overlap = OverlapPolicy::LaterWins;
    else if (policy == QLatin1String("earlier"))
        options.merge.overlap = OverlapPolicy::EarlierWins;
    else
        return usage(error, QStringLiteral("overlap %1: give error, later or earlier").arg(policy));
    return true;
}

// Every range given, in order; the first that is none is a usage error.
bool applyRanges(const QStringList &values, const char *option, QVector<AddressRange> &ranges, QString *error)
{
    for (const QString &text : values) {
        AddressRange range;
        if (!Address::range(text, &range))
            return usage(error, QStringLiteral("%1 %2: give FROM-TO, hexadecimal addresses, FROM below TO")
                                    .arg(QLatin1String(option), text));
        ranges.append(range);
    }
    return true;
}

bool applyCrop(const QStringList &values, CliOptions &options, QString *error)
{
    return applyRanges(values, "--crop", options.merge.crop, error);
}

bool applyExclude(const QStringList &values, CliOptions &options, QString *error)
{
    return applyRanges(values, "--exclude", options.merge.exclude, error);
}

bool applyField(const QStringList &values, CliOptions &options, QString *error)
{
    for (const QString &text : values) {
        MergeField field;
        QString problem;
        if (!parseField(text, &field, &problem))
            return usage(error, QStringLiteral("field %1: %2").arg(text, problem));
        options.merge.fields.append(field);
    }
    return true;
}

bool applyFlash(const QStringList &values, CliOptions &options, QString *error)
{
    const QStringList flash = values.last().split(QLatin1Char(','));
    MergeOptions &m = options.merge;
    if (flash.size() != 2 || !Address::hexNumber(flash.at(0), addressSpaceEnd - 1, &m.flashOrigin)
        || !Address::hexNumber(flash.at(1), addressSpaceEnd - m.flashOrigin, &m.flashSize) || m.flashSize == 0)
        return usage(error, QStringLiteral("flash %1: give ORIGIN,SIZE in hexadecimal, within 32-bit addresses")
                                .arg(values.last()));
    return true;
}

bool applySectorSize(const QStringList &values, CliOptions &options, QString *error)
{
    qint64 &size = options.merge.sectorSize;
    if (!Address::hexNumber(values.last(), addressSpaceEnd, &size) || size == 0 || (size & (size - 1)) != 0)
        return usage(error, QStringLiteral("sector size %1: give a power of two in hexadecimal (1000 for 4 KiB)")
                                .arg(values.last()));
    return true;
}

bool applyFill(const QStringList &values, CliOptions &options, QString *error)
{
    qint64 byte = 0;
    if (!Address::hexNumber(values.last(), 0xFF, &byte))
        return usage(error, QStringLiteral("fill %1: give a byte in hexadecimal, 0 to FF").arg(values.last()));
    options.merge.fill = char(byte);
    return true;
}

bool applyMap(const QStringList &values, CliOptions &options, QString *error)
{
    const QString &name = values.last();
    if (name.isEmpty())
        return usage(error, QStringLiteral("--map needs a file name, or - for standard output"));
    options.wantMap = true;
    options.mapAsGiven = name;
    // Like -o: relative to where the script runs, and /dev/stdout is "-".
    options.map = name == QLatin1String("-") || ProcessIo::isStandardOutput(name) ? QStringLiteral("-")
                                                                                  : QFileInfo(name).absoluteFilePath();
    return true;
}

bool applyPicture(const QStringList &values, CliOptions &options, QString *error)
{
    const QString &name = values.last();
    if (name.isEmpty() || name == QLatin1String("-") || ProcessIo::isStandardOutput(name))
        return usage(error, QStringLiteral("--picture needs a file name"));
    options.wantPicture = true;
    options.pictureAsGiven = name;
    options.picture = QFileInfo(name).absoluteFilePath();
    return true;
}

bool applyLayout(const QStringList &, CliOptions &options, QString *)
{
    options.printLayout = true;
    return true;
}

bool applyDryRun(const QStringList &, CliOptions &options, QString *)
{
    options.dryRun = true;
    return true;
}

// The commands' own options.
bool applyJson(const QStringList &, CliOptions &options, QString *)
{
    options.json = true;
    return true;
}

bool applyLookBase(const QStringList &values, CliOptions &options, QString *error)
{
    options.baseGiven = true;
    return applyBase(values, options, error);
}

bool applyLookFill(const QStringList &values, CliOptions &options, QString *error)
{
    options.fillGiven = true;
    return applyFill(values, options, error);
}

bool applyLookFormat(const QStringList &values, CliOptions &options, QString *error)
{
    const QString &name = values.last();
    if (name != QLatin1String("auto") && !InputReader::find(name))
        return usage(error, QStringLiteral("unknown input format %1: auto or %2")
                                .arg(name, alternatives(InputReader::names())));
    options.inputFormat = name;
    return true;
}

bool applyReadMap(const QStringList &values, CliOptions &options, QString *error)
{
    const QString &name = values.last();
    if (name.isEmpty())
        return usage(error, QStringLiteral("--map needs the name of a map a merge wrote"));
    options.wantMap = true;
    options.mapAsGiven = name;
    options.map = QFileInfo(name).absoluteFilePath();
    return true;
}


// MCUboot's options: imgtool's names and meanings. Each one given is noted,
// so that a merge without --mcuboot can name it.
Mcuboot::Options &imageOptions(CliOptions &options, const QString &name)
{
    if (!options.mcubootOptionsGiven.contains(name))
        options.mcubootOptionsGiven << name;
    return options.mcuboot.options;
}

// A size or address of the image: in sign as imgtool spells it (decimal, or
// 0x and hexadecimal digits), in a merge hexadecimal like every merge number.
bool imageNumber(const QString &text, const CliOptions &options, qint64 least, qint64 most, qint64 *value)
{
    static const QRegularExpression decimal(QStringLiteral("^[0-9]{1,12}$"));
    static const QRegularExpression hexadecimal(QStringLiteral("^(0[xX])?[0-9A-Fa-f]{1,10}$"));
    const bool inMerge = options.command == CliOptions::Command::Merge;
    const bool prefixed = text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive);
    bool ok = false;
    if (inMerge || prefixed) {
        ok = hexadecimal.match(text).hasMatch();
        *value = (prefixed ? text.mid(2) : text).toLongLong(nullptr, 16);
    } else {
        ok = decimal.match(text).hasMatch();
        *value = text.toLongLong(nullptr, 10);
    }
    return ok && *value >= least && *value <= most;
}

// How a number of the image is spelt, for its usage errors.
QString numberSpelling(const CliOptions &options)
{
    return options.command == CliOptions::Command::Merge ? QStringLiteral("hexadecimal")
                                                         : QStringLiteral("decimal or 0x and hexadecimal digits");
}

// A count (--align and the like): decimal, one of those listed.
bool count(const QString &text, const QVector<int> &allowed, int *value)
{
    static const QRegularExpression decimal(QStringLiteral("^[0-9]{1,6}$"));
    if (!decimal.match(text).hasMatch())
        return false;
    *value = text.toInt();
    return allowed.isEmpty() || allowed.contains(*value);
}

// Relative names mean what they mean where the program was started; with
// --settings the current folder changes once every option is applied.
QString givenFile(const QString &name, const CliOptions &options)
{
    return options.settingsGiven ? QFileInfo(name).absoluteFilePath() : name;
}

bool applyMcuboot(const QStringList &values, CliOptions &options, QString *error)
{
    if (!Address::hexNumber(values.last(), addressSpaceEnd - 1, &options.mcuboot.address))
        return usage(error, QStringLiteral("--mcuboot %1: give the hexadecimal address of the row to make an MCUboot "
                                           "image, from 0 to FFFFFFFF")
                                .arg(values.last()));
    options.mcubootGiven = true;
    return true;
}

bool applyKey(const QStringList &values, CliOptions &options, QString *error)
{
    if (values.last().isEmpty())
        return usage(error, QStringLiteral("--key needs the name of a PEM private key"));
    imageOptions(options, QStringLiteral("--key"));
    options.mcuboot.keyFile = givenFile(values.last(), options);
    return true;
}

bool applyImageVersion(const QStringList &values, CliOptions &options, QString *error)
{
    const QString name = options.command == CliOptions::Command::Sign ? QStringLiteral("--version")
                                                                      : QStringLiteral("--image-version");
    if (!Mcuboot::Version::parse(values.last(), &imageOptions(options, name).version))
        return usage(error, QStringLiteral("%1 %2: give MAJOR.MINOR.REVISION+BUILD, decimal numbers up to "
                                           "255.255.65535+4294967295")
                                .arg(name, values.last()));
    return true;
}

bool applyHeaderSize(const QStringList &values, CliOptions &options, QString *error)
{
    qint64 size = 0;
    if (!imageNumber(values.last(), options, Mcuboot::headerBytes, 0xFFFF, &size))
        return usage(error, QStringLiteral("--header-size %1: give the header's room, %2, from 32 to 65535 bytes")
                                .arg(values.last(), numberSpelling(options)));
    imageOptions(options, QStringLiteral("--header-size")).headerSize = int(size);
    options.headerSizeGiven = true;
    return true;
}

bool applySlotSize(const QStringList &values, CliOptions &options, QString *error)
{
    qint64 size = 0;
    if (!imageNumber(values.last(), options, 1, Mcuboot::largestWithoutSlot, &size))
        return usage(error, QStringLiteral("--slot-size %1: give the slot's size, %2, up to 256 MiB")
                                .arg(values.last(), numberSpelling(options)));
    imageOptions(options, QStringLiteral("--slot-size")).slotSize = size;
    return true;
}

bool applyAlign(const QStringList &values, CliOptions &options, QString *error)
{
    if (!count(values.last(), {1, 2, 4, 8, 16, 32}, &imageOptions(options, QStringLiteral("--align")).align))
        return usage(error, QStringLiteral("--align %1: give 1, 2, 4, 8, 16 or 32").arg(values.last()));
    return true;
}

bool applyMaxAlign(const QStringList &values, CliOptions &options, QString *error)
{
    if (!count(values.last(), {8, 16, 32}, &imageOptions(options, QStringLiteral("--max-align")).maxAlign))
        return usage(error, QStringLiteral("--max-align %1: give 8, 16 or 32").arg(values.last()));
    return true;
}

bool applyMaxSectors(const QStringList &values, CliOptions &options, QString *error)
{
    int &sectors = imageOptions(options, QStringLiteral("--max-sectors")).maxSectors;
    if (!count(values.last(), {}, &sectors) || sectors < 1 || sectors > 0x10000)
        return usage(error, QStringLiteral("--max-sectors %1: give a decimal count from 1 to 65536").arg(values.last()));
    return true;
}

bool applyErasedValue(const QStringList &values, CliOptions &options, QString *error)
{
    qint64 value = 0;
    if (!imageNumber(values.last(), options, 0, 0xFF, &value) || (value != 0 && value != 0xFF))
        return usage(error, QStringLiteral("--erased-val %1: give 0 or 0xff").arg(values.last()));
    imageOptions(options, QStringLiteral("--erased-val")).erasedValue = int(value);
    return true;
}

bool applySecurityCounter(const QStringList &values, CliOptions &options, QString *error)
{
    if (!Mcuboot::parseSecurityCounter(values.last(), &imageOptions(options, QStringLiteral("--security-counter"))))
        return usage(error, QStringLiteral("--security-counter %1: give auto or a number up to 0xFFFFFFFF, decimal or "
                                           "0x and hexadecimal digits")
                                .arg(values.last()));
    return true;
}

bool applyLoadAddress(const QStringList &values, CliOptions &options, QString *error)
{
    qint64 address = 0;
    if (!imageNumber(values.last(), options, 0, addressSpaceEnd - 1, &address))
        return usage(error, QStringLiteral("--load-addr %1: give an address, %2, up to 0xFFFFFFFF")
                                .arg(values.last(), numberSpelling(options)));
    Mcuboot::Options &image = imageOptions(options, QStringLiteral("--load-addr"));
    image.hasLoadAddress = true;
    image.loadAddress = quint32(address);
    return true;
}

bool applyRomFixed(const QStringList &values, CliOptions &options, QString *error)
{
    qint64 address = 0;
    if (!imageNumber(values.last(), options, 0, addressSpaceEnd - 1, &address))
        return usage(error, QStringLiteral("--rom-fixed %1: give an address, %2, up to 0xFFFFFFFF")
                                .arg(values.last(), numberSpelling(options)));
    Mcuboot::Options &image = imageOptions(options, QStringLiteral("--rom-fixed"));
    image.hasRomFixed = true;
    image.romFixed = quint32(address);
    return true;
}

bool applyPublicKeyFormat(const QStringList &values, CliOptions &options, QString *error)
{
    Mcuboot::Options &image = imageOptions(options, QStringLiteral("--public-key-format"));
    if (values.last() == QLatin1String("hash"))
        image.publicKeyFormat = Mcuboot::KeyFormat::Hash;
    else if (values.last() == QLatin1String("full"))
        image.publicKeyFormat = Mcuboot::KeyFormat::Full;
    else
        return usage(error, QStringLiteral("--public-key-format %1: give hash or full").arg(values.last()));
    return true;
}

// --custom-tlv TAG=VALUE (or TAG:VALUE), as often as needed.
bool applyCustomTlv(const QStringList &values, CliOptions &options, QString *error)
{
    Mcuboot::Options &image = imageOptions(options, QStringLiteral("--custom-tlv"));
    for (const QString &text : values) {
        const int equals = text.indexOf(QLatin1Char('='));
        const int colon = text.indexOf(QLatin1Char(':'));
        const int split = equals < 0 ? colon : colon < 0 ? equals : qMin(equals, colon);
        Mcuboot::CustomTlv tlv;
        qint64 tag = 0;
        if (split < 0 || !imageNumber(text.left(split), options, 0, 0xFFFF, &tag))
            return usage(error, QStringLiteral("--custom-tlv %1: give TAG=VALUE, TAG a number (%2)")
                                    .arg(text, numberSpelling(options)));
        tlv.tag = quint16(tag);
        if (tag < Mcuboot::customTlvFirst || tag > Mcuboot::customTlvLast || Mcuboot::isKnownTlv(tlv.tag))
            return usage(error, QStringLiteral("--custom-tlv %1: custom tags lie from 0xA0 to 0xFFFE").arg(text));
        for (const Mcuboot::CustomTlv &earlier : std::as_const(image.customTlvs)) {
            if (earlier.tag == tlv.tag)
                return usage(error, QStringLiteral("--custom-tlv %1: the tag is given twice").arg(text));
        }
        if (!Mcuboot::customTlvValue(text.mid(split + 1), &tlv.value))
            return usage(error, QStringLiteral("--custom-tlv %1: a value 0x... is an even count of hexadecimal digits")
                                    .arg(text));
        image.customTlvs.append(tlv);
    }
    return true;
}

bool applyVectorToSign(const QStringList &values, CliOptions &options, QString *error)
{
    if (values.last() == QLatin1String("payload"))
        options.vector = Mcuboot::VectorKind::Payload;
    else if (values.last() == QLatin1String("digest"))
        options.vector = Mcuboot::VectorKind::Digest;
    else
        return usage(error, QStringLiteral("--vector-to-sign %1: give payload or digest").arg(values.last()));
    options.wantVector = true;
    return true;
}

bool applyFixSignature(const QStringList &values, CliOptions &options, QString *error)
{
    if (values.last().isEmpty())
        return usage(error, QStringLiteral("--fix-sig needs the name of a file that holds the signature"));
    imageOptions(options, QStringLiteral("--fix-sig"));
    options.mcuboot.fixSignatureFile = givenFile(values.last(), options);
    return true;
}

bool applyFixSignatureKey(const QStringList &values, CliOptions &options, QString *error)
{
    if (values.last().isEmpty())
        return usage(error, QStringLiteral("--fix-sig-pubkey needs the name of a PEM public key"));
    imageOptions(options, QStringLiteral("--fix-sig-pubkey"));
    options.mcuboot.fixSignaturePublicKey = givenFile(values.last(), options);
    return true;
}

bool applySignBase(const QStringList &values, CliOptions &options, QString *error)
{
    options.baseGiven = true;
    return applyBase(values, options, error);
}

bool applyVerifyKey(const QStringList &values, CliOptions &options, QString *error)
{
    if (values.last().isEmpty())
        return usage(error, QStringLiteral("--key needs the name of a PEM public key"));
    options.verifyKey = values.last();
    return true;
}


// The words a shell offers for the values that are words.
QStringList formatWords()
{
    return OutputFormats::names();
}

QStringList overlapWords()
{
    return {QStringLiteral("error"), QStringLiteral("later"), QStringLiteral("earlier")};
}

QStringList inputFormatWords()
{
    return {QStringLiteral("auto"), QStringLiteral("raw")};
}

QStringList lookFormatWords()
{
    return QStringList{QStringLiteral("auto")} + InputReader::names();
}

QStringList fieldWords() // the kind, then the user's address
{
    QStringList words;
    for (const QString &kind : FieldKinds::names())
        words << kind + QLatin1Char('@');
    return words;
}

QStringList keyFormatWords()
{
    return {QStringLiteral("hash"), QStringLiteral("full")};
}

QStringList vectorWords()
{
    return {QStringLiteral("payload"), QStringLiteral("digest")};
}

QStringList alignWords()
{
    return {QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("4"), QStringLiteral("8"), QStringLiteral("16"),
            QStringLiteral("32")};
}

QStringList maxAlignWords()
{
    return {QStringLiteral("8"), QStringLiteral("16"), QStringLiteral("32")};
}

QStringList erasedWords()
{
    return {QStringLiteral("0"), QStringLiteral("0xff")};
}

QStringList counterWords()
{
    return {QStringLiteral("auto")};
}

// A switch of the image's options.
CliOption imageSwitch(const QString &name, bool Mcuboot::Options::*member, const QString &help, unsigned commands)
{
    const QString dashed = QStringLiteral("--") + name;
    CliOption row;
    row.names = QStringList{name};
    row.help = help;
    row.apply = [member, dashed](const QStringList &, CliOptions &options, QString *) {
        imageOptions(options, dashed).*member = true;
        return true;
    };
    row.completion = {CliCompletion::Nothing, nullptr};
    row.commands = commands;
    return row;
}

// The rows of MCUboot's options: those a merge with --mcuboot and sign both
// take, then sign's own.
QVector<CliOption> mcubootRows()
{
    using Command = CliOptions::Command;
    const unsigned merge = CliCommand::bit(Command::Merge);
    const unsigned sign = CliCommand::bit(Command::Sign);
    const unsigned both = merge | sign;
    const QString sizes = QStringLiteral("in sign decimal, or 0x and hexadecimal digits, as imgtool takes it; in a merge "
                                         "hexadecimal like every merge number (200 is 0x200)");
    const CliCompletion none{CliCompletion::Nothing, nullptr};
    const CliCompletion files{CliCompletion::FileName, nullptr};
    QVector<CliOption> rows{
        {{QStringLiteral("mcuboot")},
         QStringLiteral("addr"),
         QStringLiteral("Make the file of the row at ADDR (hexadecimal, as the row gives it) an MCUboot image with the "
                        "options that follow (--key, --image-version, --header-size...), as MergeFileCli sign does, "
                        "laid at ADDR; its slot is the row's ADDR:SIZE. --layout shows its header and TLVs."),
         applyMcuboot, none, false, merge},
        {{QStringLiteral("k"), QStringLiteral("key")},
         QStringLiteral("file"),
         QStringLiteral("Sign the MCUboot image with this PEM private key: ECDSA P-256 or P-384, Ed25519, RSA-2048 or "
                        "RSA-3072, told from the key. Without it (and without --fix-sig) the image holds its hash "
                        "alone. The key is read once and written nowhere."),
         applyKey, files, false, both},
        {{QStringLiteral("v"), QStringLiteral("version")},
         QStringLiteral("version"),
         QStringLiteral("The image's version, MAJOR.MINOR.REVISION+BUILD in decimal (0.0.0+0 by default); the same as "
                        "--image-version."),
         applyImageVersion, none, false, sign},
        {{QStringLiteral("image-version")},
         QStringLiteral("version"),
         QStringLiteral("The MCUboot image's version, MAJOR.MINOR.REVISION+BUILD in decimal (0.0.0+0 by default). In a "
                        "merge --version shows the program's own version."),
         applyImageVersion, none, false, both},
        {{QStringLiteral("H"), QStringLiteral("header-size")},
         QStringLiteral("size"),
         QStringLiteral("The room the MCUboot header takes in front of the application, 32 to 65535 bytes; required. "
                        "Sizes and addresses of the image are %1.")
             .arg(sizes),
         applyHeaderSize, none, false, both},
        imageSwitch(QStringLiteral("pad-header"), &Mcuboot::Options::padHeader,
                    QStringLiteral("Add the header's room in front of the application; without it the application's "
                                   "first --header-size bytes must be zeros, where the header goes."),
                    both),
        {{QStringLiteral("S"), QStringLiteral("slot-size")},
         QStringLiteral("size"),
         QStringLiteral("The slot the image goes to, decimal or 0x and hexadecimal digits: the image, its TLVs and the "
                        "trailer must fit it. (In a merge the slot is the row's ADDR:SIZE.)"),
         applySlotSize, none, false, sign},
        {{QStringLiteral("align")},
         QStringLiteral("n"),
         QStringLiteral("The flash's write alignment, 1, 2, 4, 8, 16 or 32 (1 by default): the width of the trailer's "
                        "records."),
         applyAlign, {CliCompletion::Word, alignWords}, false, both},
        {{QStringLiteral("max-align")},
         QStringLiteral("n"),
         QStringLiteral("The trailer's largest alignment, 8, 16 or 32 (by default the larger of 8 and --align)."),
         applyMaxAlign, {CliCompletion::Word, maxAlignWords}, false, both},
        imageSwitch(QStringLiteral("pad"), &Mcuboot::Options::pad,
                    QStringLiteral("Pad the image with the erased value up to the slot's end, the trailer's magic at "
                                   "its end."),
                    both),
        imageSwitch(QStringLiteral("confirm"), &Mcuboot::Options::confirm,
                    QStringLiteral("Pad as --pad and set image-ok in the trailer: the boot loader keeps the image."),
                    both),
        imageSwitch(QStringLiteral("test"), &Mcuboot::Options::test,
                    QStringLiteral("Pad as --pad, image-ok left erased: the boot loader tries the image once."), both),
        {{QStringLiteral("max-sectors")},
         QStringLiteral("n"),
         QStringLiteral("The sectors the trailer's swap status has room for (decimal, 128 by default)."),
         applyMaxSectors, none, false, both},
        {{QStringLiteral("erased-val")},
         QStringLiteral("0|0xff"),
         QStringLiteral("The flash's erased value, of the padding and the trailer: 0 or 0xff (the default)."),
         applyErasedValue, {CliCompletion::Word, erasedWords}, false, both},
        imageSwitch(QStringLiteral("overwrite-only"), &Mcuboot::Options::overwriteOnly,
                    QStringLiteral("A trailer for a boot loader that only overwrites: no swap status."), both),
        {{QStringLiteral("s"), QStringLiteral("security-counter")},
         QStringLiteral("n|auto"),
         QStringLiteral("Put a security counter in the protected TLVs: a number (decimal, or 0x and hexadecimal digits, "
                        "in a merge too) or auto, the version without its build number."),
         applySecurityCounter, {CliCompletion::Word, counterWords}, false, both},
        {{QStringLiteral("load-addr")},
         QStringLiteral("addr"),
         QStringLiteral("Set RAM_LOAD: the boot loader copies the image to this address and runs it there."),
         applyLoadAddress, none, false, both},
        {{QStringLiteral("rom-fixed")},
         QStringLiteral("addr"),
         QStringLiteral("Set ROM_FIXED with the address the image must run from."), applyRomFixed, none, false, both},
        {{QStringLiteral("public-key-format")},
         QStringLiteral("hash|full"),
         QStringLiteral("What the image holds of the key: hash (the default), its SHA-256 (SHA-384 for P-384); full, the "
                        "whole public key."),
         applyPublicKeyFormat, {CliCompletion::Word, keyFormatWords}, false, both},
        imageSwitch(QStringLiteral("non-bootable"), &Mcuboot::Options::nonBootable,
                    QStringLiteral("Mark the image non-bootable (IMAGE_F_NON_BOOTABLE)."), both),
        {{QStringLiteral("custom-tlv")},
         QStringLiteral("tag=value"),
         QStringLiteral("Add a TLV of your own to the protected area: TAG=VALUE or TAG:VALUE in one word (imgtool takes "
                        "TAG VALUE as two), TAG from 0xA0 to 0xFFFE spelt as the sizes, VALUE 0x and an even count of "
                        "hexadecimal digits for those bytes, any other text for its UTF-8. As often as needed."),
         applyCustomTlv, none, true, both},
        {{QStringLiteral("vector-to-sign")},
         QStringLiteral("payload|digest"),
         QStringLiteral("Write what must be signed to OUT instead of the image, as raw bytes whatever OUT's name: payload "
                        "(header, application and protected TLVs) or its digest. No private key is needed; "
                        "--fix-sig-pubkey or --key tells the hash (SHA-384 for P-384)."),
         applyVectorToSign, {CliCompletion::Word, vectorWords}, false, sign},
        {{QStringLiteral("fix-sig")},
         QStringLiteral("file"),
         QStringLiteral("Put in a signature made elsewhere, base64 text in this file; it is checked against "
                        "--fix-sig-pubkey before anything is written."),
         applyFixSignature, files, false, sign},
        {{QStringLiteral("fix-sig-pubkey")},
         QStringLiteral("file"),
         QStringLiteral("The PEM public key that --fix-sig's signature is checked against, whose hash (or whole key) "
                        "the image holds."),
         applyFixSignatureKey, files, false, sign},
        {{QStringLiteral("base")},
         QStringLiteral("addr"),
         QStringLiteral("Where the image lies (hexadecimal): the file, moved so that its lowest address lies there (a "
                        "raw file starts there), is made the image there, and the output's first byte stands for it. "
                        "By default a file with addresses stays at its own, a raw file lies at 0."),
         applySignBase, none, false, sign},
    };
    return rows;
}

// Every format's own options: the output formats', which only the format
// that names an option takes, then the input formats', which any merge may
// take (any input may be of that format). An option two output formats share
// is one row, with the first one's words.
QVector<CliOption> formatOptionRows()
{
    QVector<CliOption> rows;
    const auto known = [&rows](const QString &name) {
        for (const CliOption &row : rows) {
            if (row.names.contains(name))
                return true;
        }
        return false;
    };
    const auto row = [](const FormatOption &option) {
        CliOption r;
        r.names = QStringList{option.name};
        r.valueName = option.valueName;
        r.help = option.help;
        const QStringList words = option.words;
        if (!words.isEmpty())
            r.completion = {CliCompletion::Word, [words] { return words; }};
        else
            r.completion = {CliCompletion::Nothing, nullptr};
        return r;
    };
    for (const OutputFormatInfo *format : OutputFormats::all()) {
        for (const FormatOption &option : format->options) {
            if (known(option.name))
                continue;
            const QString name = option.name;
            CliOption r = row(option);
            r.forOutput = [name](const OutputFormatInfo &f) { return f.option(name) != nullptr; };
            r.apply = [name](const QStringList &values, CliOptions &options, QString *error) {
                // A switch (no value name) is given no value.
                return formatOf(options).option(name)->parse(values.value(values.size() - 1), options.merge.formatSettings,
                                                             error);
            };
            rows << r;
        }
    }
    for (const InputReader *reader : InputReader::all()) {
        for (const FormatOption &option : reader->options()) {
            if (known(option.name))
                continue;
            CliOption r = row(option);
            const auto parse = option.parse;
            r.apply = [parse](const QStringList &values, CliOptions &options, QString *error) {
                return parse(values.value(values.size() - 1), options.merge.formatSettings, error);
            };
            rows << r;
        }
    }
    return rows;
}

} // namespace

const QStringList &cliAppliedOrder()
{
    // Help and version before all; then what the rest depends on: the
    // settings file, the output and its format, the base.
    static const QStringList order{
        QStringLiteral("help"),  QStringLiteral("version"),     QStringLiteral("settings"),    QStringLiteral("output"),
        QStringLiteral("format"), QStringLiteral("input-format"), QStringLiteral("base"),      QStringLiteral("record-size"),
        QStringLiteral("pad-to"), QStringLiteral("field"),       QStringLiteral("flash"),       QStringLiteral("sector-size"),
        QStringLiteral("fill"),  QStringLiteral("overlap"),     QStringLiteral("crop"),        QStringLiteral("exclude"),
        QStringLiteral("map"),   QStringLiteral("picture"),     QStringLiteral("layout"),      QStringLiteral("dry-run"),
        QStringLiteral("json")};
    return order;
}

const QVector<CliOption> &cliOptionTable()
{
    using Command = CliOptions::Command;
    const auto bit = [](Command c) { return CliCommand::bit(c); };
    const unsigned lookCommands = bit(Command::Info) | bit(Command::Compare) | bit(Command::Verify);
    const unsigned allCommands = bit(Command::Merge) | lookCommands | bit(Command::Sign);
    // What sign takes of a merge's options: it is a merge of its one file.
    const unsigned mergeAndSign = bit(Command::Merge) | bit(Command::Sign);
    const auto records = [](const OutputFormatInfo &f) { return f.takesRecordSize(); };
    const auto padded = [](const OutputFormatInfo &f) { return f.takesPadding(); };
    // The common options, then every format's own, then the rest.
    static const QVector<CliOption> built = [&] {
    const QVector<CliOption> common{
        {{QStringLiteral("h"), QStringLiteral("help")}, {}, QStringLiteral("Show the options and exit."), applyHelp, {},
         false, allCommands},
        {{QStringLiteral("v"), QStringLiteral("version")}, {}, QStringLiteral("Show the version and exit."), applyVersion, {}},
        {{QStringLiteral("settings")},
         QStringLiteral("path"),
         QStringLiteral("Merge the rows that the window saved in this INI file (cfg/MergeTool.ini). Relative file "
                        "names in it are relative to the folder that holds its cfg folder, as they are to the "
                        "window; for the file an installed window keeps in ~/.config/MergeFile/MergeTool.ini, "
                        "relative to the folder this program is installed in."),
         applySettings, {CliCompletion::FileName, nullptr}},
        {{QStringLiteral("o"), QStringLiteral("output")},
         QStringLiteral("file"),
         outputHelp(),
         applyOutput, {CliCompletion::FileName, nullptr}, false, mergeAndSign},
        {{QStringLiteral("format")}, QStringLiteral("format"), formatHelp(), applyFormat, {CliCompletion::Word, formatWords},
         false, mergeAndSign},
        {{QStringLiteral("input-format")},
         QStringLiteral("auto|raw"),
         QStringLiteral("auto (the default for pairs) reads each input as what it is: Intel HEX, S-records, ELF (its "
                        "load addresses), UF2, TI-TXT or raw data; raw (the default with --settings, the window's rule) reads "
                        "every input whole as raw bytes."),
         applyInputFormat, {CliCompletion::Word, inputFormatWords}, false, mergeAndSign},
        {{QStringLiteral("base")},
         QStringLiteral("addr"),
         QStringLiteral("The address the image's first byte stands for (hexadecimal, 1000 by default); nothing may "
                        "lie below it."),
         applyBase, {}},
        {{QStringLiteral("record-size")}, QStringLiteral("n"), recordSizeHelp(), applyRecordSize, {}, false, mergeAndSign, records},
        {{QStringLiteral("pad-to")},
         QStringLiteral("size"),
         QStringLiteral("Fill the bin image with the fill byte up to this many bytes (hexadecimal, such as a flash "
                        "size: 0x400000); a longer image is refused."),
         applyPadTo, {}, false, 1, padded},
    };
    QVector<CliOption> table = common;
    for (CliOption row : formatOptionRows()) {
        row.commands = mergeAndSign;
        table << row;
    }
    table += QVector<CliOption>{
        {{QStringLiteral("field")}, QStringLiteral("field"), fieldHelp(), applyField, {CliCompletion::Word, fieldWords}, true},
        {{QStringLiteral("flash")},
         QStringLiteral("origin,size"),
         QStringLiteral("The flash, ORIGIN,SIZE (hexadecimal): every byte of the image must lie in it."),
         applyFlash, {}},
        {{QStringLiteral("sector-size")},
         QStringLiteral("size"),
         QStringLiteral("The flash's erase sector size (hexadecimal, a power of two): no two files, nor a file and a "
                        "field, may share a sector."),
         applySectorSize, {}},
        {{QStringLiteral("fill")},
         QStringLiteral("byte"),
         QStringLiteral("The byte of leading fill, gaps, holes and padding (hexadecimal, FF by default)."),
         applyFill, {}},
        {{QStringLiteral("overlap")},
         QStringLiteral("error|later|earlier"),
         QStringLiteral("Where two files give bytes for one address: error (the default) refuses the merge; later "
                        "keeps the bytes of the file named later, earlier those of the file named first. With later "
                        "or earlier, raw files follow the same rules as the others. --layout and the map list what "
                        "was overridden."),
         applyOverlap, {CliCompletion::Word, overlapWords}},
        {{QStringLiteral("crop")},
         QStringLiteral("from-to"),
         QStringLiteral("Keep only the files' bytes from FROM up to TO (hexadecimal, TO the first address after the "
                        "range); as often as needed, the ranges together are kept. What goes is a hole: fill in "
                        "the flat image, nothing in the others. Fields and checks see what is kept."),
         applyCrop, {}, true},
        {{QStringLiteral("exclude")},
         QStringLiteral("from-to"),
         QStringLiteral("Drop the files' bytes from FROM up to TO (hexadecimal, TO the first address after the "
                        "range), after --crop; as often as needed."),
         applyExclude, {}, true},
        {{QStringLiteral("map")},
         QStringLiteral("file"),
         QStringLiteral("Write a JSON map of the merge (the image, and per file its format, segments, shift, slot, "
                        "CRC-32 and SHA-256, and every field) to this file; - for standard output."),
         applyMap, {CliCompletion::FileName, nullptr}, false, mergeAndSign},
        {{QStringLiteral("picture")},
         QStringLiteral("file"),
         QStringLiteral("Draw the layout as an SVG picture in this file: the address axis, each file, field, slot and "
                        "erase sector, gaps far longer than the data shortened; written with --dry-run too, and when "
                        "the merge is refused, with the refusal in red at its address."),
         applyPicture, {CliCompletion::FileName, nullptr}, false, mergeAndSign},
        {{QStringLiteral("layout")}, {}, QStringLiteral("Print the image map before merging."), applyLayout, {}, false,
         mergeAndSign},
        {{QStringLiteral("dry-run")}, {}, QStringLiteral("Run every check, the output's too, and print the map; write no image."),
         applyDryRun, {}, false, mergeAndSign},
    };
    table += mcubootRows();
    table += QVector<CliOption>{
        // The commands'.
        {{QStringLiteral("json")}, {}, QStringLiteral("Give the result as one JSON document on standard output."),
         applyJson, {}, false, lookCommands},
        {{QStringLiteral("base")},
         QStringLiteral("addr"),
         QStringLiteral("Where a raw file's first byte lies (hexadecimal, 1000 by default, where a merge puts it)."),
         applyLookBase, {}, false, bit(CliOptions::Command::Info) | bit(CliOptions::Command::Compare)},
        {{QStringLiteral("input-format")},
         QStringLiteral("auto|format"),
         QStringLiteral("auto (the default) tells each file's format by the rule a merge follows; a format's name (%1) "
                        "reads every file as that format.")
             .arg(InputReader::names().join(QLatin1String(", "))),
         applyLookFormat, {CliCompletion::Word, lookFormatWords}, false,
         bit(CliOptions::Command::Info) | bit(CliOptions::Command::Compare)},
        {{QStringLiteral("fill")},
         QStringLiteral("byte"),
         QStringLiteral("The byte of the flat image's holes, whose CRC-32 and SHA-256 are shown (hexadecimal, FF by "
                        "default)."),
         applyLookFill, {}, false, bit(CliOptions::Command::Info)},
        {{QStringLiteral("fill")},
         QStringLiteral("byte"),
         QStringLiteral("A hole compares equal to bytes of this value (hexadecimal): a flat image with its gaps "
                        "filled equals the file with holes it came from."),
         applyLookFill, {}, false, bit(CliOptions::Command::Compare)},
        {{QStringLiteral("map")},
         QStringLiteral("file"),
         QStringLiteral("The map a merge wrote (--map): each range also names the file (row and name), field (kind "
                        "and address) or fill of that merge whose bytes it touches."),
         applyReadMap, {CliCompletion::FileName, nullptr}, false, bit(CliOptions::Command::Compare)},
        {{QStringLiteral("map")},
         QStringLiteral("file"),
         QStringLiteral("The map the merge wrote (--map), which says what the image must hold; --map or --key is "
                        "required."),
         applyReadMap, {CliCompletion::FileName, nullptr}, false, bit(CliOptions::Command::Verify)},
        {{QStringLiteral("k"), QStringLiteral("key")},
         QStringLiteral("file"),
         QStringLiteral("Check MCUboot images with this PEM public key (or a private key's public half): their hash, "
                        "that they name this key, their signature. Without --map IMAGE is one; with --map, every file "
                        "of the map whose bytes in the image begin with MCUboot's magic."),
         applyVerifyKey, {CliCompletion::FileName, nullptr}, false, bit(CliOptions::Command::Verify)},
    };
    return table;
    }();
    return built;
}

CliPositional cliPairsArgument()
{
    return {QStringLiteral("pairs"),
            QStringLiteral("Start address (or -) and file, as often as needed; ADDR:SIZE gives the file a slot it must "
                           "fit. Put -- before them if a file name starts with a minus sign."),
            QStringLiteral("[ADDR[:SIZE] FILE ...]")};
}

QString cliDescription()
{
    return QStringLiteral("Merges firmware files into one image: by default a flat image whose first byte stands\n"
                          "for address 0x1000, every gap filled with 0xFF. Either the rows that the Merge File\n"
                          "Tool saved (--settings) or ADDR FILE pairs with -o. Addresses are hexadecimal (1000,\n"
                          "0x1000), from 0 to FFFFFFFF. A raw file lies at ADDR; an Intel HEX, S-record, ELF,\n"
                          "UF2 or TI-TXT file is moved so that its lowest address lies at ADDR, or stays at its\n"
                          "own addresses with ADDR -.\n"
                          "Exit status: 0 merged, 1 refused or failed, 2 usage error.\n"
                          "Given first instead, a command looks at images: info FILE..., compare A B, verify --map\n"
                          "MAP.json [IMAGE]; or makes one an MCUboot image: sign -o OUT FILE (MergeFileCli COMMAND\n"
                          "--help says more). A merge makes a row an MCUboot image with --mcuboot ADDR.");
}

const QVector<CliCommand> &cliCommands()
{
    using Command = CliOptions::Command;
    static const QVector<CliCommand> commands{
        {Command::Merge, QString(), QString(), QString(), cliPairsArgument(), 0, -1},
        {Command::Info, QStringLiteral("info"), QStringLiteral("[options] FILE..."),
         QStringLiteral("Shows what each file holds, read as a merge reads it: its format and what told it, its length "
                        "and data bytes, its runs (each contiguous range) and the holes between them, its lowest and "
                        "highest address, its start address where it has one, the CRC-32 and SHA-256 of its data "
                        "bytes in address order (what a map gives the same file) and of its flat image from its lowest "
                        "to its highest address with the holes filled, and what is particular to its format. A raw "
                        "file lies at --base.\n"
                        "Exit status: 0 every file read, 1 a file could not be, 2 usage error."),
         {QStringLiteral("files"), QStringLiteral("The files to look inside."), QStringLiteral("FILE...")}, 1, -1},
        {Command::Compare, QStringLiteral("compare"), QStringLiteral("[options] A B"),
         QStringLiteral("Tells whether two images hold the same bytes at the same addresses, whatever their formats: "
                        "lists every range where both have bytes and they differ, every range that only A or only B "
                        "has, and a start address that differs, with counts.\n"
                        "Exit status: 0 the same, 1 they differ, 2 trouble (a file that cannot be read, usage)."),
         {QStringLiteral("files"), QStringLiteral("The two images."), QStringLiteral("A B")}, 2, 2},
        {Command::Verify, QStringLiteral("verify"), QStringLiteral("--map MAP.json|--key KEY.pem [options] [IMAGE]"),
         QStringLiteral("Checks an image against the map of the merge that made it: the output's length and SHA-256; "
                        "the image read in the map's format, its flat image's length, CRC-32 and SHA-256; every "
                        "file's data at its segments; every field's bytes, as the map gives them and worked out again "
                        "from the image. IMAGE is by default the map's output, found from the map's own folder. With "
                        "--key, MCUboot images are checked too (hash, key, signature): IMAGE itself without --map, in "
                        "any format, its bytes from its lowest address.\n"
                        "Exit status: 0 all holds, 1 something does not (one line each), 2 trouble."),
         {QStringLiteral("image"), QStringLiteral("The image to check (the map's output by default)."),
          QStringLiteral("[IMAGE]")},
         0, 1},
        {Command::Sign, QStringLiteral("sign"), QStringLiteral("[options] --header-size SIZE -o OUT FILE"),
         QStringLiteral("Makes FILE an MCUboot image, with imgtool's options and their meanings: the header, the "
                        "application, the protected TLVs (security counter, custom TLVs), then the hash, the key or "
                        "its hash and the signature (with --key); with --pad, padded to --slot-size with the trailer. "
                        "FILE is read in any input format as a merge reads it, at its own addresses (a raw file at 0) "
                        "or moved to --base, and the image is written there in any output format (--format, or OUT's "
                        "name), as a merge of that one file. To sign elsewhere, --vector-to-sign writes what must be "
                        "signed, and --fix-sig with --fix-sig-pubkey puts in the signature made there. Sizes and "
                        "addresses of the image are decimal, or 0x and hexadecimal digits, as imgtool takes them; "
                        "--base is hexadecimal as in a merge.\n"
                        "Exit status: 0 written, 1 refused or failed, 2 usage error."),
         {QStringLiteral("file"), QStringLiteral("The application to make an image of."), QStringLiteral("FILE")}, 1, 1},
    };
    return commands;
}

const CliCommand &cliCommand(CliOptions::Command command)
{
    for (const CliCommand &c : cliCommands()) {
        if (c.command == command)
            return c;
    }
    return cliCommands().first();
}
