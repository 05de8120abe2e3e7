// Checksums and lengths written into the image, and the flash they must fit:
// every kind against its published check value and against computations
// that do not come from the program (Python's zlib and hashlib, a bitwise
// CRC written here from the catalogue's parameters); refusals get one line
// and leave nothing written.

#include "CliRunner.h"
#include "MergeJob.h"
#include "Rows.h"
#include "fields/FieldSpec.h"
#include "Pieces.h"
#include "WindowDriver.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QDateTime>
#include <QStandardPaths>

namespace {

// A CRC from the catalogue's parameters, bit by bit.
struct CrcModel
{
    int width;
    quint64 poly;
    quint64 init;
    bool reflected;
    quint64 xorOut;

    quint64 operator()(const QByteArray &data) const
    {
        const quint64 top = quint64(1) << (width - 1);
        const quint64 mask = (top << 1) - 1;
        quint64 crc = init;
        for (const char c : data) {
            quint64 byte = uchar(c);
            if (reflected) {
                quint64 r = 0;
                for (int i = 0; i < 8; ++i)
                    r |= ((byte >> i) & 1) << (7 - i);
                byte = r;
            }
            crc ^= byte << (width - 8);
            for (int i = 0; i < 8; ++i)
                crc = (crc & top) ? ((crc << 1) ^ poly) & mask : (crc << 1) & mask;
        }
        if (reflected) {
            quint64 r = 0;
            for (int i = 0; i < width; ++i)
                r |= ((crc >> i) & 1) << (width - 1 - i);
            crc = r;
        }
        return (crc ^ xorOut) & mask;
    }
};

// The value of a field of this kind over the bytes, as the test works it out.
QByteArray expectedField(const QString &kind, const QByteArray &bytes, bool bigEndian)
{
    if (kind == QLatin1String("sha256"))
        return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
    quint64 value = 0;
    int size = 4;
    if (kind == QLatin1String("crc32")) {
        value = CrcModel{32, 0x04C11DB7, 0xFFFFFFFF, true, 0xFFFFFFFF}(bytes);
    } else if (kind == QLatin1String("crc32-mpeg2")) {
        value = CrcModel{32, 0x04C11DB7, 0xFFFFFFFF, false, 0}(bytes);
    } else if (kind == QLatin1String("crc16-ccitt")) {
        value = CrcModel{16, 0x1021, 0xFFFF, false, 0}(bytes);
        size = 2;
    } else if (kind == QLatin1String("crc16-xmodem")) {
        value = CrcModel{16, 0x1021, 0, false, 0}(bytes);
        size = 2;
    } else if (kind == QLatin1String("sum8")) {
        for (const char c : bytes)
            value += uchar(c);
        value &= 0xFF;
        size = 1;
    } else if (kind == QLatin1String("length")) {
        value = quint64(bytes.size());
    }
    QByteArray out;
    for (int i = 0; i < size; ++i)
        out += char(value >> (8 * (bigEndian ? size - 1 - i : i)));
    return out;
}

} // namespace

class tst_Fields : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void checkValues_data();
    void checkValues();
    void fieldsInARealImage_data();
    void fieldsInARealImage();
    void independentReaders_data();
    void independentReaders();
    void refusals_data();
    void refusals();
    void mapShowsFieldsSlotsAndSectors();
    void fileChangedAfterTheCheck_data();
    void fileChangedAfterTheCheck();

private:
    QScopedPointer<CurrentTempDir> dir;
};

void tst_Fields::init()
{
    dir.reset(new CurrentTempDir);
    QVERIFY(dir->isValid());
    QVERIFY(writeFile(QStringLiteral("check.bin"), "123456789"));
}

void tst_Fields::cleanup()
{
    dir.reset();
}

