// The commands that look at images, run as a build script runs them, held
// to tools nobody here wrote: srec_info's ranges and start address,
// srec_cmp's verdict, Python's zlib and hashlib for the sums, srec_cat to
// make and change files; and verify against images changed on purpose.

#include "CliRunner.h"
#include "Files.h"
#include "Records.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>

#include <functional>

namespace {

QString tool(const char *name)
{
    return QStandardPaths::findExecutable(QLatin1String(name));
}

// CRC-32 and SHA-256 by Python's zlib and hashlib, as hexadecimal digits.
QStringList pythonSums(const QString &file)
{
    const QByteArray out = runTool(QStringLiteral("python3"),
                                   {"-c", "import sys, zlib, hashlib; d = open(sys.argv[1], 'rb').read(); "
                                          "print('%08x' % (zlib.crc32(d) & 0xffffffff)); print(hashlib.sha256(d).hexdigest())",
                                    file});
    return QString::fromLatin1(out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// srec_info's data ranges ("1000 - 103F", inclusive) and start address.
struct SrecInfo
{
    QVector<QPair<qint64, qint64>> ranges; // start, end (exclusive)
    qint64 start = -1;
};

SrecInfo srecInfo(const QString &file, const QString &type)
{
    SrecInfo info;
    const QString text = QString::fromLatin1(runTool(tool("srec_info"), {file, type}));
    const QRegularExpression range(QStringLiteral("([0-9A-F]+) - ([0-9A-F]+)"));
    for (const QString &line : text.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("Execution Start Address:")))
            info.start = line.section(QLatin1Char(':'), 1).trimmed().toLongLong(nullptr, 16);
        const QRegularExpressionMatch m = range.match(line);
        if (m.hasMatch() && !line.startsWith(QLatin1String("Execution")))
            info.ranges.append({m.captured(1).toLongLong(nullptr, 16), m.captured(2).toLongLong(nullptr, 16) + 1});
    }
    return info;
}

QJsonDocument jsonOf(const Run &run)
{
    return QJsonDocument::fromJson(run.rawOut);
}

QByteArray bytes(int seed, int size)
{
    QByteArray b(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        b[i] = char((i * 131 + seed * 17 + i / 251) & 0xFF);
    return b;
}

} // namespace

class tst_Inspect : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void infoAgreesWithOracles_data();
    void infoAgreesWithOracles();
    void infoOfManyFiles();
    void compareAgreesWithSrecCmp_data();
    void compareAgreesWithSrecCmp();
    void compareRanges_data();
    void compareRanges();
    void compareNamesWhatTheMapSays();
    void verifyHolds_data();
    void verifyHolds();
    void verifyFinds_data();
    void verifyFinds();
    void firstDifferenceWhereTrimmed_data();
    void firstDifferenceWhereTrimmed();
    void hostileMaps_data();
    void hostileMaps();
    void trouble_data();
    void trouble();

private:
    QScopedPointer<CurrentTempDir> dir;
};

void tst_Inspect::init()
{
    dir.reset(new CurrentTempDir);
    QVERIFY(dir->isValid());
    if (tool("srec_cat").isEmpty())
        QSKIP("srec_cat (Debian's srecord) is not installed; on Windows it cannot be started at all");
}

void tst_Inspect::cleanup()
{
    dir.reset();
}

void tst_Inspect::infoAgreesWithOracles_data()
{
    QTest::addColumn<QStringList>("make"); // srec_cat's arguments after the inputs a.bin and b.bin
    QTest::addColumn<QString>("type");     // the file's type as srec_info takes it

    QTest::newRow("Intel HEX, two runs, a start address")
        << QStringList{"-intel", "-obs=16", "-execution-start-address=0x08000004"} << "-intel";
    QTest::newRow("Intel HEX, records of 255 bytes") << QStringList{"-intel", "-obs=255"} << "-intel";
    QTest::newRow("S-records of 32 bytes, a start address")
        << QStringList{"-motorola", "-obs=32", "-execution-start-address=0x08000100"} << "-motorola";
    QTest::newRow("S-records of one byte") << QStringList{"-motorola", "-obs=1"} << "-motorola";
    QTest::newRow("TI-TXT") << QStringList{"-ti-txt"} << "-ti-txt";
}

