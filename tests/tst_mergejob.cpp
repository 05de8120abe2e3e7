// The merge engine on its own: address texts and image sizes that the window
// cannot show without allocating gigabytes.

#include "MergeJob.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <limits>

static bool writeBytes(const QString &name, const QByteArray &content, QIODevice::OpenMode mode = QIODevice::WriteOnly)
{
    QFile file(name);
    return file.open(mode) && file.write(content) == content.size();
}

class tst_MergeJob : public QObject
{
    Q_OBJECT

private slots:
    void addressFromText_data();
    void addressFromText();
    void layoutNearTheTopOfTheAddressRange_data();
    void layoutNearTheTopOfTheAddressRange();
    void writeNeedsASuccessfulCheck();
    void hashOfTheWrittenImage_data();
    void hashOfTheWrittenImage();
    void sourceChangedAfterTheCheck_data();
    void sourceChangedAfterTheCheck();
    void secondThreadGivesTheSameImage();
};

void tst_MergeJob::addressFromText_data()
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

void tst_MergeJob::addressFromText()
{
    QFETCH(QString, text);
    QFETCH(qint32, address);
    QCOMPARE(MergeJob::addressFromText(text), address);
}

void tst_MergeJob::layoutNearTheTopOfTheAddressRange_data()
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

void tst_MergeJob::layoutNearTheTopOfTheAddressRange()
{
    QFETCH(QString, lastAddress);
    QFETCH(qint64, lastSize);
    QFETCH(qint64, gap);
    QFETCH(qint64, imageSize);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString first = dir.filePath(QStringLiteral("first.bin"));
    const QString last = dir.filePath(QStringLiteral("last.bin"));
    QVERIFY(writeBytes(first, "1234"));
    QFile l(last);
    QVERIFY(l.open(QIODevice::WriteOnly) && l.resize(lastSize));
    l.close();

    QStringList log;
    MergeJob job({{true, last, lastAddress}, {true, first, QStringLiteral("1000")}},
                 dir.filePath(QStringLiteral("out.bin")), [&log](const QString &line) { log << line; });
    QVERIFY(job.check());
    QCOMPARE(log, QStringList() << QStringLiteral("Begin to merge..."));
    const MergeLayout &layout = job.layout();
    QCOMPARE(layout.leadingFill, qint64(0));
    QCOMPARE(layout.placements.size(), 2);
    QCOMPARE(layout.placements[0].row, 2);
    QCOMPARE(layout.placements[0].fillAfter, gap);
    QCOMPARE(layout.placements[1].row, 1);
    QCOMPARE(layout.placements[1].offset, imageSize - lastSize);
    QCOMPARE(layout.placements[1].size, lastSize);
    QCOMPARE(layout.imageSize, imageSize);
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("out.bin"))));
}

void tst_MergeJob::writeNeedsASuccessfulCheck()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString out = dir.filePath(QStringLiteral("out.bin"));
    QStringList log;
    MergeJob job({{true, dir.filePath(QStringLiteral("missing.bin")), QStringLiteral("1000")}}, out,
                 [&log](const QString &line) { log << line; });
    QVERIFY(!job.write());
    QVERIFY(!job.check());
    QVERIFY(!job.write());
    QVERIFY(!QFile::exists(out));
    QCOMPARE(log.size(), 2);
    QVERIFY(job.imageSha256().isEmpty());
}

void tst_MergeJob::hashOfTheWrittenImage_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("fileSize");
    QTest::addColumn<bool>("hash");

    QTest::newRow("empty image") << "1000" << 0 << true;
    QTest::newRow("one byte") << "1000" << 1 << true;
    QTest::newRow("fill only before a small file") << "1040" << 3 << true;
    QTest::newRow("several MiB") << "2000" << (5 << 20) + 7 << true;
    QTest::newRow("not asked for") << "1000" << 10 << false;
}

