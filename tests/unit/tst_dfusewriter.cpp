// DfuSe output held to its published description and to dfu-util: images
// from raw and HEX files whose runs and gaps lie on and around the writer's
// buffer and the image's chunks, read back element by element by the reader
// written from ST's description of the file (each run of the model's image
// one element, at its address, nothing for the gaps), the suffix's CRC and
// numbers checked by dfu-suffix; the format's own options, in process and as
// MergeFileCli takes them.

#include "CliRunner.h"
#include "FormatReaders.h"
#include "ImageModel.h"
#include "Layouts.h"
#include "MergeJob.h"
#include "fields/FieldSpec.h"
#include "writers/ImageWriter.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

QByteArray readAll(const QString &name)
{
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

const OutputFormatInfo &dfuse()
{
    return *OutputFormats::find(QStringLiteral("dfuse"));
}

// The runs of the model's image that files and fields gave: the elements
// the file must hold, in order.
Readback::Runs runsOf(const Model::Image &image)
{
    Readback::Runs runs;
    for (int i = 0; i < image.present.size();) {
        if (!image.present.at(i)) {
            ++i;
            continue;
        }
        int j = i;
        while (j < image.present.size() && image.present.at(j))
            ++j;
        runs.append(Readback::Run{image.base + i, image.bytes.mid(i, j - i)});
        i = j;
    }
    return runs;
}

// What dfu-suffix -c says of a file: its exit status, and the suffix's
// fields as it prints them ("Vendor ID:\t0x0483").
struct SuffixCheck
{
    int exitCode = -1;
    QMap<QString, quint32> fields;
};

SuffixCheck dfuSuffixCheck(const QString &tool, const QString &file)
{
    SuffixCheck check;
    const QByteArray out = runTool(tool, {QStringLiteral("-c"), file}, &check.exitCode);
    const QRegularExpression line(QStringLiteral("^([A-Za-z ]+):\\s+(0x[0-9A-Fa-f]+|\\d+)\\s*$"),
                                  QRegularExpression::MultilineOption);
    for (auto it = line.globalMatch(QString::fromLatin1(out)); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        check.fields.insert(m.captured(1), m.captured(2).toUInt(nullptr, 0));
    }
    return check;
}

} // namespace

class tst_DfuseWriter : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void images_data();
    void images();
    void options_data();
    void options();
    void commandLine_data();
    void commandLine();

private:
    QString dfuSuffix;
};

void tst_DfuseWriter::initTestCase()
{
    QVERIFY(OutputFormats::find(QStringLiteral("dfuse")));
    dfuSuffix = QStandardPaths::findExecutable(QStringLiteral("dfu-suffix"));
}

// Two files (raw, or HEX with a hole in every 64 KiB) at 0x08000000 with a
// gap between them, optionally a CRC-32 field of the whole image right after
// the data or after a gap, and the options given or left at their defaults.
void tst_DfuseWriter::images_data()
{
    QTest::addColumn<int>("kind"); // Model::File::Kind
    QTest::addColumn<qint64>("first");
    QTest::addColumn<qint64>("gap");
    QTest::addColumn<qint64>("second");
    QTest::addColumn<int>("field"); // -1: none; else its distance from the data's end
    QTest::addColumn<QStringList>("settings"); // option, value, ...

    const qint64 buffer = qint64(256) << 10; // the writer's text buffer
    const qint64 chunk = qint64(1) << 20;    // a chunk of the image walk
    const QStringList given{"dfu-alt", "3", "dfu-target-name", "Internal Flash", "dfu-vid", "1209",
                            "dfu-pid", "0x7a0b", "dfu-bcd", "0200"};
    QTest::newRow("one byte") << int(Model::File::Raw) << qint64(1) << qint64(0) << qint64(0) << -1 << QStringList();
    QTest::newRow("two files that touch: one element") << int(Model::File::Raw) << qint64(17) << qint64(0)
                                                       << qint64(300) << -1 << given;
    for (const qint64 base : {buffer, chunk}) {
        for (const qint64 d : {-1, 0, 1}) {
            const qint64 size = base + d;
            QTest::addRow("raw run of %lld, a byte's gap", size)
                << int(Model::File::Raw) << size << qint64(1) << qint64(17) << -1 << given;
            QTest::addRow("raw runs around a gap of %lld", size)
                << int(Model::File::Raw) << qint64(15) << size << size << -1 << QStringList();
            QTest::addRow("HEX run of %lld with holes, field after a gap", size)
                << int(Model::File::Hex) << size << qint64(256) << qint64(3) << 5 << given;
        }
    }
    QTest::newRow("field joining the data") << int(Model::File::Raw) << qint64(4096) << qint64(16) << qint64(100) << 0
                                            << QStringList();
    QTest::newRow("HEX files, field after") << int(Model::File::Hex) << (chunk + 7) << (buffer - 1) << (chunk - 3) << 1
                                            << given;
}

