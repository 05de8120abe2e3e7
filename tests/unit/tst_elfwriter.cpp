// The ELF output held to binutils: readelf's reading of its header, its
// segments and its sections against the runs of a plain model of the image,
// and objcopy's flat image of it against the model's bytes; GDB's list of its
// sections where GDB is installed. Plain binutils know no foreign machine:
// objcopy is told the generic 32-bit ELF of the file's byte order.

#include "FormatReaders.h"
#include "ImageModel.h"
#include "Layouts.h"
#include "MergeJob.h"
#include "fields/FieldSpec.h"
#include "input/Sources.h"
#include "stream/ImageStreamer.h"
#include "writers/ImageWriter.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
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

bool run(const QString &program, const QStringList &arguments, QByteArray *out = nullptr)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(300000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return false;
    if (out)
        *out = process.readAllStandardOutput();
    return true;
}

// What readelf -W -h -l -S says of a file.
struct ReadElf
{
    QMap<QString, QString> header; // "Machine" -> "ARM", as printed
    struct Segment
    {
        QString type;
        qint64 offset, virtualAddress, physicalAddress, fileSize, memorySize;
        QString flags;
    };
    QVector<Segment> segments;
    struct Section
    {
        QString name, type;
        qint64 address, offset, size;
        QString flags;
    };
    QVector<Section> sections;
};

bool readelf(const QString &file, ReadElf &seen)
{
    QByteArray text;
    if (!run(QStringLiteral("readelf"), {QStringLiteral("-W"), QStringLiteral("-h"), QStringLiteral("-l"), QStringLiteral("-S"), file},
             &text))
        return false;
    const QRegularExpression field(QStringLiteral("^\\s+([^:]+):\\s+(.*)$"));
    const QRegularExpression segment(
        QStringLiteral("^\\s+(LOAD|NULL|NOTE|PHDR)\\s+0x([0-9a-f]+) 0x([0-9a-f]+) 0x([0-9a-f]+) 0x([0-9a-f]+) 0x([0-9a-f]+) (...)"));
    const QRegularExpression section(QStringLiteral(
        "^\\s+\\[\\s*\\d+\\]\\s+(\\S*)\\s+(\\S+)\\s+([0-9a-f]{8}) ([0-9a-f]{6,}) ([0-9a-f]{6,}) [0-9a-f]{2} ([A-Za-z]*)\\s+\\d"));
    bool inHeader = false;
    for (const QString &line : QString::fromLatin1(text).split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("ELF Header:")))
            inHeader = true;
        else if (!line.startsWith(QLatin1Char(' ')))
            inHeader = false;
        QRegularExpressionMatch m;
        if ((m = segment.match(line)).hasMatch()) {
            seen.segments.append({m.captured(1), m.captured(2).toLongLong(nullptr, 16), m.captured(3).toLongLong(nullptr, 16),
                                  m.captured(4).toLongLong(nullptr, 16), m.captured(5).toLongLong(nullptr, 16),
                                  m.captured(6).toLongLong(nullptr, 16), m.captured(7)});
        } else if ((m = section.match(line)).hasMatch()) {
            seen.sections.append({m.captured(1), m.captured(2), m.captured(3).toLongLong(nullptr, 16),
                                  m.captured(4).toLongLong(nullptr, 16), m.captured(5).toLongLong(nullptr, 16), m.captured(6)});
        } else if (inHeader && (m = field.match(line)).hasMatch()) {
            seen.header.insert(m.captured(1), m.captured(2).trimmed());
        }
    }
    return true;
}

// The flat image objcopy makes of the file, from its lowest section to its
// highest, the gaps given the fill byte.
QByteArray objcopyImage(const QString &file, bool bigEndian, char fill, const QString &out)
{
    if (!run(QStringLiteral("objcopy"),
             {QStringLiteral("-I"), bigEndian ? QStringLiteral("elf32-big") : QStringLiteral("elf32-little"), QStringLiteral("-O"),
              QStringLiteral("binary"), QStringLiteral("--gap-fill"), QString::number(quint8(fill)), file, out}))
        return "objcopy failed";
    return readAll(out);
}