void tst_Fields::checkValues_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("bigEndian");
    QTest::addColumn<QByteArray>("value"); // the catalogue's check value for "123456789", as written

    const QByteArray sha = QByteArray::fromHex("15e2b0d3c33891ebb0f1ef609ec419420c20e320ce94c65fbc8c3312448eb225");
    QTest::newRow("crc32, little-endian") << "crc32" << false << QByteArray::fromHex("2639f4cb");
    QTest::newRow("crc32, big-endian") << "crc32" << true << QByteArray::fromHex("cbf43926");
    QTest::newRow("crc32-mpeg2, little-endian") << "crc32-mpeg2" << false << QByteArray::fromHex("e7e67603");
    QTest::newRow("crc32-mpeg2, big-endian") << "crc32-mpeg2" << true << QByteArray::fromHex("0376e6e7");
    QTest::newRow("crc16-ccitt, little-endian") << "crc16-ccitt" << false << QByteArray::fromHex("b129");
    QTest::newRow("crc16-ccitt, big-endian") << "crc16-ccitt" << true << QByteArray::fromHex("29b1");
    QTest::newRow("crc16-xmodem, little-endian") << "crc16-xmodem" << false << QByteArray::fromHex("c331");
    QTest::newRow("crc16-xmodem, big-endian") << "crc16-xmodem" << true << QByteArray::fromHex("31c3");
    QTest::newRow("sum8") << "sum8" << false << QByteArray::fromHex("dd");
    QTest::newRow("length, little-endian") << "length" << false << QByteArray::fromHex("09000000");
    QTest::newRow("length, big-endian") << "length" << true << QByteArray::fromHex("00000009");
    QTest::newRow("sha256") << "sha256" << false << sha;
    QTest::newRow("sha256, be changes nothing") << "sha256" << true << sha;
}

// "123456789" at 1000, the field right after it over just those bytes.
void tst_Fields::checkValues()
{
    QFETCH(QString, kind);
    QFETCH(bool, bigEndian);
    QFETCH(QByteArray, value);

    QVERIFY2(expectedField(kind, "123456789", bigEndian) == value, "the test's own computation is off");
    const QString field = kind + QStringLiteral("@1009,1000-1009") + (bigEndian ? QStringLiteral(",be") : QString());
    const Run run = runCli({"--field", field, "-o", "out.bin", "1000", "check.bin"});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(readFile(QStringLiteral("out.bin")), QByteArray("123456789") + value);
}

void tst_Fields::fieldsInARealImage_data()
{
    QTest::addColumn<QStringList>("fields");
    QTest::addColumn<QString>("format");

    // Files at 1100 (300 bytes) and 2000 (5000 bytes), a gap between them.
    QTest::newRow("CRC-32 after the image, over all of it")
        << QStringList{"crc32@3400"} << "bin";
    QTest::newRow("every kind in a header before its range")
        << QStringList{"length@1000,1100-3388", "crc32@1004,1100-3388,be", "crc32-mpeg2@1008,1100-3388",
                       "crc16-ccitt@100C,1100-3388", "crc16-xmodem@100E,1100-3388,be", "sum8@1010,1100-3388",
                       "sha256@1020,1100-3388"}
        << "bin";
    QTest::newRow("a length, then a CRC over the header that holds it")
        << QStringList{"length@1000,be", "crc32@1004"} << "bin";
    QTest::newRow("a field in the gap between the files") << QStringList{"crc16-ccitt@1800"} << "bin";
    QTest::newRow("a field past the end grows the image")
        << QStringList{"crc32-mpeg2@4000,1100-3388"} << "bin";
    QTest::newRow("as Intel HEX") << QStringList{"length@1000,be", "crc32@1004", "sha256@3400"} << "hex";
    QTest::newRow("as S-records") << QStringList{"length@1000,be", "crc32@1004", "sha256@3400"} << "srec";
    // A header over the files: in records it may follow the data, worked out
    // as that is written; a flat image needs it worked out first.
    for (const char *format : {"bin", "hex", "srec"}) {
        QTest::addRow("a header over the files, %s", format) << QStringList{"crc32@1000,1100-3388"} << format;
        QTest::addRow("a digest after the data, %s", format) << QStringList{"sha256@3388"} << format;
    }
    // Fields side by side are each records of their own: the length said
    // before writing must count them so.
    for (const char *format : {"bin", "hex", "srec"}) {
        QTest::addRow("two fields side by side, %s", format) << QStringList{"crc32@1000", "crc32@1004"} << format;
        QTest::addRow("a length and a CRC over one range, side by side, %s", format)
            << QStringList{"length@1000,1100-3388", "crc32@1004,1100-3388"} << format;
    }
}

