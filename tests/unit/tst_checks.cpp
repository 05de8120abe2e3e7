// The flash's checks on layouts made up here: slots, the flash's bounds and
// erase sectors, each with the line it gives and the sectors it counts.

#include "checks/Checks.h"

#include <QTest>

#include <algorithm>

namespace {

// "name:start-end" files and "@address+size" fields, in any order.
MergeLayout layoutOf(const QStringList &parts, qint64 base = 0x1000)
{
    MergeLayout layout;
    layout.base = base;
    qint64 end = base;
    for (const QString &part : parts) {
        MergePiece piece;
        if (part.startsWith(QLatin1Char('@'))) {
            MergeField field;
            field.text = QStringLiteral("crc32") + part;
            field.address = part.mid(1).section(QLatin1Char('+'), 0, 0).toLongLong(nullptr, 16);
            field.size = part.section(QLatin1Char('+'), 1).toInt();
            piece = MergePiece::ofField(int(layout.fields.size()));
            layout.fields.append(field);
        } else {
            MergePlacement p;
            p.fileName = part.section(QLatin1Char(':'), 0, 0);
            const QString range = part.section(QLatin1Char(':'), 1);
            p.address = range.section(QLatin1Char('-'), 0, 0).toLongLong(nullptr, 16);
            p.end = range.section(QLatin1Char('-'), 1).toLongLong(nullptr, 16);
            MergeSegment all;
            all.address = p.address;
            all.size = quint32(p.end - p.address);
            p.segments.append(all);
            piece = MergePiece{int(layout.placements.size()), 0};
            layout.placements.append(p);
        }
        layout.pieces.append(piece);
        end = qMax(end, layout.end(piece));
    }
    std::stable_sort(layout.pieces.begin(), layout.pieces.end(),
                     [&layout](const MergePiece &a, const MergePiece &b) { return layout.address(a) < layout.address(b); });
    layout.imageSize = end - base;
    return layout;
}

} // namespace

class tst_Checks : public QObject
{
    Q_OBJECT

private slots:
    void slotRoom_data();
    void slotRoom();
    void flash_data();
    void flash();
    void sectors_data();
    void sectors();
};

void tst_Checks::slotRoom_data()
{
    QTest::addColumn<qint64>("slot");
    QTest::addColumn<QString>("message");

    QTest::newRow("no slot") << qint64(0) << "";
    QTest::newRow("room to spare") << qint64(0x200) << "";
    QTest::newRow("exactly its size") << qint64(0x100) << "";
    QTest::newRow("a byte short") << qint64(0xFF)
                                  << "Error!!!app.bin (256 bytes) does not fit its slot of 255 bytes at 0x00002000!";
}

void tst_Checks::slotRoom()
{
    QFETCH(qint64, slot);
    QFETCH(QString, message);

    MergeLayout layout = layoutOf({"boot.bin:1000-1010", "app.bin:2000-2100"});
    layout.placements[1].slotSize = slot;
    QStringList log;
    QCOMPARE(Checks::fitsSlots(layout, [&log](const QString &line) { log << line; }), message.isEmpty());
    QCOMPARE(log.join(QString()), message);
}

void tst_Checks::flash_data()
{
    QTest::addColumn<QStringList>("parts");
    QTest::addColumn<qint64>("origin");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<qint64>("padding");
    QTest::addColumn<QString>("message");

    const QStringList two{"boot.bin:1000-1800", "app.bin:2000-3000"};
    QTest::newRow("no flash given") << two << qint64(0) << qint64(0) << qint64(0) << "";
    QTest::newRow("fits exactly") << two << qint64(0x1000) << qint64(0x2000) << qint64(0) << "";
    QTest::newRow("a file past the end")
        << two << qint64(0x1000) << qint64(0x1FFF) << qint64(0)
        << "Error!!!app.bin ends at 0x00003000, past the end of the flash at 0x00002FFF!";
    QTest::newRow("a file below the origin")
        << two << qint64(0x1400) << qint64(0x4000) << qint64(0)
        << "Error!!!boot.bin starts at 0x00001000, below the flash at 0x00001400!";
    QTest::newRow("a field past the end, named as one")
        << QStringList{"app.bin:1000-1800", "@2000+4"} << qint64(0x1000) << qint64(0x1002) << qint64(0)
        << "Error!!!Field crc32@2000+4 ends at 0x00002004, past the end of the flash at 0x00002002!";
    QTest::newRow("padding past the end")
        << two << qint64(0x1000) << qint64(0x2000) << qint64(1)
        << "Error!!!The image runs from 0x00001000 to 0x00003001, outside the flash (0x00001000 to 0x00003000)!";
}

