// MergeFileCli: the window's merge for build servers and release scripts.
// Same engine, same checks, same messages, same settings file; no display.

#include "MergeJob.h"
#include "MergeMap.h"
#include "MergeSettings.h"
#include "OutputFile.h"
#include "Version.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cstdio>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/stat.h>
#include <unistd.h>
#endif
#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#endif

namespace {

enum ExitCode { Merged = 0, Refused = 1, UsageError = 2 };

// Where the log goes: standard output, unless the image or the map does.
FILE *logStream = stdout;
// A reader closed standard output or standard error early, or it is full.
bool stdoutBroken = false;
bool stderrBroken = false;

void markBroken(FILE *stream)
{
    (stream == stdout ? stdoutBroken : stderrBroken) = true;
}

// One line of text, flushed at once: UTF-8 with a plain \n for scripts and
// files; on a Windows console the console's own Unicode call, so that names
// outside the ANSI code page show as they are.
void print(FILE *stream, const QString &line)
{
#ifdef Q_OS_WIN
    HANDLE console = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode;
    if (console != INVALID_HANDLE_VALUE && GetConsoleMode(console, &mode)) {
        const QString text = line + QLatin1Char('\n');
        DWORD done;
        std::fflush(stream);
        if (!WriteConsoleW(console, text.utf16(), DWORD(text.size()), &done, nullptr))
            markBroken(stream);
        return;
    }
#endif
    const QByteArray bytes = line.toUtf8() + '\n';
    if (std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream) != size_t(bytes.size())
        || std::fflush(stream) != 0)
        markBroken(stream);
}

// File names may hold control characters; shown as escapes, a name cannot
// print a line of its own that a script could take for the tool's.
QString escaped(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const ushort u = c.unicode();
        if (u >= 0x20 && u != 0x7F && !(u >= 0x80 && u <= 0x9F) && u != 0x2028 && u != 0x2029) {
            out += c;
        } else if (u == '\n') {
            out += QLatin1String("\\n");
        } else if (u == '\r') {
            out += QLatin1String("\\r");
        } else if (u == '\t') {
            out += QLatin1String("\\t");
        } else if (u < 0x100) {
            out += QStringLiteral("\\x%1").arg(u, 2, 16, QLatin1Char('0'));
        } else {
            out += QStringLiteral("\\u%1").arg(u, 4, 16, QLatin1Char('0'));
        }
    }
    return out;
}

void logLine(const QString &line)
{
    print(logStream, escaped(line));
}

int usageError(const QString &message)
{
    print(stderr, escaped(QStringLiteral("MergeFileCli: %1").arg(message)));
    print(stderr, QStringLiteral("Try 'MergeFileCli --help' for more information."));
    return UsageError;
}

QString hex(qint64 value)
{
    return QStringLiteral("0x%1").arg(value, 8, 16, QLatin1Char('0'));
}

void printLayout(const MergeLayout &layout)
{
    logLine(QStringLiteral("file       start      offset        size         end  fill after"));
    for (const MergePlacement &p : layout.placements) {
        logLine(QStringLiteral("%1  %2  %3  %4  %5  %6")
                .arg(p.row, 4)
                .arg(hex(p.address), hex(p.offset), hex(p.size), hex(qint64(p.address) + p.size), hex(p.fillAfter)));
    }
    logLine(QStringLiteral("image length %1 (%2 bytes)").arg(hex(layout.imageSize)).arg(layout.imageSize));
}

// Relative names in a saved settings file mean what they mean to the window:
// relative to the program folder, which holds the "cfg" folder.
QString settingsBaseFolder(const QString &settingsPath)
{
    QDir folder = QFileInfo(settingsPath).absoluteDir();
    if (folder.dirName().compare(QLatin1String("cfg"), Qt::CaseInsensitive) == 0)
        folder.cdUp();
    return folder.absolutePath();
}

// An argument whose bytes the system's encoding (UTF-8) cannot carry would be
// opened or written under another name; shown with its odd bytes escaped.
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

// The map is written like the output, through a file of its own that takes
// the old one's place at the end; opened before the image replaces anything,
// so that a map that cannot be written stops the merge first.
class MapFile
{
public:
    explicit MapFile(const QString &name)
        : name(name)
        , file(name)
    {
    }

