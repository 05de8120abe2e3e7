// MergeFileCli for build pipelines: Intel HEX and S-records read back by
// readers that nobody here wrote (srec_cat, Python's intelhex), the JSON map
// against checksums worked out here, usage errors, and output that a script
// cannot misread.

#include "CliRunner.h"
#include "Pieces.h"
#include "WindowDriver.h"

#include <QCryptographicHash>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QRegularExpression>
#include <QStandardPaths>

#include <algorithm>

namespace {

// The address ranges that hold data, touching files joined, with their bytes.
QMap<qint64, QByteArray> dataRanges(const Pieces &pieces)
{
    QMap<qint64, QByteArray> byAddress;
    for (int k = 0; k < pieces.size(); ++k) {
        if (pieces[k].size > 0)
            byAddress.insert(pieces[k].address, pieceContent(k, pieces[k].size));
    }
    QMap<qint64, QByteArray> ranges;
    for (auto it = byAddress.cbegin(); it != byAddress.cend(); ++it) {
        if (!ranges.isEmpty() && (ranges.lastKey() + ranges.last().size()) == it.key())
            ranges.last() += it.value();
        else
            ranges.insert(it.key(), it.value());
    }
    return ranges;
}

// CRC-32 bit by bit, as the zlib documentation defines it.
QByteArray crc32(const QByteArray &bytes)
{
    quint32 crc = 0xFFFFFFFFu;
    for (const char byte : bytes) {
        crc ^= uchar(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return QByteArray::number(~crc, 16).rightJustified(8, '0');
}

QByteArray sha256(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

// Runs a shell line; MergeFileCli is "$0" in it.
Run runShell(const QString &line)
{
    QProcess process;
    process.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), line, cliProgram()});
    return finishRun(process, 60000);
}

const QString python = QStringLiteral("/usr/bin/python3");

} // namespace

class tst_Formats : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void recordsReadBack_data();
    void recordsReadBack();
    void mapNumbers_data();
    void mapNumbers();
    void formatFromOutputName_data();
    void formatFromOutputName();
    void padTo_data();
    void padTo();
    void usageErrors_data();
    void usageErrors();
    void outputHygiene_data();
    void outputHygiene();

private:
    QScopedPointer<CurrentTempDir> dir;
};

void tst_Formats::init()
{
    dir.reset(new CurrentTempDir);
    QVERIFY(dir->isValid());
}

void tst_Formats::cleanup()
{
    dir.reset();
}

void tst_Formats::recordsReadBack_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("recordSize"); // 0: the default, 16
    QTest::addColumn<Pieces>("pieces");

    const Pieces gaps{{0x1000, 100}, {0x1064, 3}, {0x2000, 0}, {0x3001, 40}};
    const Pieces boundary{{0x1FFF0, 0x40}};
    const Pieces top{{0x1000, 20}, {0x7FFFFF00, 0x1000}};
    for (const char *format : {"hex", "srec"}) {
        const QByteArray f(format);
        const int largest = f == "hex" ? 255 : 250;
        const QString fmt = QString::fromLatin1(f);
        QTest::newRow((f + ": one file at 0x1000").constData()) << fmt << 0 << Pieces{{0x1000, 33}};
        QTest::newRow((f + ": gaps, touching and empty files").constData()) << fmt << 0 << gaps;
        QTest::newRow((f + ": across a 64 KiB boundary").constData()) << fmt << 0 << boundary;
        QTest::newRow((f + ": one byte a record").constData()) << fmt << 1 << gaps;
        QTest::newRow((f + ": largest records").constData()) << fmt << largest << (gaps + boundary);
        QTest::newRow((f + ": odd record size across a boundary").constData()) << fmt << 7 << boundary;
        QTest::newRow((f + ": past 0x80000000").constData()) << fmt << 0 << top;
        QTest::newRow((f + ": only an empty file").constData()) << fmt << 0 << Pieces{{0x1000, 0}};
    }
}