// The image holds the files, the fill and each field, and each field is what
// its kind makes of its range with the earlier fields in place and the
// later ones still fill.
void tst_Fields::fieldsInARealImage()
{
    QFETCH(QStringList, fields);
    QFETCH(QString, format);

    const Pieces pieces{{0x1100, 300}, {0x2000, 5000}};
    QStringList pairs;
    for (int k = 0; k < pieces.size(); ++k) {
        const QString name = QStringLiteral("%1.bin").arg(k);
        QVERIFY(writeFile(name, pieceContent(k, pieces[k].size)));
        pairs << QString::number(pieces[k].address, 16) << name;
    }
    // The image as the test builds it: files and fill first.
    QByteArray expected = referenceImage(pieces);
    struct Placed
    {
        qint64 address, from, to;
        QString kind;
        bool bigEndian;
        bool whole;
    };
    QVector<Placed> placed;
    qint64 end = 0x1000 + expected.size();
    for (const QString &text : fields) {
        const QStringList parts = text.mid(text.indexOf(QLatin1Char('@')) + 1).split(QLatin1Char(','));
        Placed p{parts.at(0).toLongLong(nullptr, 16), 0, 0, text.left(text.indexOf(QLatin1Char('@'))),
                 parts.contains(QStringLiteral("be")), parts.size() < 2 || parts.at(1) == QLatin1String("be")};
        if (!p.whole) {
            p.from = parts.at(1).section(QLatin1Char('-'), 0, 0).toLongLong(nullptr, 16);
            p.to = parts.at(1).section(QLatin1Char('-'), 1, 1).toLongLong(nullptr, 16);
        }
        end = qMax(end, p.address + expectedField(p.kind, QByteArray(), false).size());
        placed.append(p);
    }
    expected += QByteArray(int(end - 0x1000 - expected.size()), char(0xFF));
    for (int k = 0; k < placed.size(); ++k) {
        Placed &p = placed[k];
        const int size = expectedField(p.kind, QByteArray(), false).size();
        if (p.whole) {
            p.from = 0x1000;
            p.to = end;
        }
        // Later fields are still fill when this one is worked out.
        QByteArray covered = expected.mid(int(p.from - 0x1000), int(p.to - p.from));
        if (p.whole)
            covered.remove(int(p.address - 0x1000), size);
        const QByteArray value = expectedField(p.kind, covered, p.bigEndian);
        expected.replace(int(p.address - 0x1000), size, value);
    }
    // Worked out as the image is written where the output allows; before it
    // for a map (whose image digest goes in address order) and to be shown.
    for (const QString &how : {QStringLiteral("plain"), QStringLiteral("--map"), QStringLiteral("--layout")}) {
        QStringList args{"--format", format, "-o", "out.img"};
        if (how == QLatin1String("--map"))
            args << "--map" << "map.json";
        else if (how == QLatin1String("--layout"))
            args << "--layout";
        for (const QString &f : fields)
            args << "--field" << f;
        const Run run = runCli(args + pairs);
        QCOMPARE(run.exitCode, 0);
        // The lengths printed and mapped are the file's.
        const qint64 written = QFileInfo(QStringLiteral("out.img")).size();
        QVERIFY2(run.out.contains(QStringLiteral("%1 length: %2 bytes")
                                      .arg(QLatin1String(format == QLatin1String("bin") ? "Image" : "Output"))
                                      .arg(written)),
                 qPrintable(how));
        if (how == QLatin1String("--map")) {
            const QJsonObject output =
                QJsonDocument::fromJson(readFile(QStringLiteral("map.json"))).object().value(QStringLiteral("output")).toObject();
            QCOMPARE(qint64(output.value(QStringLiteral("length")).toDouble()), written);
        }
        QByteArray image;
        if (format == QLatin1String("bin")) {
            image = readFile(QStringLiteral("out.img"));
        } else {
            if (QStandardPaths::findExecutable(QStringLiteral("srec_cat")).isEmpty())
                QSKIP("srec_cat (Debian's srecord) reads the records back; it is not here");
            QProcess srecCat;
            srecCat.start(QStringLiteral("srec_cat"),
                          {"out.img", format == QLatin1String("hex") ? "-intel" : "-motorola", "-fill", "0xFF", "0x1000",
                           QStringLiteral("0x%1").arg(0x1000 + expected.size(), 0, 16), "-offset", "-0x1000", "-o", "-", "-binary"});
            QVERIFY(srecCat.waitForFinished());
            image = srecCat.readAllStandardOutput();
        }
        QCOMPARE(image.size(), expected.size());
        QVERIFY2(image == expected, qPrintable(how));
    }
}