    bool open()
    {
        if (name == QLatin1String("-"))
            return true;
        const OutputFile::Status status = file.open(-1, {});
        switch (status) {
        case OutputFile::Opened:
            return true;
        case OutputFile::LinkRefused:
            logLine(QStringLiteral("Error!!!Map file%1 is a link that another user made in a shared folder!").arg(name));
            break;
        case OutputFile::LinkLoop:
            logLine(QStringLiteral("Error!!!Map file%1 is a link that leads round in a loop!").arg(name));
            break;
        default:
            logLine(QStringLiteral("Error!!!Fail to open map file%1").arg(name));
            break;
        }
        return false;
    }

    bool write(const QByteArray &json)
    {
        bool ok;
        if (name == QLatin1String("-")) {
            ok = std::fwrite(json.constData(), 1, size_t(json.size()), stdout) == size_t(json.size())
                 && std::fflush(stdout) == 0;
            if (!ok)
                markBroken(stdout);
        } else {
            ok = file.write(json.constData(), json.size()) && file.commit();
        }
        if (!ok)
            logLine(QStringLiteral("Error!!!Fail to write map file%1").arg(name));
        return ok;
    }

private:
    QString name;
    OutputFile file;
};

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

} // namespace

int main(int argc, char *argv[])
{
#ifdef Q_OS_UNIX
    // Past a file size limit, or with a reader that went away, a write fails
    // and is reported, instead of killing the program half-way.
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
#endif
#ifdef Q_OS_WIN
    // Lines end in \n alone, as on every other system, and an image on
    // standard output goes out byte for byte.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
#endif
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("MergeFileCli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(MERGEFILE_VERSION_TEXT));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Merges binary files into one flat image whose first byte stands for address 0x1000;\n"
        "every gap is filled with 0xFF. Either the rows that the Merge File Tool saved\n"
        "(--settings) or ADDR FILE pairs with -o. Addresses are hexadecimal (1000, 0x1000).\n"
        "Exit status: 0 merged, 1 refused or failed, 2 usage error."));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    const QCommandLineOption settingsOption(
        QStringLiteral("settings"),
        QStringLiteral("Merge the rows saved in this INI file (cfg/MergeTool.ini). Relative file names "
                       "in it are relative to the folder that holds its cfg folder."),
        QStringLiteral("path"));
    const QCommandLineOption outputOption(
        {QStringLiteral("o"), QStringLiteral("output")},
        QStringLiteral("The output file, - for standard output. With --settings it replaces the saved "
                       "output name."),
        QStringLiteral("file"));
    const QCommandLineOption formatOption(
        QStringLiteral("format"),
        QStringLiteral("bin (the flat image, the default), hex (Intel HEX, 32-bit addresses) or srec "
                       "(Motorola S-records, S3). hex and srec put each file at its own address and "
                       "write nothing for the gaps."),
        QStringLiteral("format"), QStringLiteral("bin"));
    const QCommandLineOption recordSizeOption(
        QStringLiteral("record-size"),
        QStringLiteral("Data bytes per hex or srec record: 1 to 255 for hex, 1 to 250 for srec (16)."),
        QStringLiteral("n"));
    const QCommandLineOption padToOption(
        QStringLiteral("pad-to"),
        QStringLiteral("Fill the bin image with 0xFF up to this many bytes (hexadecimal, such as a "
                       "flash size: 0x400000); a longer image is refused."),
        QStringLiteral("size"));
    const QCommandLineOption mapOption(
        QStringLiteral("map"),
        QStringLiteral("Write a JSON map of the merge (image and files with CRC-32 and SHA-256) to "
                       "this file, - for standard output."),
        QStringLiteral("file"));
    const QCommandLineOption layoutOption(QStringLiteral("layout"),
                                          QStringLiteral("Print the image map before merging."));
    const QCommandLineOption dryRunOption(QStringLiteral("dry-run"),
                                          QStringLiteral("Print the map and the checks' outcome; write no image."));
    parser.addOptions({settingsOption, outputOption, formatOption, recordSizeOption, padToOption, mapOption,
                       layoutOption, dryRunOption});
    parser.addPositionalArgument(QStringLiteral("pairs"),
                                 QStringLiteral("Start address and file, as often as needed. Put -- before "
                                                "them if an address starts with a minus sign."),
                                 QStringLiteral("[ADDR FILE ...]"));

    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser.errorText());
    // Printed here, not by the parser, which on Windows shows a message box
    // when it finds no console.
    if (parser.isSet(helpOption)) {
        print(stdout, parser.helpText().trimmed());
        return Merged;
    }
    if (parser.isSet(versionOption)) {
        print(stdout, QStringLiteral("MergeFileCli %1").arg(QCoreApplication::applicationVersion()));
        return Merged;
    }
    const QString undecodable = undecodableArgument(argc, argv);
    if (!undecodable.isEmpty())
        return usageError(QStringLiteral("%1 is not valid UTF-8, the encoding of this system's file names, "
                                         "so it cannot be used under its own name")
                              .arg(undecodable));

    OutputFormat format = OutputFormat::Raw;
    const QString formatText = parser.value(formatOption);
    if (formatText == QLatin1String("hex"))
        format = OutputFormat::IntelHex;
    else if (formatText == QLatin1String("srec"))
        format = OutputFormat::SRecord;
    else if (formatText != QLatin1String("bin"))
        return usageError(QStringLiteral("unknown format %1: bin, hex or srec").arg(formatText));
    int recordSize = 16;
    if (parser.isSet(recordSizeOption)) {
        if (format == OutputFormat::Raw)
            return usageError(QStringLiteral("--record-size needs --format hex or srec"));
        bool ok = false;
        recordSize = parser.value(recordSizeOption).toInt(&ok, 10);
        const int most = MergeJob::maxRecordSize(format);
        if (!ok || recordSize < 1 || recordSize > most)
            return usageError(QStringLiteral("record size %1: give 1 to %2 for --format %3")
                                  .arg(parser.value(recordSizeOption))
                                  .arg(most)
                                  .arg(formatText));
    }
    qint64 padTo = 0;
    if (parser.isSet(padToOption)) {
        if (format != OutputFormat::Raw)
            return usageError(QStringLiteral("--pad-to is for --format bin: hex and srec leave the gaps out"));
        bool ok = false;
        padTo = parser.value(padToOption).toLongLong(&ok, 16);
        if (!ok || padTo < 1 || padTo > MergeJob::maxImageSize())
            return usageError(QStringLiteral("pad size %1: give a hexadecimal size from 1 to %2")
                                  .arg(parser.value(padToOption), QString::number(MergeJob::maxImageSize(), 16)));
    }
    QString mapName = parser.value(mapOption);
    const bool wantMap = parser.isSet(mapOption);
    if (wantMap && mapName.isEmpty())
        return usageError(QStringLiteral("--map needs a file name, or - for standard output"));
    // Like -o: relative to where the script runs, and /dev/stdout is "-".
    if (wantMap && mapName != QLatin1String("-"))
        mapName = isStandardOutput(mapName) ? QStringLiteral("-") : QFileInfo(mapName).absoluteFilePath();

    const QStringList pairs = parser.positionalArguments();
    QVector<MergeRow> rows;
    QString output = parser.value(outputOption);

    if (parser.isSet(settingsOption)) {
        if (!pairs.isEmpty())
            return usageError(QStringLiteral("give either --settings or ADDR FILE pairs, not both"));
        const QString path = parser.value(settingsOption);
        if (!QFileInfo(path).isFile())
            return usageError(QStringLiteral("no settings file %1").arg(path));
        QFile readable(path);
        if (!readable.open(QIODevice::ReadOnly))
            return usageError(QStringLiteral("cannot read the settings file %1").arg(path));
        readable.close();
        MergeSettings settings;
        settings.load(path);
        const QStringList undecodable = undecodableKeys(path, settings, !parser.isSet(outputOption));
        if (!undecodable.isEmpty())
            return usageError(QStringLiteral("%1 in %2 is not valid UTF-8, so it cannot name a file")
                                  .arg(undecodable.join(QLatin1String(", ")), path));
        for (int i = 0; i < MergeSettings::rowCount; ++i) {
            const size_t k = size_t(i);
            rows.append(MergeRow{settings.enables[k], settings.fileNames[k], settings.addresses[k]});
        }
        if (parser.isSet(outputOption)) {
            if (!output.isEmpty() && output != QLatin1String("-"))
                output = QFileInfo(output).absoluteFilePath(); // relative to where we were started
        } else {
            output = settings.mergeFileName;
        }
        if (!QDir::setCurrent(settingsBaseFolder(path)))
            return usageError(QStringLiteral("cannot enter the folder of %1").arg(path));
    } else {
        if (pairs.isEmpty())
            return usageError(QStringLiteral("nothing to merge: give --settings PATH or ADDR FILE pairs"));
        if (pairs.size() % 2 != 0)
            return usageError(QStringLiteral("odd number of arguments: the address %1 has no file").arg(pairs.last()));
        if (!parser.isSet(outputOption))
            return usageError(QStringLiteral("missing -o OUT: name the output file"));
        // Checked before anything is read; the window's own rule (an address
        // that does not convert counts as 0) stays the window's.
        for (int i = 0; i < pairs.size(); i += 2) {
            bool ok = false;
            MergeJob::addressFromText(pairs.at(i), &ok);
            if (!ok)
                return usageError(QStringLiteral("pair %1 (\"%2\" %3): \"%2\" is not a hexadecimal address "
                                                 "from -80000000 to 7FFFFFFF")
                                      .arg(i / 2 + 1)
                                      .arg(pairs.at(i), pairs.at(i + 1)));
            rows.append(MergeRow{true, pairs.at(i + 1), pairs.at(i)});
        }
    }

    // Only -o - means standard output: in a settings file, "-" is the window's,
    // a file named -.
    const bool toStandardOutput = (parser.isSet(outputOption) && output == QLatin1String("-"))
                                  || (!output.isEmpty() && isStandardOutput(output));
    const bool mapToStandardOutput = wantMap && mapName == QLatin1String("-");
    if (wantMap && !mapToStandardOutput) {
        // Found before anything is read: the map would take a file the merge
        // needs.
        if (!toStandardOutput && !output.isEmpty() && sameFile(mapName, output))
            return usageError(QStringLiteral("--map %1 is the output file").arg(parser.value(mapOption)));
        for (int i = 0; i < rows.size(); ++i) {
            if (rows.at(i).enabled && !rows.at(i).fileName.isEmpty() && sameFile(mapName, rows.at(i).fileName))
                return usageError(QStringLiteral("--map %1 is file%2, one of the files to merge")
                                      .arg(parser.value(mapOption))
                                      .arg(i + 1));
        }
    }
    if (toStandardOutput && mapToStandardOutput)
        return usageError(QStringLiteral("the image and the map cannot both go to standard output"));
    if (toStandardOutput || mapToStandardOutput)
        logStream = stderr;

    MergeJob job(rows, output, logLine);
    job.setFormat(format, recordSize);
    job.setPadTo(padTo);
    job.setOutputToStandardOutput(toStandardOutput);
    job.setUseSecondThread(true);
    job.setComputeDigests(wantMap);
    const bool dryRun = parser.isSet(dryRunOption);

    int result = Merged;
    MapFile map(mapName);
    // A dry run finds what the real one would, the output's problems too.
    if (!job.check() || (dryRun && !job.checkOutput())) {
        result = Refused;
    } else {
        if (dryRun || parser.isSet(layoutOption))
            printLayout(job.layout());
        MergeMapOutput written;
        written.name = output;
        if (dryRun) {
            if (wantMap && (!map.open() || !job.measure()))
                result = Refused;
        } else if ((wantMap && !map.open()) || !job.write()) {
            result = Refused;
        } else {
            written.length = job.outputSize();
            written.sha256 = job.outputSha256().toHex();
            logLine(QStringLiteral("Image length: %1 bytes").arg(job.layout().imageSize));
            if (format != OutputFormat::Raw)
                logLine(QStringLiteral("Output length: %1 bytes").arg(written.length));
            logLine(QStringLiteral("SHA-256: %1").arg(QString::fromLatin1(written.sha256)));
        }
        if (result == Merged && wantMap && !map.write(mergeMapJson(format, job.layout(), job.digests(), written)))
            result = Refused;
        if (result == Merged && dryRun)
            logLine(wantMap ? QStringLiteral("Checks passed; map written, no image.")
                        : QStringLiteral("Checks passed; nothing written."));
    }
    // Not all that was asked for reached its reader; said where it can still
    // be read.
    if (stdoutBroken) {
        print(stderr, QStringLiteral("Error!!!Fail to write to standard output!"));
        result = Refused;
    }
    if (stderrBroken) {
        if (logStream == stdout && !stdoutBroken)
            print(stdout, QStringLiteral("Error!!!Fail to write to standard error!"));
        result = Refused;
    }
    return result;
}