// Its runs and start address are srec_info's; the sums of its data bytes in
// address order and of its flat image (holes 0xFF) are Python's over the
// same bytes.
void tst_Inspect::infoAgreesWithOracles()
{
    QFETCH(QStringList, make);
    QFETCH(QString, type);

    const QByteArray a = bytes(1, 70000);
    const QByteArray b = bytes(2, 3000);
    QVERIFY(writeFile(QStringLiteral("a.bin"), a) && writeFile(QStringLiteral("b.bin"), b));
    int code = -1;
    runTool(tool("srec_cat"), QStringList{"a.bin", "-binary", "-offset", "0x08000000", "b.bin", "-binary", "-offset",
                                          "0x08020000", "-o", "file"} + make,
            &code);
    QCOMPARE(code, 0);
    const SrecInfo oracle = srecInfo(QStringLiteral("file"), type);
    QCOMPARE(oracle.ranges.size(), 2);

    const Run run = runCli({"info", "--json", "file"});
    QCOMPARE(run.exitCode, 0);
    const QJsonArray files = jsonOf(run).array();
    QCOMPARE(files.size(), 1);
    const QJsonObject info = files.at(0).toObject();
    const QJsonArray runs = info.value("runs").toArray();
    QCOMPARE(runs.size(), oracle.ranges.size());
    for (int k = 0; k < runs.size(); ++k) {
        QCOMPARE(qint64(runs.at(k).toObject().value("start").toDouble()), oracle.ranges.at(k).first);
        QCOMPARE(qint64(runs.at(k).toObject().value("end").toDouble()), oracle.ranges.at(k).second);
    }
    QCOMPARE(info.value("startAddress").isNull() ? -1 : qint64(info.value("startAddress").toDouble()), oracle.start);
    QCOMPARE(qint64(info.value("dataBytes").toDouble()), qint64(a.size() + b.size()));
    QCOMPARE(qint64(info.value("length").toDouble()), QFileInfo(QStringLiteral("file")).size());

    QVERIFY(writeFile(QStringLiteral("data"), a + b));
    QCOMPARE(QStringList({info.value("crc32").toString(), info.value("sha256").toString()}), pythonSums(QStringLiteral("data")));
    QVERIFY(writeFile(QStringLiteral("flat"), a + QByteArray(0x20000 - a.size(), char(0xFF)) + b));
    const QJsonObject flat = info.value("flat").toObject();
    QCOMPARE(QStringList({flat.value("crc32").toString(), flat.value("sha256").toString()}), pythonSums(QStringLiteral("flat")));
    QCOMPARE(qint64(flat.value("start").toDouble()), qint64(0x08000000));
    QCOMPARE(qint64(flat.value("end").toDouble()), qint64(0x08020000 + b.size()));

    // The text says the same.
    const Run text = runCli({"info", "file"});
    QCOMPARE(text.exitCode, 0);
    QVERIFY(text.out.contains(QStringLiteral("  run  0x08000000-0x08011170 (70000 bytes)")));
    QVERIFY(text.out.contains(QStringLiteral("  hole 0x08011170-0x08020000 (61072 bytes)")));
    QVERIFY(text.rawOut.contains(info.value("sha256").toString().toLatin1()));
}

// Every file is reported; one that cannot be read is one line naming it,
// the others still shown, and the status says so. A raw file lies at --base.
void tst_Inspect::infoOfManyFiles()
{
    QVERIFY(writeFile(QStringLiteral("raw.bin"), "ABCD"));
    QVERIFY(writeFile(QStringLiteral("bad.hex"), hexRecord(0, 0x10, "xy") + ":0400000012345678FF\n"));
    QVERIFY(writeFile(QStringLiteral("good.hex"), hexRecord(0, 0x20, "zz") + hexRecord(1, 0, QByteArray())));
    const Run run = runCli({"info", "--json", "--base", "8000", "raw.bin", "missing.bin", "bad.hex", "good.hex"});
    QCOMPARE(run.exitCode, 1);
    const QJsonArray files = jsonOf(run).array();
    QCOMPARE(files.size(), 2);
    QCOMPARE(files.at(0).toObject().value("name").toString(), QStringLiteral("raw.bin"));
    QCOMPARE(files.at(0).toObject().value("format").toString(), QStringLiteral("raw"));
    QCOMPARE(qint64(files.at(0).toObject().value("runs").toArray().at(0).toObject().value("start").toDouble()), qint64(0x8000));
    QCOMPARE(files.at(1).toObject().value("name").toString(), QStringLiteral("good.hex"));
    const QStringList errors = run.err.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(errors.size(), 2);
    QVERIFY(errors.at(0).startsWith(QLatin1String("Error!!!")) && errors.at(0).contains(QLatin1String("missing.bin")));
    QVERIFY(errors.at(1).startsWith(QLatin1String("Error!!!")) && errors.at(1).contains(QLatin1String("bad.hex")));
}