void tst_Fields::independentReaders_data()
{
    QTest::addColumn<int>("fileSize"); // app.bin
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("holds"); // over the bin image d, with zlib, hashlib and struct

    QTest::newRow("header fields over a range into the padding")
        << 70000 << QStringList{"--pad-to", "20000", "--field", "crc32@1000,1040-21000", "--field", "sha256@1010,1040-21000", "1040"}
        << "struct.unpack('<I', d[0:4])[0] == zlib.crc32(d[0x40:]) and d[0x10:0x30] == hashlib.sha256(d[0x40:]).digest()";
    // Of all before it: the output's own hash so far gives it.
    QTest::newRow("sha256 of all before it, at the end") << 70000 << QStringList{"--field", "sha256@12170", "1000"}
                                                         << "d[-32:] == hashlib.sha256(d[:-32]).digest()";
    QTest::newRow("sha256 from the base, short of it") << 70000 << QStringList{"--field", "sha256@12170,1000-12160", "1000"}
                                                       << "d[-32:] == hashlib.sha256(d[:0x11160]).digest()";
    QTest::newRow("sha256 of all before it, a gap between") << 70000 << QStringList{"--field", "sha256@12200", "1000"}
                                                            << "d[-32:] == hashlib.sha256(d[:-32]).digest()";
    QTest::newRow("sha256 of all before it, padding after") << 70000 << QStringList{"--pad-to", "12000", "--field", "sha256@12170", "1000"}
                                                            << "d[0x11170:0x11190] == hashlib.sha256(d[:0x11170] + d[0x11190:]).digest()";
    // Megabytes: worked out on a second thread.
    QTest::newRow("sha256 of 6 MiB not from the base") << (6 << 20) << QStringList{"--field", "sha256@601000,1001-601000", "1000"}
                                                       << "d[-32:] == hashlib.sha256(d[1:-32]).digest()";
    QTest::newRow("sha256 and crc32 of 6 MiB, big-endian")
        << (6 << 20) << QStringList{"--field", "crc32@601000,be", "--field", "sha256@601004", "1000"}
        << "struct.unpack('>I', d[-36:-32])[0] == zlib.crc32(d[:-36] + b'\\xff' * 32)"
           " and d[-32:] == hashlib.sha256(d[:-32]).digest()";
}

// Python's zlib and hashlib over the bin image agree with the fields.
void tst_Fields::independentReaders()
{
    QFETCH(int, fileSize);
    QFETCH(QStringList, args);
    QFETCH(QString, holds);
    if (!QFileInfo::exists(QStringLiteral("/usr/bin/python3")))
        QSKIP("Python is not here (Windows)");
    QVERIFY(writeFile(QStringLiteral("app.bin"), pieceContent(3, fileSize)));
    const Run run = runCli(QStringList{"-o", "out.bin"} + args + QStringList{"app.bin"});
    QCOMPARE(run.exitCode, 0);
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"),
                 {"-c", "import zlib, hashlib, struct\nd = open('out.bin', 'rb').read()\nprint(" + holds + ")\n"});
    QVERIFY(python.waitForFinished());
    QCOMPARE(python.readAllStandardOutput(), QByteArray("True\n"));
}

