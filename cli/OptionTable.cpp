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
                return formatOf(options).option(name)->parse(values.last(), options.merge.formatSettings, error);
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
                return parse(values.last(), options.merge.formatSettings, error);
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
    const unsigned allCommands = bit(Command::Merge) | lookCommands;
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
         applyOutput, {CliCompletion::FileName, nullptr}},
        {{QStringLiteral("format")}, QStringLiteral("format"), formatHelp(), applyFormat, {CliCompletion::Word, formatWords}},
        {{QStringLiteral("input-format")},
         QStringLiteral("auto|raw"),
         QStringLiteral("auto (the default for pairs) reads each input as what it is: Intel HEX, S-records, ELF (its "
                        "load addresses), UF2, TI-TXT or raw data; raw (the default with --settings, the window's rule) reads "
                        "every input whole as raw bytes."),
         applyInputFormat, {CliCompletion::Word, inputFormatWords}},
        {{QStringLiteral("base")},
         QStringLiteral("addr"),
         QStringLiteral("The address the image's first byte stands for (hexadecimal, 1000 by default); nothing may "
                        "lie below it."),
         applyBase, {}},
        {{QStringLiteral("record-size")}, QStringLiteral("n"), recordSizeHelp(), applyRecordSize, {}, false, 1, records},
        {{QStringLiteral("pad-to")},
         QStringLiteral("size"),
         QStringLiteral("Fill the bin image with the fill byte up to this many bytes (hexadecimal, such as a flash "
                        "size: 0x400000); a longer image is refused."),
         applyPadTo, {}, false, 1, padded},
    };
    QVector<CliOption> table = common;
    table += formatOptionRows();
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
         applyMap, {CliCompletion::FileName, nullptr}},
        {{QStringLiteral("picture")},
         QStringLiteral("file"),
         QStringLiteral("Draw the layout as an SVG picture in this file: the address axis, each file, field, slot and "
                        "erase sector, gaps far longer than the data shortened; written with --dry-run too, and when "
                        "the merge is refused, with the refusal in red at its address."),
         applyPicture, {CliCompletion::FileName, nullptr}},
        {{QStringLiteral("layout")}, {}, QStringLiteral("Print the image map before merging."), applyLayout, {}},
        {{QStringLiteral("dry-run")}, {}, QStringLiteral("Run every check, the output's too, and print the map; write no image."),
         applyDryRun, {}},
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
         QStringLiteral("The map the merge wrote (--map), which says what the image must hold; required."),
         applyReadMap, {CliCompletion::FileName, nullptr}, false, bit(CliOptions::Command::Verify)},
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
                          "MAP.json [IMAGE] (MergeFileCli COMMAND --help says more).");
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
        {Command::Verify, QStringLiteral("verify"), QStringLiteral("--map MAP.json [options] [IMAGE]"),
         QStringLiteral("Checks an image against the map of the merge that made it: the output's length and SHA-256; "
                        "the image read in the map's format, its flat image's length, CRC-32 and SHA-256; every "
                        "file's data at its segments; every field's bytes, as the map gives them and worked out again "
                        "from the image. IMAGE is by default the map's output, found from the map's own folder.\n"
                        "Exit status: 0 all holds, 1 something does not (one line each), 2 trouble."),
         {QStringLiteral("image"), QStringLiteral("The image to check (the map's output by default)."),
          QStringLiteral("[IMAGE]")},
         0, 1},
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