void tst_Inspect::compareAgreesWithSrecCmp_data()
{
    QTest::addColumn<QStringList>("makeB"); // srec_cat's arguments: B from A, the file A
    QTest::addColumn<QString>("typeB");

    QTest::newRow("the same bytes in other record layouts") << QStringList{"-o", "B", "-motorola", "-obs=32"} << "-motorola";
    QTest::newRow("HEX against TI-TXT") << QStringList{"-o", "B", "-ti-txt"} << "-ti-txt";
    QTest::newRow("one byte changed")
        << QStringList{"-exclude", "0x1010", "0x1011", "-generate", "0x1010", "0x1011", "-constant", "0x5A", "-o", "B", "-intel"}
        << "-intel";
    QTest::newRow("a longer B") << QStringList{"-generate", "0x4000", "0x4010", "-constant", "0xFF", "-o", "B", "-intel"} << "-intel";
    QTest::newRow("a shorter B") << QStringList{"-crop", "0x1000", "0x3800", "-o", "B", "-intel"} << "-intel";
}

// Whatever the formats, the verdict is srec_cmp's.
void tst_Inspect::compareAgreesWithSrecCmp()
{
    QFETCH(QStringList, makeB);
    QFETCH(QString, typeB);

    QVERIFY(writeFile(QStringLiteral("a.bin"), bytes(3, 0x1800)) && writeFile(QStringLiteral("b.bin"), bytes(4, 0x900)));
    int code = -1;
    runTool(tool("srec_cat"), {"a.bin", "-binary", "-offset", "0x1000", "b.bin", "-binary", "-offset", "0x3000", "-o", "A",
                               "-intel", "-obs=16"},
            &code);
    QCOMPARE(code, 0);
    runTool(tool("srec_cat"), QStringList{"A", "-intel"} + makeB, &code);
    QCOMPARE(code, 0);
    runTool(tool("srec_cmp"), {"A", "-intel", "B", typeB}, &code);
    QVERIFY(code == 0 || code == 2); // srec_cmp: 0 the same, 2 different
    const Run run = runCli({"compare", "A", "B"});
    QCOMPARE(run.exitCode, code == 0 ? 0 : 1);
}

void tst_Inspect::compareRanges_data()
{
    QTest::addColumn<QString>("fill"); // --fill, or empty
    QTest::addColumn<QString>("expected"); // each range as kind start end, then the last line

    QTest::newRow("without --fill: the gap is only in A, B's holes")
        << QString() << "differ 0x00001010-0x00001012 (2 bytes)|only in A 0x00001800-0x00003000 (6144 bytes)";
    QTest::newRow("with --fill FF: the gap equals B's hole") << "FF" << "differ 0x00001010-0x00001012 (2 bytes)";
    QTest::newRow("with --fill 00: the gap is no 00 bytes") << "00"
        << "differ 0x00001010-0x00001012 (2 bytes)|differ 0x00001800-0x00003000 (6144 bytes)";
}