void tst_Fields::refusals_data()
{
    QTest::addColumn<QStringList>("args"); // check.bin (9 bytes) is there
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("says");

    const QStringList file{"1000", "check.bin"};
    QTest::newRow("field on a file's data") << QStringList{"--field", "crc32@1004"} + file << 1
                                            << "Error!!!Field crc32@1004 lies on the data of check.bin!";
    QTest::newRow("field inside its own range") << QStringList{"--field", "crc32@1010,1000-1014"} + file << 1
                                                << "Error!!!Field crc32@1010,1000-1014 lies inside the range it covers!";
    QTest::newRow("fields that overlap") << QStringList{"--field", "crc32@1010", "--field", "sum8@1012"} + file << 1
                                         << "Error!!!Fields crc32@1010 and sum8@1012 overlap!";
    QTest::newRow("range outside the image") << QStringList{"--field", "crc32@1010,1000-2000"} + file << 1
                                             << "Error!!!Field crc32@1010,1000-2000 covers 0x00001000 to 0x00002000, "
                                                "outside the image (0x00001000 to 0x00001014)!";
    QTest::newRow("field below the base") << QStringList{"--field", "sum8@800"} + file << 1
                                          << "Error!!!Field sum8@800 lies below the image's base 0x00001000!";
    QTest::newRow("file past the flash") << QStringList{"--flash", "1000,8"} + file << 1
                                         << "Error!!!check.bin ends at 0x00001009, past the end of the flash at 0x00001008!";
    QTest::newRow("field past the flash") << QStringList{"--flash", "1000,10", "--field", "crc32@100E"} + file << 1
                                          << "Error!!!Field crc32@100E ends at 0x00001012, past the end of the flash at 0x00001010!";
    QTest::newRow("image below the flash") << QStringList{"--flash", "8000000,10000"} + file << 1
                                           << "Error!!!check.bin starts at 0x00001000, below the flash at 0x08000000!";
    QTest::newRow("two files in one sector") << QStringList{"--sector-size", "1000", "1000", "check.bin", "1800", "check.bin"}
                                             << 1 << "Error!!!check.bin and check.bin share the erase sector at 0x00001000!";
    QTest::newRow("a file and a field in one sector")
        << QStringList{"--sector-size", "100", "--field", "crc32@10F0"} + file << 1
        << "Error!!!check.bin and field crc32@10F0 share the erase sector at 0x00001000!";
    QTest::newRow("file larger than its slot") << QStringList{"1000:8", "check.bin"} << 1
                                               << "Error!!!check.bin (9 bytes) does not fit its slot of 8 bytes at 0x00001000!";
    QTest::newRow("field of an unknown kind") << QStringList{"--field", "crc33@1000"} + file << 2
                                              << "field crc33@1000: unknown kind crc33";
    QTest::newRow("field without an address") << QStringList{"--field", "crc32"} + file << 2
                                              << "field crc32: give KIND@ADDR[,FROM-TO][,be]";
    QTest::newRow("field range backwards") << QStringList{"--field", "crc32@1000,2000-1000"} + file << 2
                                           << "field crc32@1000,2000-1000: 2000-1000 is not a range";
    QTest::newRow("sector size not a power of two") << QStringList{"--sector-size", "3000"} + file << 2
                                                    << "sector size 3000: give a power of two";
    QTest::newRow("flash without a size") << QStringList{"--flash", "8000000"} + file << 2 << "flash 8000000: give ORIGIN,SIZE";
    QTest::newRow("fill that is no byte") << QStringList{"--fill", "100"} + file << 2 << "fill 100: give a byte";
    QTest::newRow("slot of no size") << QStringList{"1000:0", "check.bin"} << 2
                                     << "pair 1 (\"1000:0\" check.bin): \"0\" is not a slot size";
}

void tst_Fields::refusals()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, says);

    QVERIFY(writeFile(QStringLiteral("out.bin"), "old"));
    const Run run = runCli(QStringList{"-o", "out.bin"} + args);
    QCOMPARE(run.exitCode, exitCode);
    if (exitCode == 1)
        QCOMPARE(run.out, QStringList() << "Begin to merge..." << says);
    else
        QVERIFY2(run.err.contains(says), qPrintable(run.err));
    QCOMPARE(readFile(QStringLiteral("out.bin")), QByteArray("old"));
    QCOMPARE(QDir().entryList(QDir::Files | QDir::Hidden), QStringList() << "check.bin" << "out.bin");
}

