// The output writers through their registry: the exact text of small images,
// worked out here record by record from the formats' definitions, and the
// length each writer promises before it writes, which must be what it writes.

#include "FormatReaders.h"
#include "Records.h"
#include "TempFolder.h"
#include "input/Sources.h"
#include "stream/ImageStreamer.h"
#include "writers/ImageWriter.h"

#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

namespace {

class BufferSink : public ByteSink
{
public:
    bool write(const char *data, qint64 size) override
    {
        bytes.append(data, int(size));
        return true;
    }
    QByteArray bytes;
};

// An image made of files given as bytes at addresses, kept in the store as
// decoded records are.
struct Image
{
    SourceSet sources{[](const QString &) {}};
    MergeLayout layout;

    // A file of one or more runs: {address, bytes}.
    void addFile(const QVector<QPair<qint64, QByteArray>> &runs)
    {
        MergePlacement p;
        p.fileName = QStringLiteral("file%1").arg(layout.placements.size() + 1);
        for (const auto &run : runs) {
            MergeSegment s;
            s.address = run.first;
            s.size = run.second.size();
            s.dataOffset = sources.store().end();
            s.inStore = true;
            QVERIFY(sources.store().append(run.second.constData(), run.second.size()));
            p.segments.append(s);
        }
        p.address = p.segments.first().address;
        p.end = p.segments.last().address + p.segments.last().size;
        layout.placements.append(p);
    }
    // A field already worked out: its bytes at an address.
    void addField(qint64 address, const QByteArray &value)
    {
        MergeField field;
        field.address = address;
        field.size = value.size();
        field.value = value;
        layout.fields.append(field);
    }
    void finish(qint64 base, qint64 padTo = 0)
    {
        layout.base = base;
        qint64 end = base;
        for (int f = 0; f < layout.placements.size(); ++f) {
            const MergePlacement &p = layout.placements.at(f);
            for (int s = 0; s < p.segments.size(); ++s)
                layout.pieces.append(MergePiece{f, s});
            end = qMax(end, p.end);
        }
        for (int k = 0; k < layout.fields.size(); ++k) {
            layout.pieces.append(MergePiece::ofField(k));
            end = qMax(end, layout.fields.at(k).end());
        }
        std::stable_sort(layout.pieces.begin(), layout.pieces.end(),
                         [this](const MergePiece &a, const MergePiece &b) { return layout.address(a) < layout.address(b); });
        layout.trailingFill = qMax<qint64>(0, padTo - (end - base));
        layout.imageSize = end - base + layout.trailingFill;
    }
    QByteArray write(const QString &format, WriterSettings settings, qint64 *promised)
    {
        BufferSink sink;
        settings.layout = &layout;
        const OutputFormatInfo &info = *OutputFormats::find(format);
        QString error;
        if (const FormatOption *name = info.option(QStringLiteral("c-name")))
            name->parse(QStringLiteral("image"), settings.own, &error);
        const std::unique_ptr<ImageWriter> writer = info.make(sink, settings);
        *promised = writer->outputSize(layout);
        ImageStreamer streamer(layout, sources);
        if (streamer.walkAll({writer.get()}, false) != ImageStreamer::Done || !writer->finish())
            return "failed";
        return sink.bytes;
    }
};

// The fill byte is the layout's.
WriterSettings settings(int recordSize)
{
    WriterSettings s;
    s.recordSize = recordSize;
    return s;
}

QByteArray upper(int high)
{
    return hexRecord(4, 0, QByteArray(1, char(high >> 8)) + char(high));
}

QByteArray s3(quint32 address, const QByteArray &data)
{
    return sRecord(3, address, 4, data);
}

const QByteArray hexEnd(":00000001FF\n");
// A header that names the program, and an end record with no entry point.
const QByteArray srecStart = sRecord(0, 0, 2, "MergeFile");
const QByteArray srecEnd = sRecord(7, 0, 4, {});

using Runs = QVector<QPair<qint64, QByteArray>>;
using Files = QVector<Runs>;

} // namespace

Q_DECLARE_METATYPE(Files)

class tst_Writers : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void exactText_data();
    void exactText();
    void promisedLength_data();
    void promisedLength();
    void unitsAroundGaps_data();
    void unitsAroundGaps();

private:
    QScopedPointer<QTemporaryDir> temp;
    QScopedPointer<ScopedTempFolder> tempFolder;
};

void tst_Writers::init()
{
    temp.reset(new QTemporaryDir);
    QVERIFY(temp->isValid());
    tempFolder.reset(new ScopedTempFolder(temp->path()));
}

void tst_Writers::cleanup()
{
    tempFolder.reset();
    temp.reset();
}