void tst_Formats::recordsReadBack()
{
    QFETCH(QString, format);
    QFETCH(int, recordSize);
    QFETCH(Pieces, pieces);

    const QString srecCat = QStandardPaths::findExecutable(QStringLiteral("srec_cat"));
    if (srecCat.isEmpty())
        QSKIP("srec_cat (Debian's srecord) is not installed; on Windows it cannot be started at all");

    QStringList args{"--format", format, "-o", "out." + format};
    if (recordSize)
        args << "--record-size" << QString::number(recordSize);
    const Run run = runCli(args + writePieces(pieces));
    QCOMPARE(run.exitCode, 0);
    const QByteArray text = readFile("out." + format);
    QVERIFY(run.out.contains(QStringLiteral("Output length: %1 bytes").arg(text.size())));

    // Every range of data comes back whole from srec_cat...
    const QString type = format == QLatin1String("hex") ? QStringLiteral("-intel") : QStringLiteral("-motorola");
    const QMap<qint64, QByteArray> ranges = dataRanges(pieces);
    QStringList excluded;
    for (auto it = ranges.cbegin(); it != ranges.cend(); ++it) {
        const QString from = QString::number(it.key()), to = QString::number(it.key() + it.value().size());
        const QByteArray back = runTool(srecCat, {"out." + format, type, "-crop", from, to, "-offset",
                                                  "-" + from, "-o", "-", "-binary"});
        QVERIFY2(back == it.value(), qPrintable(QStringLiteral("range at 0x%1").arg(it.key(), 0, 16)));
        excluded << "-exclude" << from << to;
    }
    // ...and there is nothing else: the gaps are not written. (srec_cat takes
    // a file without data for a broken one, so then the text itself says it.)
    if (ranges.isEmpty()) {
        QVERIFY(!QRegularExpression(QStringLiteral("^(:[0-9A-F]{6}00|S3)"), QRegularExpression::MultilineOption)
                     .match(QString::fromLatin1(text))
                     .hasMatch());
        return;
    }
    int exitCode = -1;
    const QByteArray rest = runTool(srecCat, QStringList{"out." + format, type} + excluded + QStringList{"-o", "-", "-intel"},
                                    &exitCode);
    QCOMPARE(exitCode, 0);
    QVERIFY2(!QRegularExpression(QStringLiteral("^:[0-9A-F]{6}00"), QRegularExpression::MultilineOption)
                  .match(QString::fromLatin1(rest))
                  .hasMatch(),
             rest.constData());

    // No record holds more than asked for, and full ones hold just that.
    const int most = recordSize ? recordSize : 16;
    int longest = 0;
    for (const QByteArray &line : text.split('\n')) {
        if (line.startsWith(":") && line.mid(7, 2) == "00") {
            longest = qMax(longest, line.mid(1, 2).toInt(nullptr, 16));
            // Readers differ on a record that runs past a 64 KiB boundary
            // (some wrap round): none may.
            QVERIFY2(line.mid(3, 4).toInt(nullptr, 16) + line.mid(1, 2).toInt(nullptr, 16) <= 0x10000, line.constData());
        }
        else if (line.startsWith("S3"))
            longest = qMax(longest, line.mid(2, 2).toInt(nullptr, 16) - 5);
    }
    int largestFile = 0; // records never span two files, touching or not
    for (const Piece &piece : pieces)
        largestFile = qMax(largestFile, piece.size);
    QCOMPARE(longest, qMin(most, largestFile));

    // Python's intelhex is a second reader of Intel HEX.
    if (format == QLatin1String("hex") && QFileInfo::exists(python)) {
        const QByteArray script = "import intelhex, sys\n"
                                  "ih = intelhex.IntelHex(sys.argv[1])\n"
                                  "for s, e in ih.segments():\n"
                                  "    print(hex(s), ih.tobinstr(start=s, end=e - 1).hex())\n";
        int pythonExit = -1;
        const QByteArray segments = runTool(python, {"-c", QString::fromLatin1(script), "out.hex"}, &pythonExit);
        if (pythonExit != 0)
            QSKIP("Python's intelhex (python3-intelhex) is not installed");
        QByteArray expected;
        for (auto it = ranges.cbegin(); it != ranges.cend(); ++it)
            expected += "0x" + QByteArray::number(it.key(), 16) + ' ' + it.value().toHex() + '\n';
        QCOMPARE(segments, expected);
    }
}