// The runs of data of a model image, and its bytes from the first to the
// last of them.
Readback::Runs modelRuns(const Model::Image &image, char fill)
{
    return Readback::expected(image, QStringLiteral("elf"), 8, fill);
}
QByteArray modelFlat(const Readback::Runs &runs, char fill)
{
    if (runs.isEmpty())
        return QByteArray();
    const qint64 first = runs.first().address;
    QByteArray flat(int(runs.last().end() - first), fill);
    for (const Readback::Run &r : runs)
        flat.replace(int(r.address - first), r.bytes.size(), r.bytes);
    return flat;
}

// Every segment and section as the model's runs have them: a PT_LOAD of
// read, write and execute at the same virtual and physical address, and a
// section of the same place and size; the file's bytes of each, the run's.
QString compareTables(const ReadElf &seen, const Readback::Runs &runs, const QByteArray &file)
{
    if (seen.segments.size() != runs.size())
        return QStringLiteral("%1 segments for %2 runs").arg(seen.segments.size()).arg(runs.size());
    QVector<ReadElf::Section> data;
    for (const ReadElf::Section &s : seen.sections) {
        if (s.type == QLatin1String("PROGBITS"))
            data.append(s);
        else if (s.type != QLatin1String("NULL") && s.type != QLatin1String("STRTAB"))
            return QStringLiteral("a section of type %1").arg(s.type);
    }
    if (data.size() != runs.size())
        return QStringLiteral("%1 sections for %2 runs").arg(data.size()).arg(runs.size());
    for (int k = 0; k < runs.size(); ++k) {
        const ReadElf::Segment &p = seen.segments.at(k);
        const ReadElf::Section &s = data.at(k);
        const Readback::Run &r = runs.at(k);
        if (p.type != QLatin1String("LOAD") || p.virtualAddress != r.address || p.physicalAddress != r.address
            || p.fileSize != r.bytes.size() || p.memorySize != r.bytes.size() || p.flags != QLatin1String("RWE"))
            return QStringLiteral("segment %1: %2 at 0x%3/0x%4, %5/%6 bytes, %7; the run: 0x%8, %9 bytes")
                .arg(k)
                .arg(p.type)
                .arg(p.virtualAddress, 0, 16)
                .arg(p.physicalAddress, 0, 16)
                .arg(p.fileSize)
                .arg(p.memorySize)
                .arg(p.flags)
                .arg(r.address, 0, 16)
                .arg(r.bytes.size());
        if (s.address != r.address || s.size != r.bytes.size() || s.offset != p.offset || s.flags != QLatin1String("WAX"))
            return QStringLiteral("section %1 (%2) at 0x%3, %4 bytes, flags %5").arg(k).arg(s.name).arg(s.address, 0, 16).arg(s.size).arg(s.flags);
        if (file.mid(int(p.offset), int(p.fileSize)) != r.bytes)
            return QStringLiteral("segment %1's bytes are not the run's").arg(k);
    }
    return QString();
}

enum class Kind { Raw, Hex };

struct FileRow
{
    Kind kind;
    qint64 address;
    qint64 size;
};

// A merge of files at addresses written in ELF, as the front ends hand it to
// the engine, with the model of its image.
struct ElfMerge
{
    QTemporaryDir dir;
    Model::Merge merge;
    Model::Image image;
    QString output;
    qint64 promised = -1;
    QStringList log;

    bool write(const QVector<FileRow> &files, const QStringList &fields, char fill, const QString &machine)
    {
        merge.base = files.first().address;
        merge.fill = fill;
        for (int k = 0; k < files.size(); ++k) {
            Model::File f;
            f.kind = files.at(k).kind == Kind::Raw ? Model::File::Raw : Model::File::Hex;
            f.address = files.at(k).address;
            f.bytes = Model::content(k, files.at(k).size);
            f.present = QByteArray(f.bytes.size(), char(1));
            merge.base = qMin(merge.base, f.address);
            merge.files.append(f);
        }
        MergeOptions options;
        options.detectInputs = true;
        options.format = OutputFormats::find(QStringLiteral("elf"));
        options.base = merge.base;
        options.fill = fill;
        QString error;
        if (!machine.isEmpty() && !options.format->option(QStringLiteral("elf-machine"))->parse(machine, options.formatSettings, &error))
            return false;
        for (const QString &text : fields) {
            MergeField field;
            if (!parseField(text, &field, &error))
                return false;
            options.fields.append(field);
            // The model's field: KIND@ADDR, the whole image.
            Model::Field m;
            m.kind = text.section(QLatin1Char('@'), 0, 0);
            m.address = text.section(QLatin1Char('@'), 1).toLongLong(nullptr, 16);
            merge.fields.append(m);
        }
        image = Model::image(merge);
        const QVector<Layouts::Input> inputs = Layouts::writeInputs(merge, dir.path());
        QVector<MergeRow> rows;
        for (const Layouts::Input &input : inputs) {
            MergeRow row;
            row.enabled = true;
            row.fileName = input.name;
            row.address = input.own ? MergeAddress::own() : MergeAddress::at(input.address);
            rows.append(row);
        }
        output = dir.filePath(QStringLiteral("out.elf"));
        MergeJob job(rows, output, [this](const QString &line) { log << line; }, options);
        const bool done = job.check() && job.write();
        promised = job.outputSize();
        return done;
    }
};

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

