// Field kinds through their registry against the CRC catalogue's check
// values and the standard's SHA-256 of "123456789"; how a field is spelt;
// where one may go; and the rule that feeds a field the image's bytes.

#include "fields/FieldKind.h"
#include "fields/FieldPlan.h"
#include "fields/FieldSpec.h"
#include "output/FieldSchedule.h"

#include <QTest>

class tst_FieldKinds : public QObject
{
    Q_OBJECT

private slots:
    void checkValues_data();
    void checkValues();
    void everyKindIsListed();
    void spelling_data();
    void spelling();
    void placing_data();
    void placing();
    void feedRule_data();
    void feedRule();
    void whenWorkedOut_data();
    void whenWorkedOut();
};

void tst_FieldKinds::checkValues_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QByteArray>("bigEndian"); // the value over "123456789", most significant byte first

    // The CRC catalogue's "check" values.
    QTest::newRow("crc32") << "crc32" << QByteArray::fromHex("cbf43926");
    QTest::newRow("crc32-mpeg2") << "crc32-mpeg2" << QByteArray::fromHex("0376e6e7");
    QTest::newRow("crc16-ccitt") << "crc16-ccitt" << QByteArray::fromHex("29b1");
    QTest::newRow("crc16-xmodem") << "crc16-xmodem" << QByteArray::fromHex("31c3");
    QTest::newRow("sum8") << "sum8" << QByteArray::fromHex("dd");
    QTest::newRow("length") << "length" << QByteArray::fromHex("00000009");
    QTest::newRow("sha256") << "sha256"
                            << QByteArray::fromHex("15e2b0d3c33891ebb0f1ef609ec419420c20e320ce94c65fbc8c3312448eb225");
}

void tst_FieldKinds::checkValues()
{
    QFETCH(QString, kind);
    QFETCH(QByteArray, bigEndian);

    const FieldKind *k = FieldKinds::find(kind);
    QVERIFY(k);
    QCOMPARE(k->size, bigEndian.size());
    // In one piece and byte by byte: the sums carry their state.
    for (bool split : {false, true}) {
        for (bool be : {false, true}) {
            const std::unique_ptr<FieldSum> sum = k->start();
            if (split) {
                for (const char c : QByteArray("123456789"))
                    sum->add(&c, 1);
            } else {
                sum->add("123456789", 9);
            }
            QByteArray expected = bigEndian;
            if (!be && k->isNumber())
                std::reverse(expected.begin(), expected.end());
            QCOMPARE(sum->bytes(be).toHex(), expected.toHex());
        }
    }
}

void tst_FieldKinds::everyKindIsListed()
{
    const QStringList names = FieldKinds::names();
    QCOMPARE(names, QStringList({"crc32", "crc32-mpeg2", "crc16-ccitt", "crc16-xmodem", "sum8", "length", "sha256"}));
    for (const QString &name : names)
        QCOMPARE(QLatin1String(FieldKinds::find(name)->name), name);
    QVERIFY(!FieldKinds::find(QStringLiteral("crc64")));
}

void tst_FieldKinds::spelling_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("parsed"); // kind address size [from-to] [be], or the problem

    QTest::newRow("whole image") << "crc32@08000004" << "crc32 8000004 4 whole";
    QTest::newRow("range, big-endian") << "length@0,100-200,be" << "length 0 4 100-200 be";
    QTest::newRow("0x prefixes") << "sum8@0x10,0x20-0x30" << "sum8 10 1 20-30";
    QTest::newRow("digest at the very top") << "sha256@FFFFFFE0" << "sha256 ffffffe0 32 whole";
    QTest::newRow("no @") << "crc32" << "give KIND@ADDR[,FROM-TO][,be]";
    QTest::newRow("no kind") << "@1000" << "give KIND@ADDR[,FROM-TO][,be]";
    QTest::newRow("unknown kind")
        << "crc8@1000" << "unknown kind crc8: crc32, crc32-mpeg2, crc16-ccitt, crc16-xmodem, sum8, length or sha256";
    QTest::newRow("does not fit below 4 GiB")
        << "sha256@FFFFFFE1" << "FFFFFFE1 is not a hexadecimal address where 32 bytes fit below 100000000";
    QTest::newRow("negative address") << "crc32@-4" << "-4 is not a hexadecimal address where 4 bytes fit below 100000000";
    QTest::newRow("range backwards") << "crc32@0,20-10" << "20-10 is not a range FROM-TO of hexadecimal addresses, FROM below TO";
    QTest::newRow("range past 4 GiB")
        << "crc32@0,0-100000001" << "0-100000001 is not a range FROM-TO of hexadecimal addresses, FROM below TO";
    QTest::newRow("too many parts") << "crc32@0,1-2,3-4" << "give KIND@ADDR[,FROM-TO][,be]";
}

