// The command line's option table: every option reaches --help and the
// manual page from the one table, each applies what it is given, and a
// wrong command line gets one usage line before anything is read. The two
// address rules (the window's and the command line's) are here too.

#include "Address.h"
#include "CliOptions.h"
#include "fields/FieldKind.h"
#include "writers/ImageWriter.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <limits>

namespace {

struct Parsed
{
    bool ok = false;
    CliOptions options;
    QString error;
};

Parsed parse(const QStringList &args)
{
    Parsed parsed;
    parsed.ok = parseCommandLine(QStringList{QStringLiteral("MergeFileCli")} + args, parsed.options, &parsed.error);
    return parsed;
}

// What the options hold, in a line a table can state.
QString summary(const CliOptions &o)
{
    const MergeOptions &m = o.merge;
    QStringList parts;
    parts << QStringLiteral("format=%1").arg(QLatin1String(m.format ? m.format->name : "default"));
    parts << QStringLiteral("records=%1 base=%2 pad=%3 fill=%4").arg(m.recordSize).arg(m.base, 0, 16).arg(m.padTo, 0, 16)
                 .arg(uchar(m.fill), 0, 16);
    parts << QStringLiteral("flash=%1,%2 sector=%3").arg(m.flashOrigin, 0, 16).arg(m.flashSize, 0, 16).arg(m.sectorSize, 0, 16);
    parts << QStringLiteral("detect=%1 fields=%2").arg(m.detectInputs).arg(m.fields.size());
    QStringList rows;
    for (const MergeRow &row : o.rows) {
        rows << (row.address.kind == MergeAddress::Own ? QStringLiteral("-")
                                                       : QString::number(row.address.value, 16))
                    + (row.slotSize ? QStringLiteral(":%1").arg(row.slotSize, 0, 16) : QString());
    }
    parts << QStringLiteral("rows=%1").arg(rows.join(QLatin1Char(',')));
    if (o.dryRun)
        parts << QStringLiteral("dry-run");
    if (o.printLayout)
        parts << QStringLiteral("layout");
    if (o.wantMap)
        parts << QStringLiteral("map");
    if (!m.crop.isEmpty() || !m.exclude.isEmpty())
        parts << QStringLiteral("crop=%1 exclude=%2").arg(m.crop.size()).arg(m.exclude.size());
    return parts.join(QLatin1Char(' '));
}

} // namespace

class tst_OptionTable : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void namedOnceReachesHelpAndManual();
    void valueListsComeFromTheRegistries();
    void applied_data();
    void applied();
    void usageErrors_data();
    void usageErrors();
    void singleValuesGivenOnce_data();
    void singleValuesGivenOnce();
    void optionForAnotherFormat_data();
    void optionForAnotherFormat();
    void appliedOrderIsNotTheTable();
    void windowAddressTexts_data();
    void windowAddressTexts();
    void pairAddressTexts_data();
    void pairAddressTexts();

private:
    QScopedPointer<QTemporaryDir> dir;
    QString previous;
};

void tst_OptionTable::init()
{
    dir.reset(new QTemporaryDir);
    QVERIFY(dir->isValid());
    previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir->path()));
    QFile a(QStringLiteral("a.bin"));
    QVERIFY(a.open(QIODevice::WriteOnly) && a.write("AAAA") == 4);
}

void tst_OptionTable::cleanup()
{
    QDir::setCurrent(previous);
    dir.reset();
}

