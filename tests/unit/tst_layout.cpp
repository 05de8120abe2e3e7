// The layout planner on files of a fresh folder: which rule a merge follows,
// where each file lands, and the one line a layout that cannot be gets.

#include "Address.h"
#include "Records.h"
#include "TempFolder.h"
#include "layout/LayoutPlanner.h"
#include "layout/Trimming.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

// "name=content" makes the file; the row is "name@address" (address "-":
// its own addresses, a name without content: a file that is not there).
struct Planned
{
    bool ok = false;
    QStringList log;
    MergeLayout layout;
    qint64 dataEnd = 0;
};

// The placements as "row:address-end+fillAfter", in layout order.
QStringList placements(const MergeLayout &layout)
{
    QStringList list;
    for (const MergePlacement &p : layout.placements)
        list << QStringLiteral("%1:%2-%3+%4").arg(p.row).arg(p.address, 0, 16).arg(p.end, 0, 16).arg(p.fillAfter, 0, 16);
    return list;
}

// Files as rows of runs "address+size ...", row n the n-th; each run's data
// offset is its address, so where a cut lands shows in it.
MergeLayout runsLayout(const QStringList &files)
{
    MergeLayout layout;
    for (int k = 0; k < files.size(); ++k) {
        MergePlacement p;
        p.input = k;
        p.row = k + 1;
        for (const QString &run : files.at(k).split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            MergeSegment s;
            s.address = run.section(QLatin1Char('+'), 0, 0).toLongLong(nullptr, 16);
            s.size = run.section(QLatin1Char('+'), 1, 1).toUInt(nullptr, 16);
            s.dataOffset = s.address;
            p.segments.append(s);
            p.size += s.size;
        }
        p.address = p.segments.isEmpty() ? 0 : p.segments.first().address;
        layout.placements.append(p);
    }
    return layout;
}

// What is left: per file its runs "address+size", and the overrides.
QStringList runsLeft(const MergeLayout &layout)
{
    QStringList out;
    for (const MergePlacement &p : layout.placements) {
        QStringList runs;
        for (const MergeSegment &s : p.segments) {
            if (s.dataOffset != s.address)
                return {QStringLiteral("a run's bytes moved")};
            runs << QStringLiteral("%1+%2").arg(s.address, 0, 16).arg(s.size, 0, 16);
        }
        out << QStringLiteral("%1: %2 (%3 bytes)").arg(p.row).arg(runs.join(QLatin1Char(' '))).arg(p.size);
    }
    for (const MergeOverride &o : layout.overrides)
        out << QStringLiteral("%1-%2 from %3 to %4").arg(o.range.from, 0, 16).arg(o.range.to, 0, 16).arg(o.lost + 1).arg(o.kept + 1);
    return out;
}

} // namespace

class tst_Layout : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void windowRule_data();
    void windowRule();
    void ruleFollowsWhatTheInputsAre_data();
    void ruleFollowsWhatTheInputsAre();
    void nearTheTopOfTheAddressRange_data();
    void nearTheTopOfTheAddressRange();
    void padding_data();
    void padding();
    void trimming_data();
    void trimming();
    void trimmingManyRuns();

private:
    Planned plan(const QStringList &rows, bool detect, qint64 base = 0x1000);
    QScopedPointer<QTemporaryDir> dir;
    QScopedPointer<ScopedTempFolder> tempFolder;
};

void tst_Layout::init()
{
    dir.reset(new QTemporaryDir);
    QVERIFY(dir->isValid());
    tempFolder.reset(new ScopedTempFolder(dir->path()));
}

void tst_Layout::cleanup()
{
    tempFolder.reset();
    dir.reset();
}