void tst_Formats::mapNumbers_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<bool>("dryRun");
    QTest::addColumn<qint64>("padTo");

    QTest::newRow("bin") << "bin" << false << qint64(0);
    QTest::newRow("bin padded") << "bin" << false << qint64(0x4000);
    QTest::newRow("bin, dry run: no image, same numbers") << "bin" << true << qint64(0);
    QTest::newRow("hex: the image's numbers as for bin") << "hex" << false << qint64(0);
    QTest::newRow("srec, dry run") << "srec" << true << qint64(0);
}

void tst_Formats::mapNumbers()
{
    QFETCH(QString, format);
    QFETCH(bool, dryRun);
    QFETCH(qint64, padTo);

    const Pieces pieces{{0x1300, 5000}, {0x1010, 300}, {0x1200, 0}};
    QStringList args{"--format", format, "-o", "out.img", "--map", "map.json"};
    if (dryRun)
        args << "--dry-run";
    if (padTo)
        args << "--pad-to" << QString::number(padTo, 16);
    const Run run = runCli(args + writePieces(pieces));
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(QFileInfo::exists(QStringLiteral("out.img")), !dryRun);

    const QJsonObject map = QJsonDocument::fromJson(readFile(QStringLiteral("map.json"))).object();
    QCOMPARE(map.value(QStringLiteral("format")).toString(), format);
    const QByteArray image = referenceImage(pieces, padTo);
    const QJsonObject i = map.value(QStringLiteral("image")).toObject();
    QCOMPARE(i.value(QStringLiteral("start")).toDouble(), 4096.0);
    QCOMPARE(qint64(i.value(QStringLiteral("length")).toDouble()), qint64(image.size()));
    QCOMPARE(i.value(QStringLiteral("crc32")).toString().toLatin1(), crc32(image));
    QCOMPARE(i.value(QStringLiteral("sha256")).toString().toLatin1(), sha256(image));
    QCOMPARE(qint64(i.value(QStringLiteral("trailingFill")).toDouble()), padTo ? padTo - 0x300 - 5000 : 0);

    // Address order: rows 2, 3, 1.
    const QJsonArray files = map.value(QStringLiteral("files")).toArray();
    QCOMPARE(files.size(), 3);
    const int order[] = {1, 2, 0};
    const qint64 fillAfter[] = {0x1200 - 0x1010 - 300, 0x100, 0};
    for (int n = 0; n < 3; ++n) {
        const QJsonObject f = files.at(n).toObject();
        const int k = order[n];
        const QByteArray bytes = pieceContent(k, pieces[k].size);
        QCOMPARE(f.value(QStringLiteral("row")).toInt(), k + 1);
        QCOMPARE(f.value(QStringLiteral("name")).toString(), QStringLiteral("%1.bin").arg(k));
        QCOMPARE(qint64(f.value(QStringLiteral("start")).toDouble()), pieces[k].address);
        QCOMPARE(qint64(f.value(QStringLiteral("end")).toDouble()), pieces[k].address + pieces[k].size);
        QCOMPARE(qint64(f.value(QStringLiteral("size")).toDouble()), qint64(pieces[k].size));
        QCOMPARE(qint64(f.value(QStringLiteral("fillAfter")).toDouble()), fillAfter[n]);
        QCOMPARE(f.value(QStringLiteral("crc32")).toString().toLatin1(), crc32(bytes));
        QCOMPARE(f.value(QStringLiteral("sha256")).toString().toLatin1(), sha256(bytes));
    }

    const QJsonObject output = map.value(QStringLiteral("output")).toObject();
    QCOMPARE(output.isEmpty(), dryRun);
    if (!dryRun) {
        const QByteArray written = readFile(QStringLiteral("out.img"));
        QCOMPARE(output.value(QStringLiteral("name")).toString(), QStringLiteral("out.img"));
        QCOMPARE(qint64(output.value(QStringLiteral("length")).toDouble()), qint64(written.size()));
        QCOMPARE(output.value(QStringLiteral("sha256")).toString().toLatin1(), sha256(written));
        QCOMPARE(run.out.last(), QStringLiteral("SHA-256: %1").arg(QString::fromLatin1(sha256(written))));
        if (format == QLatin1String("bin"))
            QCOMPARE(written, image);
    }
}

