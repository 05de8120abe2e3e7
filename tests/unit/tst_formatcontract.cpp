// What every registered output format promises, held for each by being
// registered: merges drawn at random written in it, the length it claims
// before writing is the length written, and the file read back holds the
// image a plain model of the merge gives: by a reader written from the
// format's description where the tests have one, else by the program's own
// reader of the format, as a merge of the file at its own addresses reads it.

#include "FormatReaders.h"
#include "ImageModel.h"
#include "Layouts.h"
#include "MergeJob.h"
#include "fields/FieldSpec.h"
#include "input/InputReader.h"
#include "writers/ImageWriter.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

namespace {

QByteArray readAll(const QString &name)
{
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The merge's rows and options, as a front end would hand them over.
MergeOptions optionsOf(const Model::Merge &merge, const OutputFormatInfo &format)
{
    MergeOptions options;
    options.detectInputs = true;
    options.format = &format;
    options.base = merge.base;
    options.fill = merge.fill;
    options.padTo = merge.padTo;
    options.overlap = merge.overlap == Model::Overlap::Later     ? OverlapPolicy::LaterWins
                      : merge.overlap == Model::Overlap::Earlier ? OverlapPolicy::EarlierWins
                                                                 : OverlapPolicy::Refuse;
    for (const Model::Range &r : merge.crop)
        options.crop.append({r.from, r.to});
    for (const Model::Range &r : merge.exclude)
        options.exclude.append({r.from, r.to});
    for (const Model::Field &f : merge.fields) {
        MergeField field;
        QString problem;
        if (parseField(f.option(), &field, &problem))
            options.fields.append(field);
    }
    return options;
}

QVector<MergeRow> rowsOf(const QVector<Layouts::Input> &inputs)
{
    QVector<MergeRow> rows;
    for (const Layouts::Input &input : inputs) {
        MergeRow row;
        row.enabled = true;
        row.fileName = input.name;
        row.address = input.own ? MergeAddress::own() : MergeAddress::at(input.address);
        rows.append(row);
    }
    return rows;
}

} // namespace

class tst_FormatContract : public QObject
{
    Q_OBJECT

private slots:
    void promisedAndReadBack_data();
    void promisedAndReadBack();
};

void tst_FormatContract::promisedAndReadBack_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<quint32>("seed");

    QVERIFY(!OutputFormats::all().isEmpty());
    for (const OutputFormatInfo *format : OutputFormats::all()) {
        for (quint32 seed = 1; seed <= 12; ++seed)
            QTest::addRow("%s, layout %u", format->name, seed) << QString::fromLatin1(format->name) << seed;
    }
}

void tst_FormatContract::promisedAndReadBack()
{
    QFETCH(QString, format);
    QFETCH(quint32, seed);

    const OutputFormatInfo &info = *OutputFormats::find(format);
    QRandomGenerator random(seed * 7919u + quint32(qHash(format)));
    const Layouts::Pick pick = [&random](qint64 n) { return n <= 1 ? 0 : qint64(random.bounded(quint32(n))); };
    Layouts::Shape shape;
    shape.files = 4;
    shape.largest = 70000; // past a 64 KiB segment and the buffers
    shape.budget = qint64(1) << 20;
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // Drawn again while two rows give one address, which a merge refuses
    // before anything is read and the model, a picture of the image, does
    // not know.
    Model::Merge merge;
    QVector<Layouts::Input> inputs;
    for (bool twice = true; twice;) {
        merge = Layouts::randomMerge(pick, shape);
        inputs = Layouts::writeInputs(merge, dir.path());
        QVERIFY(!inputs.isEmpty());
        QSet<qint64> given;
        twice = false;
        for (const Layouts::Input &input : inputs) {
            twice = twice || (!input.own && given.contains(input.address));
            if (!input.own)
                given.insert(input.address);
        }
    }
    if (!info.takesPadding())
        merge.padTo = 0;
    const Model::Image image = Model::image(merge);
    const QString output = dir.filePath(QStringLiteral("out"));
    QStringList log;
    MergeJob job(rowsOf(inputs), output, [&log](const QString &line) { log << line; }, optionsOf(merge, info));
    const bool merged = job.check() && job.write();
    QVERIFY2(merged == !image.refused, qPrintable(log.join(QLatin1Char('\n'))));
    if (image.refused)
        return; // refused as the model says: nothing written to hold to a promise

    // The length promised before the first byte is the length written.
    QCOMPARE(QFileInfo(output).size(), job.outputSize());
    const QByteArray written = readAll(output);

    Readback::Runs got;
    QString error;
    const int wordBits = 8; // the formats' own settings at their defaults
    if (Readback::read(format, written, merge.base, wordBits, QStringLiteral("mergefile_image"), got, error)) {
        const QString wrong = Readback::difference(got, Readback::expected(image, format, wordBits, merge.fill));
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
        return;
    }
    QVERIFY2(error.startsWith(QLatin1String("no reader")), qPrintable(error)); // an oracle that refused the file

    // No reader here: its own, as a merge reads the file at its own
    // addresses into the flat image, which must hold the model's bytes
    // wherever a file or field gave one (and the fill elsewhere).
    if (!InputReader::find(format))
        QSKIP("no reader of this format, neither here nor in the program: only its length is held");
    MergeOptions back;
    back.detectInputs = true;
    back.base = qMin(merge.base, image.base);
    back.fill = merge.fill;
    MergeRow row;
    row.enabled = true;
    row.fileName = output;
    row.address = MergeAddress::own();
    const QString flat = dir.filePath(QStringLiteral("back.bin"));
    MergeJob reread({row}, flat, [](const QString &) {}, back);
    QVERIFY2(reread.check() && reread.write(), qPrintable(log.join(QLatin1Char('\n'))));
    const QByteArray bytes = readAll(flat);
    const qint64 skip = image.base - back.base;
    int lastPresent = -1;
    for (int i = 0; i < image.present.size(); ++i) {
        if (image.present.at(i))
            lastPresent = i;
    }
    QVERIFY(bytes.size() - skip > lastPresent);
    for (int i = 0; i < image.bytes.size() && skip + i < bytes.size(); ++i) {
        if (bytes.at(int(skip + i)) != image.bytes.at(i))
            QFAIL(qPrintable(QStringLiteral("read back 0x%1 at 0x%2, where the model has 0x%3")
                                 .arg(quint8(bytes.at(int(skip + i))), 2, 16, QLatin1Char('0'))
                                 .arg(image.base + i, 0, 16)
                                 .arg(quint8(image.bytes.at(i)), 2, 16, QLatin1Char('0'))));
    }
}

QTEST_GUILESS_MAIN(tst_FormatContract)
#include "tst_formatcontract.moc"
