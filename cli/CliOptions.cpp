#include "CliOptions.h"

#include "Address.h"
#include "platform/ProcessIo.h"
#include "settings/MergeSettings.h"
#include "writers/ImageWriter.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace {

bool usage(QString *error, const QString &message)
{
    *error = message;
    return false;
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

bool readSettings(CliOptions &options, QString *error)
{
    const QString &path = options.settingsPath;
    if (!QFileInfo(path).isFile())
        return usage(error, QStringLiteral("no settings file %1").arg(path));
    QFile readable(path);
    if (!readable.open(QIODevice::ReadOnly))
        return usage(error, QStringLiteral("cannot read the settings file %1").arg(path));
    readable.close();
    MergeSettings settings;
    settings.load(path);
    const QStringList undecodable = undecodableKeys(path, settings, !options.outputGiven);
    if (!undecodable.isEmpty())
        return usage(error, QStringLiteral("%1 in %2 is not valid UTF-8, so it cannot name a file")
                                .arg(undecodable.join(QLatin1String(", ")), path));
    // The window's own rules: its address texts, and every input raw data
    // unless asked otherwise.
    for (int i = 0; i < MergeSettings::rowCount; ++i) {
        const size_t k = size_t(i);
        options.rows.append(Address::windowRow(settings.enables[k], settings.fileNames[k], settings.addresses[k]));
    }
    options.merge.detectInputs = options.inputFormat == QLatin1String("auto");
    if (options.outputGiven) {
        if (!options.output.isEmpty() && options.output != QLatin1String("-"))
            options.output = QFileInfo(options.output).absoluteFilePath(); // relative to where we were started
    } else {
        options.output = settings.mergeFileName;
    }
    if (!QDir::setCurrent(settingsBaseFolder(path)))
        return usage(error, QStringLiteral("cannot enter the folder of %1").arg(path));
    return true;
}

bool readPairs(const QStringList &pairs, CliOptions &options, QString *error)
{
    if (pairs.isEmpty())
        return usage(error, QStringLiteral("nothing to merge: give --settings PATH or ADDR FILE pairs"));
    if (pairs.size() % 2 != 0)
        return usage(error, QStringLiteral("odd number of arguments: the address %1 has no file").arg(pairs.last()));
    if (!options.outputGiven)
        return usage(error, QStringLiteral("missing -o OUT: name the output file"));
    options.merge.detectInputs = options.inputFormat != QLatin1String("raw");
    for (int i = 0; i < pairs.size(); i += 2) {
        const QString pair = QStringLiteral("pair %1 (\"%2\" %3)").arg(i / 2 + 1).arg(pairs.at(i), pairs.at(i + 1));
        // ADDR:SIZE, a slot the file must fit.
        QString addressText = pairs.at(i);
        qint64 slot = 0;
        const int colon = addressText.indexOf(QLatin1Char(':'));
        if (colon >= 0) {
            if (!Address::hexNumber(addressText.mid(colon + 1), addressSpaceEnd, &slot) || slot == 0)
                return usage(error, QStringLiteral("%1: \"%2\" is not a slot size from 1 to 100000000")
                                        .arg(pair, addressText.mid(colon + 1)));
            addressText.truncate(colon);
        }
        MergeRow row;
        row.enabled = true;
        row.fileName = pairs.at(i + 1);
        row.slotSize = slot;
        if (!Address::fromPairText(addressText, &row.address))
            return usage(error, QStringLiteral("%1: \"%2\" is not a hexadecimal address from 0 to FFFFFFFF, "
                                               "nor - for the file's own addresses")
                                    .arg(pair, pairs.at(i)));
        if (row.address.kind == MergeAddress::Own && !options.merge.detectInputs)
            return usage(error, QStringLiteral("%1: - (the file's own addresses) needs --input-format auto").arg(pair));
        options.rows.append(row);
    }
    return true;
}

bool takes(const CliOption &option, CliOptions::Command command)
{
    return (option.commands & CliCommand::bit(command)) != 0;
}

// The command's options in the order they are applied: cliAppliedOrder()'s,
// then those it leaves out in the table's order, then those only some output
// formats take.
QVector<const CliOption *> appliedInOrder(CliOptions::Command command)
{
    const QStringList &order = cliAppliedOrder();
    QVector<const CliOption *> listed;
    for (const CliOption &option : cliOptionTable()) {
        if (takes(option, command))
            listed << &option;
    }
    const auto rank = [&order](const CliOption *option) {
        const int at = order.indexOf(option->names.last());
        return (option->forOutput ? 2 * order.size() : 0) + (at < 0 ? order.size() : at);
    };
    std::stable_sort(listed.begin(), listed.end(),
                     [&rank](const CliOption *a, const CliOption *b) { return rank(a) < rank(b); });
    return listed;
}

// The output formats that take an option: "hex and srec".
QString takenBy(const CliOption &option)
{
    QStringList names;
    for (const OutputFormatInfo *format : OutputFormats::all()) {
        if (option.forOutput(*format))
            names << QLatin1String(format->name);
    }
    if (names.size() < 2)
        return names.join(QString());
    return names.mid(0, names.size() - 1).join(QLatin1String(", ")) + QLatin1String(" and ") + names.last();
}

// The parser the table describes, for one command.
void describe(QCommandLineParser &parser, const CliCommand &command)
{
    parser.setApplicationDescription(command.word.isEmpty() ? cliDescription() : command.description);
    for (const CliOption &option : cliOptionTable()) {
        if (takes(option, command.command))
            parser.addOption(QCommandLineOption(option.names, option.help, option.valueName));
    }
    if (!command.word.isEmpty())
        parser.addPositionalArgument(command.word, QStringLiteral("The command."), command.word);
    parser.addPositionalArgument(command.files.name, command.files.help, command.files.syntax);
}

// The files a command looks at, as many as it takes.
bool readFiles(const QStringList &files, const CliCommand &command, CliOptions &options, QString *error)
{
    if (files.size() < command.fewestFiles || (command.mostFiles >= 0 && files.size() > command.mostFiles))
        return usage(error, QStringLiteral("%1 takes %2").arg(command.word, command.files.syntax));
    for (const QString &name : files) {
        if (name.isEmpty())
            return usage(error, QStringLiteral("%1: a file name is empty").arg(command.word));
    }
    options.files = files;
    if (command.command == CliOptions::Command::Verify && !options.wantMap && options.verifyKey.isEmpty())
        return usage(error, QStringLiteral("verify needs --map MAP.json, the map the merge wrote, or --key KEY.pem to "
                                           "check an MCUboot image"));
    if (command.command == CliOptions::Command::Verify && !options.wantMap && files.isEmpty())
        return usage(error, QStringLiteral("verify --key without --map needs IMAGE, the MCUboot image to check"));
    return true;
}

// sign: a merge of its one file, at --base or at its own addresses (a raw
// file at 0); the base is the file's lowest address, found once it is read.
bool readSignFile(CliOptions &options, QString *error)
{
    if (!options.outputGiven)
        return usage(error, QStringLiteral("missing -o OUT: name the output file"));
    options.merge.detectInputs = options.inputFormat != QLatin1String("raw");
    MergeRow row;
    row.enabled = true;
    row.fileName = options.files.first();
    row.address = options.baseGiven ? MergeAddress::at(options.merge.base)
                  : options.merge.detectInputs ? MergeAddress::ownOrRawAt(0)
                                               : MergeAddress::at(0);
    options.rows = {row};
    options.mcuboot.address = row.address.value;
    if (!options.baseGiven)
        options.merge.base = 0;
    return true;
}

// The image's options against each other and the rows: which row, the key
// or a signature made elsewhere, what sign alone takes.
bool checkMcuboot(CliOptions &options, QString *error)
{
    const bool sign = options.command == CliOptions::Command::Sign;
    if (!sign && !options.mcubootGiven) {
        if (options.mcubootOptionsGiven.isEmpty())
            return true;
        return usage(error, QStringLiteral("%1 needs --mcuboot ADDR, the row to make an MCUboot image")
                                .arg(options.mcubootOptionsGiven.first()));
    }
    const Mcuboot::Request &request = options.mcuboot;
    if (!sign) {
        const auto at = std::find_if(options.rows.cbegin(), options.rows.cend(), [&request](const MergeRow &row) {
            return row.enabled && row.address.kind == MergeAddress::At && row.address.value == request.address;
        });
        if (at == options.rows.cend())
            return usage(error, QStringLiteral("--mcuboot %1: no row lies at %1").arg(QString::number(request.address, 16).toUpper()));
    }
    if (!options.wantVector && !options.headerSizeGiven)
        return usage(error, QStringLiteral("%1 needs --header-size SIZE, the room of the MCUboot header")
                                .arg(sign ? QStringLiteral("sign") : QStringLiteral("--mcuboot")));
    if (!request.keyFile.isEmpty() && !request.fixSignatureFile.isEmpty())
        return usage(error, QStringLiteral("--key and --fix-sig do not go together: the signature is made here or "
                                           "elsewhere"));
    if (!request.fixSignatureFile.isEmpty() && request.fixSignaturePublicKey.isEmpty())
        return usage(error, QStringLiteral("--fix-sig needs --fix-sig-pubkey, the public key its signature is checked "
                                           "against"));
    if (options.wantVector && !request.fixSignatureFile.isEmpty())
        return usage(error, QStringLiteral("--vector-to-sign and --fix-sig do not go together: one writes what to "
                                           "sign, the other puts the signature in"));
    if (!options.wantVector && request.fixSignatureFile.isEmpty() && !request.fixSignaturePublicKey.isEmpty())
        return usage(error, QStringLiteral("--fix-sig-pubkey needs --fix-sig or --vector-to-sign"));
    if (options.wantVector && (options.dryRun || options.wantMap || options.wantPicture || options.printLayout))
        return usage(error, QStringLiteral("--vector-to-sign writes what to sign, no image: no --map, --picture, "
                                           "--layout or --dry-run"));
    if (!options.wantVector)
        options.merge.mcuboot = std::make_shared<const Mcuboot::Request>(request);
    return true;
}

// Text for troff: its own escapes and a leading dot kept as text.
QString troff(QString text)
{
    text.replace(QLatin1Char('\\'), QLatin1String("\\e")).replace(QLatin1Char('-'), QLatin1String("\\-"));
    if (text.startsWith(QLatin1Char('.')) || text.startsWith(QLatin1Char('\'')))
        text.prepend(QLatin1String("\\&"));
    return text;
}

} // namespace

