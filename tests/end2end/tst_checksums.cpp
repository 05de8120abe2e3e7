// SHA-256 and CRC-32 over lengths that cross the hashing libraries' block
// and buffer sizes (64-byte SHA blocks, the 8-byte CRC steps and 64-byte
// folds, the 1 MiB chunks the merge reads), against values that sha256sum
// and crc32 printed for the same bytes; the same table runs on every build,
// under Wine too.

#include "Checksums.h"
#include "Sha256Thread.h"
#include "CliRunner.h"
#include "Pieces.h"
#include "WindowDriver.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

class tst_Checksums : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void knownBytes_data();
    void knownBytes();
    void knownBytesThroughTheMerge_data();
    void knownBytesThroughTheMerge();

private:
    QScopedPointer<CurrentTempDir> dir;
};

void tst_Checksums::init()
{
    dir.reset(new CurrentTempDir);
    QVERIFY(dir->isValid());
}

void tst_Checksums::cleanup()
{
    dir.reset();
}

// pieceContent(0, size), as sha256sum and crc32 saw it written to a file.
void tst_Checksums::knownBytes_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<QByteArray>("crc32");
    QTest::addColumn<QByteArray>("sha256");

    QTest::newRow("nothing") << 0 << QByteArray("00000000")
                             << QByteArray("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    QTest::newRow("1 byte") << 1 << QByteArray("be047a60")
                            << QByteArray("e632b7095b0bf32c260fa4c539e9fd7b852d0de454e9be26f24d0d6f91d069d3");
    QTest::newRow("55 bytes, the most one block pads") << 55 << QByteArray("18c0f3a3")
                                                      << QByteArray("60634e30952ba796fecf20863a64a34435c80415e30b86c90bad6eeff8669c78");
    QTest::newRow("56 bytes, padding spills into a block") << 56 << QByteArray("2a788117")
                                                          << QByteArray("62ada79e15d4471b92cd079a5347a6627b93a51afc662cf0ecf4e1e68cca2a99");
    QTest::newRow("63 bytes") << 63 << QByteArray("f6f31767")
                              << QByteArray("95d8c0cd35eb7b19f22ebee56d6039ebf0118477aecad672610d3ec1c7ceec86");
    QTest::newRow("64 bytes, one block") << 64 << QByteArray("e69ac566")
                                        << QByteArray("4234d9dce4be7d33c19a504dad4e259d1bad6ee888fbf5ec1d4845366c697ee2");
    QTest::newRow("65 bytes") << 65 << QByteArray("973b293d")
                              << QByteArray("18cbbb33f0a436ad7306b86e6fab4e5b2d8239d234f506f555eb8cf57205390c");
    QTest::newRow("1 MiB less a byte") << (1 << 20) - 1 << QByteArray("77a91471")
                                       << QByteArray("803e84b20b2d0ae92e25332c84c7d47b0d16efa0cc2a658cd4f4669ec6a592e5");
    QTest::newRow("1 MiB and a byte") << (1 << 20) + 1 << QByteArray("a2beb562")
                                      << QByteArray("6e3fd262b2add51cb8f117c676e080d3da46f79ceb0520040ad15cb2743e186f");
    QTest::newRow("several chunks") << 3 * (1 << 20) + 17 << QByteArray("4f90ddb2")
                                    << QByteArray("5dc22cb4af88126b9b3dcf022b4eb41e52034743f996bfc0506ef0077c4b4e94");
}

// Fed whole, and fed in slices that end anywhere in a block.
void tst_Checksums::knownBytes()
{
    QFETCH(int, size);
    QFETCH(QByteArray, crc32);
    QFETCH(QByteArray, sha256);

    const QByteArray bytes = pieceContent(0, size);
    for (int slice : {size + 1, 1, 7, 63, 4099}) {
        Crc32 crc;
        Sha256 sha;
        for (int at = 0; at < size; at += slice) {
            crc.add(bytes.constData() + at, qMin(slice, size - at));
            sha.add(bytes.constData() + at, qMin(slice, size - at));
        }
        QCOMPARE(crc.hex(), crc32);
        QCOMPARE(sha.result().toHex(), sha256);
        if (size > 200000 && slice < 4099)
            break; // byte by byte over megabytes proves nothing more
    }
    // The tables alone, as a CPU without carry-less multiplication has them.
    Crc32 tables;
    tables.addByTables(bytes.constData(), size);
    QCOMPARE(tables.hex(), crc32);
    // On a second thread and on this one, small slices gathered; the digest
    // so far is that of the bytes so far, and asking for it midway changes
    // nothing that follows.
    const int half = size / 2;
    Sha256 firstHalf;
    firstHalf.add(bytes.constData(), half);
    const QByteArray firstHalfDigest = firstHalf.result();
    for (bool secondThread : {true, false}) {
        Sha256Thread sha;
        sha.start(secondThread);
        for (int at = 0; at < size; at += 4099) {
            const int end = qMin(at + 4099, size);
            if (at < half && half <= end) {
                sha.add(bytes.constData() + at, half - at);
                if (Sha256::givesResultSoFar())
                    QCOMPARE(sha.resultSoFar(), firstHalfDigest);
                sha.add(bytes.constData() + half, end - half);
            } else {
                sha.add(bytes.constData() + at, end - at);
            }
        }
        if (Sha256::givesResultSoFar())
            QCOMPARE(sha.resultSoFar().toHex(), sha256);
        QCOMPARE(sha.finish().toHex(), sha256);
    }
}

void tst_Checksums::knownBytesThroughTheMerge_data()
{
    knownBytes_data();
}

// The same bytes as a file merged at the image's start: the map's digests of
// the file and of the image, and the SHA-256 printed of what was written
// (worked out on a second thread from the bytes as they are written).
void tst_Checksums::knownBytesThroughTheMerge()
{
    QFETCH(int, size);
    QFETCH(QByteArray, crc32);
    QFETCH(QByteArray, sha256);

    QVERIFY(writeFile(QStringLiteral("in.bin"), pieceContent(0, size)));
    const Run run = runCli({"--map", "map.json", "-o", "out.bin", "1000", "in.bin"});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out.last(), QStringLiteral("SHA-256: %1").arg(QString::fromLatin1(sha256)));
    const QJsonObject map = QJsonDocument::fromJson(readFile(QStringLiteral("map.json"))).object();
    for (const QJsonObject &digests : {map.value(QStringLiteral("image")).toObject(),
                                       map.value(QStringLiteral("files")).toArray().at(0).toObject()}) {
        QCOMPARE(digests.value(QStringLiteral("crc32")).toString().toLatin1(), crc32);
        QCOMPARE(digests.value(QStringLiteral("sha256")).toString().toLatin1(), sha256);
    }
}

QTEST_MAIN(tst_Checksums)
#include "tst_checksums.moc"