// A flat image against the HEX file with holes it came from, two bytes
// changed: every range where they differ, and of what kind.
void tst_Inspect::compareRanges()
{
    QFETCH(QString, fill);
    QFETCH(QString, expected);

    QVERIFY(writeFile(QStringLiteral("a.bin"), bytes(3, 0x800)) && writeFile(QStringLiteral("b.bin"), bytes(4, 0x300)));
    QCOMPARE(runCli({"-o", "flat.bin", "1000", "a.bin", "3000", "b.bin"}).exitCode, 0);
    QByteArray changed = readFile(QStringLiteral("flat.bin"));
    changed[0x10] = char(~changed[0x10]);
    changed[0x11] = char(~changed[0x11]);
    QVERIFY(writeFile(QStringLiteral("changed.bin"), changed));
    QCOMPARE(runCli({"--format", "hex", "-o", "holes.hex", "1000", "a.bin", "3000", "b.bin"}).exitCode, 0);
    QStringList args{"compare"};
    if (!fill.isEmpty())
        args << "--fill" << fill;
    const Run run = runCli(args + QStringList{"changed.bin", "holes.hex"});
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.out.mid(0, run.out.size() - 1), expected.split(QLatin1Char('|')));
    QVERIFY(run.out.last().startsWith(QLatin1String("A and B differ: ")));
    const Run json = runCli(args.mid(0, 1) + QStringList{"--json"} + args.mid(1) + QStringList{"changed.bin", "holes.hex"});
    QCOMPARE(json.exitCode, 1);
    const QJsonObject result = jsonOf(json).object();
    QCOMPARE(result.value("same").toBool(true), false);
    QCOMPARE(result.value("ranges").toArray().size(), expected.count(QLatin1Char('|')) + 1);
    QCOMPARE(result.value("ranges").toArray().at(0).toObject().value("kind").toString(), QStringLiteral("differ"));
}

// With the map of the merge, each range names the file, field or fill of
// that merge whose bytes it touches.
void tst_Inspect::compareNamesWhatTheMapSays()
{
    QVERIFY(writeFile(QStringLiteral("a.bin"), bytes(3, 0x100)) && writeFile(QStringLiteral("b.bin"), bytes(4, 0x100)));
    QCOMPARE(runCli({"--map", "m.json", "--field", "crc32@1800", "-o", "out.bin", "1000", "a.bin", "2000", "b.bin"}).exitCode, 0);
    QByteArray changed = readFile(QStringLiteral("out.bin"));
    for (const int at : {0x0FF, 0x100, 0x800, 0x1000})
        changed[at] = char(~changed[at]);
    QVERIFY(writeFile(QStringLiteral("changed.bin"), changed));
    const Run run = runCli({"compare", "--map", "m.json", "out.bin", "changed.bin"});
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.out.mid(0, 4), QStringList({"differ 0x000010FF-0x00001100 (1 byte): file1 a.bin",
                                             "differ 0x00001100-0x00001101 (1 byte): fill",
                                             "differ 0x00001800-0x00001801 (1 byte): field crc32@1800",
                                             "differ 0x00002000-0x00002001 (1 byte): file2 b.bin"}));
    QCOMPARE(run.out.last(), QStringLiteral("A and B differ: 3 ranges; 4 bytes differ, 0 only in A, 0 only in B."));
    const QJsonArray ranges = jsonOf(runCli({"compare", "--json", "--map", "m.json", "out.bin", "changed.bin"})).object().value("ranges").toArray();
    QCOMPARE(ranges.size(), 4);
    QCOMPARE(ranges.at(0).toObject().value("row").toInt(), 1);
    QCOMPARE(ranges.at(2).toObject().value("field").toString(), QStringLiteral("crc32@1800"));
}

void tst_Inspect::verifyHolds_data()
{
    QTest::addColumn<QString>("format");
    for (const char *format : {"bin", "hex", "srec", "uf2", "ti-txt"})
        QTest::newRow(format) << format;
}

// What a merge wrote holds every check of its map, found from the map's own
// folder; the JSON says the same.
void tst_Inspect::verifyHolds()
{
    QFETCH(QString, format);
    QVERIFY(QDir().mkdir(QStringLiteral("out")));
    QVERIFY(writeFile(QStringLiteral("a.bin"), bytes(3, 0x1234)) && writeFile(QStringLiteral("b.bin"), bytes(4, 0x99)));
    QCOMPARE(runCli({"--format", format, "--map", "out/m.json", "--field", "crc32@3000", "--field", "sha256@3004,1000-3000",
                     "-o", "out/image", "1000", "a.bin", "2F00", "b.bin"})
                 .exitCode,
             0);
    const Run run = runCli({"verify", "--map", "out/m.json"});
    QVERIFY2(run.exitCode == 0, qPrintable(run.out.join(QLatin1Char('\n'))));
    QVERIFY(run.out.last().contains(QLatin1String("holds all")));
    const Run json = runCli({"verify", "--json", "--map", "out/m.json", "out/image"});
    QCOMPARE(json.exitCode, 0);
    const QJsonObject result = jsonOf(json).object();
    QCOMPARE(result.value("holds").toBool(), true);
    QVERIFY(result.value("checks").toArray().size() >= 8);
}