// rows: "name@address"; files: made beforehand by the test.
Planned tst_Layout::plan(const QStringList &rows, bool detect, qint64 base)
{
    Planned planned;
    QVector<MergeRow> merged;
    for (const QString &row : rows) {
        const QString name = dir->filePath(row.section(QLatin1Char('@'), 0, 0));
        const QString address = row.section(QLatin1Char('@'), 1);
        MergeRow r = Address::windowRow(true, name, address);
        if (address == QLatin1String("-"))
            r.address = MergeAddress::own();
        merged.append(r);
    }
    const auto log = [&planned, this](const QString &line) {
        planned.log << QString(line).replace(dir->path() + QLatin1Char('/'), QString());
    };
    SourceSet sources(log);
    sources.setDetectFormats(detect);
    planned.layout.base = base;
    LayoutPlanner planner(sources, log);
    planned.ok = sources.collect(merged) && planner.plan(detect, planned.layout, &planned.dataEnd);
    return planned;
}

void tst_Layout::windowRule_data()
{
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<QStringList>("placed"); // row:address-end+fill after
    QTest::addColumn<qint64>("leadingFill");
    QTest::addColumn<QString>("message");    // the one line of a refusal

    QTest::newRow("address order, not row order")
        << QStringList{"b4@1008", "a6@1000"} << QStringList{"2:1000-1006+2", "1:1008-100c+0"} << qint64(0) << "";
    QTest::newRow("leading fill, files that touch")
        << QStringList{"a6@1010", "b4@1016"} << QStringList{"1:1010-1016+0", "2:1016-101a+0"} << qint64(0x10) << "";
    QTest::newRow("empty files first and last")
        << QStringList{"e@1000", "a6@2000", "f@3000"} << QStringList{"1:1000-1000+1000", "2:2000-2006+ffa", "3:3000-3000+0"}
        << qint64(0) << "";
    QTest::newRow("a file that runs into the next")
        << QStringList{"a6@1000", "b4@1004"} << QStringList() << qint64(0) << "Error!!!File size of a6 is out of range!";
    QTest::newRow("below the base, after its file is opened")
        << QStringList{"a6@fff"} << QStringList() << qint64(0) << "Error!!!Start address cannot less than 0x1000!";
    QTest::newRow("a missing first file before the base check")
        << QStringList{"none@0"} << QStringList() << qint64(0) << "Error!!!Cannot open filenone!";
    QTest::newRow("an earlier overlap before a later missing file")
        << QStringList{"a6@1000", "none@1004"} << QStringList() << qint64(0) << "Error!!!File size of a6 is out of range!";
}

void tst_Layout::windowRule()
{
    QFETCH(QStringList, rows);
    QFETCH(QStringList, placed);
    QFETCH(qint64, leadingFill);
    QFETCH(QString, message);

    for (const auto &file : {qMakePair(QStringLiteral("a6"), 6), qMakePair(QStringLiteral("b4"), 4),
                             qMakePair(QStringLiteral("e"), 0), qMakePair(QStringLiteral("f"), 0)}) {
        QFile f(dir->filePath(file.first));
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(QByteArray(file.second, 'x')) == file.second);
    }
    // Raw files keep the window's rule whether formats are told or not.
    for (bool detect : {false, true}) {
        const Planned planned = plan(rows, detect);
        if (!message.isEmpty()) {
            QVERIFY(!planned.ok);
            QCOMPARE(planned.log, QStringList{message});
            continue;
        }
        QVERIFY2(planned.ok, qPrintable(planned.log.join(QLatin1Char('\n'))));
        QCOMPARE(placements(planned.layout), placed);
        QCOMPARE(planned.layout.leadingFill, leadingFill);
        QCOMPARE(planned.dataEnd, planned.layout.placements.last().end);
    }
}

