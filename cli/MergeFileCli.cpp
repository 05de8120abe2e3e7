// MergeFileCli: the window's merge for build servers and release scripts.
// Same engine, same checks, same messages, same settings file; no display.

#include "CliOptions.h"
#include "Commands.h"
#include "LayoutReport.h"
#include "Terminal.h"
#include "MergeJob.h"
#include "MergeMessages.h"
#include "Version.h"
#include "inspect/LoneFile.h"
#include "mcuboot/McubootImage.h"
#include "output/OutputFile.h"
#include "platform/ProcessIo.h"
#include "report/LayoutPicture.h"
#include "report/MergeMap.h"
#include "writers/ImageWriter.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

enum ExitCode { Merged = 0, Refused = 1, UsageError = 2 };

// Where the log goes: standard output, unless the image or the map does.
FILE *logStream = stdout;
void print(FILE *stream, const QString &line)
{
    Terminal::writeLine(stream, line);
}

void logLine(const QString &line)
{
    print(logStream, Terminal::escaped(line));
}

int usageError(const QString &message)
{
    print(stderr, Terminal::escaped(QStringLiteral("MergeFileCli: %1").arg(message)));
    print(stderr, QStringLiteral("Try 'MergeFileCli --help' for more information."));
    return UsageError;
}

// How a report file is refused when it cannot be written: alone (a dry run,
// a refused merge), and beside an output, with what became of the output.
struct ReportMessages
{
    OpenRefusals open;
    Refusal (*cannotWrite)(const QString &);
    Refusal (*cannotOpenBeside)(const QString &, const QString &);
    Refusal (*cannotWriteBeside)(const QString &, const QString &, bool);
};
const ReportMessages mapMessages{{Refusal::failToOpenMap, Refusal::mapForeignLink, Refusal::mapLinkLoop},
                                 Refusal::failToWriteMap, Refusal::failToOpenMap, Refusal::failToWriteMap};
const ReportMessages pictureMessages{{Refusal::failToOpenPicture, Refusal::pictureForeignLink, Refusal::pictureLinkLoop},
                                     Refusal::failToWritePicture, Refusal::failToOpenPicture, Refusal::failToWritePicture};

// The map and the picture are written like the output, through a file of
// their own that takes the old one's place at the end. Beside an image they
// are opened before it is written and made whole before it replaces
// anything, so that one that cannot be written stops the merge first; they
// take their places once it has. The map may go to standard output ("-"),
// which gets it last. Each refusal goes to the log it is given.
class ReportFile : public ByteSink
{
public:
    ReportFile(const QString &name, const ReportMessages &messages, const Messages::Log &log)
        : name(name)
        , messages(messages)
        , log(log)
        , file(name)
    {
    }

    // output: the merge file it goes with, named when this cannot be
    // opened; empty: none is at stake.
    bool open(const QString &output = QString())
    {
        if (name == QLatin1String("-"))
            return true;
        const OutputFile::Status status = file.open(-1, {});
        if (status == OutputFile::Opened)
            return true;
        // Beside an image, a file that cannot be opened also names it.
        const bool link = status == OutputFile::LinkRefused || status == OutputFile::LinkLoop;
        return log.refuse(link || output.isEmpty() ? messages.open.refusal(status, name)
                                                   : messages.cannotOpenBeside(name, output));
    }

    bool write(const char *data, qint64 size) override
    {
        if (name != QLatin1String("-"))
            return file.write(data, size);
        const bool ok = std::fwrite(data, 1, size_t(size), stdout) == size_t(size);
        Terminal::outputFailed(!ok);
        return ok;
    }

    // What writeTo() writes, made whole before output replaces anything
    // (imageOut: it is a device or pipe that already has the image).
    template <typename Write>
    bool make(Write writeTo, const QString &output, bool imageOut)
    {
        if (name == QLatin1String("-") || (writeTo(*this) && file.finish()))
            return true;
        return log.refuse(messages.cannotWriteBeside(name, output, imageOut));
    }

    // Put in place, once output is; standard output gets what writeTo()
    // writes now.
    template <typename Write>
    bool place(Write writeTo, const QString &output)
    {
        if (!(name == QLatin1String("-") ? toStandardOutput(writeTo) : file.commit()))
            return log.refuse(messages.cannotWriteBeside(name, output, true));
        return true;
    }