void tst_OptionTable::namedOnceReachesHelpAndManual()
{
    // The merge's options in its --help and the page's OPTIONS; each
    // command's in its own --help and its part of COMMANDS.
    const QString commandsPage = manPageCommands();
    for (const CliCommand &command : cliCommands()) {
        const Parsed help = parse(command.word.isEmpty() ? QStringList{QStringLiteral("--help")}
                                                         : QStringList{command.word, QStringLiteral("--help")});
        QVERIFY(help.ok);
        QCOMPARE(help.options.action, CliOptions::Action::Help);
        QCOMPARE(help.options.command, command.command);
        QString page = command.word.isEmpty() ? manPageOptions() : commandsPage;
        if (!command.word.isEmpty()) {
            // This command's part of the section, up to the next one's.
            const int from = page.indexOf(QStringLiteral(".SS \"%1 ").arg(command.word));
            QVERIFY(from >= 0);
            const int to = page.indexOf(QLatin1String(".SS "), from + 1);
            page = page.mid(from, to < 0 ? -1 : to - from);
        }
        QSet<QString> seen;
        int rows = 0;
        for (const CliOption &option : cliOptionTable()) {
            if (!(option.commands & CliCommand::bit(command.command)))
                continue;
            QVERIFY(!option.help.isEmpty());
            QStringList dashed;
            for (const QString &name : option.names) {
                QVERIFY2(!seen.contains(name), qPrintable(name));
                seen.insert(name);
                dashed << (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
            }
            const QString names = dashed.join(QLatin1String(", "));
            QVERIFY2(help.options.helpText.contains(QLatin1String("\n  ") + names), qPrintable(names));
            QVERIFY2(help.options.helpText.simplified().contains(option.help.simplified()), qPrintable(option.help));
            if (!command.word.isEmpty() && option.names.contains(QLatin1String("help")))
                continue; // the page says once how every command takes --help
            ++rows;
            QVERIFY2(page.contains(QString(names).replace(QLatin1Char('-'), QLatin1String("\\-"))), qPrintable(names));
            // The text of each, whole, in both: the page as troff has it.
            QString troff = option.help;
            troff.replace(QLatin1Char('\\'), QLatin1String("\\e")).replace(QLatin1Char('-'), QLatin1String("\\-"));
            QVERIFY2(page.contains(troff), qPrintable(option.help));
        }
        // Every entry of the page is a row of the table.
        QCOMPARE(page.count(QLatin1String(".TP\n")), rows);
    }
}

void tst_OptionTable::valueListsComeFromTheRegistries()
{
    const Parsed help = parse({QStringLiteral("--help")});
    const QString text = help.options.helpText.simplified();
    for (const QString &format : OutputFormats::names())
        QVERIFY2(text.contains(format + QLatin1String(" (")), qPrintable(format));
    QVERIFY(text.contains(FieldKinds::names().join(QLatin1String(", "))));
    for (const OutputFormatInfo *format : OutputFormats::all()) {
        if (format->maxRecordSize > 0)
            QVERIFY(text.contains(QStringLiteral("1 to %1 for %2").arg(format->maxRecordSize).arg(QLatin1String(format->name))));
    }
}

void tst_OptionTable::applied_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("summary");

    const QString defaults = QStringLiteral("records=16 base=1000 pad=0 fill=ff flash=0,0 sector=0");
    QTest::newRow("pairs alone") << QStringList{"-o", "o.bin", "1000", "a.bin", "-", "a.hex"}
                                 << "format=default " + defaults + " detect=1 fields=0 rows=1000,-";
    QTest::newRow("every value option")
        << QStringList{"--format", "bin", "--base", "0x8000000", "--pad-to", "40000", "--fill", "0", "--flash",
                       "8000000,40000", "--sector-size", "800", "--field", "crc32@8000004", "--field", "length@8000000,be",
                       "-o", "o.bin", "08000800:3F800", "a.bin"}
        << "format=bin records=16 base=8000000 pad=40000 fill=0 flash=8000000,40000 sector=800 detect=1 fields=2 "
           "rows=8000800:3f800";
    QTest::newRow("records, raw inputs, switches")
        << QStringList{"--format", "srec", "--record-size", "250", "--input-format", "raw", "--dry-run", "--layout",
                       "--map", "m.json", "-o", "o.s19", "0", "a.bin"}
        << "format=srec records=250 base=1000 pad=0 fill=ff flash=0,0 sector=0 detect=0 fields=0 rows=0 dry-run layout map";
    QTest::newRow("fields, crops and excludes as often as needed")
        << QStringList{"--field", "crc32@2000", "--crop", "1000-1800", "--field", "sum8@2004", "--exclude", "1100-1200",
                       "--crop", "1900-1A00", "--exclude", "1300-1400", "-o", "o.bin", "1000", "a.bin"}
        << "format=default " + defaults + " detect=1 fields=2 rows=1000 crop=2 exclude=2";
}

void tst_OptionTable::applied()
{
    QFETCH(QStringList, args);
    QFETCH(QString, summary);

    const Parsed parsed = parse(args);
    QVERIFY2(parsed.ok, qPrintable(parsed.error));
    QCOMPARE(::summary(parsed.options), summary);
}