void tst_Layout::ruleFollowsWhatTheInputsAre_data()
{
    QTest::addColumn<QByteArray>("third"); // what c.bin holds
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<bool>("detect");
    QTest::addColumn<QString>("message");

    const QStringList rows{"a.bin@7ca0", "e.bin@886c", "c.bin@1fbfe"};
    const QString outOfRange = QStringLiteral("Error!!!File size of a.bin is out of range!");
    // One merge, one verdict: a raw file that only starts like a record file
    // is raw data, and does not change how the others are checked.
    QTest::newRow("raw files, the last one a colon") << QByteArray(":") << rows << true << outOfRange;
    QTest::newRow("raw files, the last one a colon, read as raw") << QByteArray(":") << rows << false << outOfRange;
    QTest::newRow("raw files, the last one any byte") << QByteArray("x") << rows << true << outOfRange;
    QTest::newRow("raw files, the last one a record-like line")
        << QByteArray(":00000001FE\n") << rows << true << outOfRange;
    const QStringList inside{"a.bin@7ca0", "c.bin@8000"};
    QTest::newRow("a real HEX file makes it the piece rule")
        << hexRecord(0, 0, "\x01") + hexRecord(1, 0, {}) << inside << true << "Error!!!a.bin and c.bin overlap at 0x00008000!";
    QTest::newRow("a HEX file read as raw keeps the window's rule")
        << hexRecord(0, 0, "\x01") + hexRecord(1, 0, {}) << inside << false << outOfRange;
    QTest::newRow("own addresses make it the piece rule")
        << QByteArray("x") << QStringList{"c.bin@-"} << true
        << "Error!!!c.bin is not an Intel HEX, S-record, ELF, UF2 or TI-TXT file: it needs an address!";
    QTest::newRow("the piece rule reports a missing file first")
        << hexRecord(0, 0, "\x01") + hexRecord(1, 0, {}) << QStringList{"a.bin@7ca0", "none@7ca2", "c.bin@10000"}
        << true << "Error!!!Cannot open filenone!";
}

void tst_Layout::ruleFollowsWhatTheInputsAre()
{
    QFETCH(QByteArray, third);
    QFETCH(QStringList, rows);
    QFETCH(bool, detect);
    QFETCH(QString, message);

    QFile a(dir->filePath("a.bin"));
    QVERIFY(a.open(QIODevice::WriteOnly) && a.write(QByteArray(4096, 'a')) == 4096);
    a.close();
    QFile e(dir->filePath("e.bin"));
    QVERIFY(e.open(QIODevice::WriteOnly));
    e.close();
    QFile c(dir->filePath("c.bin"));
    QVERIFY(c.open(QIODevice::WriteOnly) && c.write(third) == third.size());
    c.close();
    const Planned planned = plan(rows, detect);
    QVERIFY(!planned.ok);
    QCOMPARE(planned.log, QStringList{message});
}

void tst_Layout::nearTheTopOfTheAddressRange_data()
{
    QTest::addColumn<QString>("lastAddress");
    QTest::addColumn<qint64>("lastSize");
    QTest::addColumn<qint64>("gap");
    QTest::addColumn<qint64>("imageSize");

    // Sizes past 2^31 must neither wrap nor be cut short.
    QTest::newRow("top address") << "7fffffff" << qint64(65536) << qint64(0x7FFFFFFF - 0x1004)
                                 << qint64(0x7FFFFFFF) - 0x1000 + 65536;
    QTest::newRow("lower half") << "40000000" << qint64(10) << qint64(0x40000000 - 0x1004)
                                << qint64(0x40000000) - 0x1000 + 10;
}

