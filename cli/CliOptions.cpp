#include "CliOptions.h"

#include "Fields.h"
#include "MergeSettings.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// True when the file named is the one standard output already writes to
// (/dev/stdout, /proc/self/fd/1, or the file a shell redirected into).
bool isStandardOutput(const QString &name)
{
#ifdef Q_OS_UNIX
    struct stat file, out;
    return stat(QFile::encodeName(name).constData(), &file) == 0 && fstat(STDOUT_FILENO, &out) == 0
           && file.st_dev == out.st_dev && file.st_ino == out.st_ino;
#else
    Q_UNUSED(name);
    return false;
#endif
}

// Two names for one file: the same file on disk, or, for files still to be
// made, the same place.
bool sameFile(const QString &a, const QString &b)
{
    const QFileInfo first(a), second(b);
#ifdef Q_OS_UNIX
    struct stat x, y;
    if (stat(QFile::encodeName(a).constData(), &x) == 0 && stat(QFile::encodeName(b).constData(), &y) == 0)
        return x.st_dev == y.st_dev && x.st_ino == y.st_ino;
#endif
    if (first.exists() && second.exists())
        return first.canonicalFilePath().compare(second.canonicalFilePath(), Qt::CaseInsensitive) == 0;
    return first.absoluteFilePath() == second.absoluteFilePath();
}

// Relative names in a saved settings file mean what they mean to the window:
// relative to the program folder, which holds the "cfg" folder. The rows an
// installed window keeps in the user's own folder are relative to the
// folder it is installed in, which is this program's too.
QString settingsBaseFolder(const QString &settingsPath)
{
    const QFileInfo user(MergeSettings::userPath());
    if (user.exists() && QFileInfo(settingsPath).canonicalFilePath() == user.canonicalFilePath())
        return QCoreApplication::applicationDirPath();
    QDir folder = QFileInfo(settingsPath).absoluteDir();
    if (folder.dirName().compare(QLatin1String("cfg"), Qt::CaseInsensitive) == 0)
        folder.cdUp();
    return folder.absolutePath();
}

// Bytes in a settings value that are not UTF-8 would be read as another
// name; the keys that hold such bytes, among those the merge uses.
QStringList undecodableKeys(const QString &path, const MergeSettings &settings, bool outputUsed)
{
    QStringList used;
    for (int i = 0; i < MergeSettings::rowCount; ++i) {
        if (settings.enables[size_t(i)])
            used << QStringLiteral("File%1Name").arg(i + 1);
    }
    if (outputUsed)
        used << QStringLiteral("MergeFileName");
    QStringList found;
    for (const QString &key : MergeSettings::keysNotInUtf8(path)) {
        if (used.contains(key))
            found << key;
    }
    return found;
}

struct Parser
{
    QCommandLineParser parser;
    QCommandLineOption help = parser.addHelpOption();
    QCommandLineOption version = parser.addVersionOption();
    QCommandLineOption settings{
        QStringLiteral("settings"),
        QStringLiteral("Merge the rows saved in this INI file (cfg/MergeTool.ini). Relative file names "
                       "in it are relative to the folder that holds its cfg folder."),
        QStringLiteral("path")};
    QCommandLineOption output{{QStringLiteral("o"), QStringLiteral("output")},
                              QStringLiteral("The output file, - for standard output. With --settings it "
                                             "replaces the saved output name."),
                              QStringLiteral("file")};
    QCommandLineOption format{
        QStringLiteral("format"),
        QStringLiteral("bin (the flat image, the default), hex (Intel HEX, 32-bit addresses) or srec "
                       "(Motorola S-records, S3). hex and srec put each file at its own address and "
                       "write nothing for the gaps."),
        QStringLiteral("format"), QStringLiteral("bin")};
    QCommandLineOption inputFormat{
        QStringLiteral("input-format"),
        QStringLiteral("auto: read each input as what it is, Intel HEX, S-records, ELF (its load "
                       "addresses) or raw data (the default for pairs); raw: every input is raw data "
                       "(the default with --settings, as in the window)."),
        QStringLiteral("auto|raw")};
    QCommandLineOption base{QStringLiteral("base"),
                            QStringLiteral("The address the image's first byte stands for (hexadecimal, "
                                           "1000 by default); nothing may lie below it."),
                            QStringLiteral("addr")};
    QCommandLineOption recordSize{
        QStringLiteral("record-size"),
        QStringLiteral("Data bytes per hex or srec record: 1 to 255 for hex, 1 to 250 for srec (16)."),
        QStringLiteral("n")};
    QCommandLineOption padTo{
        QStringLiteral("pad-to"),
        QStringLiteral("Fill the bin image with the fill byte up to this many bytes (hexadecimal, such as a "
                       "flash size: 0x400000); a longer image is refused."),
        QStringLiteral("size")};
    QCommandLineOption field{
        QStringLiteral("field"),
        QStringLiteral("Write a checksum or length into the image: KIND@ADDR[,FROM-TO][,be], KIND one of "
                       "crc32, crc32-mpeg2, crc16-ccitt, crc16-xmodem, sum8, length, sha256; over FROM-TO "
                       "(TO the first address after it) or the whole image without the field; be: "
                       "big-endian. As often as needed, worked out in the order given."),
        QStringLiteral("field")};
    QCommandLineOption flash{QStringLiteral("flash"),
                             QStringLiteral("The flash, ORIGIN,SIZE (hexadecimal): every byte of the image must "
                                            "lie in it."),
                             QStringLiteral("origin,size")};
    QCommandLineOption sectorSize{QStringLiteral("sector-size"),
                                  QStringLiteral("The flash's erase sector size (hexadecimal, a power of two): no "
                                                 "two files, nor a file and a field, may share a sector."),
                                  QStringLiteral("size")};
    QCommandLineOption fill{QStringLiteral("fill"),
                            QStringLiteral("The byte of fill before, between and after the files (hexadecimal, "
                                           "FF by default)."),
                            QStringLiteral("byte")};
    QCommandLineOption map{QStringLiteral("map"),
                           QStringLiteral("Write a JSON map of the merge (image and files with their "
                                          "segments, CRC-32 and SHA-256) to this file, - for standard output."),
                           QStringLiteral("file")};
    QCommandLineOption layout{QStringLiteral("layout"), QStringLiteral("Print the image map before merging.")};
    QCommandLineOption dryRun{QStringLiteral("dry-run"),
                              QStringLiteral("Print the map and the checks' outcome; write no image.")};