void tst_OptionTable::usageErrors_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("error");

    const QStringList pair{"-o", "o.bin", "1000", "a.bin"};
    // Every registered output format is named, in the registry's order.
    const QStringList outputs = OutputFormats::names();
    QTest::newRow("unknown format") << QStringList{"--format", "s19"} + pair
                                    << QStringLiteral("unknown format s19: %1 or %2")
                                           .arg(outputs.mid(0, outputs.size() - 1).join(QLatin1String(", ")), outputs.last());
    QTest::newRow("unknown input format") << QStringList{"--input-format", "hex"} + pair
                                          << "unknown input format hex: auto or raw";
    QTest::newRow("base past 32 bits") << QStringList{"--base", "100000000"} + pair
                                       << "base 100000000: give a hexadecimal address from 0 to FFFFFFFF";
    QTest::newRow("record size for the flat image") << QStringList{"--record-size", "8"} + pair
                                                    << "--record-size applies to hex and srec output, not to bin";
    QTest::newRow("record size past what srec holds")
        << QStringList{"--format", "srec", "--record-size", "251"} + pair << "record size 251: give 1 to 250 for --format srec";
    QTest::newRow("record size of 0") << QStringList{"--format", "hex", "--record-size", "0"} + pair
                                      << "record size 0: give 1 to 255 for --format hex";
    QTest::newRow("pad-to for records") << QStringList{"--format", "hex", "--pad-to", "100"} + pair
                                        << "--pad-to applies to bin and c output, not to hex";
    QTest::newRow("pad-to past the address range, from the base")
        << QStringList{"--base", "FFFFF000", "--pad-to", "1001"} + pair << "pad size 1001: give a hexadecimal size from 1 to 1000";
    QTest::newRow("word bits without vmem") << QStringList{"--word-bits", "16"} + pair << "--word-bits applies to vmem output, not to bin";
    QTest::newRow("word bits of 24") << QStringList{"--format", "vmem", "--word-bits", "24"} + pair
                                     << "word bits 24: give 8, 16, 32 or 64";
    QTest::newRow("an unknown UF2 family") << QStringList{"--uf2-family", "rp2041"} + pair
                                           << "UF2 family rp2041: give a hexadecimal ID or one of rp2040, rp2350, "
                                              "samd21, samd51, nrf52840, nrf52833, stm32f1, stm32f4 or stm32l4";
    QTest::newRow("a UF2 family past 32 bits") << QStringList{"--uf2-family", "100000000"} + pair
                                               << "UF2 family 100000000: give a hexadecimal ID or one of rp2040, "
                                                  "rp2350, samd21, samd51, nrf52840, nrf52833, stm32f1, stm32f4 or "
                                                  "stm32l4";
    QTest::newRow("a C name without C") << QStringList{"--c-name", "fw"} + pair << "--c-name applies to c output, not to bin";
    for (const char *name : {"2fast", "my-image", "int", "", "caf\xc3\xa9"}) {
        QTest::newRow(qPrintable(QStringLiteral("C name \"%1\"").arg(QString::fromUtf8(name))))
            << QStringList{"--format", "c", "--c-name", QString::fromUtf8(name)} + pair
            << QStringLiteral("C name %1: give a C identifier (letters, digits and _, not a digit first, not a keyword)")
                   .arg(QString::fromUtf8(name));
    }
    // Names C or C++ keep for themselves, for the array or the two numbers
    // named after it: the output would not compile, or not everywhere.
    const QStringList cPair = QStringList{"--format", "c", "--c-name"};
    QTest::newRow("C name main") << cPair + QStringList{"main"} + pair
                                 << "--c-name main: main is the program's entry point in C and C++; give another name";
    for (const char *name : {"_Image", "_fw", "__image", "_"}) {
        QTest::newRow(qPrintable(QStringLiteral("C name %1").arg(QLatin1String(name))))
            << cPair + QStringList{QLatin1String(name)} + pair
            << QStringLiteral("--c-name %1: C and C++ keep names that start with _ in the global scope for the compiler "
                              "and its library; give another name")
                   .arg(QLatin1String(name));
    }
    QTest::newRow("C name with a double underscore")
        << cPair + QStringList{"boot__image"} + pair
        << "--c-name boot__image: C++ keeps names that hold __ for the compiler and its library; give another name";
    QTest::newRow("C name that ends in an underscore")
        << cPair + QStringList{"image_"} + pair
        << "--c-name image_: image__base and image__length would hold __, which C++ keeps for the compiler and its "
           "library; give another name";
    // A value given twice is a mistake, not "the last one wins".
    QTest::newRow("a base given twice") << QStringList{"--base", "2000", "--base", "3000"} + pair
                                        << "--base is given twice (2000, 3000); it takes one value";
    QTest::newRow("the output given twice") << QStringList{"-o", "a.bin", "--output", "b.bin", "1000", "a.bin"}
                                            << "-o/--output is given twice (a.bin, b.bin); it takes one value";
    QTest::newRow("a format given three times, the same each time")
        << QStringList{"--format", "hex", "--format=hex", "--format", "hex"} + pair
        << "--format is given 3 times (hex, hex, hex); it takes one value";
    QTest::newRow("a field badly spelt") << QStringList{"--field", "crc8@0"} + pair
                                         << "field crc8@0: unknown kind crc8: crc32, crc32-mpeg2, crc16-ccitt, "
                                            "crc16-xmodem, sum8, length or sha256";
    QTest::newRow("a flash of no size") << QStringList{"--flash", "0,0"} + pair
                                        << "flash 0,0: give ORIGIN,SIZE in hexadecimal, within 32-bit addresses";
    QTest::newRow("a sector size that is no power of two")
        << QStringList{"--sector-size", "3000"} + pair << "sector size 3000: give a power of two in hexadecimal (1000 for 4 KiB)";
    QTest::newRow("a fill past a byte") << QStringList{"--fill", "100"} + pair << "fill 100: give a byte in hexadecimal, 0 to FF";
    QTest::newRow("a map without a name") << QStringList{"--map", ""} + pair
                                          << "--map needs a file name, or - for standard output";
    QTest::newRow("a map that is the output") << QStringList{"--map", "o.bin"} + pair << "--map o.bin is the output file";
    QTest::newRow("a map that is a source") << QStringList{"--map", "a.bin"} + pair
                                            << "--map a.bin is file1, one of the files to merge";
    QTest::newRow("image and map both on standard output")
        << QStringList{"--map", "-", "-o", "-", "1000", "a.bin"} << "the image and the map cannot both go to standard output";
    QTest::newRow("settings and pairs") << QStringList{"--settings", "cfg/MergeTool.ini", "1000", "a.bin"}
                                        << "give either --settings or ADDR FILE pairs, not both";
    QTest::newRow("nothing to merge") << QStringList{"-o", "o.bin"}
                                      << "nothing to merge: give --settings PATH or ADDR FILE pairs";
    QTest::newRow("an address without a file") << QStringList{"-o", "o.bin", "1000", "a.bin", "2000"}
                                                << "odd number of arguments: the address 2000 has no file";
    QTest::newRow("no output") << QStringList{"1000", "a.bin"} << "missing -o OUT: name the output file";
    QTest::newRow("an address with junk") << QStringList{"-o", "o.bin", "0x1000z", "a.bin"}
                                          << "pair 1 (\"0x1000z\" a.bin): \"0x1000z\" is not a hexadecimal address from 0 "
                                             "to FFFFFFFF, nor - for the file's own addresses";
    QTest::newRow("an empty slot") << QStringList{"-o", "o.bin", "1000:0", "a.bin"}
                                   << "pair 1 (\"1000:0\" a.bin): \"0\" is not a slot size from 1 to 100000000";
    QTest::newRow("own addresses of raw inputs") << QStringList{"--input-format", "raw", "-o", "o.bin", "-", "a.bin"}
                                                 << "pair 1 (\"-\" a.bin): - (the file's own addresses) needs --input-format auto";
}