bool parseCommandLine(const QStringList &arguments, CliOptions &options, QString *error)
{
    // A command word first; no hexadecimal address is spelt like one.
    const CliCommand *command = &cliCommand(CliOptions::Command::Merge);
    for (const CliCommand &c : cliCommands()) {
        if (!c.word.isEmpty() && arguments.size() > 1 && arguments.at(1) == c.word)
            command = &c;
    }
    options.command = command->command;
    QStringList given = arguments;
    if (!command->word.isEmpty())
        given.removeAt(1);
    QCommandLineParser parser;
    describe(parser, *command);
    if (!parser.parse(given))
        return usage(error, parser.errorText());
    // Each option as given, in the order they are applied in; help and
    // version first, those only some output formats take last, once the
    // format is known.
    for (const CliOption *option : appliedInOrder(command->command)) {
        const QString name = option->names.last();
        if (!parser.isSet(name))
            continue;
        const QStringList values = option->valueName.isEmpty() ? QStringList() : parser.values(name);
        if (values.size() > 1 && !option->repeats)
            return usage(error, QStringLiteral("%1 is given %2 (%3); it takes one value")
                                    .arg(dashedNames(*option).join(QLatin1Char('/')),
                                         values.size() == 2 ? QStringLiteral("twice") : QStringLiteral("%1 times").arg(values.size()),
                                         values.join(QLatin1String(", "))));
        if (option->forOutput) {
            const OutputFormatInfo &format = options.merge.format ? *options.merge.format : OutputFormats::flat();
            if (!option->forOutput(format))
                return usage(error, QStringLiteral("%1 applies to %2 output, not to %3")
                                        .arg(dashedNames(*option).last(), takenBy(*option), QLatin1String(format.name)));
        }
        if (!option->apply(values, options, error))
            return false;
        if (options.action == CliOptions::Action::Help) {
            options.helpText = parser.helpText().trimmed();
            return true;
        }
        if (options.action != CliOptions::Action::Merge)
            return true;
    }

    const QStringList pairs = parser.positionalArguments();
    if (command->command == CliOptions::Command::Sign) {
        if (!readFiles(pairs, *command, options, error) || !readSignFile(options, error))
            return false;
    } else if (!command->word.isEmpty()) {
        return readFiles(pairs, *command, options, error);
    } else if (options.settingsGiven) {
        if (!pairs.isEmpty())
            return usage(error, QStringLiteral("give either --settings or ADDR FILE pairs, not both"));
        if (!readSettings(options, error))
            return false;
    } else if (!readPairs(pairs, options, error)) {
        return false;
    }
    if (!checkMcuboot(options, error))
        return false;

    // Only -o - means standard output: in a settings file, "-" is the window's,
    // a file named -.
    options.merge.toStandardOutput = (options.outputGiven && options.output == QLatin1String("-"))
                                     || (!options.output.isEmpty() && ProcessIo::isStandardOutput(options.output));
    const bool mapToStandardOutput = options.wantMap && options.map == QLatin1String("-");
    if (options.wantMap && !mapToStandardOutput) {
        // Found before anything is read: the map would take a file the merge
        // needs.
        const QString &given = options.mapAsGiven;
        if (!options.merge.toStandardOutput && !options.output.isEmpty() && ProcessIo::sameFile(options.map, options.output))
            return usage(error, QStringLiteral("--map %1 is the output file").arg(given));
        for (int i = 0; i < options.rows.size(); ++i) {
            const MergeRow &row = options.rows.at(i);
            if (row.enabled && !row.fileName.isEmpty() && ProcessIo::sameFile(options.map, row.fileName))
                return usage(error, QStringLiteral("--map %1 is file%2, one of the files to merge").arg(given).arg(i + 1));
        }
    }
    if (options.wantPicture) {
        // Like the map: the picture may not take a file the merge needs.
        const QString &given = options.pictureAsGiven;
        if (!options.merge.toStandardOutput && !options.output.isEmpty() && ProcessIo::sameFile(options.picture, options.output))
            return usage(error, QStringLiteral("--picture %1 is the output file").arg(given));
        if (options.wantMap && !mapToStandardOutput && ProcessIo::sameFile(options.picture, options.map))
            return usage(error, QStringLiteral("--picture %1 is the map file").arg(given));
        for (int i = 0; i < options.rows.size(); ++i) {
            const MergeRow &row = options.rows.at(i);
            if (row.enabled && !row.fileName.isEmpty() && ProcessIo::sameFile(options.picture, row.fileName))
                return usage(error, QStringLiteral("--picture %1 is file%2, one of the files to merge").arg(given).arg(i + 1));
        }
    }
    if (options.merge.toStandardOutput && mapToStandardOutput)
        return usage(error, QStringLiteral("the image and the map cannot both go to standard output"));
    return true;
}

