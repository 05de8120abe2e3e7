// Every image right at every size: merges of layouts whose files, gaps and
// pads lie on and around the program's buffer sizes, through the window's
// own job, the real window and MergeFileCli in every output format, each
// output read back by a reader written here (and by srec_cat where it runs)
// and compared byte for byte with the plain model of the image. The layouts
// come from a fixed seed; MERGEFILE_LAYOUTS and MERGEFILE_SEED ask for more
// or others (scripts/soak.sh).

#include "CliRunner.h"
#include "FormatReaders.h"
#include "ImageModel.h"
#include "Layouts.h"
#include "MergeJob.h"
#include "Rows.h"
#include "TempFolder.h"
#include "WindowDriver.h"
#include "output/OutputFile.h"
#include "writers/ImageWriter.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTest>

#include <functional>

Q_DECLARE_METATYPE(Model::Merge)

namespace {

using namespace Layouts;

// A random layout from a seed, drawn the same on every machine.
Model::Merge seededMerge(quint32 seed, const Shape &shape)
{
    QRandomGenerator random(seed);
    return randomMerge([&random](qint64 n) { return qint64(random.generate64() % quint64(qMax<qint64>(n, 1))); }, shape);
}

int layoutCount(int fallback)
{
    bool ok = false;
    const int n = qEnvironmentVariableIntValue("MERGEFILE_LAYOUTS", &ok);
    return ok && n > 0 ? n : fallback;
}

quint32 firstSeed()
{
    bool ok = false;
    const int n = qEnvironmentVariableIntValue("MERGEFILE_SEED", &ok);
    return ok ? quint32(n) : 20261209u;
}

QString describe(const Model::Merge &merge)
{
    QStringList files;
    for (const Model::File &f : merge.files)
        files << QStringLiteral("%1 %2@%3").arg(QLatin1String(f.kind == Model::File::Raw ? "raw" : f.kind == Model::File::Hex ? "hex" : "srec"))
                     .arg(f.bytes.size())
                     .arg(f.address, 0, 16);
    return files.join(QLatin1String(", "));
}

// Writes the files of a merge in the current folder; the ADDR FILE pairs.
QStringList writeFiles(const Model::Merge &merge)
{
    QStringList pairs;
    for (const Input &input : writeInputs(merge, QStringLiteral(".")))
        pairs << (input.own ? QStringLiteral("-") : QString::number(input.address, 16)) << input.name;
    return pairs;
}

QStringList optionsOf(const Model::Merge &merge)
{
    QStringList args;
    if (merge.base != 0x1000)
        args << "--base" << QString::number(merge.base, 16);
    if (merge.fill != char(0xFF))
        args << "--fill" << QString::number(quint8(merge.fill), 16);
    if (merge.overlap != Model::Overlap::Refuse)
        args << "--overlap" << (merge.overlap == Model::Overlap::Later ? "later" : "earlier");
    for (const Model::Range &r : merge.crop)
        args << "--crop" << QStringLiteral("%1-%2").arg(r.from, 0, 16).arg(r.to, 0, 16);
    for (const Model::Range &r : merge.exclude)
        args << "--exclude" << QStringLiteral("%1-%2").arg(r.from, 0, 16).arg(r.to, 0, 16);
    for (const Model::Field &f : merge.fields)
        args << "--field" << f.option();
    return args;
}

const QStringList allFormats{"bin", "hex", "srec", "ti-txt", "vmem", "c", "uf2"};

// Faults a test puts into the bytes on their way to the output file.
qint64 faultAt = -1;
void flipOneByte(qint64 offset, char *bytes, qint64 size)
{
    if (faultAt >= offset && faultAt < offset + size)
        bytes[faultAt - offset] = char(~bytes[faultAt - offset]);
}

} // namespace

class tst_Images : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void modelAgreesWithDefinitions();
    void windowJob_data();
    void windowJob();
    void realWindow_data();
    void realWindow();
    void everyFormat_data();
    void everyFormat();
    void srecCatAgrees_data();
    void srecCatAgrees();
    void selfCheck_data();
    void selfCheck();

private:
    QScopedPointer<CurrentTempDir> dir;
    QScopedPointer<ScopedTempFolder> tempFolder;
};

void tst_Images::init()
{
    dir.reset(new CurrentTempDir);
    QVERIFY(dir->isValid());
    tempFolder.reset(new ScopedTempFolder(dir->path()));
    faultAt = -1;
    OutputFile::setWriteSeam(nullptr);
}

void tst_Images::cleanup()
{
    OutputFile::setWriteSeam(nullptr);
    tempFolder.reset();
    dir.reset();
}