void tst_DfuseWriter::images()
{
    QFETCH(int, kind);
    QFETCH(qint64, first);
    QFETCH(qint64, gap);
    QFETCH(qint64, second);
    QFETCH(int, field);
    QFETCH(QStringList, settings);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    Model::Merge merge;
    merge.base = 0x08000000;
    qint64 at = merge.base;
    for (const qint64 size : {first, second}) {
        if (size == 0)
            continue;
        Model::File f;
        f.kind = Model::File::Kind(kind);
        f.address = at;
        f.bytes = Model::content(merge.files.size() + 3, size);
        if (f.kind != Model::File::Raw) {
            f.present = QByteArray(int(size), char(1));
            for (qint64 hole = 40000; hole + 100 < size; hole += 65536)
                f.present.replace(int(hole), 100, QByteArray(100, char(0)));
        }
        merge.files.append(f);
        at += size + gap;
    }
    if (field >= 0) {
        Model::Field f;
        f.kind = QStringLiteral("crc32");
        f.address = merge.files.last().address + merge.files.last().bytes.size() + field;
        merge.fields.append(f);
    }
    const Model::Image image = Model::image(merge);
    QVERIFY(!image.refused);
    const QVector<Layouts::Input> inputs = Layouts::writeInputs(merge, dir.path());
    QCOMPARE(inputs.size(), merge.files.size());

    MergeOptions options;
    options.detectInputs = true;
    options.format = &dfuse();
    options.base = merge.base;
    for (const Model::Field &f : std::as_const(merge.fields)) {
        MergeField parsed;
        QString problem;
        QVERIFY2(parseField(f.option(), &parsed, &problem), qPrintable(problem));
        options.fields.append(parsed);
    }
    for (int k = 0; k + 1 < settings.size(); k += 2) {
        const FormatOption *option = dfuse().option(settings.at(k));
        QVERIFY(option);
        QString error;
        QVERIFY2(option->parse(settings.at(k + 1), options.formatSettings, &error), qPrintable(error));
    }
    QVector<MergeRow> rows;
    for (const Layouts::Input &input : inputs) {
        MergeRow row;
        row.enabled = true;
        row.fileName = input.name;
        row.address = input.own ? MergeAddress::own() : MergeAddress::at(input.address);
        rows.append(row);
    }
    const QString output = dir.filePath(QStringLiteral("out.dfu"));
    QStringList log;
    MergeJob job(rows, output, [&log](const QString &line) { log << line; }, options);
    QVERIFY2(job.check() && job.write(), qPrintable(log.join(QLatin1Char('\n'))));
    const QByteArray written = readAll(output);
    QCOMPARE(qint64(written.size()), job.outputSize());

    // Every element one run of the model's image, none joined or split.
    Readback::Runs got;
    Readback::DfuseFile file;
    QString error;
    QVERIFY2(Readback::readDfuse(written, got, error, &file), qPrintable(error));
    const Readback::Runs want = runsOf(image);
    QCOMPARE(file.elements, want.size());
    const QString wrong = Readback::difference(got, want);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
    const bool named = settings.contains(QStringLiteral("dfu-target-name"));
    QCOMPARE(file.alternate, named ? 3 : 0);
    QCOMPARE(file.named, named);
    QCOMPARE(file.name, named ? QByteArray("Internal Flash") : QByteArray());
    QCOMPARE(file.vendor, quint16(named ? 0x1209 : 0x0483));
    QCOMPARE(file.product, quint16(named ? 0x7A0B : 0xDF11));
    QCOMPARE(file.device, quint16(named ? 0x0200 : 0xFFFF));

    if (dfuSuffix.isEmpty())
        QSKIP("no dfu-suffix (Debian's dfu-util): the suffix was checked by the reader here alone");
    const SuffixCheck check = dfuSuffixCheck(dfuSuffix, output);
    QCOMPARE(check.exitCode, 0);
    QCOMPARE(check.fields.value(QStringLiteral("Vendor ID")), quint32(file.vendor));
    QCOMPARE(check.fields.value(QStringLiteral("Product ID")), quint32(file.product));
    QCOMPARE(check.fields.value(QStringLiteral("BCD device")), quint32(file.device));
    QCOMPARE(check.fields.value(QStringLiteral("BCD DFU")), quint32(0x011A));
    QCOMPARE(check.fields.value(QStringLiteral("Length")), quint32(16));
    // dwCRC is zlib's CRC-32 of all before it, inverted.
    QCOMPARE(check.fields.value(QStringLiteral("CRC")), ~Model::crc32(written.constData(), written.size() - 4));
}