    Parser()
    {
        parser.setApplicationDescription(QStringLiteral(
            "Merges firmware files into one image: by default a flat image whose first byte stands\n"
            "for address 0x1000, every gap filled with 0xFF. Either the rows that the Merge File\n"
            "Tool saved (--settings) or ADDR FILE pairs with -o. Addresses are hexadecimal (1000,\n"
            "0x1000), from 0 to FFFFFFFF. A raw file lies at ADDR; an Intel HEX, S-record or ELF\n"
            "file is moved so that its lowest address lies at ADDR, or stays at its own addresses\n"
            "with ADDR -.\n"
            "Exit status: 0 merged, 1 refused or failed, 2 usage error."));
        parser.addOptions({settings, output, format, inputFormat, base, recordSize, padTo, field, flash, sectorSize,
                           fill, map, layout, dryRun});
        parser.addPositionalArgument(QStringLiteral("pairs"),
                                     QStringLiteral("Start address (or -) and file, as often as needed; ADDR:SIZE "
                                                    "gives the file a slot it must fit. Put -- before them if an "
                                                    "address starts with a minus sign."),
                                     QStringLiteral("[ADDR[:SIZE] FILE ...]"));
    }
};

bool usage(QString *error, const QString &message)
{
    *error = message;
    return false;
}

// A hexadecimal number from 0 to most, with or without 0x.
bool hexNumber(const QString &text, qint64 most, qint64 *value)
{
    bool ok = false;
    *value = text.toLongLong(&ok, 16);
    return ok && *value >= 0 && *value <= most;
}

bool readSettings(const Parser &p, const QString &path, CliOptions &options, QString *error)
{
    if (!QFileInfo(path).isFile())
        return usage(error, QStringLiteral("no settings file %1").arg(path));
    QFile readable(path);
    if (!readable.open(QIODevice::ReadOnly))
        return usage(error, QStringLiteral("cannot read the settings file %1").arg(path));
    readable.close();
    MergeSettings settings;
    settings.load(path);
    const bool outputGiven = p.parser.isSet(p.output);
    const QStringList undecodable = undecodableKeys(path, settings, !outputGiven);
    if (!undecodable.isEmpty())
        return usage(error, QStringLiteral("%1 in %2 is not valid UTF-8, so it cannot name a file")
                                .arg(undecodable.join(QLatin1String(", ")), path));
    for (int i = 0; i < MergeSettings::rowCount; ++i) {
        const size_t k = size_t(i);
        options.rows.append(MergeRow{settings.enables[k], settings.fileNames[k], settings.addresses[k]});
    }
    // The window's own rules: its address texts, and every input raw data
    // unless asked otherwise.
    options.addressRule = MergeJob::AddressRule::Window;
    options.detectInputs = p.parser.value(p.inputFormat) == QLatin1String("auto");
    if (outputGiven) {
        if (!options.output.isEmpty() && options.output != QLatin1String("-"))
            options.output = QFileInfo(options.output).absoluteFilePath(); // relative to where we were started
    } else {
        options.output = settings.mergeFileName;
    }
    if (!QDir::setCurrent(settingsBaseFolder(path)))
        return usage(error, QStringLiteral("cannot enter the folder of %1").arg(path));
    return true;
}