// The model itself: CRC-32 by the catalogue's check value, SHA-256 by its
// published test vector, and the window's own example of a merge.
void tst_Images::modelAgreesWithDefinitions()
{
    QCOMPARE(Model::crc32("123456789", 9), 0xCBF43926u);
    QCOMPARE(QCryptographicHash::hash("abc", QCryptographicHash::Sha256).toHex(),
             QByteArray("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
    Model::Merge merge;
    Model::File a;
    a.address = 0x1000;
    a.bytes = "ABCDEF";
    Model::File b;
    b.address = 0x1008;
    b.bytes = "GH";
    merge.files = {b, a};
    QCOMPARE(Model::image(merge).bytes, QByteArray("ABCDEF\xff\xffGH"));
}

void tst_Images::windowJob_data()
{
    QTest::addColumn<Model::Merge>("merge");
    QTest::addColumn<bool>("hashed");

    // The first seen wrong: a boot loader, and an application right after it
    // or a gap of 256 KiB to 1 MiB after it.
    for (const qint64 second : {qint64(0x5E20), qint64(0x50000)}) {
        Model::Merge merge;
        Model::File boot;
        boot.address = 0x1000;
        boot.bytes = Model::content(1, 20000);
        Model::File app;
        app.address = second;
        app.bytes = Model::content(2, 600000);
        merge.files = {boot, app};
        QTest::addRow("boot.bin at 1000, app.bin at %llx", second) << merge << false;
    }
    Shape shape;
    shape.files = 8;
    shape.records = false;
    shape.options = false;
    const quint32 seed = firstSeed();
    for (int n = 0; n < layoutCount(6); ++n) {
        const Model::Merge merge = seededMerge(seed + quint32(n), shape);
        QTest::addRow("window rows, layout %u: %s", seed + quint32(n), qPrintable(describe(merge))) << merge << bool(n % 2);
    }
}

// Rows as the window gives them (address texts, in row order), through the
// engine's job as the window runs it, with and without the output's hash.
void tst_Images::windowJob()
{
    QFETCH(Model::Merge, merge);
    QFETCH(bool, hashed);

    QVector<MergeRow> rows;
    for (int k = 0; k < merge.files.size(); ++k) {
        const QString name = QStringLiteral("file%1.bin").arg(k + 1);
        QVERIFY(writeFile(name, merge.files[k].bytes));
        // Some addresses as users type them: 0x, upper case, blanks around.
        const QString hex = QString::number(merge.files[k].address, 16);
        rows.append(windowRow(name, k % 3 == 0 ? hex : k % 3 == 1 ? QStringLiteral("0x") + hex.toUpper() : QStringLiteral(" %1 ").arg(hex)));
    }
    QStringList log;
    MergeJob job(rows, QStringLiteral("out.bin"), [&log](const QString &line) { log << line; }, hashing(hashed));
    const Model::Image image = Model::image(merge);
    QVERIFY(!image.refused);
    QVERIFY2(job.run(), qPrintable(log.join(QLatin1Char('\n'))));
    QCOMPARE(log, QStringList({"Begin to merge...", "Merge success!"}));
    const QByteArray out = readFile(QStringLiteral("out.bin"));
    QCOMPARE(out.size(), image.bytes.size());
    const QString wrong = Readback::difference({{0x1000, out}}, {{0x1000, image.bytes}});
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
    if (hashed)
        QCOMPARE(job.outputSha256().toHex(), QCryptographicHash::hash(image.bytes, QCryptographicHash::Sha256).toHex());
}

void tst_Images::realWindow_data()
{
    QTest::addColumn<qint64>("secondAddress");
    QTest::addColumn<int>("firstSize");
    QTest::addColumn<int>("secondSize");

    QTest::newRow("an application right after a 20,000-byte boot loader") << qint64(0x5E20) << 20000 << 600000;
    QTest::newRow("an application 320 KiB on") << qint64(0x50000) << 20000 << 600000;
    QTest::newRow("both a chunk and a byte long") << qint64(0x101001) << (1 << 20) + 1 << (1 << 20) + 1;
}

// The real window, its rows typed in and Merge pressed.
void tst_Images::realWindow()
{
    QFETCH(qint64, secondAddress);
    QFETCH(int, firstSize);
    QFETCH(int, secondSize);

    Model::Merge layout;
    Model::File boot;
    boot.address = 0x1000;
    boot.bytes = Model::content(1, firstSize);
    Model::File app;
    app.address = secondAddress;
    app.bytes = Model::content(2, secondSize);
    layout.files = {boot, app};
    QVERIFY(writeFile(QStringLiteral("boot.bin"), boot.bytes) && writeFile(QStringLiteral("app.bin"), app.bytes));

    MergeMainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    setRow(window, 1, true, dir->path() + QStringLiteral("/boot.bin"), QStringLiteral("1000"));
    setRow(window, 2, true, dir->path() + QStringLiteral("/app.bin"), QString::number(secondAddress, 16).toUpper());
    outputEdit(window)->setText(dir->path() + QStringLiteral("/out.bin"));
    QCOMPARE(merge(window), QStringList({"Begin to merge...", "Merge success!"}));
    QVERIFY(readFile(dir->path() + QStringLiteral("/out.bin")) == Model::image(layout).bytes);
}

void tst_Images::everyFormat_data()
{
    QTest::addColumn<Model::Merge>("merge");
    QTest::addColumn<int>("variant"); // record size, word size, family: drawn from it

    Shape shape;
    const quint32 seed = firstSeed() + 1000;
    for (int n = 0; n < layoutCount(10); ++n) {
        const Model::Merge merge = seededMerge(seed + quint32(n), shape);
        QTest::addRow("layout %u: %s", seed + quint32(n), qPrintable(describe(merge))) << merge << n;
    }
}

// MergeFileCli writes the layout in every format; each output, read back,
// holds the model's bytes, and nothing else; the map's image hashes are the
// model's, and for the flat image the output's. A layout the model refuses
// is refused, and the old output stays.
void tst_Images::everyFormat()
{
    QFETCH(Model::Merge, merge);
    QFETCH(int, variant);

    const QStringList pairs = writeFiles(merge);
    const Model::Image image = Model::image(merge);
    const QByteArray modelSha = QCryptographicHash::hash(image.bytes, QCryptographicHash::Sha256).toHex();
    for (const QString &format : allFormats) {
        QStringList args = optionsOf(merge);
        args << "--format" << format << "--map" << "map.json" << "-o" << "out." + format;
        const int wordBits = 8 << (variant % 4);
        if (format == QLatin1String("vmem"))
            args << "--word-bits" << QString::number(wordBits);
        if ((format == QLatin1String("hex") || format == QLatin1String("srec")) && variant % 3)
            args << "--record-size" << QString::number(variant % 3 == 1 ? 1 + variant % 250 : 250);
        if (format == QLatin1String("uf2") && variant % 2)
            args << "--uf2-family" << "rp2040";
        const bool padded = merge.padTo > 0 && (format == QLatin1String("bin") || format == QLatin1String("c"));
        if (padded)
            args << "--pad-to" << QString::number(merge.padTo, 16);
        Model::Merge asWritten = merge;
        if (!padded)
            asWritten.padTo = 0;
        const Model::Image want = padded ? image : Model::image(asWritten);
        QVERIFY(writeFile("out." + format, "old"));
        const Run run = runCli(args + pairs);
        const QString context = format + QLatin1String(": ") + args.join(QLatin1Char(' ')) + QLatin1Char('\n')
                                + run.out.join(QLatin1Char('\n')) + run.err;
        if (want.refused) {
            QVERIFY2(run.exitCode == 1, qPrintable(context));
            QCOMPARE(readFile("out." + format), QByteArray("old"));
            continue;
        }
        QVERIFY2(run.exitCode == 0, qPrintable(context));
        const QByteArray written = readFile("out." + format);
        Readback::Runs got;
        QString error;
        QVERIFY2(Readback::read(format, written, merge.base, wordBits, QStringLiteral("mergefile_image"), got, error),
                 qPrintable(format + QLatin1String(": ") + error));
        const QString wrong = Readback::difference(got, Readback::expected(want, format, wordBits, merge.fill));
        QVERIFY2(wrong.isEmpty(), qPrintable(context + QLatin1Char('\n') + wrong));

        const QJsonObject map = QJsonDocument::fromJson(readFile(QStringLiteral("map.json"))).object();
        const QByteArray wantSha = padded || merge.padTo == 0 ? modelSha
                                                               : QCryptographicHash::hash(want.bytes, QCryptographicHash::Sha256).toHex();
        QCOMPARE(map.value("image").toObject().value("sha256").toString().toLatin1(), wantSha);
        QCOMPARE(qint64(map.value("image").toObject().value("length").toDouble()), qint64(want.bytes.size()));
        QCOMPARE(map.value("output").toObject().value("sha256").toString().toLatin1(),
                 QCryptographicHash::hash(written, QCryptographicHash::Sha256).toHex());
        QCOMPARE(qint64(map.value("output").toObject().value("length").toDouble()), qint64(written.size()));
    }
}

void tst_Images::srecCatAgrees_data()
{
    QTest::addColumn<Model::Merge>("merge");

    Shape shape;
    shape.options = false;
    const quint32 seed = firstSeed() + 2000;
    for (int n = 0; n < layoutCount(3); ++n) {
        const Model::Merge merge = seededMerge(seed + quint32(n), shape);
        QTest::addRow("layout %u: %s", seed + quint32(n), qPrintable(describe(merge))) << merge;
    }
}

// srec_cat, which nobody here wrote, reads the text outputs back the same:
// filled with 00 and with FF, the two agree exactly where the output has
// bytes, which must be the model's.
void tst_Images::srecCatAgrees()
{
    QFETCH(Model::Merge, merge);

    const QString srecCat = QStandardPaths::findExecutable(QStringLiteral("srec_cat"));
    if (srecCat.isEmpty())
        QSKIP("srec_cat (Debian's srecord) is not installed; on Windows it cannot be started at all");
    const QStringList pairs = writeFiles(merge);
    const Model::Image image = Model::image(merge);
    QVERIFY(!image.refused);
    const QString from = QStringLiteral("0x%1").arg(image.base, 0, 16);
    const QString to = QStringLiteral("0x%1").arg(image.end(), 0, 16);
    for (const QString &format : {QStringLiteral("hex"), QStringLiteral("srec"), QStringLiteral("ti-txt"), QStringLiteral("vmem")}) {
        const Run run = runCli(QStringList{"--format", format, "-o", "out.txt"} + pairs);
        QCOMPARE(run.exitCode, 0);
        const QString type = format == QLatin1String("hex") ? "-intel" : format == QLatin1String("srec") ? "-motorola"
                             : format == QLatin1String("ti-txt") ? "-ti-txt" : "-vmem";
        QByteArray filled[2];
        for (int f = 0; f < 2; ++f) {
            int exitCode = -1;
            filled[f] = runTool(srecCat, {QStringLiteral("out.txt"), type, "-crop", from, to, "-fill", f ? "0xFF" : "0x00", from, to,
                                          "-offset", QStringLiteral("-%1").arg(from), "-o", "-", "-binary"},
                                &exitCode);
            QCOMPARE(exitCode, 0);
            QCOMPARE(filled[f].size(), image.bytes.size());
        }
        for (int i = 0; i < image.bytes.size(); ++i) {
            const bool has = filled[0].at(i) == filled[1].at(i);
            if (has != bool(image.present.at(i)) || (has && filled[0].at(i) != image.bytes.at(i)))
                QFAIL(qPrintable(QStringLiteral("%1: srec_cat reads address 0x%2 otherwise").arg(format).arg(image.base + i, 0, 16)));
        }
    }
}

void tst_Images::selfCheck_data()
{
    QTest::addColumn<qint64>("fault"); // the offset of the byte changed on its way out; -1: none
    QTest::addColumn<bool>("hashed");
    QTest::addColumn<QString>("format");

    const qint64 size = (3 << 20) + 5;
    QTest::newRow("nothing changed") << qint64(-1) << false << "bin";
    QTest::newRow("nothing changed, hashed") << qint64(-1) << true << "bin";
    QTest::newRow("the first byte") << qint64(0) << false << "bin";
    QTest::newRow("the last byte of the first chunk") << qint64((1 << 20) - 1) << false << "bin";
    QTest::newRow("the first byte of the second chunk, hashed") << qint64(1 << 20) << true << "bin";
    QTest::newRow("the last byte") << size - 1 << true << "bin";
}

// A merge whose written bytes are not the merged image is refused before
// the output is replaced: the old one stays.
void tst_Images::selfCheck()
{
    QFETCH(qint64, fault);
    QFETCH(bool, hashed);
    QFETCH(QString, format);

    const QByteArray a = Model::content(1, 3 << 20);
    const QByteArray b = Model::content(2, 5);
    QVERIFY(writeFile(QStringLiteral("a.bin"), a) && writeFile(QStringLiteral("b.bin"), b));
    QVERIFY(writeFile(QStringLiteral("out.img"), "old"));
    faultAt = fault;
    OutputFile::setWriteSeam(flipOneByte);
    MergeOptions options = hashing(hashed);
    options.computeDigests = hashed;
    options.format = OutputFormats::find(format);
    QStringList log;
    MergeJob job({windowRow(QStringLiteral("a.bin"), QStringLiteral("1000")), windowRow(QStringLiteral("b.bin"), QStringLiteral("301000"))},
                 QStringLiteral("out.img"), [&log](const QString &line) { log << line; }, options);
    const bool refused = fault >= 0 && format == QLatin1String("bin");
    QCOMPARE(job.run(), !refused);
    if (refused) {
        QCOMPARE(log, QStringList({"Begin to merge...",
                                   "Error!!!The bytes written for merge fileout.img are not the merged image: the file is left as it was!"}));
        QCOMPARE(readFile(QStringLiteral("out.img")), QByteArray("old"));
    } else {
        QCOMPARE(log.last(), QStringLiteral("Merge success!"));
        if (fault < 0)
            QVERIFY(readFile(QStringLiteral("out.img")) == a + b);
    }
    QCOMPARE(QDir().entryList(QDir::Files | QDir::Hidden).size(), 3); // nothing of ours left beside it
}

QTEST_MAIN(tst_Images)
#include "tst_images.moc"
