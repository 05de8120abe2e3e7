// MergeFileCli: the window's merge for build servers and release scripts.
// Same engine, same checks, same messages, same settings file; no display.

#include "MergeJob.h"
#include "MergeSettings.h"
#include "Version.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cstdio>

#ifdef Q_OS_UNIX
#include <csignal>
#endif
#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#endif

namespace {

enum ExitCode { Merged = 0, Refused = 1, UsageError = 2 };

// One line of text: UTF-8 with a plain \n for scripts and files; on a Windows
// console the console's own Unicode call, so that names outside the ANSI code
// page show as they are.
void print(FILE *stream, const QString &line)
{
#ifdef Q_OS_WIN
    HANDLE console = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode;
    if (console != INVALID_HANDLE_VALUE && GetConsoleMode(console, &mode)) {
        const QString text = line + QLatin1Char('\n');
        DWORD done;
        std::fflush(stream);
        WriteConsoleW(console, text.utf16(), DWORD(text.size()), &done, nullptr);
        return;
    }
#endif
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
}

int usageError(const QString &message)
{
    print(stderr, QStringLiteral("MergeFileCli: %1").arg(message));
    print(stderr, QStringLiteral("Try 'MergeFileCli --help' for more information."));
    return UsageError;
}

QString hex(qint64 value)
{
    return QStringLiteral("0x%1").arg(value, 8, 16, QLatin1Char('0'));
}

void printLayout(const MergeLayout &layout)
{
    print(stdout, QStringLiteral("file       start      offset        size         end  fill after"));
    for (const MergePlacement &p : layout.placements) {
        print(stdout, QStringLiteral("%1  %2  %3  %4  %5  %6")
                          .arg(p.row, 4)
                          .arg(hex(p.address), hex(p.offset), hex(p.size), hex(qint64(p.address) + p.size),
                               hex(p.fillAfter)));
    }
    print(stdout, QStringLiteral("image length %1 (%2 bytes)").arg(hex(layout.imageSize)).arg(layout.imageSize));
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

} // namespace

int main(int argc, char *argv[])
{
#ifdef Q_OS_UNIX
    // Past a file size limit a write fails and is reported, instead of
    // killing the program half-way.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
#ifdef Q_OS_WIN
    // Lines end in \n alone, as on every other system.
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
        QStringLiteral("The output file. With --settings it replaces the saved output name."),
        QStringLiteral("file"));
    const QCommandLineOption layoutOption(QStringLiteral("layout"),
                                          QStringLiteral("Print the image map before merging."));
    const QCommandLineOption dryRunOption(QStringLiteral("dry-run"),
                                          QStringLiteral("Print the map and the checks' outcome; write nothing."));
    parser.addOptions({settingsOption, outputOption, layoutOption, dryRunOption});
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

    const QStringList pairs = parser.positionalArguments();
    QVector<MergeRow> rows;
    QString output = parser.value(outputOption);

    if (parser.isSet(settingsOption)) {
        if (!pairs.isEmpty())
            return usageError(QStringLiteral("give either --settings or ADDR FILE pairs, not both"));
        const QString path = parser.value(settingsOption);
        if (!QFileInfo(path).isFile())
            return usageError(QStringLiteral("no settings file %1").arg(path));
        MergeSettings settings;
        settings.load(path);
        for (int i = 0; i < MergeSettings::rowCount; ++i) {
            const size_t k = size_t(i);
            rows.append(MergeRow{settings.enables[k], settings.fileNames[k], settings.addresses[k]});
        }
        if (parser.isSet(outputOption)) {
            if (!output.isEmpty())
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
        for (int i = 0; i < pairs.size(); i += 2)
            rows.append(MergeRow{true, pairs.at(i + 1), pairs.at(i)});
    }

    MergeJob job(rows, output, [](const QString &line) { print(stdout, line); });
    job.setUseSecondThread(true);
    if (!job.check())
        return Refused;
    const bool dryRun = parser.isSet(dryRunOption);
    if (dryRun || parser.isSet(layoutOption))
        printLayout(job.layout());
    if (dryRun) {
        print(stdout, QStringLiteral("Checks passed; nothing written."));
        return Merged;
    }
    if (!job.write())
        return Refused;
    print(stdout, QStringLiteral("Image length: %1 bytes").arg(job.layout().imageSize));
    print(stdout, QStringLiteral("SHA-256: %1").arg(QString::fromLatin1(job.imageSha256().toHex())));
    return Merged;
}