void tst_Formats::formatFromOutputName_data()
{
    QTest::addColumn<QString>("output");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("format");
    QTest::addColumn<bool>("fromName");

    for (const char *name : {"all.hex", "all.HEX", "all.ihex", "all.ihx"})
        QTest::newRow(name) << name << QStringList() << "hex" << true;
    for (const char *name : {"all.srec", "all.s19", "all.s28", "all.s37", "all.mot", "ALL.S19"})
        QTest::newRow(name) << name << QStringList() << "srec" << true;
    for (const char *name : {"all.vmem", "all.mem"})
        QTest::newRow(name) << name << QStringList() << "vmem" << true;
    QTest::newRow("all.c") << "all.c" << QStringList() << "c" << true;
    QTest::newRow("all.uf2") << "all.uf2" << QStringList() << "uf2" << true;
    for (const char *name : {"all.elf", "all.AXF"})
        QTest::newRow(name) << name << QStringList() << "elf" << true;
    QTest::newRow("TI-TXT only with --format") << "all.txt" << QStringList{"--format", "ti-txt"} << "ti-txt" << false;
    QTest::newRow("all.bin") << "all.bin" << QStringList() << "bin" << false;
    QTest::newRow("a text file is no record file") << "all.txt" << QStringList() << "bin" << false;
    QTest::newRow("no ending") << "hex" << QStringList() << "bin" << false;
    QTest::newRow("the last ending counts") << "all.hex.bin" << QStringList() << "bin" << false;
    QTest::newRow("a name that is only the ending") << ".hex" << QStringList() << "bin" << false;
    QTest::newRow("a folder's ending does not count") << "in.hex/all" << QStringList() << "bin" << false;
    QTest::newRow("--format wins over the name") << "all.hex" << QStringList{"--format", "bin"} << "bin" << false;
    QTest::newRow("--format before -o wins too") << "all.s19" << QStringList{"--format", "hex"} << "hex" << false;
    QTest::newRow("--format srec for a .bin") << "all.bin" << QStringList{"--format", "srec"} << "srec" << false;
}

// Without --format, the output's name chooses, as a user reads it; the
// layout says what was chosen and why, and the map says it too.
void tst_Formats::formatFromOutputName()
{
    QFETCH(QString, output);
    QFETCH(QStringList, args);
    QFETCH(QString, format);
    QFETCH(bool, fromName);

    QVERIFY(QDir().mkpath(QStringLiteral("in.hex")));
    const Pieces pieces{{0x1000, 100}, {0x1100, 50}};
    const Run run = runCli(args + QStringList{"--layout", "--map", "map.json", "-o", output} + writePieces(pieces));
    QCOMPARE(run.exitCode, 0);
    const QString said = QStringLiteral("output format %1 (").arg(format);
    const auto line = std::find_if(run.out.cbegin(), run.out.cend(), [&](const QString &l) { return l.startsWith(said); });
    QVERIFY2(line != run.out.cend(), qPrintable(run.out.join(QLatin1Char('\n'))));
    QCOMPARE(line->endsWith(QLatin1String(", from the output's name)")), fromName);
    const QJsonObject map = QJsonDocument::fromJson(readFile(QStringLiteral("map.json"))).object();
    QCOMPARE(map.value(QStringLiteral("format")).toString(), format);

    const QByteArray image = referenceImage(pieces, 0);
    if (format == QLatin1String("bin")) {
        QCOMPARE(readFile(output), image);
        return;
    }
    // The board formats are read back in their own suite; here the output's
    // first bytes say which it is.
    const QMap<QString, QByteArray> starts{{QStringLiteral("vmem"), "@00001000\n"},
                                           {QStringLiteral("ti-txt"), "@1000\n"},
                                           {QStringLiteral("c"), "/* The flat image"},
                                           {QStringLiteral("uf2"), QByteArray::fromHex("5546320a57515d9e")},
                                           {QStringLiteral("elf"), QByteArray::fromHex("7f454c46010101")}};
    if (starts.contains(format)) {
        QVERIFY2(readFile(output).startsWith(starts.value(format)), readFile(output).left(16).toHex().constData());
        return;
    }
    if (QStandardPaths::findExecutable(QStringLiteral("srec_cat")).isEmpty())
        QSKIP("srec_cat (Debian's srecord) reads the records back; it is not here");
    const QByteArray back = runTool(QStringLiteral("srec_cat"),
                                    {output, format == QLatin1String("hex") ? "-intel" : "-motorola", "-fill", "0xFF",
                                     "0x1000", QStringLiteral("0x%1").arg(0x1000 + image.size(), 0, 16), "-offset",
                                     "-0x1000", "-o", "-", "-binary"});
    QCOMPARE(back, image);
}