void tst_OptionTable::usageErrors()
{
    QFETCH(QStringList, args);
    QFETCH(QString, error);

    const Parsed parsed = parse(args);
    QVERIFY(!parsed.ok);
    QCOMPARE(parsed.error, error);
}

// Every option only some output formats take, given with each format that
// does not take it, before or after --format, or with an output name that
// chooses the format: a usage error naming the option, the formats that take
// it and the one given, found by the registry (a format's own options, and
// the common ones its row accepts); with a format that takes it, not that
// error. Values that are wrong for the option do not hide it.
void tst_OptionTable::optionForAnotherFormat_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("error"); // empty: not refused for the format

    const QStringList pair{"1000", "a.bin"};
    QStringList checked;
    for (const OutputFormatInfo *format : OutputFormats::all()) {
        for (const FormatOption &option : format->options)
            checked << option.name;
    }
    checked << QStringLiteral("record-size") << QStringLiteral("pad-to");
    checked.removeDuplicates();
    QVERIFY(checked.size() >= 4);
    for (const QString &name : checked) {
        QStringList takers;
        for (const OutputFormatInfo *format : OutputFormats::all()) {
            const bool takes = format->option(name) || (name == QLatin1String("record-size") && format->maxRecordSize > 0)
                               || (name == QLatin1String("pad-to") && format->writesGaps);
            if (takes)
                takers << QLatin1String(format->name);
        }
        QVERIFY2(!takers.isEmpty(), qPrintable(name));
        const QString takenBy = takers.size() == 1 ? takers.first()
                                                   : takers.mid(0, takers.size() - 1).join(QLatin1String(", "))
                                                         + QLatin1String(" and ") + takers.last();
        const QString option = QLatin1String("--") + name;
        for (const OutputFormatInfo *format : OutputFormats::all()) {
            const QString f = QLatin1String(format->name);
            const QString error = takers.contains(f) ? QString()
                                                     : QStringLiteral("%1 applies to %2 output, not to %3").arg(option, takenBy, f);
            QTest::addRow("%s with %s, given first", qPrintable(option), format->name)
                << QStringList{option, "x", "--format", f, "-o", "o.out"} + pair << error;
            QTest::addRow("%s with %s, given last", qPrintable(option), format->name)
                << QStringList{"--format", f, "-o", "o.out", option, "x"} + pair << error;
            const QString ending = QString::fromLatin1(format->extensions).section(QLatin1Char(' '), 0, 0);
            if (!ending.isEmpty())
                QTest::addRow("%s with %s by the output's name", qPrintable(option), format->name)
                    << QStringList{option, "x", "-o", "o" + ending} + pair << error;
        }
    }
}