// The writer alone on a layout made here: runs at addresses in the store,
// and what the merge may know of its files (their details, start
// addresses).
struct HandLayout
{
    SourceSet sources{[](const QString &) {}};
    MergeLayout layout;

    MergePlacement &addFile(const QVector<QPair<qint64, QByteArray>> &runs)
    {
        MergePlacement p;
        p.input = layout.placements.size();
        p.fileName = QStringLiteral("file%1").arg(p.input + 1);
        for (const auto &r : runs) {
            MergeSegment s;
            s.address = r.first;
            s.size = quint32(r.second.size());
            s.dataOffset = sources.store().end();
            s.inStore = true;
            sources.store().append(r.second.constData(), r.second.size());
            p.segments.append(s);
        }
        p.address = p.segments.first().address;
        p.end = p.segments.last().end();
        layout.placements.append(p);
        return layout.placements.last();
    }
    QByteArray write(const FormatSettings &own, qint64 *promised)
    {
        layout.base = layout.placements.first().address;
        for (int f = 0; f < layout.placements.size(); ++f) {
            for (int s = 0; s < layout.placements.at(f).segments.size(); ++s)
                layout.pieces.append(MergePiece{f, s});
        }
        layout.imageSize = layout.placements.last().end - layout.base;
        WriterSettings settings;
        settings.layout = &layout;
        settings.own = own;
        BufferSink sink;
        const std::unique_ptr<ImageWriter> writer = OutputFormats::find(QStringLiteral("elf"))->make(sink, settings);
        *promised = writer->outputSize(layout);
        ImageStreamer streamer(layout, sources);
        if (streamer.walkAll({writer.get()}, false) != ImageStreamer::Done || !writer->finish())
            return QByteArray();
        return sink.bytes;
    }
};

bool haveBinutils()
{
    return !QStandardPaths::findExecutable(QStringLiteral("readelf")).isEmpty()
           && !QStandardPaths::findExecutable(QStringLiteral("objcopy")).isEmpty();
}

} // namespace

Q_DECLARE_METATYPE(QVector<FileRow>)

class tst_ElfWriter : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void againstBinutils_data();
    void againstBinutils();
    void machine_data();
    void machine();
    void entryPoint_data();
    void entryPoint();
    void fromAnElfInput_data();
    void fromAnElfInput();
    void machineOfAMergedElf_data();
    void machineOfAMergedElf();
    void manyRuns_data();
    void manyRuns();
};

void tst_ElfWriter::initTestCase()
{
    if (!haveBinutils())
        QSKIP("readelf and objcopy are not installed");
}