bool readPairs(const Parser &p, const QStringList &pairs, CliOptions &options, QString *error)
{
    if (pairs.isEmpty())
        return usage(error, QStringLiteral("nothing to merge: give --settings PATH or ADDR FILE pairs"));
    if (pairs.size() % 2 != 0)
        return usage(error, QStringLiteral("odd number of arguments: the address %1 has no file").arg(pairs.last()));
    if (!p.parser.isSet(p.output))
        return usage(error, QStringLiteral("missing -o OUT: name the output file"));
    options.detectInputs = p.parser.value(p.inputFormat) != QLatin1String("raw");
    for (int i = 0; i < pairs.size(); i += 2) {
        qint64 address = 0;
        bool own = false;
        const QString pair = QStringLiteral("pair %1 (\"%2\" %3)").arg(i / 2 + 1).arg(pairs.at(i), pairs.at(i + 1));
        // ADDR:SIZE, a slot the file must fit.
        QString addressText = pairs.at(i);
        qint64 slot = 0;
        const int colon = addressText.indexOf(QLatin1Char(':'));
        if (colon >= 0) {
            if (!hexNumber(addressText.mid(colon + 1), addressSpaceEnd, &slot) || slot == 0)
                return usage(error, QStringLiteral("%1: \"%2\" is not a slot size from 1 to 100000000")
                                        .arg(pair, addressText.mid(colon + 1)));
            addressText.truncate(colon);
        }
        if (!MergeJob::pairAddress(addressText, &address, &own))
            return usage(error, QStringLiteral("%1: \"%2\" is not a hexadecimal address from 0 to FFFFFFFF, "
                                               "nor - for the file's own addresses")
                                    .arg(pair, pairs.at(i)));
        if (own && !options.detectInputs)
            return usage(error, QStringLiteral("%1: - (the file's own addresses) needs --input-format auto").arg(pair));
        options.rows.append(MergeRow{true, pairs.at(i + 1), addressText, slot});
    }
    return true;
}

} // namespace