    // What writeTo() writes, then put in place, with no image at stake.
    template <typename Write>
    bool finish(Write writeTo)
    {
        const bool ok = name == QLatin1String("-") ? toStandardOutput(writeTo) : writeTo(*this) && file.commit();
        return ok || log.refuse(messages.cannotWrite(name));
    }

private:
    template <typename Write>
    bool toStandardOutput(Write writeTo)
    {
        const bool ok = writeTo(*this) && std::fflush(stdout) == 0;
        Terminal::outputFailed(!ok);
        return ok;
    }

    QString name;
    const ReportMessages &messages;
    Messages::Log log;
    OutputFile file;
};

// Checks, then writes (or, for a dry run, checks the output and measures);
// the layout and the map as asked for.
int merge(const CliOptions &options)
{
    MergeOptions engine = options.merge;
    engine.hashOutput = true;
    engine.computeDigests = options.wantMap;
    // Shown before anything is written, the fields are worked out first.
    engine.fieldValuesFirst = options.printLayout || options.dryRun;
    MergeJob job(options.rows, options.output, logLine, engine);
    ReportFile map(options.map, mapMessages, logLine);
    ReportFile picture(options.picture, pictureMessages, logLine);
    PictureSettings drawn;
    drawn.flashOrigin = engine.flashOrigin;
    drawn.flashSize = engine.flashSize;
    const auto pictureText = [&](ByteSink &sink) { return writeLayoutPicture(sink, job.layout(), drawn); };
    // A dry run finds what the real one would, the output's problems too.
    if (!job.check() || (options.dryRun && !job.checkOutput())) {
        // The picture of a refused merge shows what was laid out, and where
        // it went wrong.
        drawn.refusal = job.refusal();
        if (options.wantPicture && picture.open())
            picture.finish(pictureText);
        return Refused;
    }
    const OutputFormatInfo &format = engine.format ? *engine.format : OutputFormats::flat();
    if (options.dryRun || options.printLayout) {
        layoutReport(job.layout(), logLine);
        logLine(QStringLiteral("output format %1 (%2%3)")
                    .arg(QLatin1String(format.name), QLatin1String(format.summary),
                         options.formatFromName ? QStringLiteral(", from the output's name") : QString()));
    }
    MergeMapOutput written;
    written.name = options.output;
    const auto mapText = [&](ByteSink &sink) { return writeMergeMap(sink, format, job.layout(), job.digests(), written); };
    if (options.dryRun) {
        if ((options.wantPicture && !picture.open()) || (options.wantMap && (!map.open() || !job.measure())))
            return Refused;
        if ((options.wantMap && !map.finish(mapText)) || (options.wantPicture && !picture.finish(pictureText)))
            return Refused;
        logLine(options.wantMap ? QStringLiteral("Checks passed; map written, no image.")
                                : QStringLiteral("Checks passed; nothing written."));
        return Merged;
    }
    if ((options.wantPicture && !picture.open(options.output)) || (options.wantMap && !map.open(options.output)))
        return Refused;
    // Made once the image is whole, before it replaces the output; put in
    // place after it, before the merge is said to have succeeded.
    MergeJob::Companions companions;
    companions.make = [&](bool imageOut) {
        written.length = job.outputSize();
        written.sha256 = job.outputSha256().toHex();
        return (!options.wantMap || map.make(mapText, options.output, imageOut))
               && (!options.wantPicture || picture.make(pictureText, options.output, imageOut));
    };
    companions.place = [&] {
        return (!options.wantMap || map.place(mapText, options.output))
               && (!options.wantPicture || picture.place(pictureText, options.output));
    };
    job.setCompanions(companions);
    if (!job.write())
        return Refused;
    logLine(QStringLiteral("Image length: %1 bytes").arg(job.layout().imageSize));
    if (&format != &OutputFormats::flat())
        logLine(QStringLiteral("Output length: %1 bytes").arg(written.length));
    logLine(QStringLiteral("SHA-256: %1").arg(QString::fromLatin1(written.sha256)));
    return Merged;
}

