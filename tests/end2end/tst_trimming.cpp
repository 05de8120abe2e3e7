// What wins where two files meet (--overlap), checked against Python's
// intelhex merging the same files, and what --crop and --exclude keep,
// checked against srec_cat's filters of the same names; the map and the
// layout say what was overridden; and the refusals.

#include "CliRunner.h"
#include "Files.h"
#include "Pieces.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QStandardPaths>
#include <QTest>

namespace {

// The bytes of srec_cat's -hex-dump, by address.
QMap<qint64, char> bytesOfDump(const QByteArray &dump)
{
    QMap<qint64, char> bytes;
    for (const QByteArray &line : dump.split('\n')) {
        const int colon = line.indexOf(':');
        if (colon < 0)
            continue;
        // Sixteen columns of two digits and a space; a byte not there is
        // blank in its column.
        const qint64 address = line.left(colon).toLongLong(nullptr, 16);
        const QByteArray hex = line.mid(colon + 2, line.indexOf('#') - colon - 2);
        for (int i = 0; 3 * i + 1 < hex.size(); ++i) {
            const QByteArray byte = hex.mid(3 * i, 2);
            if (byte != "  ")
                bytes.insert(address + i, char(byte.toInt(nullptr, 16)));
        }
    }
    return bytes;
}

// Files that meet: the first covered in its middle by the second, the third
// over the end of the first and the start of the second, a fourth alone.
const Pieces meeting{{0x1000, 64}, {0x1010, 8}, {0x1030, 40}, {0x1100, 4}};

} // namespace

class tst_Trimming : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void overlapPolicies_data();
    void overlapPolicies();
    void overridesListed_data();
    void overridesListed();
    void cropAndExclude_data();
    void cropAndExclude();
    void refusals_data();
    void refusals();

private:
    QScopedPointer<CurrentTempDir> dir;
};

void tst_Trimming::init()
{
    dir.reset(new CurrentTempDir);
    QVERIFY(dir->isValid());
}

void tst_Trimming::cleanup()
{
    dir.reset();
}

void tst_Trimming::overlapPolicies_data()
{
    QTest::addColumn<QString>("policy");
    QTest::addColumn<Pieces>("pieces");
    QTest::addColumn<QString>("inputFormat"); // what the files are given as

    for (const char *policy : {"later", "earlier"}) {
        const QByteArray p(policy);
        QTest::newRow((p + ": raw files that meet").constData()) << policy << meeting << "raw";
        QTest::newRow((p + ": Intel HEX files that meet").constData()) << policy << meeting << "hex";
        QTest::newRow((p + ": one file over all the others").constData())
            << policy << Pieces{{0x1004, 4}, {0x1010, 4}, {0x1000, 32}} << "raw";
        QTest::newRow((p + ": files that only touch").constData())
            << policy << Pieces{{0x1000, 16}, {0x1010, 16}} << "raw";
    }
}

// Python's intelhex merges the files in the order given: overlap='replace'
// is the later file winning, 'ignore' the earlier.
void tst_Trimming::overlapPolicies()
{
    QFETCH(QString, policy);
    QFETCH(Pieces, pieces);
    QFETCH(QString, inputFormat);

    // Debian's own Python, which python3-intelhex installs into.
    const QString python = QFile::exists(QStringLiteral("/usr/bin/python3"))
                               ? QStringLiteral("/usr/bin/python3")
                               : QStandardPaths::findExecutable(QStringLiteral("python3"));
    int exitCode = -1;
    if (python.isEmpty() || (runTool(python, {"-c", "import intelhex"}, &exitCode), exitCode != 0))
        QSKIP("Python's intelhex (python3-intelhex) is not installed");
    QStringList pairs = writePieces(pieces);
    QString script = QStringLiteral("import sys\nfrom intelhex import IntelHex\nmerged = IntelHex()\n");
    for (int k = 0; k < pieces.size(); ++k) {
        script += QStringLiteral("f = IntelHex()\nf.loadbin('%1.bin', offset=0x%2)\n").arg(k).arg(pieces[k].address, 0, 16);
        if (inputFormat == QLatin1String("hex")) {
            script += QStringLiteral("f.write_hex_file('%1.hex')\n").arg(k);
            pairs[2 * k] = QStringLiteral("-");
            pairs[2 * k + 1] = QStringLiteral("%1.hex").arg(k);
        }
        script += QStringLiteral("merged.merge(f, overlap='%1')\n").arg(policy == QLatin1String("later") ? "replace" : "ignore");
    }
    script += QStringLiteral("merged.padding = 0xFF\n"
                             "sys.stdout.buffer.write(merged.tobinstr(start=0x1000))\n");
    const QByteArray expected = runTool(python, {"-c", script}, &exitCode);
    QCOMPARE(exitCode, 0);

    const Run run = runCli(QStringList{"--overlap", policy, "-o", "out.bin"} + pairs);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(readFile(QStringLiteral("out.bin")).toHex(), expected.toHex());
}