void tst_FieldKinds::spelling()
{
    QFETCH(QString, text);
    QFETCH(QString, parsed);

    MergeField field;
    QString problem;
    if (!parseField(text, &field, &problem)) {
        QCOMPARE(problem, parsed);
        return;
    }
    QString got = QStringLiteral("%1 %2 %3 ").arg(QLatin1String(field.kind->name)).arg(field.address, 0, 16).arg(field.size);
    got += field.wholeImage ? QStringLiteral("whole") : QStringLiteral("%1-%2").arg(field.from, 0, 16).arg(field.to, 0, 16);
    if (field.bigEndian)
        got += QStringLiteral(" be");
    QCOMPARE(got, parsed);
    QCOMPARE(field.text, text);
}

void tst_FieldKinds::placing_data()
{
    QTest::addColumn<QStringList>("fields");
    QTest::addColumn<qint64>("dataEnd"); // after placing; the files end at 2000
    QTest::addColumn<QString>("message");

    QTest::newRow("on fill") << QStringList{"crc32@1010"} << qint64(0x2000) << "";
    QTest::newRow("past the end grows the image") << QStringList{"sha256@2010"} << qint64(0x2030) << "";
    QTest::newRow("below the base") << QStringList{"crc32@ffe"} << qint64(0)
                                    << "Error!!!Field crc32@ffe lies below the image's base 0x00001000!";
    QTest::newRow("over a file's first byte") << QStringList{"crc16-ccitt@10ff"} << qint64(0)
                                              << "Error!!!Field crc16-ccitt@10ff lies on the data of boot.bin!";
    QTest::newRow("on another field") << QStringList{"crc32@1010", "sum8@1013"} << qint64(0)
                                      << "Error!!!Fields crc32@1010 and sum8@1013 overlap!";
}

void tst_FieldKinds::placing()
{
    QFETCH(QStringList, fields);
    QFETCH(qint64, dataEnd);
    QFETCH(QString, message);

    MergeLayout layout;
    MergePlacement boot;
    boot.fileName = QStringLiteral("boot.bin");
    boot.address = 0x1100;
    boot.end = 0x2000;
    MergeSegment all;
    all.address = 0x1100;
    all.size = 0xF00;
    boot.segments.append(all);
    layout.placements.append(boot);
    layout.pieces.append(MergePiece{0, 0});
    QVector<MergeField> parsed;
    for (const QString &text : fields) {
        MergeField field;
        QString problem;
        QVERIFY(parseField(text, &field, &problem));
        parsed.append(field);
    }
    QStringList log;
    qint64 end = 0x2000;
    QCOMPARE(FieldPlan::place(layout, parsed, &end, [&log](const QString &line) { log << line; }), message.isEmpty());
    QCOMPARE(log.join(QString()), message);
    if (!message.isEmpty())
        return;
    QCOMPARE(end, dataEnd);
    // Among the pieces, in address order.
    QCOMPARE(layout.pieces.size(), 1 + fields.size());
    for (int i = 1; i < layout.pieces.size(); ++i)
        QVERIFY(layout.address(layout.pieces.at(i - 1)) < layout.address(layout.pieces.at(i)));
}