// sign --vector-to-sign: what must be signed elsewhere, written to the
// output as raw bytes, through a file of its own that takes the old one's
// place once whole, as an image is written.
int writeVector(const CliOptions &options)
{
    const Messages::Log log(logLine);
    const auto refused = [&log](const Refusal &refusal) {
        log.refuse(refusal);
        return Refused;
    };
    const Mcuboot::Request &request = options.mcuboot;
    const QString &name = options.files.first();
    // Only to tell the hash: the public half is enough.
    const QString keyFile = request.fixSignaturePublicKey.isEmpty() ? request.keyFile : request.fixSignaturePublicKey;
    Mcuboot::Key key;
    if (!keyFile.isEmpty() && !key.loadPublic(keyFile, log))
        return Refused;
    LoneFileOptions look;
    look.base = options.baseGiven ? options.merge.base : 0;
    look.moveTo = options.baseGiven ? options.merge.base : -1;
    look.detectFormats = options.merge.detectInputs;
    LoneFile file(name, look, log);
    if (!file.read())
        return Refused;
    // The payload as a merge takes it: from its lowest address, holes erased.
    const qint64 limit = request.options.slotSize > 0 ? request.options.slotSize : Mcuboot::largestWithoutSlot;
    const qint64 length = file.isEmpty() ? 0 : file.end() - file.lowest();
    if (length > limit)
        return refused(Refusal::mcubootTooLarge(name, length, limit));
    QByteArray payload;
    if (length > 0 && !readFlat(file, file.lowest(), file.end(), char(request.options.erasedValue), &payload))
        return refused(Refusal::failToRead(1, name));
    QByteArray vector;
    if (!Mcuboot::vectorToSign(payload, name, request.options, options.vector, keyFile.isEmpty() ? nullptr : &key,
                               &vector, log))
        return Refused;

    OutputFile out(options.output);
    out.setStandardOutput(options.merge.toStandardOutput);
    switch (out.open(vector.size(), {})) {
    case OutputFile::Opened:
        break;
    case OutputFile::Locked:
        return refused(Refusal::outputLocked(options.output));
    case OutputFile::LinkRefused:
        return refused(Refusal::outputForeignLink(options.output));
    case OutputFile::LinkLoop:
        return refused(Refusal::outputLinkLoop(options.output));
    case OutputFile::NoRoomToStage:
        return refused(Refusal::noRoomToStage(options.output));
    case OutputFile::CannotReserve:
        return refused(Refusal::failToWriteOutput(options.output));
    default:
        return refused(Refusal::failToOpenOutput(options.output));
    }
    if (!out.write(vector.constData(), vector.size()) || !out.commit())
        return refused(Refusal::failToWriteOutput(options.output));
    logLine(QStringLiteral("What to sign (%1): %2 bytes")
                .arg(options.vector == Mcuboot::VectorKind::Digest ? QStringLiteral("digest") : QStringLiteral("payload"))
                .arg(vector.size()));
    return Merged;
}

// sign: a merge of its one file made an MCUboot image. At its own addresses
// the output's first byte stands for the file's lowest address, which the
// file, read once alone, tells.
int sign(CliOptions options)
{
    if (options.wantVector)
        return writeVector(options);
    if (!options.baseGiven && options.merge.detectInputs) {
        LoneFileOptions look;
        look.base = 0;
        LoneFile file(options.files.first(), look, logLine);
        if (!file.read())
            return Refused;
        if (!file.isEmpty())
            options.merge.base = file.lowest();
    }
    return merge(options);
}

} // namespace

int main(int argc, char *argv[])
{
    // A write that fails (a size limit, a reader that went away) is reported
    // instead of killing the program half-way.
    ProcessIo::keepRunningOnFailedWrites();
    ProcessIo::useBinaryStandardStreams();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("MergeFileCli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(MERGEFILE_VERSION_TEXT));

    const QString undecodable = ProcessIo::undecodableArgument(argc, argv);
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
    if (options.merge.toStandardOutput || options.map == QLatin1String("-"))
        logStream = stderr;

    int result = options.command == CliOptions::Command::Merge ? merge(options)
                 : options.command == CliOptions::Command::Sign ? sign(options)
                                                                 : runCommand(options);
    // Not all that was asked for reached its reader; said where it can still
    // be read.
    if (Terminal::outputBroken()) {
        print(stderr, Messages::failToWriteStandardOutput());
        result = Refused;
    }
    if (Terminal::errorBroken()) {
        if (logStream == stdout && !Terminal::outputBroken())
            print(stdout, Messages::failToWriteStandardError());
        result = Refused;
    }
    return result;
}
