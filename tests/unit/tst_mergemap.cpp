// The map, written as it is made, against the same map built whole by Qt's
// own JSON writer: the same bytes, names of every awkward kind included.

#include "fields/FieldKind.h"
#include "input/InputReader.h"
#include "report/MergeMap.h"
#include "writers/ImageWriter.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

namespace {

class BufferSink : public ByteSink
{
public:
    bool write(const char *data, qint64 size) override
    {
        bytes.append(data, int(size));
        return ++writes <= failAfter;
    }
    QByteArray bytes;
    int writes = 0;
    int failAfter = 1 << 30;
};

MergeSegment segment(qint64 address, quint32 size)
{
    MergeSegment s;
    s.address = address;
    s.size = size;
    return s;
}

// A layout of two files, the second a HEX file of runs that touch and runs
// that do not, and two fields; each file named name.
MergeLayout layoutNamed(const QString &name, int runs)
{
    MergeLayout layout;
    MergePlacement raw;
    raw.row = 2;
    raw.fileName = name;
    raw.format = &InputReader::raw();
    raw.address = 0x1000;
    raw.size = 16;
    raw.end = 0x1010;
    raw.fillAfter = 0xF0;
    raw.slotSize = 0x80;
    raw.segments = {segment(0x1000, 16)};
    MergePlacement hex;
    hex.row = 1;
    hex.fileName = name + QStringLiteral(".hex");
    hex.format = InputReader::find(QStringLiteral("hex"));
    hex.address = 0x1100;
    hex.shift = -0x07FFEF00;
    hex.hasStartAddress = true;
    hex.startAddress = 0x08000189;
    for (int i = 0; i < runs; ++i) {
        hex.segments.append(segment(0x1100 + 0x40 * i, 0x10));
        hex.segments.append(segment(0x1110 + 0x40 * i, 0x08)); // touches the one before
    }
    hex.end = hex.segments.last().end();
    hex.size = runs * 0x18;
    layout.placements = {raw, hex};
    MergeField crc;
    crc.text = QStringLiteral("crc32@%1,be").arg(name);
    crc.kind = FieldKinds::find(QStringLiteral("crc32"));
    crc.size = 4;
    crc.address = 0x10F0;
    crc.from = 0x1000;
    crc.to = 0x10F0;
    crc.wholeImage = false;
    crc.bigEndian = true;
    crc.value = QByteArray::fromHex("cbf43926");
    MergeField sha = crc;
    sha.text = QStringLiteral("sha256@2000");
    sha.kind = FieldKinds::find(QStringLiteral("sha256"));
    sha.size = 32;
    sha.address = 0x2000;
    sha.wholeImage = true;
    sha.bigEndian = false;
    sha.value = QByteArray(32, char(0xA5));
    layout.fields = {crc, sha};
    layout.leadingFill = 0;
    layout.imageSize = 0x1020;
    layout.trailingFill = 0;
    layout.sectorSize = 0x800;
    layout.sectorsTouched = 3;
    return layout;
}

// The same map, made the way it was made before it was written as it goes:
// whole, by QJsonDocument, whose objects keep their keys in order.
QByteArray builtWhole(const OutputFormatInfo &format, const MergeLayout &layout, const MergeDigests &digests,
                      const MergeMapOutput &output)
{
    QJsonObject image{{"crc32", QString::fromLatin1(digests.image.crc32)},
                      {"sha256", QString::fromLatin1(digests.image.sha256)},
                      {"start", double(layout.base)},
                      {"length", double(layout.imageSize)},
                      {"leadingFill", double(layout.leadingFill)},
                      {"fill", double(quint8(layout.fill))},
                      {"trailingFill", double(layout.trailingFill)}};
    if (layout.sectorSize > 0) {
        image.insert("sectorSize", double(layout.sectorSize));
        image.insert("sectorsTouched", double(layout.sectorsTouched));
    }
    QJsonArray files;
    for (int k = 0; k < layout.placements.size(); ++k) {
        const MergePlacement &p = layout.placements.at(k);
        QJsonArray segments;
        for (MergeRanges r(p); r.next();)
            segments.append(QJsonObject{{"start", double(r.start)}, {"end", double(r.end)}, {"size", double(r.end - r.start)}});
        QJsonObject file{{"crc32", QString::fromLatin1(digests.files.value(k).crc32)},
                         {"sha256", QString::fromLatin1(digests.files.value(k).sha256)},
                         {"row", p.row},
                         {"name", p.fileName},
                         {"start", double(p.address)},
                         {"end", double(p.end)},
                         {"size", double(p.size)},
                         {"fillAfter", double(p.fillAfter)},
                         {"format", QString(p.format->name())},
                         {"shift", double(p.shift)},
                         {"segments", segments}};
        if (p.hasStartAddress)
            file.insert("startAddress", double(p.startAddress));
        // A raw file's first byte: where its first segment lies, less that
        // segment's offset in the file.
        if (p.isRaw() && !p.segments.isEmpty() && !p.segments.first().inStore)
            file.insert("origin", double(p.segments.first().address - p.segments.first().dataOffset));
        if (p.slotSize > 0)
            file.insert("slot", QJsonObject{{"size", double(p.slotSize)}, {"left", double(p.slotSize - (p.end - p.address))}});
        files.append(file);
    }
    QJsonObject map{{"format", QString::fromLatin1(format.name)}, {"image", image}, {"files", files}};
    if (output.length >= 0) {
        QJsonObject written{{"name", output.name}, {"length", double(output.length)}};
        if (!output.sha256.isEmpty())
            written.insert("sha256", QString::fromLatin1(output.sha256));
        map.insert("output", written);
    }
    QJsonArray fields;
    for (const MergeField &f : layout.fields) {
        QJsonObject field{{"field", f.text},       {"kind", QString::fromLatin1(f.kind->name)},
                          {"address", double(f.address)}, {"size", f.size},
                          {"from", double(f.from)}, {"to", double(f.to)},
                          {"wholeImage", f.wholeImage}, {"bigEndian", f.bigEndian},
                          {"bytes", QString::fromLatin1(f.value.toHex())}};
        if (fieldNumber(f) >= 0)
            field.insert("value", double(fieldNumber(f)));
        fields.append(field);
    }
    if (!fields.isEmpty())
        map.insert("fields", fields);
    return QJsonDocument(map).toJson(QJsonDocument::Indented);
}

} // namespace