void tst_FieldKinds::feedRule_data()
{
    QTest::addColumn<int>("owner");        // of the run fed: -1 a file or fill, else a field
    QTest::addColumn<bool>("bytes");       // data given, or fill
    QTest::addColumn<qint64>("address");   // of the run of 8 bytes
    QTest::addColumn<QByteArray>("summed"); // what field 1 (over 1004-1010) is fed

    QTest::newRow("a file's bytes, cut to the range") << -1 << true << qint64(0x1000) << QByteArray("4567");
    QTest::newRow("fill") << -1 << false << qint64(0x1008) << QByteArray("\xEE\xEE\xEE\xEE\xEE\xEE\xEE\xEE");
    QTest::newRow("outside the range") << -1 << true << qint64(0x1010) << QByteArray();
    QTest::newRow("its own bytes are left out") << 1 << true << qint64(0x1004) << QByteArray();
    QTest::newRow("an earlier field, as it stands") << 0 << true << qint64(0x1004) << QByteArray("01234567");
    QTest::newRow("a later field, still fill") << 2 << true << qint64(0x1004) << QByteArray("\xEE\xEE\xEE\xEE\xEE\xEE\xEE\xEE");
}

// One rule feeds a field both when it is worked out and when it is checked
// against what is written.
void tst_FieldKinds::feedRule()
{
    QFETCH(int, owner);
    QFETCH(bool, bytes);
    QFETCH(qint64, address);
    QFETCH(QByteArray, summed);

    class Recorder : public FieldSum
    {
    public:
        void add(const char *data, qint64 size) override { fed.append(data, int(size)); }
        QByteArray bytes(bool) override { return fed; }
        QByteArray fed;
    };
    MergeLayout layout;
    layout.fill = char(0xEE);
    layout.fields.resize(3);
    layout.fields[1].from = 0x1004;
    layout.fields[1].to = 0x1010;
    Recorder sum;
    FieldPlan::feed(layout, 1, sum, address, bytes ? "01234567" : nullptr, 8, owner);
    QCOMPARE(sum.fed, summed);
}

void tst_FieldKinds::whenWorkedOut_data()
{
    QTest::addColumn<QStringList>("fields"); // spelt as on the command line; the image is 1000 to 2000
    QTest::addColumn<bool>("valuesFirst");
    QTest::addColumn<bool>("records");
    QTest::addColumn<bool>("digests");
    QTest::addColumn<QString>("timings"); // B: before writing, W: as written, A: after the data

    QTest::newRow("after all it covers, flat") << QStringList{"crc32@1ffc,1000-1ffc"} << false << false << false << "W";
    QTest::newRow("the last bytes of the image, flat") << QStringList{"crc32@1ffc"} << false << false << false << "W";
    QTest::newRow("a header, flat") << QStringList{"crc32@1000,1100-2000"} << false << false << false << "B";
    QTest::newRow("a header, records") << QStringList{"crc32@1000,1100-2000"} << false << true << false << "A";
    QTest::newRow("a header, records, hashed in order")
        << QStringList{"crc32@1000,1100-2000"} << false << true << true << "B";
    QTest::newRow("the whole image from its start, records") << QStringList{"crc32@1000"} << false << true << false << "A";
    QTest::newRow("shown first") << QStringList{"crc32@1ffc", "sum8@1000,1100-2000"} << true << true << false << "BB";
    QTest::newRow("one covers the other")
        << QStringList{"length@1000,1100-2000", "crc32@1ffc"} << false << true << false << "BB";
    QTest::newRow("side by side, neither covering the other")
        << QStringList{"length@1000,1100-1f00", "crc32@1004,1100-1f00", "crc16-ccitt@1ffe,1100-1ffe"} << false << true
        << false << "AAW";
}

void tst_FieldKinds::whenWorkedOut()
{
    QFETCH(QStringList, fields);
    QFETCH(bool, valuesFirst);
    QFETCH(bool, records);
    QFETCH(bool, digests);
    QFETCH(QString, timings);

    MergeLayout layout;
    layout.imageSize = 0x1000;
    for (const QString &text : fields) {
        MergeField field;
        QString problem;
        QVERIFY(parseField(text, &field, &problem));
        layout.fields.append(field);
    }
    QVERIFY(FieldPlan::settleRanges(layout, [](const QString &line) { QFAIL(qPrintable(line)); }));
    FieldSchedule::decide(layout, valuesFirst, records, digests);
    QString got;
    for (const MergeField &f : std::as_const(layout.fields))
        got += f.timing == FieldTiming::BeforeWriting ? QLatin1Char('B') : f.timing == FieldTiming::AsWritten ? QLatin1Char('W') : QLatin1Char('A');
    QCOMPARE(got, timings);
}

QTEST_GUILESS_MAIN(tst_FieldKinds)
#include "tst_fieldkinds.moc"