void tst_OptionTable::optionForAnotherFormat()
{
    QFETCH(QStringList, args);
    QFETCH(QString, error);

    const Parsed parsed = parse(args);
    QVERIFY(!parsed.ok || error.isEmpty());
    if (error.isEmpty())
        QVERIFY2(!parsed.error.contains(QLatin1String(" applies to ")), qPrintable(parsed.error));
    else
        QCOMPARE(parsed.error, error);
}

// The order options are checked in is not the order --help lists them in:
// every option of the table is in it once, and two wrong options give the
// same error whichever is typed first.
void tst_OptionTable::appliedOrderIsNotTheTable()
{
    const QStringList &order = cliAppliedOrder();
    QCOMPARE(QSet<QString>(order.begin(), order.end()).size(), order.size());
    const QStringList pair{"-o", "o.hex", "1000", "a.bin"};
    const Parsed one = parse(QStringList{"--fill", "100", "--word-bits", "16"} + pair);
    const Parsed other = parse(QStringList{"--word-bits", "16", "--fill", "100"} + pair);
    QVERIFY(!one.ok && !other.ok);
    QCOMPARE(one.error, other.error);
    QCOMPARE(one.error, QStringLiteral("fill 100: give a byte in hexadecimal, 0 to FF"));
    const Parsed bad = parse(QStringList{"--c-name", "2x", "--base", "100000000"} + pair);
    QCOMPARE(bad.error, QStringLiteral("base 100000000: give a hexadecimal address from 0 to FFFFFFFF"));
}