void tst_Checks::flash()
{
    QFETCH(QStringList, parts);
    QFETCH(qint64, origin);
    QFETCH(qint64, size);
    QFETCH(qint64, padding);
    QFETCH(QString, message);

    MergeLayout layout = layoutOf(parts);
    layout.trailingFill = padding;
    layout.imageSize += padding;
    QStringList log;
    QCOMPARE(Checks::fitsFlash(layout, origin, size, [&log](const QString &line) { log << line; }), message.isEmpty());
    QCOMPARE(log.join(QString()), message);
}

void tst_Checks::sectors_data()
{
    QTest::addColumn<QStringList>("parts");
    QTest::addColumn<qint64>("origin"); // of the flash; -1: no flash given
    QTest::addColumn<qint64>("sectorSize");
    QTest::addColumn<qint64>("touched"); // -1: refused
    QTest::addColumn<QString>("message");

    QTest::newRow("not asked for") << QStringList{"a:1000-1001", "b:1001-1002"} << qint64(-1) << qint64(0) << qint64(0) << "";
    QTest::newRow("each in its own sector") << QStringList{"a:1000-1800", "b:1800-2000"} << qint64(-1) << qint64(0x800)
                                            << qint64(2) << "";
    QTest::newRow("one file over three sectors, fill between")
        << QStringList{"a:1000-2201", "b:4000-4001"} << qint64(-1) << qint64(0x800) << qint64(4) << "";
    QTest::newRow("two files in one sector")
        << QStringList{"a:1000-1801", "b:1c00-1d00"} << qint64(-1) << qint64(0x800) << qint64(-1)
        << "Error!!!a and b share the erase sector at 0x00001800!";
    QTest::newRow("a file and a field in one sector")
        << QStringList{"a:1000-1400", "@1400+4"} << qint64(-1) << qint64(0x800) << qint64(-1)
        << "Error!!!a and field crc32@1400+4 share the erase sector at 0x00001000!";
    QTest::newRow("a field and a file, the field first")
        << QStringList{"@1000+4", "a:1004-1100"} << qint64(-1) << qint64(0x800) << qint64(-1)
        << "Error!!!Field crc32@1000+4 and a share the erase sector at 0x00001000!";
    QTest::newRow("two fields may share one") << QStringList{"@1000+4", "@1004+4", "a:1800-1900"} << qint64(-1)
                                              << qint64(0x800) << qint64(2) << "";
    QTest::newRow("sectors counted from the flash's origin")
        << QStringList{"a:1100-1900", "b:1900-1a00"} << qint64(0x1100) << qint64(0x800) << qint64(2) << "";
}

void tst_Checks::sectors()
{
    QFETCH(QStringList, parts);
    QFETCH(qint64, origin);
    QFETCH(qint64, sectorSize);
    QFETCH(qint64, touched);
    QFETCH(QString, message);

    MergeLayout layout = layoutOf(parts);
    QStringList log;
    const bool ok = Checks::sectorsApart(layout, qMax<qint64>(origin, 0), origin >= 0 ? 0x100000 : 0, sectorSize,
                                         [&log](const QString &line) { log << line; });
    QCOMPARE(ok, message.isEmpty());
    QCOMPARE(log.join(QString()), message);
    if (ok) {
        QCOMPARE(layout.sectorsTouched, touched);
        QCOMPARE(layout.sectorSize, sectorSize);
    }
}

QTEST_GUILESS_MAIN(tst_Checks)
#include "tst_checks.moc"