void tst_ElfWriter::againstBinutils_data()
{
    QTest::addColumn<QVector<FileRow>>("files");
    QTest::addColumn<QStringList>("fields");
    QTest::addColumn<char>("fill");

    const qint64 mib = qint64(1) << 20;
    const qint64 base = 0x08000000;
    const char ff = char(0xFF);
    // One run of sizes around the chunks the image is handed over in.
    for (const qint64 size : {qint64(1), qint64(17), mib - 1, mib, mib + 1, 2 * mib + 1}) {
        QTest::addRow("one raw run of %lld", size) << QVector<FileRow>{{Kind::Raw, base, size}} << QStringList() << ff;
        QTest::addRow("one HEX run of %lld", size) << QVector<FileRow>{{Kind::Hex, base + 3, size}} << QStringList() << ff;
    }
    // Gaps around a chunk between two runs; none: two files that touch are
    // one run.
    for (const qint64 gap : {qint64(0), qint64(1), mib - 1, mib, mib + 1})
        QTest::addRow("gap of %lld", gap) << QVector<FileRow>{{Kind::Raw, base, mib - 1}, {Kind::Hex, base + mib - 1 + gap, mib + 1}}
                                          << QStringList() << ff;
    QTest::newRow("several runs, raw and HEX, fill 00")
        << QVector<FileRow>{{Kind::Hex, 0x20, 100}, {Kind::Raw, 0x1000, 4096}, {Kind::Hex, 0x3000, 1}, {Kind::Raw, 0x3002, mib + 1},
                            {Kind::Hex, 0x203000, 256}}
        << QStringList() << char(0);
    // A field is bytes of the image: on fill between runs it is a run of its
    // own, past the end it goes on with the last run.
    QTest::newRow("a CRC on a gap")
        << QVector<FileRow>{{Kind::Raw, base, 1000}, {Kind::Hex, base + 0x2000, 300}} << QStringList{QStringLiteral("crc32@8001000")}
        << ff;
    QTest::newRow("a SHA-256 right after the data")
        << QVector<FileRow>{{Kind::Raw, base, mib + 1}, {Kind::Raw, base + 2 * mib, 5}}
        << QStringList{QStringLiteral("sha256@8200005")} << ff;
    QTest::newRow("a length touching a file, and a sum")
        << QVector<FileRow>{{Kind::Hex, 0x100, 16}} << QStringList{QStringLiteral("length@110"), QStringLiteral("sum8@200")}
        << char(0x5A);
}

void tst_ElfWriter::againstBinutils()
{
    QFETCH(QVector<FileRow>, files);
    QFETCH(QStringList, fields);
    QFETCH(char, fill);

    ElfMerge elf;
    QVERIFY(elf.dir.isValid());
    QVERIFY2(elf.write(files, fields, fill, QString()), qPrintable(elf.log.join(QLatin1Char('\n'))));
    QVERIFY(!elf.image.refused);
    const QByteArray file = readAll(elf.output);
    QCOMPARE(qint64(file.size()), elf.promised);

    const Readback::Runs runs = modelRuns(elf.image, fill);
    ReadElf seen;
    QVERIFY(readelf(elf.output, seen));
    QCOMPARE(seen.header.value(QStringLiteral("Class")), QStringLiteral("ELF32"));
    QCOMPARE(seen.header.value(QStringLiteral("Data")), QStringLiteral("2's complement, little endian"));
    QCOMPARE(seen.header.value(QStringLiteral("Type")), QStringLiteral("EXEC (Executable file)"));
    QCOMPARE(seen.header.value(QStringLiteral("Machine")), QStringLiteral("None"));
    QCOMPARE(seen.header.value(QStringLiteral("Entry point address")).toLongLong(nullptr, 16), runs.first().address);
    const QString wrong = compareTables(seen, runs, file);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));

    QCOMPARE(objcopyImage(elf.output, false, fill, elf.dir.filePath(QStringLiteral("objcopy.bin"))), modelFlat(runs, fill));

    // GDB, which loads it, sees the sections at their addresses.
    if (QStandardPaths::findExecutable(QStringLiteral("gdb")).isEmpty())
        return;
    QByteArray text;
    QVERIFY(run(QStringLiteral("gdb"), {QStringLiteral("-batch"), QStringLiteral("-nx"), QStringLiteral("-ex"), QStringLiteral("info files"), elf.output},
                &text));
    const QRegularExpression range(QStringLiteral("0x([0-9a-f]+) - 0x([0-9a-f]+) is (\\S+)"));
    Readback::Runs fromGdb;
    for (auto m = range.globalMatch(QString::fromLatin1(text)); m.hasNext();) {
        const QRegularExpressionMatch one = m.next();
        const qint64 from = one.captured(1).toLongLong(nullptr, 16);
        fromGdb.append({from, QByteArray(int(one.captured(2).toLongLong(nullptr, 16) - from), '\0')});
    }
    QCOMPARE(fromGdb.size(), runs.size());
    for (int k = 0; k < runs.size(); ++k) {
        QCOMPARE(fromGdb.at(k).address, runs.at(k).address);
        QCOMPARE(fromGdb.at(k).bytes.size(), runs.at(k).bytes.size());
    }
}