void tst_Writers::exactText_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<Files>("files");
    QTest::addColumn<qint64>("base");
    QTest::addColumn<qint64>("padTo");
    QTest::addColumn<int>("recordSize");
    QTest::addColumn<char>("fill");
    QTest::addColumn<QByteArray>("text");

    const QByteArray abc("\x01\x02\x03");
    QTest::newRow("bin: leading fill, a gap, padding")
        << "bin" << Files{{{0x1002, "AB"}}, {{0x1006, "C"}}} << qint64(0x1000) << qint64(10) << 16 << char(0xFF)
        << QByteArray("\xFF\xFF" "AB" "\xFF\xFF" "C" "\xFF\xFF\xFF");
    QTest::newRow("bin: a fill byte of its own")
        << "bin" << Files{{{0x11, "x"}, {0x13, "y"}}} << qint64(0x10) << qint64(0) << 16 << char(0)
        << QByteArray("\0x\0y", 4);
    QTest::newRow("hex: one short file") << "hex" << Files{{{0x1000, abc}}} << qint64(0x1000) << qint64(0) << 16
                                         << char(0xFF) << upper(0) + hexRecord(0, 0x1000, abc) + hexEnd;
    QTest::newRow("hex: a file across 64 KiB")
        << "hex" << Files{{{0x1FFFE, "wxyz"}}} << qint64(0x1000) << qint64(0) << 16 << char(0xFF)
        << upper(1) + hexRecord(0, 0xFFFE, "wx") + upper(2) + hexRecord(0, 0, "yz") + hexEnd;
    QTest::newRow("hex: records of two bytes")
        << "hex" << Files{{{0x1000, "abcde"}}} << qint64(0x1000) << qint64(0) << 2 << char(0xFF)
        << upper(0) + hexRecord(0, 0x1000, "ab") + hexRecord(0, 0x1002, "cd") + hexRecord(0, 0x1004, "e") + hexEnd;
    QTest::newRow("hex: files that touch keep records of their own")
        << "hex" << Files{{{0x1000, "ab"}}, {{0x1002, "cd"}}} << qint64(0x1000) << qint64(0) << 16 << char(0xFF)
        << upper(0) + hexRecord(0, 0x1000, "ab") + hexRecord(0, 0x1002, "cd") + hexEnd;
    QTest::newRow("hex: runs of one file that touch go on")
        << "hex" << Files{{{0x1000, "ab"}, {0x1002, "cd"}}} << qint64(0x1000) << qint64(0) << 16 << char(0xFF)
        << upper(0) + hexRecord(0, 0x1000, "abcd") + hexEnd;
    QTest::newRow("hex: a hole in a file is left out")
        << "hex" << Files{{{0x1000, "ab"}, {0x1010, "cd"}}} << qint64(0x1000) << qint64(0) << 16 << char(0xFF)
        << upper(0) + hexRecord(0, 0x1000, "ab") + hexRecord(0, 0x1010, "cd") + hexEnd;
    QTest::newRow("hex: top of the address range")
        << "hex" << Files{{{0xFFFFFFFE, "zz"}}} << qint64(0xFFFFFF00) << qint64(0) << 255 << char(0xFF)
        << upper(0xFFFF) + hexRecord(0, 0xFFFE, "zz") + hexEnd;
    QTest::newRow("srec: one file") << "srec" << Files{{{0x08000000, abc}}} << qint64(0x08000000) << qint64(0) << 16
                                    << char(0xFF) << srecStart + s3(0x08000000, abc) + srecEnd;
    QTest::newRow("srec: records of three bytes, two files")
        << "srec" << Files{{{0x1000, "abcd"}}, {{0x2000, "e"}}} << qint64(0x1000) << qint64(0) << 3 << char(0xFF)
        << srecStart + s3(0x1000, "abc") + s3(0x1003, "d") + s3(0x2000, "e") + srecEnd;
}

void tst_Writers::exactText()
{
    QFETCH(QString, format);
    QFETCH(Files, files);
    QFETCH(qint64, base);
    QFETCH(qint64, padTo);
    QFETCH(int, recordSize);
    QFETCH(char, fill);
    QFETCH(QByteArray, text);

    Image image;
    for (const Runs &runs : files)
        image.addFile(runs);
    image.finish(base, padTo);
    image.layout.fill = fill;
    qint64 promised = -1;
    const QByteArray written = image.write(format, settings(recordSize), &promised);
    QCOMPARE(written, text);
    QCOMPARE(promised, qint64(text.size()));
}