// The options' values read into the format's settings, or refused with a
// line that names the value.
void tst_DfuseWriter::options_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("error"); // empty: taken

    QTest::newRow("alternate 0") << "dfu-alt" << "0" << "";
    QTest::newRow("alternate 255") << "dfu-alt" << "255" << "";
    QTest::newRow("alternate 256") << "dfu-alt" << "256" << "DFU alternate setting 256: give 0 to 255";
    QTest::newRow("alternate -1") << "dfu-alt" << "-1" << "DFU alternate setting -1: give 0 to 255";
    QTest::newRow("alternate in hexadecimal") << "dfu-alt" << "0x1" << "DFU alternate setting 0x1: give 0 to 255";
    QTest::newRow("alternate not a number") << "dfu-alt" << "flash" << "DFU alternate setting flash: give 0 to 255";
    QTest::newRow("name of one") << "dfu-target-name" << "F" << "";
    QTest::newRow("name of 254") << "dfu-target-name" << QString(254, QLatin1Char('n')) << "";
    QTest::newRow("name of 255") << "dfu-target-name" << QString(255, QLatin1Char('n'))
                                 << QStringLiteral("DFU target name %1: give 1 to 254 printable ASCII characters")
                                        .arg(QString(255, QLatin1Char('n')));
    QTest::newRow("empty name") << "dfu-target-name" << ""
                                << "DFU target name : give 1 to 254 printable ASCII characters";
    QTest::newRow("name not ASCII") << "dfu-target-name" << QStringLiteral("Fl\u00e4sh")
                                    << QStringLiteral("DFU target name Fl\u00e4sh: give 1 to 254 printable ASCII characters");
    QTest::newRow("name with a tab") << "dfu-target-name" << "a\tb"
                                     << "DFU target name a\tb: give 1 to 254 printable ASCII characters";
    for (const char *option : {"dfu-vid", "dfu-pid", "dfu-bcd"}) {
        QTest::addRow("%s 0", option) << option << "0" << "";
        QTest::addRow("%s FFFF", option) << option << "FFFF" << "";
        QTest::addRow("%s 0xffff", option) << option << "0xffff" << "";
        QTest::addRow("%s 10000", option) << option << "10000"
                                          << "DFU suffix number 10000: give a hexadecimal number from 0 to FFFF";
        QTest::addRow("%s not hexadecimal", option) << option << "12g4"
                                                    << "DFU suffix number 12g4: give a hexadecimal number from 0 to FFFF";
    }
}

void tst_DfuseWriter::options()
{
    QFETCH(QString, option);
    QFETCH(QString, value);
    QFETCH(QString, error);

    const FormatOption *o = dfuse().option(option);
    QVERIFY(o);
    FormatSettings settings;
    QString said;
    QCOMPARE(o->parse(value, settings, &said), error.isEmpty());
    QCOMPARE(said, error);
}

// As a build script gives them: the output's name chooses the format, the
// options land in the file, and an option of the format with another one is
// a usage error naming both.
void tst_DfuseWriter::commandLine_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("said"); // on standard error, where it fails
    QTest::addColumn<int>("alternate");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<int>("vendor");

    QTest::newRow("by the name, defaults") << QStringList{"-o", "out.dfu"} << 0 << "" << 0 << QByteArray() << 0x0483;
    QTest::newRow("by the name, options")
        << QStringList{"-o", "out.DFU", "--dfu-alt", "1", "--dfu-target-name", "SPI Flash", "--dfu-vid", "0x1209"} << 0
        << "" << 1 << QByteArray("SPI Flash") << 0x1209;
    QTest::newRow("by --format")
        << QStringList{"--dfu-target-name", "ST", "--format", "dfuse", "-o", "out.bin"} << 0 << "" << 0
        << QByteArray("ST") << 0x0483;
    QTest::newRow("with hex") << QStringList{"--dfu-alt", "1", "-o", "out.hex"} << 2
                              << "--dfu-alt applies to dfuse output, not to hex" << 0 << QByteArray() << 0;
    QTest::newRow("a wrong value") << QStringList{"-o", "out.dfu", "--dfu-pid", "12345"} << 2
                                   << "DFU suffix number 12345: give a hexadecimal number from 0 to FFFF" << 0
                                   << QByteArray() << 0;
}

void tst_DfuseWriter::commandLine()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, said);
    QFETCH(int, alternate);
    QFETCH(QByteArray, name);
    QFETCH(int, vendor);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray data = Model::content(9, 1000);
    QFile input(dir.filePath(QStringLiteral("a.bin")));
    QVERIFY(input.open(QIODevice::WriteOnly) && input.write(data) == data.size());
    input.close();
    const Run run = runCli(args + QStringList{"8000000", "a.bin"}, dir.path());
    QVERIFY2(run.exitCode == exitCode, qPrintable(run.err));
    const QString output = dir.filePath(args.at(args.indexOf(QStringLiteral("-o")) + 1));
    if (exitCode != 0) {
        QVERIFY2(run.err.contains(said), qPrintable(run.err));
        QVERIFY(!QFileInfo::exists(output));
        return;
    }
    Readback::Runs got;
    Readback::DfuseFile file;
    QString error;
    QVERIFY2(Readback::readDfuse(readAll(output), got, error, &file), qPrintable(error));
    QCOMPARE(got.size(), 1);
    QCOMPARE(got.first().address, qint64(0x8000000));
    QCOMPARE(got.first().bytes, data);
    QCOMPARE(file.alternate, alternate);
    QCOMPARE(file.name, name);
    QCOMPARE(file.named, !name.isEmpty());
    QCOMPARE(int(file.vendor), vendor);
}

QTEST_GUILESS_MAIN(tst_DfuseWriter)
#include "tst_dfusewriter.moc"