void tst_Layout::nearTheTopOfTheAddressRange()
{
    QFETCH(QString, lastAddress);
    QFETCH(qint64, lastSize);
    QFETCH(qint64, gap);
    QFETCH(qint64, imageSize);

    QFile first(dir->filePath(QStringLiteral("first.bin")));
    QVERIFY(first.open(QIODevice::WriteOnly) && first.write("1234") == 4);
    first.close();
    QFile last(dir->filePath(QStringLiteral("last.bin")));
    QVERIFY(last.open(QIODevice::WriteOnly) && last.resize(lastSize));
    last.close();

    Planned planned = plan({"last.bin@" + lastAddress, QStringLiteral("first.bin@1000")}, false);
    QVERIFY(planned.ok);
    QCOMPARE(planned.log, QStringList());
    SourceSet unused([](const QString &) {});
    QVERIFY(LayoutPlanner(unused, [](const QString &) {}).finish(planned.layout, planned.dataEnd, 0));
    const MergeLayout &layout = planned.layout;
    QCOMPARE(layout.leadingFill, qint64(0));
    QCOMPARE(layout.placements.size(), 2);
    QCOMPARE(layout.placements[0].row, 2);
    QCOMPARE(layout.placements[0].fillAfter, gap);
    QCOMPARE(layout.placements[1].row, 1);
    QCOMPARE(layout.placements[1].offset, imageSize - lastSize);
    QCOMPARE(layout.placements[1].size, lastSize);
    QCOMPARE(layout.imageSize, imageSize);
}

void tst_Layout::padding_data()
{
    QTest::addColumn<qint64>("dataEnd");
    QTest::addColumn<qint64>("padTo");
    QTest::addColumn<qint64>("trailingFill"); // -1: refused

    QTest::newRow("no padding") << qint64(0x1010) << qint64(0) << qint64(0);
    QTest::newRow("padded") << qint64(0x1010) << qint64(0x100) << qint64(0xF0);
    QTest::newRow("exactly the pad size") << qint64(0x1100) << qint64(0x100) << qint64(0);
    QTest::newRow("longer than the pad size") << qint64(0x1101) << qint64(0x100) << qint64(-1);
}

void tst_Layout::padding()
{
    QFETCH(qint64, dataEnd);
    QFETCH(qint64, padTo);
    QFETCH(qint64, trailingFill);

    QStringList log;
    SourceSet sources([](const QString &) {});
    MergeLayout layout;
    const bool ok = LayoutPlanner(sources, [&log](const QString &line) { log << line; }).finish(layout, dataEnd, padTo);
    QCOMPARE(ok, trailingFill >= 0);
    if (!ok) {
        QCOMPARE(log, QStringList{QStringLiteral("Error!!!Merge image of %1 bytes is longer than the pad size of %2 bytes!")
                                      .arg(dataEnd - 0x1000)
                                      .arg(padTo)});
        return;
    }
    QCOMPARE(layout.trailingFill, trailingFill);
    QCOMPARE(layout.imageSize, dataEnd - 0x1000 + trailingFill);
    QCOMPARE(layout.dataEnd(), dataEnd);
}

void tst_Layout::trimming_data()
{
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<int>("policy"); // OverlapPolicy
    QTest::addColumn<QStringList>("crop");
    QTest::addColumn<QStringList>("exclude");
    QTest::addColumn<QStringList>("left");

    const int later = int(OverlapPolicy::LaterWins), earlier = int(OverlapPolicy::EarlierWins);
    const QStringList none;
    QTest::newRow("later: a file in another's middle splits it")
        << QStringList{"1000+40", "1010+8"} << later << none << none
        << QStringList{"1: 1000+10 1018+28 (56 bytes)", "2: 1010+8 (8 bytes)", "1010-1018 from 1 to 2"};
    QTest::newRow("earlier: the same, the second loses all")
        << QStringList{"1000+40", "1010+8"} << earlier << none << none
        << QStringList{"1: 1000+40 (64 bytes)", "2:  (0 bytes)", "1010-1018 from 2 to 1"};
    QTest::newRow("later: the last wins over two, which lose to it in turn")
        << QStringList{"1000+20", "1010+20", "1008+10"} << later << none << none
        << QStringList{"1: 1000+8 (8 bytes)", "2: 1018+18 (24 bytes)", "3: 1008+10 (16 bytes)", "1008-1018 from 1 to 3",
                       "1010-1018 from 2 to 3", "1018-1020 from 1 to 2"};
    QTest::newRow("files that do not meet, and one inside another's reach")
        << QStringList{"1000+100", "2000+10", "1050+10"} << later << none << none
        << QStringList{"1: 1000+50 1060+a0 (240 bytes)", "2: 2000+10 (16 bytes)", "3: 1050+10 (16 bytes)",
                       "1050-1060 from 1 to 3"};
    QTest::newRow("files that only touch give nothing")
        << QStringList{"1000+10", "1010+10"} << later << none << none
        << QStringList{"1: 1000+10 (16 bytes)", "2: 1010+10 (16 bytes)"};
    QTest::newRow("runs of one file that touch stay apart, lost as one range")
        << QStringList{"1000+8 1008+8", "1000+10"} << later << none << none
        << QStringList{"1:  (0 bytes)", "2: 1000+10 (16 bytes)", "1000-1010 from 1 to 2"};
    QTest::newRow("crops join; an exclude cuts a run in two")
        << QStringList{"1000+100", "2000+10"} << int(OverlapPolicy::Refuse) << QStringList{"1010-1020", "1018-1030", "2008-3000"}
        << QStringList{"1020-1028"} << QStringList{"1: 1010+10 1028+8 (24 bytes)", "2: 2008+8 (8 bytes)"};
    QTest::newRow("an exclude over a whole file")
        << QStringList{"1000+10", "2000+10"} << int(OverlapPolicy::Refuse) << none << QStringList{"1fff-2011"}
        << QStringList{"1: 1000+10 (16 bytes)", "2:  (0 bytes)"};
}