void tst_Inspect::verifyFinds_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("change"); // what is done to the image
    QTest::addColumn<QString>("fails");  // a check that must fail
    QTest::addColumn<QString>("holds");  // one that must still hold; empty: none

    for (const char *format : {"bin", "hex", "srec", "uf2"}) {
        QTest::addRow("%s: a byte of file2", format) << format << "byte 2F10" << "file2 b.bin" << "file1 a.bin";
        QTest::addRow("%s: a byte of file1", format) << format << "byte 1005" << "file1 a.bin" << "file2 b.bin";
        QTest::addRow("%s: a byte of the field", format) << format << "byte 3001" << "field crc32@3000 bytes" << "file1 a.bin";
        QTest::addRow("%s: cut short", format) << format << "truncate" << "output length" << QString();
    }
    QTest::newRow("bin: a byte of the fill") << "bin" << "byte 2400" << "image SHA-256" << "file2 b.bin";
}

// An image changed after its merge: the check that covers the change fails,
// naming the file or field and where; the others hold.
void tst_Inspect::verifyFinds()
{
    QFETCH(QString, format);
    QFETCH(QString, change);
    QFETCH(QString, fails);
    QFETCH(QString, holds);

    QVERIFY(writeFile(QStringLiteral("a.bin"), bytes(3, 0x1234)) && writeFile(QStringLiteral("b.bin"), bytes(4, 0x99)));
    QCOMPARE(runCli({"--format", format, "--map", "m.json", "--field", "crc32@3000", "-o", "image", "1000", "a.bin",
                     "2F00", "b.bin"})
                 .exitCode,
             0);
    QByteArray image = readFile(QStringLiteral("image"));
    if (change == QLatin1String("truncate")) {
        image.chop(format == QLatin1String("uf2") ? 512 : 20);
        QVERIFY(writeFile(QStringLiteral("image"), image));
    } else {
        const qint64 address = change.section(QLatin1Char(' '), 1).toLongLong(nullptr, 16);
        if (format == QLatin1String("bin")) {
            image[int(address - 0x1000)] = char(~image[int(address - 0x1000)]);
            QVERIFY(writeFile(QStringLiteral("image"), image));
        } else if (format == QLatin1String("uf2")) {
            // The byte in its block's payload, found by the block's address.
            for (int at = 0; at < image.size(); at += 512) {
                const qint64 target = qint64(quint8(image[at + 12])) | qint64(quint8(image[at + 13])) << 8
                                      | qint64(quint8(image[at + 14])) << 16 | qint64(quint8(image[at + 15])) << 24;
                if (address >= target && address < target + 256)
                    image[at + 32 + int(address - target)] = char(~image[at + 32 + int(address - target)]);
            }
            QVERIFY(writeFile(QStringLiteral("image"), image));
        } else {
            const QString type = format == QLatin1String("hex") ? "-intel" : "-motorola";
            const QString at = QStringLiteral("0x%1").arg(address, 0, 16), next = QStringLiteral("0x%1").arg(address + 1, 0, 16);
            int code = -1;
            const QByteArray changed = runTool(tool("srec_cat"), {"image", type, "-exclude", at, next, "-generate", at, next,
                                                                  "-constant", "0xA5", "-o", "-", type}, &code);
            QCOMPARE(code, 0);
            QVERIFY(writeFile(QStringLiteral("image"), changed));
        }
    }
    const Run run = runCli({"verify", "--json", "--map", "m.json"});
    QCOMPARE(run.exitCode, 1);
    const QJsonObject result = jsonOf(run).object();
    QCOMPARE(result.value("holds").toBool(true), false);
    bool failed = false, held = holds.isEmpty();
    for (const QJsonValue &c : result.value("checks").toArray()) {
        const QJsonObject check = c.toObject();
        if (check.value("what").toString() == fails) {
            failed = !check.value("holds").toBool();
            if (change.startsWith(QLatin1String("byte")) && fails.startsWith(QLatin1String("file")))
                QVERIFY2(check.value("detail").toString().contains(QStringLiteral("0x0000") + change.section(QLatin1Char(' '), 1)),
                         qPrintable(check.value("detail").toString()));
        }
        if (check.value("what").toString() == holds)
            held = check.value("holds").toBool();
    }
    QVERIFY2(failed, qPrintable(QString::fromUtf8(run.rawOut)));
    QVERIFY2(held, qPrintable(QString::fromUtf8(run.rawOut)));
    // The text gives a line to each check that fails.
    const Run text = runCli({"verify", "--map", "m.json"});
    QCOMPARE(text.exitCode, 1);
    QVERIFY(text.out.filter(QRegularExpression(QStringLiteral("^Does not hold: ") + QRegularExpression::escape(fails))).size() == 1);
}