void tst_ElfWriter::machine_data()
{
    QTest::addColumn<QString>("given");
    QTest::addColumn<QString>("readelfSays"); // empty: refused

    QTest::newRow("arm") << QStringLiteral("arm") << QStringLiteral("ARM");
    QTest::newRow("riscv") << QStringLiteral("riscv") << QStringLiteral("RISC-V");
    QTest::newRow("avr") << QStringLiteral("avr") << QStringLiteral("Atmel AVR 8-bit microcontroller");
    QTest::newRow("msp430") << QStringLiteral("msp430") << QStringLiteral("Texas Instruments msp430 microcontroller");
    QTest::newRow("ppc") << QStringLiteral("ppc") << QStringLiteral("PowerPC");
    QTest::newRow("none") << QStringLiteral("none") << QStringLiteral("None");
    QTest::newRow("AArch64 by number") << QStringLiteral("183") << QStringLiteral("AArch64");
    QTest::newRow("the largest number") << QStringLiteral("65535") << QStringLiteral("<unknown>: 0xffff");
    QTest::newRow("past 16 bits") << QStringLiteral("65536") << QStringLiteral("");
    QTest::newRow("negative") << QStringLiteral("-1") << QStringLiteral("");
    QTest::newRow("in hex") << QStringLiteral("0x28") << QStringLiteral("");
    QTest::newRow("a name in capitals") << QStringLiteral("ARM") << QStringLiteral("");
    QTest::newRow("an unknown name") << QStringLiteral("x86") << QStringLiteral("");
    QTest::newRow("empty") << QStringLiteral("") << QStringLiteral("");
}

void tst_ElfWriter::machine()
{
    QFETCH(QString, given);
    QFETCH(QString, readelfSays);

    const FormatOption *option = OutputFormats::find(QStringLiteral("elf"))->option(QStringLiteral("elf-machine"));
    QVERIFY(option);
    FormatSettings settings;
    QString error;
    const bool taken = option->parse(given, settings, &error);
    QCOMPARE(taken, !readelfSays.isEmpty());
    if (!taken) {
        QVERIFY(error.startsWith(QStringLiteral("ELF machine %1: ").arg(given)));
        return;
    }
    ElfMerge elf;
    QVERIFY(elf.write({{Kind::Raw, 0x10000, 64}}, {}, char(0xFF), given));
    ReadElf seen;
    QVERIFY(readelf(elf.output, seen));
    QCOMPARE(seen.header.value(QStringLiteral("Machine")), readelfSays);
    // Plain objcopy knows none of them but as a generic ELF.
    QCOMPARE(objcopyImage(elf.output, false, char(0xFF), elf.dir.filePath(QStringLiteral("o.bin"))), elf.image.bytes);
}

void tst_ElfWriter::entryPoint_data()
{
    QTest::addColumn<QByteArray>("first");  // a HEX file's records, its start address record among them
    QTest::addColumn<QByteArray>("second");
    QTest::addColumn<qint64>("entry");

    // At 0x20: 4 bytes; at 0x100: 2 bytes.
    const QByteArray at20(":0400200001020304D2\n");
    const QByteArray at100(":02010000AABB98\n");
    const QByteArray end(":00000001FF\n");
    const QByteArray start8000(":040000050000800176\n"); // start linear address 0x8001
    const QByteArray start1234(":0400000512345678E3\n"); // 0x12345678
    QTest::newRow("none: the first data address") << at100 + end << at20 + end << qint64(0x20);
    QTest::newRow("the only one, in the file at the higher address") << at20 + end << at100 + start8000 + end << qint64(0x8001);
    QTest::newRow("the first file's in the order given") << at100 + start1234 + end << at20 + start8000 + end << qint64(0x12345678);
}

void tst_ElfWriter::entryPoint()
{
    QFETCH(QByteArray, first);
    QFETCH(QByteArray, second);
    QFETCH(qint64, entry);

    QTemporaryDir dir;
    QVector<MergeRow> rows;
    for (const QByteArray &text : {first, second}) {
        const QString name = dir.filePath(QStringLiteral("in%1.hex").arg(rows.size()));
        QFile file(name);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(text);
        MergeRow row;
        row.enabled = true;
        row.fileName = name;
        row.address = MergeAddress::own();
        rows.append(row);
    }
    MergeOptions options;
    options.detectInputs = true;
    options.base = 0;
    options.format = OutputFormats::find(QStringLiteral("elf"));
    const QString output = dir.filePath(QStringLiteral("out.elf"));
    QStringList log;
    MergeJob job(rows, output, [&log](const QString &line) { log << line; }, options);
    QVERIFY2(job.check() && job.write(), qPrintable(log.join(QLatin1Char('\n'))));
    ReadElf seen;
    QVERIFY(readelf(output, seen));
    QCOMPARE(seen.header.value(QStringLiteral("Entry point address")).toLongLong(nullptr, 16), entry);
    QCOMPARE(seen.segments.size(), 2);
}