bool parseCommandLine(const QStringList &arguments, CliOptions &options, QString *error)
{
    Parser p;
    if (!p.parser.parse(arguments))
        return usage(error, p.parser.errorText());
    if (p.parser.isSet(p.help)) {
        options.action = CliOptions::Action::Help;
        options.helpText = p.parser.helpText().trimmed();
        return true;
    }
    if (p.parser.isSet(p.version)) {
        options.action = CliOptions::Action::Version;
        return true;
    }

    options.formatText = p.parser.value(p.format);
    if (options.formatText == QLatin1String("hex"))
        options.format = OutputFormat::IntelHex;
    else if (options.formatText == QLatin1String("srec"))
        options.format = OutputFormat::SRecord;
    else if (options.formatText != QLatin1String("bin"))
        return usage(error, QStringLiteral("unknown format %1: bin, hex or srec").arg(options.formatText));
    const QString inputFormat = p.parser.value(p.inputFormat);
    if (p.parser.isSet(p.inputFormat) && inputFormat != QLatin1String("auto") && inputFormat != QLatin1String("raw"))
        return usage(error, QStringLiteral("unknown input format %1: auto or raw").arg(inputFormat));
    if (p.parser.isSet(p.base) && !hexNumber(p.parser.value(p.base), addressSpaceEnd - 1, &options.base))
        return usage(error, QStringLiteral("base %1: give a hexadecimal address from 0 to FFFFFFFF")
                                .arg(p.parser.value(p.base)));
    if (p.parser.isSet(p.recordSize)) {
        if (options.format == OutputFormat::Raw)
            return usage(error, QStringLiteral("--record-size needs --format hex or srec"));
        bool ok = false;
        options.recordSize = p.parser.value(p.recordSize).toInt(&ok, 10);
        const int most = MergeJob::maxRecordSize(options.format);
        if (!ok || options.recordSize < 1 || options.recordSize > most)
            return usage(error, QStringLiteral("record size %1: give 1 to %2 for --format %3")
                                    .arg(p.parser.value(p.recordSize))
                                    .arg(most)
                                    .arg(options.formatText));
    }
    if (p.parser.isSet(p.padTo)) {
        if (options.format != OutputFormat::Raw)
            return usage(error, QStringLiteral("--pad-to is for --format bin: hex and srec leave the gaps out"));
        const qint64 most = MergeJob::maxImageSize(options.base);
        if (!hexNumber(p.parser.value(p.padTo), most, &options.padTo) || options.padTo < 1)
            return usage(error, QStringLiteral("pad size %1: give a hexadecimal size from 1 to %2")
                                    .arg(p.parser.value(p.padTo), QString::number(most, 16)));
    }
    for (const QString &text : p.parser.values(p.field)) {
        MergeField field;
        QString problem;
        if (!parseField(text, &field, &problem))
            return usage(error, QStringLiteral("field %1: %2").arg(text, problem));
        options.fields.append(field);
    }
    if (p.parser.isSet(p.flash)) {
        const QStringList flash = p.parser.value(p.flash).split(QLatin1Char(','));
        if (flash.size() != 2 || !hexNumber(flash.at(0), addressSpaceEnd - 1, &options.flashOrigin)
            || !hexNumber(flash.at(1), addressSpaceEnd - options.flashOrigin, &options.flashSize) || options.flashSize == 0)
            return usage(error, QStringLiteral("flash %1: give ORIGIN,SIZE in hexadecimal, within 32-bit addresses")
                                    .arg(p.parser.value(p.flash)));
    }
    if (p.parser.isSet(p.sectorSize)) {
        const bool number = hexNumber(p.parser.value(p.sectorSize), addressSpaceEnd, &options.sectorSize);
        if (!number || options.sectorSize == 0 || (options.sectorSize & (options.sectorSize - 1)) != 0)
            return usage(error, QStringLiteral("sector size %1: give a power of two in hexadecimal (1000 for 4 KiB)")
                                    .arg(p.parser.value(p.sectorSize)));
    }
    if (p.parser.isSet(p.fill)) {
        qint64 byte = 0;
        if (!hexNumber(p.parser.value(p.fill), 0xFF, &byte))
            return usage(error, QStringLiteral("fill %1: give a byte in hexadecimal, 0 to FF").arg(p.parser.value(p.fill)));
        options.fill = char(byte);
    }
    const QString mapText = p.parser.value(p.map);
    options.wantMap = p.parser.isSet(p.map);
    if (options.wantMap && mapText.isEmpty())
        return usage(error, QStringLiteral("--map needs a file name, or - for standard output"));
    // Like -o: relative to where the script runs, and /dev/stdout is "-".
    if (options.wantMap)
        options.map = mapText == QLatin1String("-") || isStandardOutput(mapText) ? QStringLiteral("-")
                                                                                 : QFileInfo(mapText).absoluteFilePath();
    options.printLayout = p.parser.isSet(p.layout);
    options.dryRun = p.parser.isSet(p.dryRun);

    const QStringList pairs = p.parser.positionalArguments();
    options.output = p.parser.value(p.output);
    if (p.parser.isSet(p.settings)) {
        if (!pairs.isEmpty())
            return usage(error, QStringLiteral("give either --settings or ADDR FILE pairs, not both"));
        if (!readSettings(p, p.parser.value(p.settings), options, error))
            return false;
    } else if (!readPairs(p, pairs, options, error)) {
        return false;
    }

    // Only -o - means standard output: in a settings file, "-" is the window's,
    // a file named -.
    options.toStandardOutput = (p.parser.isSet(p.output) && options.output == QLatin1String("-"))
                               || (!options.output.isEmpty() && isStandardOutput(options.output));
    const bool mapToStandardOutput = options.wantMap && options.map == QLatin1String("-");
    if (options.wantMap && !mapToStandardOutput) {
        // Found before anything is read: the map would take a file the merge
        // needs.
        if (!options.toStandardOutput && !options.output.isEmpty() && sameFile(options.map, options.output))
            return usage(error, QStringLiteral("--map %1 is the output file").arg(mapText));
        for (int i = 0; i < options.rows.size(); ++i) {
            const MergeRow &row = options.rows.at(i);
            if (row.enabled && !row.fileName.isEmpty() && sameFile(options.map, row.fileName))
                return usage(error, QStringLiteral("--map %1 is file%2, one of the files to merge").arg(mapText).arg(i + 1));
        }
    }
    if (options.toStandardOutput && mapToStandardOutput)
        return usage(error, QStringLiteral("the image and the map cannot both go to standard output"));
    return true;
}

QString undecodableArgument(int argc, char *argv[])
{
#ifdef Q_OS_UNIX
    for (int i = 1; i < argc; ++i) {
        const QByteArray raw(argv[i]);
        if (QFile::encodeName(QFile::decodeName(raw)) == raw)
            continue;
        QString shown;
        for (const char byte : raw) {
            const auto b = uchar(byte);
            shown += b >= 0x20 && b < 0x7F ? QString(QLatin1Char(char(b)))
                                          : QStringLiteral("\\x%1").arg(b, 2, 16, QLatin1Char('0'));
        }
        return shown;
    }
#else
    Q_UNUSED(argc);
    Q_UNUSED(argv);
#endif
    return QString();
}