// Every option of the table that takes one value refuses a second, named;
// those that repeat are not refused for it (their values are checked each).
void tst_OptionTable::singleValuesGivenOnce_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<bool>("repeats");
    QTest::addColumn<QString>("command"); // the word of a command that takes it; empty: the merge

    for (const CliOption &option : cliOptionTable()) {
        if (option.valueName.isEmpty())
            continue;
        // Given to the merge where it takes an option of that name (which
        // may be another row), else to the first command that takes it.
        bool merge = false;
        for (const CliOption &other : cliOptionTable()) {
            merge = merge || ((other.commands & CliCommand::bit(CliOptions::Command::Merge))
                              && other.names.last() == option.names.last() && !other.valueName.isEmpty());
        }
        QString word;
        for (const CliCommand &command : cliCommands()) {
            if (!merge && word.isEmpty() && (option.commands & CliCommand::bit(command.command)))
                word = command.word;
        }
        QTest::newRow(qPrintable(dashedNames(option).join(QLatin1Char('/'))))
            << dashedNames(option).last() << option.repeats << word;
    }
}

void tst_OptionTable::singleValuesGivenOnce()
{
    QFETCH(QString, option);
    QFETCH(bool, repeats);
    QFETCH(QString, command);

    const QStringList pair{"1000", "a.bin"};
    const QStringList output = option == QLatin1String("--output") ? QStringList() : QStringList{"-o", "o.bin"};
    const QStringList word = command.isEmpty() ? QStringList() : QStringList{command};
    const Parsed parsed = parse(word + QStringList{option, "one", option, "two"} + output + pair);
    const QString named = QStringLiteral(" is given twice (one, two); it takes one value");
    if (repeats) {
        QVERIFY(!parsed.error.contains(named));
        return;
    }
    QVERIFY(!parsed.ok);
    QVERIFY2(parsed.error.endsWith(named) && parsed.error.contains(option), qPrintable(parsed.error));
}

void tst_OptionTable::windowAddressTexts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint32>("address");

    QTest::newRow("plain hex") << "1000" << 0x1000;
    QTest::newRow("lower-case prefix") << "0x1000" << 0x1000;
    QTest::newRow("upper-case prefix") << "0X1000" << 0x1000;
    QTest::newRow("blanks around") << "  1000\t" << 0x1000;
    QTest::newRow("mixed-case digits") << "aBcD" << 0xABCD;
    QTest::newRow("plus sign") << "+1a" << 0x1A;
    QTest::newRow("minus sign") << "-10" << -16;
    QTest::newRow("minus with prefix") << "-0x10" << -16;
    QTest::newRow("largest") << "7fffffff" << std::numeric_limits<qint32>::max();
    QTest::newRow("smallest") << "-80000000" << std::numeric_limits<qint32>::min();
    QTest::newRow("too large") << "80000000" << 0;
    QTest::newRow("not hex") << "xyz" << 0;
    QTest::newRow("trailing junk") << "1000g" << 0;
    QTest::newRow("inner blank") << "10 00" << 0;
    QTest::newRow("blank") << " " << 0;
}

void tst_OptionTable::windowAddressTexts()
{
    QFETCH(QString, text);
    QFETCH(qint32, address);
    QCOMPARE(Address::fromWindowText(text), address);
    // An empty text is no address; any other is one, as the window reads it.
    const MergeRow row = Address::windowRow(true, QStringLiteral("f"), text);
    QCOMPARE(row.address.kind, MergeAddress::At);
    QCOMPARE(row.address.value, qint64(address));
    QCOMPARE(Address::windowRow(true, QStringLiteral("f"), QString()).address.kind, MergeAddress::Missing);
}

void tst_OptionTable::pairAddressTexts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("address"); // hexadecimal, "-" for own, "refused"

    QTest::newRow("plain") << "1000" << "1000";
    QTest::newRow("prefix") << "0x08000000" << "8000000";
    QTest::newRow("top of 32 bits") << "FFFFFFFF" << "ffffffff";
    QTest::newRow("own addresses") << "-" << "-";
    QTest::newRow("past 32 bits") << "100000000" << "refused";
    QTest::newRow("junk") << "12g" << "refused";
    QTest::newRow("empty") << "" << "refused";
}

void tst_OptionTable::pairAddressTexts()
{
    QFETCH(QString, text);
    QFETCH(QString, address);

    MergeAddress parsed;
    if (!Address::fromPairText(text, &parsed)) {
        QCOMPARE(QStringLiteral("refused"), address);
        return;
    }
    QCOMPARE(parsed.kind == MergeAddress::Own ? QStringLiteral("-") : QString::number(parsed.value, 16), address);
}

QTEST_GUILESS_MAIN(tst_OptionTable)
#include "tst_optiontable.moc"