void tst_Formats::padTo_data()
{
    QTest::addColumn<QString>("size");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("last"); // of the log

    QTest::newRow("flash size with 0x") << "0x100" << 0 << "SHA-256";
    QTest::newRow("without 0x, upper case") << "1F0" << 0 << "SHA-256";
    QTest::newRow("exactly the image") << "24" << 0 << "SHA-256";
    QTest::newRow("image already longer")
        << "23" << 1 << "Error!!!Merge image of 36 bytes is longer than the pad size of 35 bytes!";
}

void tst_Formats::padTo()
{
    QFETCH(QString, size);
    QFETCH(int, exitCode);
    QFETCH(QString, last);

    QVERIFY(writeFile(QStringLiteral("out.bin"), "old"));
    const Pieces pieces{{0x1000, 4}, {0x1020, 4}};
    const Run run = runCli(QStringList{"--pad-to", size, "-o", "out.bin"} + writePieces(pieces));
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(run.out.last().startsWith(last), qPrintable(run.out.last()));
    if (exitCode == 0) {
        const qint64 length = size.toLongLong(nullptr, 16);
        QCOMPARE(readFile(QStringLiteral("out.bin")), referenceImage(pieces, length));
        QVERIFY(run.out.contains(QStringLiteral("Image length: %1 bytes").arg(length)));
    } else {
        QCOMPARE(readFile(QStringLiteral("out.bin")), QByteArray("old"));
    }
}

void tst_Formats::usageErrors_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("err");

    const QStringList o{"-o", "out.bin"};
    QTest::newRow("address with trailing junk") << o + QStringList{"1000", "a.bin", "0x1000z", "a.bin"}
                                                << "pair 2 (\"0x1000z\" a.bin)";
    QTest::newRow("address past 32 bits") << o + QStringList{"100000000", "a.bin"} << "pair 1 (\"100000000\" a.bin)";
    QTest::newRow("empty address") << o + QStringList{"", "a.bin"} << "pair 1 (\"\" a.bin)";
    QTest::newRow("unknown format") << QStringList{"--format", "s19"} + o + QStringList{"1000", "a.bin"}
                                    << "unknown format s19";
    QTest::newRow("record size 0") << QStringList{"--format", "hex", "--record-size", "0"} + o + QStringList{"1000", "a.bin"}
                                   << "record size 0: give 1 to 255";
    QTest::newRow("record size 256 for hex")
        << QStringList{"--format", "hex", "--record-size", "256"} + o + QStringList{"1000", "a.bin"}
        << "record size 256: give 1 to 255";
    QTest::newRow("record size 251 for srec")
        << QStringList{"--format", "srec", "--record-size", "251"} + o + QStringList{"1000", "a.bin"}
        << "record size 251: give 1 to 250";
    QTest::newRow("record size for bin") << QStringList{"--record-size", "8"} + o + QStringList{"1000", "a.bin"}
                                         << "--record-size applies to hex and srec output, not to bin";
    QTest::newRow("pad size for hex") << QStringList{"--format", "hex", "--pad-to", "100"} + o + QStringList{"1000", "a.bin"}
                                      << "--pad-to applies to bin and c output, not to hex";
    QTest::newRow("pad size not hex") << QStringList{"--pad-to", "1k"} + o + QStringList{"1000", "a.bin"}
                                      << "pad size 1k";
    QTest::newRow("pad size 0") << QStringList{"--pad-to", "0"} + o + QStringList{"1000", "a.bin"} << "pad size 0";
    QTest::newRow("pad size past 4 GiB") << QStringList{"--pad-to", "100000000"} + o + QStringList{"1000", "a.bin"}
                                         << "pad size 100000000";
    QTest::newRow("unknown input format") << QStringList{"--input-format", "elf"} + o + QStringList{"1000", "a.bin"}
                                          << "unknown input format elf: auto or raw";
    QTest::newRow("base past 32 bits") << QStringList{"--base", "100000000"} + o + QStringList{"1000", "a.bin"}
                                       << "base 100000000: give a hexadecimal address from 0 to FFFFFFFF";
    QTest::newRow("own addresses of raw data") << QStringList{"--input-format", "raw"} + o + QStringList{"-", "a.bin"}
                                               << "pair 1 (\"-\" a.bin): - (the file's own addresses) needs --input-format auto";
    QTest::newRow("pad size past the end from another base")
        << QStringList{"--base", "FFFF0000", "--pad-to", "10001"} + o + QStringList{"FFFF0000", "a.bin"}
        << "pad size 10001: give a hexadecimal size from 1 to 10000";
    QTest::newRow("image and map both on standard output")
        << QStringList{"--map", "-", "-o", "-", "1000", "a.bin"} << "cannot both go to standard output";
}