void tst_Trimming::overridesListed_data()
{
    QTest::addColumn<QString>("policy");
    QTest::addColumn<QStringList>("overrides"); // from-to lostByRow keptByRow, in hexadecimal addresses

    QTest::newRow("later") << "later" << QStringList{"1010-1018 1 2", "1030-1040 1 3"};
    QTest::newRow("earlier") << "earlier" << QStringList{"1010-1018 2 1", "1030-1040 3 1"};
}

// The map and the layout list each range that changed hands, which file
// lost it and which kept it.
void tst_Trimming::overridesListed()
{
    QFETCH(QString, policy);
    QFETCH(QStringList, overrides);

    // Only the first three meet: 0x1000-0x1040, 0x1010-0x1018, 0x1030-0x1058.
    const Run run = runCli(QStringList{"--overlap", policy, "--layout", "--map", "map.json", "-o", "out.bin"}
                           + writePieces(meeting));
    QCOMPARE(run.exitCode, 0);
    QStringList mapped;
    const QJsonArray list = QJsonDocument::fromJson(readFile(QStringLiteral("map.json"))).object().value(QStringLiteral("overrides")).toArray();
    for (const QJsonValue &v : list) {
        const QJsonObject o = v.toObject();
        mapped << QStringLiteral("%1-%2 %3 %4")
                      .arg(qint64(o.value(QStringLiteral("from")).toDouble()), 0, 16)
                      .arg(qint64(o.value(QStringLiteral("to")).toDouble()), 0, 16)
                      .arg(o.value(QStringLiteral("lostByRow")).toInt())
                      .arg(o.value(QStringLiteral("keptByRow")).toInt());
        QCOMPARE(o.value(QStringLiteral("lostBy")).toString(), QStringLiteral("%1.bin").arg(o.value(QStringLiteral("lostByRow")).toInt() - 1));
    }
    QCOMPARE(mapped, overrides);
    for (const QString &o : overrides) {
        const QStringList parts = o.split(QLatin1Char(' '));
        const QStringList range = parts.at(0).split(QLatin1Char('-'));
        const QString line = QStringLiteral("overridden 0x%1 - 0x%2 (%3 bytes): file %4's bytes, file %5 kept them")
                                 .arg(range.at(0).rightJustified(8, QLatin1Char('0')), range.at(1).rightJustified(8, QLatin1Char('0')))
                                 .arg(range.at(1).toInt(nullptr, 16) - range.at(0).toInt(nullptr, 16))
                                 .arg(parts.at(1), parts.at(2));
        QVERIFY2(run.out.contains(line), qPrintable(line + QLatin1Char('\n') + run.out.join(QLatin1Char('\n'))));
    }
}

void tst_Trimming::cropAndExclude_data()
{
    QTest::addColumn<Pieces>("pieces");
    QTest::addColumn<QStringList>("crop");    // FROM-TO, hexadecimal
    QTest::addColumn<QStringList>("exclude");
    QTest::addColumn<QString>("format");

    const Pieces spread{{0x1000, 64}, {0x1080, 32}, {0x2000, 16}};
    QTest::newRow("one crop inside a file") << spread << QStringList{"1010-1020"} << QStringList() << "bin";
    QTest::newRow("crops that meet, and across files") << spread << QStringList{"1030-1090", "1088-2004"} << QStringList()
                                                         << "bin";
    QTest::newRow("an exclude in a file's middle") << spread << QStringList() << QStringList{"1008-1010"} << "bin";
    QTest::newRow("excludes over a whole file and an end") << spread << QStringList() << QStringList{"1080-10A0", "2008-3000"}
                                                          << "bin";
    QTest::newRow("crop, then exclude inside it") << spread << QStringList{"1000-1100"} << QStringList{"1020-1090"} << "bin";
    QTest::newRow("Intel HEX out: holes are left out") << spread << QStringList{"1000-1100"} << QStringList{"1020-1090"}
                                                        << "hex";
}