class tst_MergeMap : public QObject
{
    Q_OBJECT

private slots:
    void sameAsBuiltWhole_data();
    void sameAsBuiltWhole();
    void aFailedWriteIsSaid();
};

void tst_MergeMap::sameAsBuiltWhole_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("runs");
    QTest::addColumn<bool>("written");
    QTest::addColumn<bool>("withFields");

    QTest::newRow("plain") << "boot.bin" << 3 << true << true;
    QTest::newRow("quotes and backslashes") << "C:\\fw\\\"boot\".bin" << 1 << true << true;
    QTest::newRow("control characters") << QString::fromUtf8("a\nb\tc\rd\x01\x1f\x7f\b\f") << 1 << false << true;
    QTest::newRow("beyond ASCII") << QString::fromUtf8("\xe5\x9b\xba\xe4\xbb\xb6 \xe2\x80\xa8 M\xc3\xbcller") << 2 << true << false;
    QTest::newRow("many runs, no fields") << "app.bin" << 3000 << true << false;
    QTest::newRow("nothing written") << "boot.bin" << 1 << false << false;
}

void tst_MergeMap::sameAsBuiltWhole()
{
    QFETCH(QString, name);
    QFETCH(int, runs);
    QFETCH(bool, written);
    QFETCH(bool, withFields);

    MergeLayout layout = layoutNamed(name, runs);
    if (!withFields)
        layout.fields.clear();
    MergeDigests digests;
    digests.image = {"0badf00d", QByteArray(64, 'e')};
    digests.files = {{"00000001", QByteArray(64, '1')}, {"00000002", QByteArray(64, '2')}};
    MergeMapOutput output;
    if (written) {
        output.name = name + QStringLiteral(".out");
        output.length = 4128;
        output.sha256 = QByteArray(64, 'f');
    }
    for (const QString &format : OutputFormats::names()) {
        BufferSink sink;
        QVERIFY(writeMergeMap(sink, *OutputFormats::find(format), layout, digests, output));
        const QByteArray whole = builtWhole(*OutputFormats::find(format), layout, digests, output);
        QCOMPARE(sink.bytes, whole);
        // Written in pieces, not held whole.
        if (runs > 1000)
            QVERIFY(sink.writes > 1);
    }
}

void tst_MergeMap::aFailedWriteIsSaid()
{
    const MergeLayout layout = layoutNamed(QStringLiteral("big.bin"), 5000);
    BufferSink sink;
    sink.failAfter = 1;
    QVERIFY(!writeMergeMap(sink, OutputFormats::flat(), layout, MergeDigests(), MergeMapOutput()));
}

QTEST_GUILESS_MAIN(tst_MergeMap)
#include "tst_mergemap.moc"