QStringList dashedNames(const CliOption &option)
{
    QStringList out;
    for (const QString &name : option.names)
        out << (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
    return out;
}

namespace {

// One option's entry: its names in bold, its value's name in italics.
QString manPageEntry(const CliOption &option)
{
    QStringList names;
    for (const QString &name : dashedNames(option))
        names << troff(name);
    const QString head = option.valueName.isEmpty()
                             ? QStringLiteral(".TP\n.B \"%1\"\n").arg(names.join(QLatin1String(", ")))
                             : QStringLiteral(".TP\n.BI \"%1 \" \"%2\"\n").arg(names.join(QLatin1String(", ")), troff(option.valueName));
    return head + troff(option.help) + QLatin1Char('\n');
}

} // namespace

QString manPageOptions()
{
    QString page;
    for (const CliOption &option : cliOptionTable()) {
        if (takes(option, CliOptions::Command::Merge))
            page += manPageEntry(option);
    }
    return page;
}

QString manPageCommands()
{
    QString page;
    for (const CliCommand &command : cliCommands()) {
        if (command.word.isEmpty())
            continue;
        page += QStringLiteral(".SS \"%1 %2\"\n").arg(command.word, troff(command.synopsis));
        const QStringList paragraphs = command.description.split(QLatin1Char('\n'));
        for (int i = 0; i < paragraphs.size(); ++i)
            page += (i ? QStringLiteral(".PP\n") : QString()) + troff(paragraphs.at(i)) + QLatin1Char('\n');
        for (const CliOption &option : cliOptionTable()) {
            if (takes(option, command.command) && !option.names.contains(QLatin1String("help")))
                page += manPageEntry(option);
        }
    }
    return page;
}
