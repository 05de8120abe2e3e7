// MergeFileCli: the window's merge for build servers and release scripts.
// Same engine, same checks, same messages, same settings file; no display.

#include "CliOptions.h"
#include "Fields.h"
#include "InputReader.h"
#include "MergeJob.h"
#include "MergeMap.h"
#include "OutputFile.h"
#include "Version.h"

#include <QCoreApplication>

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
                .arg(hex(p.address), hex(p.offset), hex(p.size), hex(p.end), hex(p.fillAfter)));
        if (p.format == InputFormat::Raw)
            continue;
        // Where its pieces came from: its own addresses, moved by the shift.
        QString origin = QStringLiteral("      %1").arg(inputFormatName(p.format));
        origin += p.shift == 0 ? QStringLiteral(", at its own addresses")
                               : QStringLiteral(", moved by %1%2").arg(p.shift < 0 ? QLatin1Char('-') : QLatin1Char('+'))
                                                                   .arg(hex(qAbs(p.shift)));
        if (p.hasStartAddress)
            origin += QStringLiteral(", start address %1").arg(hex(p.startAddress));
        logLine(origin);
        for (const MergeRange &range : mergeRanges(p))
            logLine(QStringLiteral("      segment %1 - %2 (%3 bytes)")
                        .arg(hex(range.start), hex(range.end))
                        .arg(range.end - range.start));
    }
    for (const MergePlacement &p : layout.placements) {
        if (p.slotSize > 0)
            logLine(QStringLiteral("slot of file %1: %2 bytes at %3, %4 bytes left")
                        .arg(p.row)
                        .arg(p.slotSize)
                        .arg(hex(p.address))
                        .arg(p.slotSize - (p.end - p.address)));
    }
    for (const MergeField &f : layout.fields) {
        const qint64 number = fieldNumber(f);
        logLine(QStringLiteral("field %1: %2 at %3 - %4, over %5 - %6%7, %8")
                    .arg(f.text, fieldKindName(f.kind), hex(f.address), hex(f.end()),
                         hex(f.from), hex(f.to), f.wholeImage ? QStringLiteral(" without itself") : QString(),
                         number >= 0 ? QStringLiteral("value %1 (bytes %2)").arg(hex(number), QString::fromLatin1(f.value.toHex(' ')))
                                     : QStringLiteral("value %1").arg(QString::fromLatin1(f.value.toHex()))));
    }
    if (layout.sectorSize > 0)
        logLine(QStringLiteral("erase sectors of %1 bytes touched: %2").arg(layout.sectorSize).arg(layout.sectorsTouched));
    logLine(QStringLiteral("image length %1 (%2 bytes)").arg(hex(layout.imageSize)).arg(layout.imageSize));
    if (layout.base != defaultImageBase)
        logLine(QStringLiteral("image base %1").arg(hex(layout.base)));
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

    const QString undecodable = undecodableArgument(argc, argv);
    CliOptions options;
    QString error;
    if (!parseCommandLine(QCoreApplication::arguments(), options, &error))
        return usageError(error);
    // Printed here, not by the parser, which on Windows shows a message box
    // when it finds no console.
    if (options.action == CliOptions::Action::Help) {
        print(stdout, options.helpText);
        return Merged;
    }
    if (options.action == CliOptions::Action::Version) {
        print(stdout, QStringLiteral("MergeFileCli %1").arg(QCoreApplication::applicationVersion()));
        return Merged;
    }
    if (!undecodable.isEmpty())
        return usageError(QStringLiteral("%1 is not valid UTF-8, the encoding of this system's file names, "
                                         "so it cannot be used under its own name")
                              .arg(undecodable));
    if (options.toStandardOutput || options.map == QLatin1String("-"))
        logStream = stderr;

    MergeJob job(options.rows, options.output, logLine);
    job.setFormat(options.format, options.recordSize);
    job.setPadTo(options.padTo);
    job.setBase(options.base);
    job.setInputDetection(options.detectInputs);
    job.setFields(options.fields);
    job.setFlash(options.flashOrigin, options.flashSize);
    job.setSectorSize(options.sectorSize);
    job.setFillByte(options.fill);
    job.setAddressRule(options.addressRule);
    job.setOutputToStandardOutput(options.toStandardOutput);
    job.setUseSecondThread(true);
    job.setComputeDigests(options.wantMap);
    const bool dryRun = options.dryRun;
    const bool wantMap = options.wantMap;
    const OutputFormat format = options.format;
    const QString output = options.output;

    int result = Merged;
    MapFile map(options.map);
    // A dry run finds what the real one would, the output's problems too.
    if (!job.check() || (dryRun && !job.checkOutput())) {
        result = Refused;
    } else {
        if (dryRun || options.printLayout)
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