void tst_ElfWriter::fromAnElfInput_data()
{
    QTest::addColumn<QString>("byteOrder"); // of the input, as its reader's details say
    QTest::addColumn<int>("inputMachine");
    QTest::addColumn<QString>("given");      // --elf-machine; empty: none
    QTest::addColumn<bool>("bigGiven");      // --elf-big-endian
    QTest::addColumn<QString>("data");       // readelf's Data
    QTest::addColumn<QString>("machine");    // readelf's Machine

    QTest::newRow("no ELF input") << QString() << 0 << QString() << false << QStringLiteral("2's complement, little endian") << QStringLiteral("None");
    QTest::newRow("a big-endian PowerPC input") << QStringLiteral("big") << 20 << QString() << false << QStringLiteral("2's complement, big endian") << QStringLiteral("PowerPC");
    QTest::newRow("a little-endian ARM input") << QStringLiteral("little") << 40 << QString() << false << QStringLiteral("2's complement, little endian") << QStringLiteral("ARM");
    QTest::newRow("the machine given wins, the byte order stays") << QStringLiteral("big") << 20 << QStringLiteral("riscv") << false << QStringLiteral("2's complement, big endian")
                                                                   << QStringLiteral("RISC-V");
    QTest::newRow("big-endian given, no ELF input") << QString() << 0 << QString() << true << QStringLiteral("2's complement, big endian") << QStringLiteral("None");
    QTest::newRow("big-endian given over a little-endian ARM input") << QStringLiteral("little") << 40 << QString() << true << QStringLiteral("2's complement, big endian") << QStringLiteral("ARM");
}

void tst_ElfWriter::fromAnElfInput()
{
    QFETCH(QString, byteOrder);
    QFETCH(int, inputMachine);
    QFETCH(QString, given);
    QFETCH(bool, bigGiven);
    QFETCH(QString, data);
    QFETCH(QString, machine);

    HandLayout hand;
    const QByteArray a = Model::content(1, 300);
    const QByteArray b = Model::content(2, 70000);
    hand.addFile({{0x20000, a}});
    MergePlacement &elfInput = hand.addFile({{0x30000, b}});
    if (!byteOrder.isEmpty())
        elfInput.details = QVariantMap{{QStringLiteral("class"), QStringLiteral("ELF32")},
                                       {QStringLiteral("byteOrder"), byteOrder},
                                       {QStringLiteral("machine"), qint64(inputMachine)}};
    FormatSettings own;
    QString error;
    if (!given.isEmpty())
        QVERIFY(OutputFormats::find(QStringLiteral("elf"))->option(QStringLiteral("elf-machine"))->parse(given, own, &error));
    if (bigGiven)
        QVERIFY(OutputFormats::find(QStringLiteral("elf"))->option(QStringLiteral("elf-big-endian"))->parse(QString(), own, &error));
    qint64 promised = 0;
    const QByteArray written = hand.write(own, &promised);
    QCOMPARE(qint64(written.size()), promised);
    QTemporaryDir dir;
    const QString name = dir.filePath(QStringLiteral("out.elf"));
    QFile file(name);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(written) == written.size());
    file.close();
    ReadElf seen;
    QVERIFY(readelf(name, seen));
    QCOMPARE(seen.header.value(QStringLiteral("Data")), data);
    QCOMPARE(seen.header.value(QStringLiteral("Machine")), machine);
    const Readback::Runs runs{{0x20000, a}, {0x30000, b}};
    const QString wrong = compareTables(seen, runs, written);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
    QCOMPARE(objcopyImage(name, data.contains(QLatin1String("big")), char(0xFF), dir.filePath(QStringLiteral("o.bin"))),
             modelFlat(runs, char(0xFF)));
}