void tst_Inspect::firstDifferenceWhereTrimmed_data()
{
    QTest::addColumn<QStringList>("merge"); // the merge's arguments before -o
    QTest::addColumn<QString>("input");     // what a.src holds: raw or hex at 0x8000
    QTest::addColumn<qint64>("changed");    // the address changed in the image

    QTest::newRow("raw, its start cropped") << QStringList{"--crop", "1100-4500", "1000", "a.src"} << "raw" << qint64(0x1200);
    QTest::newRow("raw, its start excluded") << QStringList{"--exclude", "1000-1040", "1000", "a.src"} << "raw" << qint64(0x1BB7);
    QTest::newRow("raw, whole") << QStringList{"1000", "a.src"} << "raw" << qint64(0x1001);
    QTest::newRow("hex moved, its start cropped") << QStringList{"--crop", "1100-4500", "1000", "a.src"} << "hex" << qint64(0x1333);
    QTest::newRow("hex at its own addresses") << QStringList{"--base", "8000", "-", "a.src"} << "hex" << qint64(0x8400);
}

// The first byte that is not the file's, where the merge kept only part of
// the file or moved it: the address the image was changed at.
void tst_Inspect::firstDifferenceWhereTrimmed()
{
    QFETCH(QStringList, merge);
    QFETCH(QString, input);
    QFETCH(qint64, changed);
    const QByteArray data = bytes(0x77, 3000);
    if (input == QLatin1String("raw")) {
        QVERIFY(writeFile(QStringLiteral("a.src"), data));
    } else {
        QVERIFY(writeFile(QStringLiteral("a.bin"), data));
        int code = -1;
        const QByteArray hex = runTool(tool("srec_cat"), {"a.bin", "-binary", "-offset", "0x8000", "-o", "-", "-intel"}, &code);
        QCOMPARE(code, 0);
        QVERIFY(writeFile(QStringLiteral("a.src"), hex));
    }
    QCOMPARE(runCli(merge + QStringList{"--map", "m.json", "-o", "out.bin"}).exitCode, 0);
    const QJsonObject map = QJsonDocument::fromJson(readFile(QStringLiteral("m.json"))).object();
    const qint64 start = qint64(map.value("image").toObject().value("start").toDouble());
    QByteArray image = readFile(QStringLiteral("out.bin"));
    image[int(changed - start)] = char(~image[int(changed - start)]);
    QVERIFY(writeFile(QStringLiteral("out.bin"), image));
    const Run run = runCli({"verify", "--json", "--map", "m.json"});
    QCOMPARE(run.exitCode, 1);
    QString detail;
    for (const QJsonValue &c : jsonOf(run).object().value("checks").toArray()) {
        if (c.toObject().value("what").toString() == QLatin1String("file1 a.src"))
            detail = c.toObject().value("detail").toString();
    }
    const QString at = QStringLiteral("0x") + QString::number(changed, 16).rightJustified(8, QLatin1Char('0')).toUpper();
    QVERIFY2(detail.contains(QStringLiteral("the first byte that is not the file's is at ") + at), qPrintable(detail));
}