void tst_Fields::mapShowsFieldsSlotsAndSectors()
{
    const Run run = runCli({"--map", "map.json", "--sector-size", "10", "--fill", "0", "--field", "length@1000,be",
                            "-o", "out.bin", "1010:20", "check.bin", "1040", "check.bin"});
    QCOMPARE(run.exitCode, 0);
    const QJsonObject map = QJsonDocument::fromJson(readFile(QStringLiteral("map.json"))).object();
    const QJsonObject field = map.value(QStringLiteral("fields")).toArray().at(0).toObject();
    QCOMPARE(field.value(QStringLiteral("kind")).toString(), QStringLiteral("length"));
    QCOMPARE(qint64(field.value(QStringLiteral("value")).toDouble()), qint64(0x49 - 4));
    QCOMPARE(field.value(QStringLiteral("bytes")).toString(), QStringLiteral("00000045"));
    const QJsonObject slot = map.value(QStringLiteral("files")).toArray().at(0).toObject().value(QStringLiteral("slot")).toObject();
    QCOMPARE(qint64(slot.value(QStringLiteral("left")).toDouble()), qint64(0x20 - 9));
    const QJsonObject image = map.value(QStringLiteral("image")).toObject();
    QCOMPARE(qint64(image.value(QStringLiteral("sectorsTouched")).toDouble()), qint64(3));
    // The fill asked for, in the gaps.
    QCOMPARE(readFile(QStringLiteral("out.bin")).mid(4, 12), QByteArray(12, '\0'));
}

void tst_Fields::fileChangedAfterTheCheck_data()
{
    QTest::addColumn<bool>("valuesFirst"); // the check works the field out (to show it), or the write does
    QTest::addColumn<QString>("field");

    QTest::newRow("worked out by the check, after the data") << true << "crc32@1010";
    QTest::newRow("worked out by the check, a header") << true << "crc32@1000,1010-1019";
    QTest::newRow("worked out from what is written") << false << "crc32@1010";
}

// A file whose bytes change (not its size) between the check and the write:
// a field worked out by the check would not match what is written, and the
// merge stops; one worked out from the bytes as they are written matches
// them.
void tst_Fields::fileChangedAfterTheCheck()
{
    QFETCH(bool, valuesFirst);
    QFETCH(QString, field);

    QVERIFY(writeFile(QStringLiteral("out.bin"), "old"));
    const qint64 fileAt = field.contains(QLatin1Char(',')) ? 0x1010 : 0x1000;
    MergeField crc;
    QString problem;
    QVERIFY(parseField(field, &crc, &problem));
    QStringList log;
    MergeOptions options;
    options.fields = {crc};
    options.fieldValuesFirst = valuesFirst;
    MergeJob job({windowRow(QStringLiteral("check.bin"), QString::number(fileAt, 16))}, QStringLiteral("out.bin"),
                 [&log](const QString &line) { log << line; }, options);
    // Written over with its time kept: the change does not show in the
    // file's time (which the sources' own check looks at), only in its bytes.
    const auto keepTime = [] {
        QFile same(QStringLiteral("check.bin"));
        return same.open(QIODevice::ReadWrite)
               && same.setFileTime(QDateTime(QDate(2020, 1, 1), QTime(0, 0)), QFileDevice::FileModificationTime);
    };
    QVERIFY(keepTime());
    QVERIFY(job.check());
    QVERIFY(writeFile(QStringLiteral("check.bin"), "987654321"));
    QVERIFY(keepTime());
    if (valuesFirst) {
        QVERIFY(!job.write());
        QCOMPARE(log, QStringList() << "Begin to merge..."
                                    << QStringLiteral("Error!!!Field %1 no longer matches the files: one of them "
                                                      "changed while it was merged!")
                                           .arg(field));
        QCOMPARE(readFile(QStringLiteral("out.bin")), QByteArray("old"));
        return;
    }
    QVERIFY(job.write());
    const QByteArray image = readFile(QStringLiteral("out.bin"));
    QCOMPARE(image.left(9), QByteArray("987654321"));
    QCOMPARE(image.mid(0x10), expectedField(QStringLiteral("crc32"), image.left(0x10), false));
}

QTEST_MAIN(tst_Fields)
#include "tst_fields.moc"