void tst_Formats::usageErrors()
{
    QFETCH(QStringList, args);
    QFETCH(QString, err);

    QVERIFY(writeFile(QStringLiteral("a.bin"), "AAAA"));
    const Run run = runCli(args);
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.err.contains(err), qPrintable(run.err));
    QCOMPARE(run.rawOut, QByteArray());
    QCOMPARE(QDir().entryList(QDir::Files), QStringList{"a.bin"}); // nothing read, nothing written
}

void tst_Formats::outputHygiene_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("a name that holds lines of its own") << "newline";
    QTest::newRow("a name with other control characters") << "controls";
    QTest::newRow("image on standard output") << "image to stdout";
    QTest::newRow("map on standard output") << "map to stdout";
    QTest::newRow("output named after standard output") << "dev stdout";
    QTest::newRow("reader that closes the pipe early") << "closed pipe";
    QTest::newRow("name that is not UTF-8") << "not utf-8";
    QTest::newRow("hand-written settings with an unquoted comma") << "comma";
}

void tst_Formats::outputHygiene()
{
    QFETCH(QString, kind);
    const QByteArray a("AAAA");
    QVERIFY(writeFile(QStringLiteral("a.bin"), a));
    const QString begin = QStringLiteral("Begin to merge...");
    const QString success = QStringLiteral("Merge success!");

    if (kind == QLatin1String("newline") || kind == QLatin1String("controls")) {
        const QString name = kind == QLatin1String("newline") ? QStringLiteral("x\nMerge success!\n.bin")
                                                              : QStringLiteral("t\tb\x1b[1m\r\u2028\u202e\u2067.bin");
        if (!writeFile(name, "xx"))
            QSKIP("this file system takes no control characters in names (Windows)");
        Run run = runCli({"-o", "out.bin", "1000", name});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out.count(success), 1);
        QCOMPARE(run.out.size(), 4);
        run = runCli({"-o", "out.bin", "1000", name, "1000", "a.bin"});
        const QString shown = kind == QLatin1String("newline") ? QStringLiteral("x\\nMerge success!\\n.bin")
                                                               : QStringLiteral("t\\tb\\x1b[1m\\r\\u2028\\u202e\\u2067.bin");
        QCOMPARE(run.out, QStringList() << begin << "Error!!!The address of file2 is duplicated!");
        run = runCli({"-o", "out.bin", "1000", name, "1001", "a.bin"});
        QCOMPARE(run.out, QStringList() << begin << QStringLiteral("Error!!!File size of %1 is out of range!").arg(shown));
    } else if (kind == QLatin1String("image to stdout")) {
        const Run run = runCli({"-o", "-", "1002", "a.bin"});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.rawOut, fill(2) + a);
        QVERIFY(run.err.startsWith(begin + QLatin1Char('\n') + success + QLatin1Char('\n')));
        QVERIFY(run.err.contains(QString::fromLatin1(sha256(fill(2) + a))));
    } else if (kind == QLatin1String("map to stdout")) {
        const Run run = runCli({"--map", "-", "-o", "out.bin", "1000", "a.bin"});
        QCOMPARE(run.exitCode, 0);
        QJsonParseError error;
        const QJsonDocument map = QJsonDocument::fromJson(run.rawOut, &error);
        QCOMPARE(error.error, QJsonParseError::NoError);
        QCOMPARE(map.object().value(QStringLiteral("files")).toArray().size(), 1);
        QVERIFY(run.err.startsWith(begin + QLatin1Char('\n') + success + QLatin1Char('\n')));
    } else if (kind == QLatin1String("dev stdout")) {
        if (!QFileInfo::exists(QStringLiteral("/dev/stdout")))
            QSKIP("no /dev/stdout here (Windows has none)");
        // Standard output redirected into a file: the image goes there, the
        // log does not.
        const Run run = runShell(QStringLiteral("\"$0\" -o /dev/stdout 1001 a.bin > image.bin 2> log.txt"));
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(readFile(QStringLiteral("image.bin")), fill(1) + a);
        QVERIFY(readFile(QStringLiteral("log.txt")).startsWith("Begin to merge...\nMerge success!\n"));
    } else if (kind == QLatin1String("closed pipe")) {
        if (!QFileInfo::exists(QStringLiteral("/bin/sh")))
            QSKIP("needs a Unix shell (Windows has none)");
        QVERIFY(writeFile(QStringLiteral("big.bin"), QByteArray(8 << 20, 'b')));
        // head takes a few bytes of an image larger than the pipe holds and
        // leaves; a reader that is gone before the log's first line: the
        // merge must say so, not die. (A reader that left after the first
        // of a few short lines might not be gone before the last is written.)
        for (const char *line : {"{ \"$0\" -o - 1000 big.bin 2> log.txt; echo $? > rc.txt; } | head -c 10 > /dev/null",
                                 "{ sleep 0.5; \"$0\" --format hex -o out.hex 1000 a.bin 2> log.txt; echo $? > rc.txt; } | true"}) {
            QVERIFY(QFile::remove(QStringLiteral("rc.txt")) || !QFile::exists(QStringLiteral("rc.txt")));
            runShell(QString::fromLatin1(line));
            QCOMPARE(readFile(QStringLiteral("rc.txt")), QByteArray("1\n"));
            QVERIFY2(readFile(QStringLiteral("log.txt")).contains("Error!!!Fail to write"), readFile("log.txt").constData());
        }
    } else if (kind == QLatin1String("not utf-8")) {
        if (!QFileInfo::exists(QStringLiteral("/bin/sh")))
            QSKIP("file names on Windows are UTF-16 and need no such check");
        const Run run = runShell(QStringLiteral("exec \"$0\" -o \"$(printf 'o\\377.bin')\" 1000 a.bin"));
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.err.contains(QLatin1String("o\\xff.bin is not valid UTF-8")), qPrintable(run.err));
        QCOMPARE(QDir().entryList(QDir::Files), QStringList{"a.bin"});
    } else if (kind == QLatin1String("comma")) {
        QVERIFY(QDir().mkdir(QStringLiteral("cfg")));
        QVERIFY(writeFile(QStringLiteral("a,b.bin"), "AB"));
        QVERIFY(writeFile(QStringLiteral("c, d.bin"), "CD"));
        QVERIFY(writeFile(QStringLiteral("cfg/MergeTool.ini"),
                          "[MergeTool]\nFile1Name=a,b.bin\nFile1Addr=1000\nFile1Enable=1\n"
                          "File2Name=c, d.bin\nFile2Addr=1002\nFile2Enable=1\nMergeFileName=out,1.bin\n"));
        const Run run = runCli({"--settings", "cfg/MergeTool.ini"});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(readFile(QStringLiteral("out,1.bin")), QByteArray("ABCD"));
    }
}

QTEST_MAIN(tst_Formats)
#include "tst_formats.moc"
