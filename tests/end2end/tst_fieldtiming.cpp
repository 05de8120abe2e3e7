// When a field is worked out, end to end: every kind of field before, inside
// and after the data it covers, written as the flat image (its bytes as they
// stream by, or the output's own hash) and as records (patched after the
// data, or worked out first where the image is hashed in order), at sizes
// on and around the 1 MiB chunks the image is walked in. Each output is read
// back by a reader written here and compared byte for byte with the plain
// model of the image, whose fields are summed by zlib's and SHA-256's
// published definitions.

#include "FormatReaders.h"
#include "Files.h"
#include "ImageModel.h"
#include "MergeJob.h"
#include "Rows.h"
#include "TempFolder.h"
#include "fields/FieldSpec.h"
#include "writers/ImageWriter.h"

#include <QTest>

namespace {

constexpr qint64 chunk = qint64(1) << 20;
constexpr qint64 base = 0x1000;
constexpr qint64 headerRoom = 0x100; // before the first file, for a header field
constexpr qint64 gap = 0x40;         // between the files, room for any field
constexpr qint64 tail = 0x3000;      // the second file's size

enum class Place { Before, Inside, After, AfterPart };

} // namespace

class tst_FieldTiming : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void modelAgreesWithDefinitions();
    void kindsPlacesFormats_data();
    void kindsPlacesFormats();

private:
    QScopedPointer<CurrentTempDir> dir;
    QScopedPointer<ScopedTempFolder> tempFolder;
};

void tst_FieldTiming::init()
{
    dir.reset(new CurrentTempDir);
    QVERIFY(dir->isValid());
    tempFolder.reset(new ScopedTempFolder(dir->path()));
}

void tst_FieldTiming::cleanup()
{
    tempFolder.reset();
    dir.reset();
}