// Overrides and kept ranges on runs of bytes, without files: what each file
// keeps (its bytes where they were), and what changed hands.
void tst_Layout::trimming()
{
    QFETCH(QStringList, files);
    QFETCH(int, policy);
    QFETCH(QStringList, crop);
    QFETCH(QStringList, exclude);
    QFETCH(QStringList, left);

    MergeLayout layout = runsLayout(files);
    QVector<AddressRange> cropRanges, excludeRanges;
    for (const QString &r : crop)
        cropRanges.append({r.section(QLatin1Char('-'), 0, 0).toLongLong(nullptr, 16), r.section(QLatin1Char('-'), 1, 1).toLongLong(nullptr, 16)});
    for (const QString &r : exclude)
        excludeRanges.append({r.section(QLatin1Char('-'), 0, 0).toLongLong(nullptr, 16), r.section(QLatin1Char('-'), 1, 1).toLongLong(nullptr, 16)});
    QVERIFY(Trimming::resolveOverlaps(layout, OverlapPolicy(policy)));
    QVERIFY(Trimming::keepRanges(layout, cropRanges, excludeRanges));
    QCOMPARE(runsLeft(layout), left);
}

// A file of many runs, every other one overridden by a second file: each
// loser's run is cut where the winner's are, and nothing is lost twice.
void tst_Layout::trimmingManyRuns()
{
    QStringList first, second;
    for (int i = 0; i < 2000; ++i) {
        first << QStringLiteral("%1+10").arg(0x10000 + 0x20 * i, 0, 16);
        if (i % 2)
            second << QStringLiteral("%1+8").arg(0x10008 + 0x20 * i, 0, 16);
    }
    MergeLayout layout = runsLayout({first.join(QLatin1Char(' ')), second.join(QLatin1Char(' '))});
    QVERIFY(Trimming::resolveOverlaps(layout, OverlapPolicy::LaterWins));
    QCOMPARE(layout.placements.at(0).segments.size(), 2000);
    QCOMPARE(layout.placements.at(0).size, qint64(2000 * 0x10 - 1000 * 8));
    QCOMPARE(layout.placements.at(1).size, qint64(1000 * 8));
    QCOMPARE(layout.overrides.size(), 1000);
    for (int k = 0; k < layout.overrides.size(); ++k)
        QCOMPARE(layout.overrides.at(k).range.from, qint64(0x10008 + 0x20 * (2 * k + 1)));
}

QTEST_GUILESS_MAIN(tst_Layout)
#include "tst_layout.moc"