void tst_Inspect::hostileMaps_data()
{
    QTest::addColumn<QString>("path");  // where in the map: image.length, files.0.segments.0.end...
    QTest::addColumn<QJsonValue>("value");

    QTest::newRow("an image of 2^62 bytes") << "image.length" << QJsonValue(4611686018427387904.0);
    QTest::newRow("an image of 1e30 bytes") << "image.length" << QJsonValue(1e30);
    QTest::newRow("an image past 4 GiB") << "image.length" << QJsonValue(double(qint64(1) << 32));
    QTest::newRow("an image below 0") << "image.start" << QJsonValue(-1);
    QTest::newRow("a fill of 300") << "image.fill" << QJsonValue(300);
    QTest::newRow("a fill of 2.5") << "image.fill" << QJsonValue(2.5);
    QTest::newRow("a start as text") << "image.start" << QJsonValue(QStringLiteral("4096"));
    QTest::newRow("a segment that ends before it starts") << "files.0.segments.0.end" << QJsonValue(1);
    QTest::newRow("a segment at 2^63") << "files.0.segments.0.start" << QJsonValue(9.3e18);
    QTest::newRow("fields that are no list") << "fields" << QJsonValue(QJsonObject{{"a", 1}});
    QTest::newRow("a field of a kind unknown") << "fields.0.kind" << QJsonValue(QStringLiteral("md5"));
    QTest::newRow("a field of 1e20 bytes") << "fields.0.size" << QJsonValue(1e20);
}

// A map changed by hand or by a stranger: refused in one line with exit 2,
// at once, never walked for its numbers' worth nor said to hold.
void tst_Inspect::hostileMaps()
{
    QFETCH(QString, path);
    QFETCH(QJsonValue, value);
    QVERIFY(writeFile(QStringLiteral("a.bin"), bytes(0x21, 100)));
    QCOMPARE(runCli({"--map", "m.json", "--field", "crc32@2000", "-o", "out.bin", "1000", "a.bin"}).exitCode, 0);
    QJsonObject map = QJsonDocument::fromJson(readFile(QStringLiteral("m.json"))).object();
    // Sets the value at a dotted path of object keys and list indexes.
    const std::function<QJsonValue(QJsonValue, QStringList)> set = [&](QJsonValue at, QStringList keys) -> QJsonValue {
        if (keys.isEmpty())
            return value;
        const QString key = keys.takeFirst();
        bool index = false;
        const int i = key.toInt(&index);
        if (index) {
            QJsonArray list = at.toArray();
            list[i] = set(list.at(i), keys);
            return list;
        }
        QJsonObject object = at.toObject();
        object[key] = set(object.value(key), keys);
        return object;
    };
    map = set(map, path.split(QLatin1Char('.'))).toObject();
    QVERIFY(writeFile(QStringLiteral("m.json"), QJsonDocument(map).toJson()));
    const Run run = runCli({"verify", "--map", "m.json"});
    QCOMPARE(run.exitCode, 2);
    const QStringList errors = run.out.filter(QStringLiteral("Error!!!"));
    QCOMPARE(errors.size(), 1);
    QVERIFY2(errors.first().startsWith(QStringLiteral("Error!!!Cannot read map")), qPrintable(errors.first()));
}

void tst_Inspect::trouble_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");

    QTest::newRow("compare: a file that is not there") << QStringList{"compare", "a.bin", "missing"} << 2;
    QTest::newRow("compare: one file") << QStringList{"compare", "a.bin"} << 2;
    QTest::newRow("verify: no map") << QStringList{"verify", "a.bin"} << 2;
    QTest::newRow("verify: a map that is no map") << QStringList{"verify", "--map", "a.bin"} << 2;
    QTest::newRow("verify: a map whose image is gone") << QStringList{"verify", "--map", "m.json", "gone.bin"} << 2;
    QTest::newRow("info: no file") << QStringList{"info"} << 2;
    QTest::newRow("info: an unknown format") << QStringList{"info", "--input-format", "pdf", "a.bin"} << 2;
    QTest::newRow("info: a merge's option") << QStringList{"info", "-o", "x", "a.bin"} << 2;
}

void tst_Inspect::trouble()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QVERIFY(writeFile(QStringLiteral("a.bin"), "ABCD"));
    QCOMPARE(runCli({"--map", "m.json", "-o", "out.bin", "1000", "a.bin"}).exitCode, 0);
    const Run run = runCli(args);
    QCOMPARE(run.exitCode, exitCode);
}

QTEST_MAIN(tst_Inspect)
#include "tst_inspect.moc"