// The model's sums against their published check values over "123456789".
void tst_FieldTiming::modelAgreesWithDefinitions()
{
    Model::Field field;
    field.bigEndian = true;
    field.kind = QStringLiteral("crc32");
    QCOMPARE(Model::fieldValue(field, "123456789"), QByteArray::fromHex("cbf43926"));
    field.kind = QStringLiteral("sum8");
    QCOMPARE(Model::fieldValue(field, "123456789"), QByteArray::fromHex("dd"));
    field.kind = QStringLiteral("length");
    QCOMPARE(Model::fieldValue(field, "123456789"), QByteArray::fromHex("00000009"));
    field.kind = QStringLiteral("sha256");
    QCOMPARE(Model::fieldValue(field, "abc").toHex(),
             QByteArray("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
}

void tst_FieldTiming::kindsPlacesFormats_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("bigEndian");
    QTest::addColumn<int>("place");
    QTest::addColumn<QString>("format");
    QTest::addColumn<bool>("hashed");  // the output's SHA-256 taken as it is written
    QTest::addColumn<bool>("digests"); // the flat image hashed in address order, for the map
    QTest::addColumn<qint64>("end");   // where the data ends, from the base
    QTest::addColumn<QString>("timing"); // B: before the data, W: as written, A: after the data

    struct Output
    {
        const char *name;
        const char *format;
        bool hashed;
        bool digests;
        const char *notAfter; // the timing of a field that covers bytes after it
    };
    // The flat image has no record to come back to: a field with bytes of its
    // range after it is worked out first. Records may come in any order, but
    // not where the flat image is hashed in order as it goes.
    const Output outputs[] = {
        {"flat", "bin", false, false, "B"},
        {"flat, hashed", "bin", true, true, "B"},
        {"Intel HEX", "hex", false, false, "A"},
        {"Intel HEX, hashed", "hex", true, false, "A"},
        {"S-records, image hashed in order", "srec", false, true, "B"},
    };
    const struct
    {
        const char *name;
        Place place;
    } places[] = {
        {"a header before the files", Place::Before},
        {"between the files, over the whole image", Place::Inside},
        {"after the data, over all before it", Place::After},
        {"after the data, over the files only", Place::AfterPart},
    };
    const struct
    {
        const char *kind;
        bool bigEndian;
    } kinds[] = {{"crc32", false}, {"sum8", false}, {"length", true}, {"sha256", false}};
    // The data ends a chunk and a byte either way of it (or of four chunks,
    // the output hash's ring) from the base.
    const qint64 ends[] = {chunk - 1, chunk, chunk + 1, 2 * chunk - 1, 2 * chunk + 1, 4 * chunk + 1};
    int n = 0;
    for (const auto &k : kinds) {
        for (const auto &p : places) {
            for (const Output &o : outputs) {
                const qint64 end = ends[(n + n / 5) % 5]; // every size with every output
                ++n;
                const bool coversLater = p.place == Place::Before || p.place == Place::Inside;
                QTest::addRow("%s%s, %s, %s, data to %llx", k.kind, k.bigEndian ? " be" : "", p.name, o.name, end)
                    << k.kind << k.bigEndian << int(p.place) << o.format << o.hashed << o.digests << end
                    << (coversLater ? o.notAfter : "W");
            }
        }
    }
    // A SHA-256 of megabytes: on a second thread when worked out on its own,
    // the output's hash so far when it is of all the flat image before it.
    for (const auto &p : places) {
        for (const Output &o : outputs) {
            const bool coversLater = p.place == Place::Before || p.place == Place::Inside;
            QTest::addRow("sha256, %s, %s, data to %llx", p.name, o.name, ends[5])
                << "sha256" << false << int(p.place) << o.format << o.hashed << o.digests << ends[5]
                << (coversLater ? o.notAfter : "W");
        }
    }
}

// Two files (the first of about the data's size, the second of 12 KiB after a
// small gap) and one field where the row puts it: the timing the merge
// chose, and the output holding the model's image, field included.
void tst_FieldTiming::kindsPlacesFormats()
{
    QFETCH(QString, kind);
    QFETCH(bool, bigEndian);
    QFETCH(int, place);
    QFETCH(QString, format);
    QFETCH(bool, hashed);
    QFETCH(bool, digests);
    QFETCH(qint64, end);
    QFETCH(QString, timing);

    Model::Merge merge;
    merge.base = base;
    Model::File first;
    first.address = base + headerRoom;
    first.bytes = Model::content(1, end - headerRoom - gap - tail);
    Model::File second;
    second.address = first.address + first.bytes.size() + gap;
    second.bytes = Model::content(2, tail);
    merge.files = {first, second};
    QCOMPARE(second.address + tail, base + end);

    Model::Field field;
    field.kind = kind;
    field.bigEndian = bigEndian;
    switch (Place(place)) {
    case Place::Before:
        field.address = base;
        field.wholeImage = false;
        field.range = {first.address, base + end};
        break;
    case Place::Inside:
        field.address = first.address + first.bytes.size();
        break;
    case Place::After:
        field.address = base + end;
        break;
    case Place::AfterPart:
        field.address = base + end;
        field.wholeImage = false;
        field.range = {first.address, base + end};
        break;
    }
    merge.fields = {field};
    const Model::Image image = Model::image(merge);
    QVERIFY(!image.refused);

    QVERIFY(writeFile(QStringLiteral("first.bin"), first.bytes) && writeFile(QStringLiteral("second.bin"), second.bytes));
    MergeOptions options = hashing(hashed);
    options.computeDigests = digests;
    options.format = OutputFormats::find(format);
    QVERIFY(options.format);
    MergeField given;
    QString problem;
    QVERIFY2(parseField(field.option(), &given, &problem), qPrintable(problem));
    options.fields = {given};
    QStringList log;
    const QString output = QStringLiteral("out.") + format;
    MergeJob job({windowRow(QStringLiteral("first.bin"), QString::number(first.address, 16)),
                  windowRow(QStringLiteral("second.bin"), QString::number(second.address, 16))},
                 output, [&log](const QString &line) { log << line; }, options);
    QVERIFY2(job.run(), qPrintable(log.join(QLatin1Char('\n'))));
    QCOMPARE(log, QStringList({"Begin to merge...", "Merge success!"}));

    const FieldTiming chosen = job.layout().fields.at(0).timing;
    QCOMPARE(QString(QLatin1Char(chosen == FieldTiming::BeforeWriting ? 'B' : chosen == FieldTiming::AsWritten ? 'W' : 'A')),
             timing);
    QCOMPARE(job.layout().fields.at(0).value, image.bytes.mid(int(field.address - base), field.size()));

    const QByteArray written = readFile(output);
    Readback::Runs got;
    QString error;
    QVERIFY2(Readback::read(format, written, base, 8, QString(), got, error), qPrintable(error));
    const QString wrong = Readback::difference(got, Readback::expected(image, format, 8, merge.fill));
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
    if (hashed)
        QCOMPARE(job.outputSha256().toHex(), QCryptographicHash::hash(written, QCryptographicHash::Sha256).toHex());
    if (digests)
        QCOMPARE(job.digests().image.sha256, QCryptographicHash::hash(image.bytes, QCryptographicHash::Sha256).toHex());
}

QTEST_GUILESS_MAIN(tst_FieldTiming)
#include "tst_fieldtiming.moc"