// A merge asks its readers for what the ELF output takes from an ELF input:
// an ELF file written for ARM, merged again with a raw file into ELF with
// no machine given, names ARM; with --elf-big-endian, big-endian.
void tst_ElfWriter::machineOfAMergedElf_data()
{
    QTest::addColumn<bool>("bigGiven");
    QTest::newRow("as the input") << false;
    QTest::newRow("big-endian given") << true;
}

void tst_ElfWriter::machineOfAMergedElf()
{
    QFETCH(bool, bigGiven);
    ElfMerge first;
    QVERIFY2(first.write({{Kind::Raw, 0x20000, 5000}}, {}, char(0xFF), QStringLiteral("arm")), qPrintable(first.log.join('\n')));
    QTemporaryDir dir;
    const QString raw = dir.filePath(QStringLiteral("data.bin"));
    QFile file(raw);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(Model::content(7, 300)) == 300);
    file.close();
    MergeOptions options;
    options.detectInputs = true;
    options.base = 0x20000;
    options.format = OutputFormats::find(QStringLiteral("elf"));
    QString error;
    if (bigGiven)
        QVERIFY(options.format->option(QStringLiteral("elf-big-endian"))->parse(QString(), options.formatSettings, &error));
    const QString out = dir.filePath(QStringLiteral("again.elf"));
    QStringList log;
    MergeJob job({{true, first.output, MergeAddress::own(), 0}, {true, raw, MergeAddress::at(0x30000), 0}}, out,
                 [&log](const QString &line) { log << line; }, options);
    QVERIFY2(job.check() && job.write(), qPrintable(log.join('\n')));
    ReadElf seen;
    QVERIFY(readelf(out, seen));
    QCOMPARE(seen.header.value(QStringLiteral("Machine")), QStringLiteral("ARM"));
    QCOMPARE(seen.header.value(QStringLiteral("Data")),
             bigGiven ? QStringLiteral("2's complement, big endian") : QStringLiteral("2's complement, little endian"));
}

void tst_ElfWriter::manyRuns_data()
{
    QTest::addColumn<int>("count");

    // The section count reaches SHN_LORESERVE with the null section and the
    // names: the header's counts move to the first section header. Then the
    // segments' count reaches PN_XNUM.
    QTest::newRow("sections just below the reserved indexes") << 0xFF00 - 3;
    QTest::newRow("sections at them") << 0xFF00 - 2;
    QTest::newRow("segments at PN_XNUM") << 0xFFFF;
}

void tst_ElfWriter::manyRuns()
{
    QFETCH(int, count);

    HandLayout hand;
    QVector<QPair<qint64, QByteArray>> runs;
    Readback::Runs expected;
    for (int k = 0; k < count; ++k) {
        const QByteArray bytes(1 + k % 3, char(k));
        runs.append({0x100000 + 8 * qint64(k), bytes});
        expected.append({0x100000 + 8 * qint64(k), bytes});
    }
    hand.addFile(runs);
    qint64 promised = 0;
    const QByteArray written = hand.write(FormatSettings(), &promised);
    QCOMPARE(qint64(written.size()), promised);
    QTemporaryDir dir;
    const QString name = dir.filePath(QStringLiteral("out.elf"));
    QFile file(name);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(written) == written.size());
    file.close();
    ReadElf seen;
    QVERIFY(readelf(name, seen));
    QCOMPARE(seen.header.value(QStringLiteral("Number of program headers")).section(QLatin1Char(' '), -1).remove(QLatin1Char('(')).remove(QLatin1Char(')')).toInt(),
             count);
    QCOMPARE(seen.header.value(QStringLiteral("Number of section headers")).section(QLatin1Char(' '), -1).remove(QLatin1Char('(')).remove(QLatin1Char(')')).toInt(),
             count + 2);
    QCOMPARE(seen.sections.last().name, QStringLiteral(".shstrtab"));
    const QString wrong = compareTables(seen, expected, written);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
    Readback::Runs back;
    QString error;
    QVERIFY2(Readback::read(QStringLiteral("elf"), written, 0, 8, QString(), back, error), qPrintable(error));
    QVERIFY(Readback::normalise(expected, error));
    QCOMPARE(Readback::difference(back, expected), QString());
}

QTEST_GUILESS_MAIN(tst_ElfWriter)
#include "tst_elfwriter.moc"