void tst_MergeJob::hashOfTheWrittenImage()
{
    QFETCH(QString, address);
    QFETCH(int, fileSize);
    QFETCH(bool, hash);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QByteArray content(fileSize, Qt::Uninitialized);
    for (int i = 0; i < fileSize; ++i)
        content[i] = char((i * 131 + i / 977) & 0xFF);
    const QString source = dir.filePath(QStringLiteral("in.bin"));
    QVERIFY(writeBytes(source, content));

    const QString out = dir.filePath(QStringLiteral("out.bin"));
    MergeJob job({{true, source, address}}, out, [](const QString &) {});
    job.setUseSecondThread(hash);
    QVERIFY(job.run());
    QFile written(out);
    QVERIFY(written.open(QIODevice::ReadOnly));
    const QByteArray image = written.readAll();
    QCOMPARE(image.size(), int(MergeJob::addressFromText(address) - 0x1000) + fileSize);
    QCOMPARE(job.imageSha256(), hash ? QCryptographicHash::hash(image, QCryptographicHash::Sha256) : QByteArray());
}

void tst_MergeJob::sourceChangedAfterTheCheck_data()
{
    QTest::addColumn<bool>("secondThread");
    QTest::addColumn<bool>("grow");

    QTest::newRow("shrank, one thread") << false << false;
    QTest::newRow("grew, one thread") << false << true;
    QTest::newRow("shrank, two threads") << true << false;
    QTest::newRow("grew, two threads") << true << true;
}

void tst_MergeJob::sourceChangedAfterTheCheck()
{
    QFETCH(bool, secondThread);
    QFETCH(bool, grow);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString a = dir.filePath(QStringLiteral("a.bin"));
    const QString b = dir.filePath(QStringLiteral("b.bin"));
    const QString out = dir.filePath(QStringLiteral("out.bin"));
    QVERIFY(writeBytes(a, QByteArray(1000, 'a')));
    QVERIFY(writeBytes(b, QByteArray(3000, 'b')));
    QVERIFY(writeBytes(out, "old"));

    QStringList log;
    MergeJob job({{true, a, QStringLiteral("1000")}, {true, b, QStringLiteral("2000")}}, out,
                 [&log](const QString &line) { log << line; });
    job.setUseSecondThread(secondThread);
    QVERIFY(job.check());
    // The later file changes between the check and the read: its bytes would
    // no longer match the layout.
    QVERIFY(grow ? writeBytes(b, "more", QIODevice::Append) : QFile(b).resize(10));
    QVERIFY(!job.write());
    QCOMPARE(log, QStringList() << QStringLiteral("Begin to merge...") << QStringLiteral("Error!!!Fail to read file%1!").arg(b));
    QFile old(out);
    QVERIFY(old.open(QIODevice::ReadOnly));
    QCOMPARE(old.readAll(), QByteArray("old"));
}

void tst_MergeJob::secondThreadGivesTheSameImage()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVector<MergeRow> rows;
    for (int k = 0; k < 7; ++k) {
        const QString name = dir.filePath(QStringLiteral("%1.bin").arg(k));
        QVERIFY(writeBytes(name, QByteArray((k + 1) * 5000, char('a' + k))));
        rows.append({true, name, QString::number(0x1000 + 0x10000 * (6 - k), 16)});
    }
    QByteArray images[2];
    for (int threads = 0; threads < 2; ++threads) {
        const QString out = dir.filePath(QStringLiteral("out%1.bin").arg(threads));
        MergeJob job(rows, out, [](const QString &) {});
        job.setUseSecondThread(threads == 1);
        QVERIFY(job.run());
        QFile file(out);
        QVERIFY(file.open(QIODevice::ReadOnly));
        images[threads] = file.readAll();
    }
    QCOMPARE(images[0].size(), 6 * 0x10000 + 5000);
    QCOMPARE(images[0].left(5000), QByteArray(5000, 'g'));
    QCOMPARE(images[0].mid(0x10000, 30000), QByteArray(30000, 'f') );
    QCOMPARE(images[0].mid(0x10000 + 30000, 0x10000 - 30000), QByteArray(0x10000 - 30000, char(0xFF)));
    QVERIFY(images[1] == images[0]);
}

QTEST_GUILESS_MAIN(tst_MergeJob)
#include "tst_mergejob.moc"