void tst_Writers::promisedLength_data()
{
    QTest::addColumn<Files>("files");
    QTest::addColumn<int>("recordSize");

    QTest::newRow("records end where 64 KiB do") << Files{{{0x1000, QByteArray(0x30000, 'a')}}} << 16;
    QTest::newRow("odd record size, many files")
        << Files{{{0x1000, QByteArray(100, 'a')}}, {{0x1064, QByteArray(7, 'b')}}, {{0x20000, QByteArray(300, 'c')}}} << 13;
    QTest::newRow("largest records") << Files{{{0x1001, QByteArray(5000, 'x')}}} << 250;
    QTest::newRow("one-byte records") << Files{{{0xFFF0, QByteArray(40, 'y')}}} << 1;
    QTest::newRow("sparse file") << Files{{{0x1000, "a"}, {0x1002, "b"}, {0x30000, "c"}, {0x30001, "d"}}} << 16;
    // Fields are runs of their own, even side by side (given here as files
    // whose first run at 0xF000 and later become fields).
    QTest::newRow("fields side by side") << Files{{{0x1000, "ab"}}, {{0xF000, "1234"}}, {{0xF004, "5678"}}} << 16;
    QTest::newRow("fields side by side, one-byte records") << Files{{{0x1000, "ab"}}, {{0xF000, "1234"}}, {{0xF004, "5678"}}} << 1;
}

// Disk room is claimed for the length a writer promises: it must be exact,
// for every format.
void tst_Writers::promisedLength()
{
    QFETCH(Files, files);
    QFETCH(int, recordSize);

    for (const QString &format : OutputFormats::names()) {
        Image image;
        for (const Runs &runs : files) {
            if (runs.first().first >= 0xF000)
                image.addField(runs.first().first, runs.first().second);
            else
                image.addFile(runs);
        }
        image.finish(0x1000);
        const OutputFormatInfo &info = *OutputFormats::find(format);
        const int size = info.maxRecordSize > 0 ? qMin(recordSize, info.maxRecordSize) : recordSize;
        qint64 promised = -1;
        const QByteArray written = image.write(format, settings(size), &promised);
        QVERIFY2(written != "failed", qPrintable(format));
        QCOMPARE(promised, qint64(written.size()));
    }
}

void tst_Writers::unitsAroundGaps_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("wordBits");
    QTest::addColumn<Files>("files");

    const QVector<QPair<QString, int>> formats{{"uf2", 0}, {"vmem", 16}, {"vmem", 32}, {"vmem", 64}, {"ti-txt", 0}};
    for (const auto &f : formats) {
        const int unit = f.first == QLatin1String("uf2") ? 256 : f.second ? f.second / 8 : 1;
        const QByteArray name = f.first.toLatin1() + (f.second ? QByteArray::number(f.second) : QByteArray());
        QTest::addRow("%s: 11 22, then 33 three bytes on", name.constData())
            << f.first << f.second << Files{{{0x1000, "\x11\x22"}}, {{0x1005, "\x33"}}};
        // A unit gathered before, so that bytes left over from it would show
        // in the gap of the next one.
        for (const int gap : {1, unit - 1, unit, unit + 1}) {
            for (const int size : {1, unit - 1, unit, unit + 1}) {
                QTest::addRow("%s: a gap of %d after %d bytes", name.constData(), gap, size)
                    << f.first << f.second
                    << Files{{{0x1000, QByteArray(unit + size, 'a')}},
                             {{0x1000 + unit + size + gap, QByteArray(size, 'b')}},
                             {{0x1000 + unit + 2 * size + 2 * gap, QByteArray(unit, 'c')}}};
            }
        }
        QTest::addRow("%s: one file's runs with holes inside a unit", name.constData())
            << f.first << f.second << Files{{{0x1000, "xyz"}, {0x1004, "u"}, {0x1007, "vw"}, {0x1200, "t"}}};
    }
}

// Units that hold both data and gaps (a UF2 block, a memory word) are the
// image's bytes there with the fill byte in the gaps, however the bytes come:
// read back by a reader written from the formats' descriptions.
void tst_Writers::unitsAroundGaps()
{
    QFETCH(QString, format);
    QFETCH(int, wordBits);
    QFETCH(Files, files);

    Model::Merge merge;
    Image image;
    for (const Runs &runs : files) {
        image.addFile(runs);
        for (const auto &run : runs) {
            Model::File file;
            file.address = run.first;
            file.bytes = run.second;
            merge.files.append(file);
        }
    }
    image.finish(0x1000);
    WriterSettings s = settings(16);
    QString problem;
    if (wordBits)
        QVERIFY(OutputFormats::find(format)->option(QStringLiteral("word-bits"))->parse(QString::number(wordBits), s.own, &problem));
    const int bits = wordBits ? wordBits : 8;
    qint64 promised = -1;
    const QByteArray written = image.write(format, s, &promised);
    QCOMPARE(promised, qint64(written.size()));
    Readback::Runs got;
    QString error;
    QVERIFY2(Readback::read(format, written, 0x1000, bits, QString(), got, error), qPrintable(error));
    const QString wrong = Readback::difference(got, Readback::expected(Model::image(merge), format, bits, char(0xFF)));
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
}

QTEST_GUILESS_MAIN(tst_Writers)
#include "tst_writers.moc"