// srec_cat's -crop keeps the union of its ranges and -exclude drops its own;
// what they take away is fill in a flat image, nothing in records.
void tst_Trimming::cropAndExclude()
{
    QFETCH(Pieces, pieces);
    QFETCH(QStringList, crop);
    QFETCH(QStringList, exclude);
    QFETCH(QString, format);

    const QString srecCat = QStandardPaths::findExecutable(QStringLiteral("srec_cat"));
    if (srecCat.isEmpty())
        QSKIP("srec_cat (Debian's srecord) is not installed; on Windows it cannot be started at all");
    const QStringList pairs = writePieces(pieces);
    QStringList args{"--format", format, "-o", "out." + format};
    QStringList filters;
    if (!crop.isEmpty())
        filters << "-crop";
    for (const QString &range : crop)
        filters << "0x" + range.section(QLatin1Char('-'), 0, 0) << "0x" + range.section(QLatin1Char('-'), 1, 1);
    for (const QString &range : crop)
        args << "--crop" << range;
    for (const QString &range : exclude) {
        filters << "-exclude" << "0x" + range.section(QLatin1Char('-'), 0, 0) << "0x" + range.section(QLatin1Char('-'), 1, 1);
        args << "--exclude" << range;
    }
    QStringList inputs;
    for (int k = 0; k + 1 < pairs.size(); k += 2)
        inputs << pairs.at(k + 1) << "-binary" << "-offset" << "0x" + pairs.at(k);
    const Run run = runCli(args + pairs);
    QCOMPARE(run.exitCode, 0);

    // srec_cat's kept bytes, address by address; ours read back by srec_cat
    // for records, as they are for the flat image.
    int exitCode = -1;
    const QByteArray theirs = runTool(srecCat, QStringList{"("} + inputs + QStringList{")"} + filters
                                                + QStringList{"-o", "-", "-hex-dump"},
                                   &exitCode);
    QCOMPARE(exitCode, 0);
    const QMap<qint64, char> kept = bytesOfDump(theirs);
    QVERIFY(!kept.isEmpty());
    if (format == QLatin1String("hex")) {
        const QByteArray ours = runTool(srecCat, {"out.hex", "-intel", "-o", "-", "-hex-dump"}, &exitCode);
        QCOMPARE(exitCode, 0);
        QCOMPARE(bytesOfDump(ours), kept);
        return;
    }
    // The flat image: from the base to the last byte kept, fill elsewhere.
    const QByteArray ours = readFile(QStringLiteral("out.bin"));
    QCOMPARE(qint64(ours.size()), kept.lastKey() + 1 - 0x1000);
    for (int i = 0; i < ours.size(); ++i)
        QCOMPARE(ours.at(i), kept.value(0x1000 + i, char(0xFF)));
}

void tst_Trimming::refusals_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("line");

    const QStringList pair{"-o", "out.bin", "1000", "0.bin"};
    QTest::newRow("an overlap without a policy") << QStringList{"-o", "out.bin", "1000", "0.bin", "1010", "1.bin"} << 1
                                                 << "Error!!!File size of 0.bin is out of range!";
    QTest::newRow("an overlap refused, as by default") << QStringList{"--overlap", "error", "-o", "out.bin", "1000", "0.bin",
                                                                      "1010", "1.bin"}
                                                       << 1 << "Error!!!File size of 0.bin is out of range!";
    QTest::newRow("an unknown policy") << QStringList{"--overlap", "last"} + pair << 2
                                       << "MergeFileCli: overlap last: give error, later or earlier";
    QTest::newRow("a crop of no range") << QStringList{"--crop", "2000-1000"} + pair << 2
                                        << "MergeFileCli: --crop 2000-1000: give FROM-TO, hexadecimal addresses, FROM below TO";
    QTest::newRow("an exclude of one address") << QStringList{"--exclude", "1000"} + pair << 2
                                               << "MergeFileCli: --exclude 1000: give FROM-TO, hexadecimal addresses, FROM "
                                                  "below TO";
    QTest::newRow("a crop past 32 bits") << QStringList{"--crop", "0-100000001"} + pair << 2
                                         << "MergeFileCli: --crop 0-100000001: give FROM-TO, hexadecimal addresses, FROM "
                                            "below TO";
    QTest::newRow("a crop that keeps nothing") << QStringList{"--crop", "9000-9100"} + pair << 1
                                               << "Error!!!No byte of the files lies in the ranges kept (--crop, --exclude)!";
    QTest::newRow("an exclude over everything") << QStringList{"--exclude", "0-100000000"} + pair << 1
                                                << "Error!!!No byte of the files lies in the ranges kept (--crop, --exclude)!";
}

// Refused with one line, and no image written.
void tst_Trimming::refusals()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, line);

    writePieces(meeting);
    const Run run = runCli(args);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2((run.out + run.err.split(QLatin1Char('\n'))).contains(line), qPrintable(run.out.join('\n') + run.err));
    QVERIFY(!QFile::exists(QStringLiteral("out.bin")));
}

QTEST_GUILESS_MAIN(tst_Trimming)
#include "tst_trimming.moc"
