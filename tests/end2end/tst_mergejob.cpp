// The merge engine on its own: address texts, images of any size, and
// sources and outputs that misbehave.

#include "Files.h"
#include "Limits.h"
#include "MergeJob.h"
#include "Pieces.h"
#include "Records.h"
#include "Rows.h"
#include "TempFolder.h"
#include "fields/FieldSpec.h"
#include "output/OutputFile.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QTest>

#include <thread>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#endif

static bool writeBytes(const QString &name, const QByteArray &content, QIODevice::OpenMode mode = QIODevice::WriteOnly)
{
    QFile file(name);
    return file.open(mode) && file.write(content) == content.size();
}

#ifdef Q_OS_UNIX
static QByteArray readBytes(const QString &name)
{
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

static QString commandOutput(const QString &program, const QStringList &args)
{
    QProcess process;
    process.start(program, args);
    return process.waitForFinished() ? QString::fromUtf8(process.readAllStandardOutput()) : QString();
}
#endif

// The files of a merge: name and content.
using FileSet = QMap<QString, QByteArray>;
Q_DECLARE_METATYPE(FileSet)

class tst_MergeJob : public QObject
{
    Q_OBJECT

private slots:
    void writeNeedsASuccessfulCheck();
    void refusalsAsData_data();
    void refusalsAsData();
    void refusalOfTheLastStepOnly();
    void hashOfTheWrittenImage_data();
    void hashOfTheWrittenImage();
    void sourceChangedAfterTheCheck_data();
    void sourceChangedAfterTheCheck();
    void secondThreadGivesTheSameImage();

    void imageMatchesAReference_data();
    void imageMatchesAReference();
    void topAddressOnAnyBuild();
    void streamSources_data();
    void streamSources();
    void anyNumberOfSources();
    void inPlaceOutput_data();
    void inPlaceOutput();
    void replaceExisting_data();
    void replaceExisting();
};

void tst_MergeJob::writeNeedsASuccessfulCheck()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString out = dir.filePath(QStringLiteral("out.bin"));
    QStringList log;
    MergeJob job({windowRow(dir.filePath(QStringLiteral("missing.bin")), QStringLiteral("1000"))}, out,
                 [&log](const QString &line) { log << line; });
    QVERIFY(!job.write());
    QVERIFY(!job.check());
    QVERIFY(!job.write());
    QVERIFY(!QFile::exists(out));
    QCOMPARE(log.size(), 2);
    QVERIFY(job.outputSha256().isEmpty());
}

// What each stage refuses, as data: the kind, the row, file and field it
// names, the address where it went wrong; and its line, word for word the
// window's. The rows: "name@address[/slot]", "name@-" at its own addresses,
// "name@" without an address.
void tst_MergeJob::refusalsAsData_data()
{
    QTest::addColumn<FileSet>("files");
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("step");     // the one that is refused: check, checkOutput, write, measure
    QTest::addColumn<FileSet>("changed");  // written again between the check and the step
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("otherRow");
    QTest::addColumn<QString>("otherFile");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("otherField");
    QTest::addColumn<qint64>("address");
    QTest::addColumn<QString>("line");

    using K = Refusal::Kind;
    const FileSet ab{{"a.bin", QByteArray(0x20, 'a')}, {"b.bin", QByteArray(0x10, 'b')}};
    const QByteArray hexEnd = hexRecord(1, 0, {});
    const auto row = [](const char *name, const FileSet &files, const QStringList &rows, const QStringList &options,
                        K kind, int row, const QString &file, qint64 address, const QString &line) {
        QTest::newRow(name) << files << rows << options << QString("check") << FileSet() << int(kind) << row << file << 0
                            << QString() << QString() << QString() << address << line;
    };

    // The rows and what they name.
    row("output name empty", ab, {"a.bin@1000"}, {"output="}, K::OutputNameEmpty, 0, "", -1,
        "Error!!!Merge file name cannot be empty!");
    row("a row without an address", ab, {"a.bin@1000", "b.bin@"}, {}, K::RowIncomplete, 2, "b.bin", -1,
        "Error!!!File name or start address of file2 cannot be empty!");
    QTest::newRow("an address twice") << ab << QStringList{"a.bin@1000", "b.bin@2000", "b.bin@1000"} << QStringList()
                                      << "check" << FileSet() << int(K::DuplicateAddress) << 3 << "b.bin" << 1 << "a.bin"
                                      << "" << "" << qint64(0x1000) << "Error!!!The address of file3 is duplicated!";
    row("no file", ab, {}, {}, K::NoFileToMerge, 0, "", -1, "Error!!!No file to be merged!");
    row("a file that is not there", ab, {"a.bin@1000", "none.bin@2000"}, {}, K::CannotOpen, 2, "none.bin", -1,
        "Error!!!Cannot open filenone.bin!");
    row("a record file that holds nothing", {{"h.hex", hexEnd}}, {"h.hex@-"}, {"detect"}, K::CannotRead, 1, "h.hex", -1,
        "Error!!!Cannot read h.hex: it holds no data!");
    row("raw data at its own addresses", ab, {"a.bin@-"}, {"detect"}, K::NeedsAnAddress, 1, "a.bin", -1,
        "Error!!!a.bin is not an Intel HEX, S-record, ELF, UF2 or TI-TXT file: it needs an address!");

    // Where the files lie.
    row("below the base", ab, {"b.bin@2000", "a.bin@FFF"}, {}, K::BelowBase, 2, "a.bin", 0xFFF,
        "Error!!!Start address cannot less than 0x1000!");
    row("below another base, at its own addresses",
        {{"a.bin", QByteArray(4, 'a')}, {"h.hex", hexRecord(0, 0x1800, "\x01\x02") + hexEnd}}, {"a.bin@3000", "h.hex@-"},
        {"detect", "base=2000"}, K::BelowBase, 2, "h.hex", 0x1800, "Error!!!Start address cannot less than 0x2000!");
    // The address is where it runs into the next file, which the line does not say.
    row("a file that runs into the next", ab, {"b.bin@1018", "a.bin@1000"}, {}, K::OutOfRange, 2, "a.bin", 0x1018,
        "Error!!!File size of a.bin is out of range!");
    row("the last file past the address range", ab, {"a.bin@FFFFFFF8"}, {}, K::ImageTooLarge, 1, "a.bin", addressSpaceEnd,
        "Error!!!Merge image of 4294963224 bytes is too large!");
    row("past the address range, by the piece rule", ab, {"a.bin@FFFFFFF8"}, {"overlap=later"}, K::PastAddressSpace, 1,
        "a.bin", addressSpaceEnd, "Error!!!a.bin runs past the end of the 32-bit address range (0xFFFFFFFF)!");
    row("longer than the pad size", ab, {"a.bin@1000"}, {"pad=10"}, K::LongerThanPad, 0, "", 0x1010,
        "Error!!!Merge image of 32 bytes is longer than the pad size of 16 bytes!");
    row("two bytes for one address",
        {{"h.hex", hexRecord(0, 0x1000, "\x01\x02\x03") + hexRecord(0, 0x1001, "\x02\x04") + hexEnd}}, {"h.hex@-"},
        {"detect"}, K::TwoBytesForOneAddress, 1, "h.hex", 0x1002, "Error!!!h.hex gives two different bytes for address 0x00001002!");
    QTest::newRow("two files overlap")
        << FileSet{{"a.bin", QByteArray(0x40, 'a')}, {"h.hex", hexRecord(0, 0x1030, "\x01\x02") + hexEnd}}
        << QStringList{"h.hex@-", "a.bin@1000"} << QStringList{"detect"} << "check" << FileSet() << int(K::Overlap) << 2
        << "a.bin" << 1 << "h.hex" << "" << "" << qint64(0x1030) << "Error!!!a.bin and h.hex overlap at 0x00001030!";
    row("nothing kept", ab, {"a.bin@1000"}, {"crop=3000-4000"}, K::NothingKept, 0, "", -1,
        "Error!!!No byte of the files lies in the ranges kept (--crop, --exclude)!");
    row("a slot too small", ab, {"b.bin@1000", "a.bin@2000/1F"}, {}, K::SlotTooSmall, 2, "a.bin", 0x2000,
        "Error!!!a.bin (32 bytes) does not fit its slot of 31 bytes at 0x00002000!");

    // Fields: the field's own address, whatever the line names.
    QTest::newRow("a field below the base") << ab << QStringList{"a.bin@1000"} << QStringList{"field=crc32@800"} << "check"
                                            << FileSet() << int(K::FieldBelowBase) << 0 << "" << 0 << "" << "crc32@800" << ""
                                            << qint64(0x800) << "Error!!!Field crc32@800 lies below the image's base 0x00001000!";
    QTest::newRow("a field on a file") << ab << QStringList{"b.bin@2000", "a.bin@1000"} << QStringList{"field=crc32@1010"}
                                       << "check" << FileSet() << int(K::FieldOnData) << 2 << "a.bin" << 0 << "" << "crc32@1010"
                                       << "" << qint64(0x1010) << "Error!!!Field crc32@1010 lies on the data of a.bin!";
    QTest::newRow("two fields overlap") << ab << QStringList{"a.bin@1000"}
                                        << QStringList{"field=crc32@2000", "field=sum8@2003"} << "check" << FileSet()
                                        << int(K::FieldsOverlap) << 0 << "" << 0 << "" << "sum8@2003" << "crc32@2000"
                                        << qint64(0x2003) << "Error!!!Fields crc32@2000 and sum8@2003 overlap!";
    QTest::newRow("a field's range outside the image")
        << ab << QStringList{"a.bin@1000"} << QStringList{"field=crc32@2000,1000-3000"} << "check" << FileSet()
        << int(K::FieldOutsideImage) << 0 << "" << 0 << "" << "crc32@2000,1000-3000" << "" << qint64(0x2000)
        << "Error!!!Field crc32@2000,1000-3000 covers 0x00001000 to 0x00003000, outside the image (0x00001000 to 0x00002004)!";
    QTest::newRow("a field inside its range")
        << ab << QStringList{"a.bin@1000"} << QStringList{"field=crc32@1040,1000-1080", "pad=100"} << "check" << FileSet()
        << int(K::FieldInsideItsRange) << 0 << "" << 0 << "" << "crc32@1040,1000-1080" << "" << qint64(0x1040)
        << "Error!!!Field crc32@1040,1000-1080 lies inside the range it covers!";

    // The flash: where a file or field first lies outside it.
    row("a file below the flash", ab, {"a.bin@1000"}, {"flash=2000+1000"}, K::BelowFlash, 1, "a.bin", 0x1000,
        "Error!!!a.bin starts at 0x00001000, below the flash at 0x00002000!");
    row("a file past the flash", ab, {"b.bin@1000", "a.bin@1100"}, {"flash=1000+110"}, K::PastFlash, 2, "a.bin", 0x1110,
        "Error!!!a.bin ends at 0x00001120, past the end of the flash at 0x00001110!");
    QTest::newRow("a field past the flash")
        << ab << QStringList{"b.bin@1000"} << QStringList{"flash=1000+100", "field=crc32@10FE"} << "check" << FileSet()
        << int(K::PastFlash) << 0 << "" << 0 << "" << "crc32@10FE" << "" << qint64(0x1100)
        << "Error!!!Field crc32@10FE ends at 0x00001102, past the end of the flash at 0x00001100!";
    row("padding past the flash", ab, {"a.bin@1000"}, {"flash=1000+100", "pad=200"}, K::ImageOutsideFlash, 0, "", 0x1100,
        "Error!!!The image runs from 0x00001000 to 0x00001200, outside the flash (0x00001000 to 0x00001100)!");
    QTest::newRow("two files in one sector")
        << ab << QStringList{"b.bin@1800", "a.bin@1000"} << QStringList{"sector=1000"} << "check" << FileSet()
        << int(K::SharedSector) << 2 << "a.bin" << 1 << "b.bin" << "" << "" << qint64(0x1000)
        << "Error!!!a.bin and b.bin share the erase sector at 0x00001000!";
    QTest::newRow("a field in a file's sector")
        << ab << QStringList{"a.bin@3000"} << QStringList{"sector=1000", "field=crc32@3800", "flash=1000+4000"} << "check"
        << FileSet() << int(K::SharedSector) << 1 << "a.bin" << 0 << "" << "" << "crc32@3800" << qint64(0x3000)
        << "Error!!!a.bin and field crc32@3800 share the erase sector at 0x00003000!";

    // The output, and files that change after the check.
    QTest::newRow("no folder for the output, found by the dry run's check")
        << ab << QStringList{"a.bin@1000"} << QStringList{"output=none/out.bin"} << "checkOutput" << FileSet()
        << int(K::FailToOpenOutput) << 0 << "none/out.bin" << 0 << "" << "" << "" << qint64(-1)
        << "Error!!!Fail to open merge filenone/out.bin";
    QTest::newRow("no folder for the output")
        << ab << QStringList{"a.bin@1000"} << QStringList{"output=none/out.bin"} << "write" << FileSet()
        << int(K::FailToOpenOutput) << 0 << "none/out.bin" << 0 << "" << "" << "" << qint64(-1)
        << "Error!!!Fail to open merge filenone/out.bin";
    QTest::newRow("a file shrank after the check")
        << ab << QStringList{"a.bin@1000", "b.bin@2000"} << QStringList() << "write" << FileSet{{"b.bin", "b"}}
        << int(K::FailToRead) << 2 << "b.bin" << 0 << "" << "" << "" << qint64(-1) << "Error!!!Fail to read fileb.bin!";
    for (const char *step : {"write", "measure"}) {
        QTest::newRow(qPrintable(QStringLiteral("a field that no longer matches, %1").arg(QLatin1String(step))))
            << ab << QStringList{"a.bin@1000"} << QStringList{"field=crc32@2000", "values-first"} << step
            << FileSet{{"a.bin", QByteArray(0x20, 'c')}} << int(K::FieldChanged) << 0 << "" << 0 << "" << "crc32@2000" << ""
            << qint64(0x2000) << "Error!!!Field crc32@2000 no longer matches the files: one of them changed while it was merged!";
    }
}

void tst_MergeJob::refusalsAsData()
{
    QFETCH(FileSet, files);
    QFETCH(QStringList, rows);
    QFETCH(QStringList, options);
    QFETCH(QString, step);
    QFETCH(FileSet, changed);
    QFETCH(int, kind);
    QFETCH(int, row);
    QFETCH(QString, file);
    QFETCH(int, otherRow);
    QFETCH(QString, otherFile);
    QFETCH(QString, field);
    QFETCH(QString, otherField);
    QFETCH(qint64, address);
    QFETCH(QString, line);

    CurrentTempDir dir;
    QVERIFY(dir.isValid());
    // A time of whole seconds, which can be given again exactly.
    const auto setWritten = [](const QString &name) {
        QFile file(name);
        return file.open(QIODevice::ReadWrite)
               && file.setFileTime(QDateTime(QDate(2020, 1, 1), QTime(0, 0)), QFileDevice::FileModificationTime);
    };
    for (auto f = files.cbegin(); f != files.cend(); ++f)
        QVERIFY(writeFile(f.key(), f.value()) && setWritten(f.key()));
    QVector<MergeRow> merged;
    for (const QString &text : std::as_const(rows)) {
        MergeRow r;
        r.enabled = true;
        r.fileName = text.section(QLatin1Char('@'), 0, 0);
        const QString where = text.section(QLatin1Char('@'), 1);
        if (where == QLatin1String("-"))
            r.address = MergeAddress::own();
        else if (!where.isEmpty())
            r.address = MergeAddress::at(where.section(QLatin1Char('/'), 0, 0).toLongLong(nullptr, 16));
        r.slotSize = where.section(QLatin1Char('/'), 1).toLongLong(nullptr, 16);
        merged.append(r);
    }
    MergeOptions o;
    QString output = QStringLiteral("out.bin");
    const auto range = [](const QString &text, QLatin1Char separator) {
        return AddressRange{text.section(separator, 0, 0).toLongLong(nullptr, 16), text.section(separator, 1).toLongLong(nullptr, 16)};
    };
    for (const QString &option : std::as_const(options)) {
        const QString name = option.section(QLatin1Char('='), 0, 0);
        const QString value = option.section(QLatin1Char('='), 1);
        if (name == QLatin1String("detect")) {
            o.detectInputs = true;
        } else if (name == QLatin1String("values-first")) {
            o.fieldValuesFirst = true;
        } else if (name == QLatin1String("output")) {
            output = value;
        } else if (name == QLatin1String("base")) {
            o.base = value.toLongLong(nullptr, 16);
        } else if (name == QLatin1String("pad")) {
            o.padTo = value.toLongLong(nullptr, 16);
        } else if (name == QLatin1String("sector")) {
            o.sectorSize = value.toLongLong(nullptr, 16);
        } else if (name == QLatin1String("overlap")) {
            o.overlap = OverlapPolicy::LaterWins;
        } else if (name == QLatin1String("crop")) {
            o.crop.append(range(value, QLatin1Char('-')));
        } else if (name == QLatin1String("flash")) {
            const AddressRange flash = range(value, QLatin1Char('+'));
            o.flashOrigin = flash.from;
            o.flashSize = flash.to;
        } else if (name == QLatin1String("field")) {
            MergeField f;
            QString problem;
            QVERIFY2(parseField(value, &f, &problem), qPrintable(problem));
            o.fields.append(f);
        } else {
            QFAIL(qPrintable(option));
        }
    }

    QStringList log;
    MergeJob job(merged, output, [&log](const QString &text) { log << text; }, o);
    const bool checked = job.check();
    QCOMPARE(checked, step != QLatin1String("check"));
    if (checked) {
        QVERIFY(!job.refusal());
        // Written over with its time kept, as a tool that keeps times does:
        // only a file's size, or a field's value, can then tell.
        for (auto f = changed.cbegin(); f != changed.cend(); ++f)
            QVERIFY(writeFile(f.key(), f.value()) && setWritten(f.key()));
        if (step == QLatin1String("write"))
            QVERIFY(!job.write());
        else if (step == QLatin1String("measure"))
            QVERIFY(!job.measure());
        else
            QVERIFY(!job.checkOutput());
    }
    const std::optional<Refusal> refusal = job.refusal();
    QVERIFY(refusal);
    QCOMPARE(int(refusal->kind), kind);
    QCOMPARE(refusal->row, row);
    QCOMPARE(refusal->file, file);
    QCOMPARE(refusal->otherRow, otherRow);
    QCOMPARE(refusal->otherFile, otherFile);
    QCOMPARE(refusal->field, field);
    QCOMPARE(refusal->otherField, otherField);
    QCOMPARE(refusal->address, address);
    QCOMPARE(refusal->line(), line);
    // The log has its line, the only one of its kind, and as the last.
    QVERIFY(!log.isEmpty());
    QCOMPARE(log.last(), line);
    QCOMPARE(log.filter(QStringLiteral("Error!!!")).size(), 1);
    // A row that names a file names the file of that row.
    if (row > 0 && !file.isEmpty() && kind != int(Refusal::Kind::RowIncomplete))
        QCOMPARE(merged.at(row - 1).fileName, file);
    QVERIFY(!QFile::exists(output));
}

// A refusal is that of the step that was refused: the next check that passes
// has none.
void tst_MergeJob::refusalOfTheLastStepOnly()
{
    CurrentTempDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(writeFile(QStringLiteral("a.bin"), QByteArray(0x20, 'a')));
    MergeJob job({windowRow(QStringLiteral("a.bin"), QStringLiteral("1000")), windowRow(QStringLiteral("b.bin"), QStringLiteral("2000"))},
                 QStringLiteral("out.bin"), [](const QString &) {});
    QVERIFY(!job.check());
    QVERIFY(job.refusal());
    QCOMPARE(int(job.refusal()->kind), int(Refusal::Kind::CannotOpen));
    QVERIFY(writeFile(QStringLiteral("b.bin"), QByteArray(0x10, 'b')));
    QVERIFY(job.check());
    QVERIFY(!job.refusal());
    QVERIFY(job.write());
    QVERIFY(!job.refusal());
    // A write without a check of its own refuses nothing that a check found.
    QVERIFY(!job.write());
    QVERIFY(!job.refusal());
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
    MergeJob job({windowRow(source, address)}, out, [](const QString &) {}, hashing(hash));
    QVERIFY(job.run());
    QFile written(out);
    QVERIFY(written.open(QIODevice::ReadOnly));
    const QByteArray image = written.readAll();
    QCOMPARE(image.size(), int(Address::fromWindowText(address) - 0x1000) + fileSize);
    QCOMPARE(job.outputSha256(), hash ? QCryptographicHash::hash(image, QCryptographicHash::Sha256) : QByteArray());
}

namespace {

// A source written over in place, at its size, once the output has taken
// this many bytes.
QString rewrittenFile;
qint64 rewriteAt = -1;
void rewriteSource(qint64 offset, char *, qint64)
{
    if (rewriteAt < 0 || offset < rewriteAt)
        return;
    rewriteAt = -1;
    QFile file(rewrittenFile);
    if (file.open(QIODevice::ReadWrite))
        file.write(QByteArray(int(file.size()), 'B'));
}

} // namespace

void tst_MergeJob::sourceChangedAfterTheCheck_data()
{
    QTest::addColumn<bool>("secondThread");
    QTest::addColumn<QString>("change");

    for (const bool thread : {false, true}) {
        const char *how = thread ? "two threads" : "one thread";
        QTest::addRow("shrank, %s", how) << thread << "shrink";
        QTest::addRow("grew, %s", how) << thread << "grow";
        QTest::addRow("written over at its size, %s", how) << thread << "same size";
        QTest::addRow("written over at its size while it is read, %s", how) << thread << "while written";
    }
}

void tst_MergeJob::sourceChangedAfterTheCheck()
{
    QFETCH(bool, secondThread);
    QFETCH(QString, change);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString a = dir.filePath(QStringLiteral("a.bin"));
    const QString b = dir.filePath(QStringLiteral("b.bin"));
    const QString out = dir.filePath(QStringLiteral("out.bin"));
    QVERIFY(writeBytes(a, QByteArray(1000, 'a')));
    QVERIFY(writeBytes(b, QByteArray(3 << 20, 'b')));
    // Written long ago: a change now shows in its time, whatever the clock's
    // grain.
    QFile old(b);
    QVERIFY(old.open(QIODevice::ReadWrite)
            && old.setFileTime(QDateTime(QDate(2020, 1, 1), QTime(0, 0)), QFileDevice::FileModificationTime));
    old.close();
    QVERIFY(writeBytes(out, "old"));

    QStringList log;
    MergeJob job({windowRow(a, QStringLiteral("1000")), windowRow(b, QStringLiteral("2000"))}, out,
                 [&log](const QString &line) { log << line; }, hashing(secondThread));
    QVERIFY(job.check());
    // The later file changes between the check and the read, or while it is
    // read: its bytes would no longer match the layout, or mix old and new.
    if (change == QLatin1String("grow"))
        QVERIFY(writeBytes(b, "more", QIODevice::Append));
    else if (change == QLatin1String("shrink"))
        QVERIFY(QFile(b).resize(10));
    else if (change == QLatin1String("same size"))
        QVERIFY(writeBytes(b, QByteArray(3 << 20, 'B')));
    rewrittenFile = b;
    rewriteAt = change == QLatin1String("while written") ? qint64(1) << 20 : -1;
    OutputFile::setWriteSeam(rewriteSource);
    const bool written = job.write();
    OutputFile::setWriteSeam(nullptr);
    QVERIFY(!written);
    QCOMPARE(log, QStringList() << QStringLiteral("Begin to merge...") << QStringLiteral("Error!!!Fail to read file%1!").arg(b));
    QFile kept(out);
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), QByteArray("old"));
}

void tst_MergeJob::secondThreadGivesTheSameImage()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVector<MergeRow> rows;
    for (int k = 0; k < 7; ++k) {
        const QString name = dir.filePath(QStringLiteral("%1.bin").arg(k));
        QVERIFY(writeBytes(name, QByteArray((k + 1) * 5000, char('a' + k))));
        rows.append(windowRow(name, QString::number(0x1000 + 0x10000 * (6 - k), 16)));
    }
    QByteArray images[2];
    for (int threads = 0; threads < 2; ++threads) {
        const QString out = dir.filePath(QStringLiteral("out%1.bin").arg(threads));
        MergeJob job(rows, out, [](const QString &) {}, hashing(threads == 1));
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

void tst_MergeJob::imageMatchesAReference_data()
{
    QTest::addColumn<Pieces>("pieces");
    QTest::addColumn<bool>("outputIsASource");

    const int MiB = 1 << 20;
    QTest::newRow("no source") << Pieces{} << false;
    QTest::newRow("one file at 0x1000") << Pieces{{0x1000, 100}} << false;
    QTest::newRow("only fill before an empty file") << Pieces{{0x1010, 0}} << false;
    QTest::newRow("gaps and touching files") << Pieces{{0x1100, 7}, {0x1000, 10}, {0x100A, 5}} << false;
    QTest::newRow("empty files first, between and last")
        << Pieces{{0x1000, 0}, {0x1001, 3}, {0x1004, 0}, {0x1008, 2}, {0x2000, 0}} << false;
    QTest::newRow("sizes and gaps across chunk boundaries")
        << Pieces{{0x1000, MiB + 1}, {0x1000 + MiB + 1 + 3 * MiB + 5, 2 * MiB - 1}} << false;
    QTest::newRow("leading fill longer than a chunk") << Pieces{{0x1000 + 2 * MiB + 17, 100}} << false;
    QTest::newRow("output is the first source") << Pieces{{0x1000, 5000}, {0x3000, 70}} << true;
    QTest::newRow("output is a later source") << Pieces{{0x3000, 70}, {0x1000, 5000}} << true;
    Pieces many;
    for (int i = 0; i < 500; ++i)
        many.append({0x1000 + 512 * qint64((i * 7) % 500), (i * 37) % 300});
    QTest::newRow("500 sources") << many << false;
}

void tst_MergeJob::imageMatchesAReference()
{
    QFETCH(Pieces, pieces);
    QFETCH(bool, outputIsASource);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray expected = referenceImage(pieces);
    QVector<MergeRow> rows;
    for (int i = 0; i < pieces.size(); ++i)
        rows.append(windowRow(dir.filePath(QStringLiteral("%1.bin").arg(i)), QString::number(pieces[i].address, 16)));
    const QString out = outputIsASource ? rows.first().fileName : dir.filePath(QStringLiteral("out.bin"));

    for (bool hash : {false, true}) {
        for (int i = 0; i < pieces.size(); ++i)
            QVERIFY(writeBytes(rows[i].fileName, pieceContent(i, pieces[i].size)));
        const QStringList before = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);

        QStringList log;
        MergeJob job(rows, out, [&log](const QString &line) { log << line; }, hashing(hash));
        if (pieces.isEmpty()) {
            QVERIFY(!job.run());
            QCOMPARE(log, QStringList() << "Begin to merge..." << "Error!!!No file to be merged!");
            QVERIFY(!QFile::exists(out));
            return;
        }
        QVERIFY(job.run());
        QCOMPARE(log, QStringList() << "Begin to merge..." << "Merge success!");
        QFile written(out);
        QVERIFY(written.open(QIODevice::ReadOnly));
        const QByteArray image = written.readAll();
        QCOMPARE(image.size(), expected.size());
        QVERIFY2(image == expected, "the image differs from the reference");
        QCOMPARE(job.outputSha256(), hash ? QCryptographicHash::hash(expected, QCryptographicHash::Sha256) : QByteArray());
        QStringList after = before;
        if (!after.contains(QStringLiteral("out.bin")) && !outputIsASource)
            after << QStringLiteral("out.bin");
        after.sort();
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), after); // nothing left behind
    }
}

void tst_MergeJob::topAddressOnAnyBuild()
{
    // Nearly 2 GiB of image, more than a 32-bit build could ever hold at once.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    if (QStorageInfo(dir.path()).bytesAvailable() < (qint64(5) << 29))
        QSKIP("needs 2.5 GiB of free disk");
    const QString first = dir.filePath(QStringLiteral("first.bin"));
    const QString last = dir.filePath(QStringLiteral("last.bin"));
    const QByteArray top = pieceContent(1, 65536);
    QVERIFY(writeBytes(first, "1234"));
    QVERIFY(writeBytes(last, top));
    const QString out = dir.filePath(QStringLiteral("out.bin"));

    QStringList log;
    MergeJob job({windowRow(last, QStringLiteral("7fffffff")), windowRow(first, QStringLiteral("1000"))}, out,
                 [&log](const QString &line) { log << line; });
    QVERIFY(job.run());
    QCOMPARE(log.last(), QStringLiteral("Merge success!"));
    QFile image(out);
    QVERIFY(image.open(QIODevice::ReadOnly));
    const qint64 topOffset = qint64(0x7FFFFFFF) - 0x1000;
    QCOMPARE(image.size(), topOffset + 65536);
    QCOMPARE(image.read(4), QByteArray("1234"));
    for (qint64 offset : {qint64(4), qint64(1) << 30, topOffset - 4096}) {
        QVERIFY(image.seek(offset));
        QCOMPARE(image.read(4096), QByteArray(4096, char(0xFF)));
    }
    QVERIFY(image.seek(topOffset));
    QVERIFY(image.readAll() == top);
    image.close();
    QVERIFY(QFile::remove(out));
}

#ifdef Q_OS_UNIX
static bool chownTree(const QString &path)
{
    // Only root needs the files to belong to the user it acts as.
    return !ScopedUnprivileged::isRoot()
           || chown(QFile::encodeName(path).constData(), ScopedUnprivileged::nobody, ScopedUnprivileged::nobody) == 0;
}
#endif

void tst_MergeJob::streamSources_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("followed"); // by a file 128 KiB further up
    QTest::addColumn<QString>("message"); // %1: the source; empty: it merges

    const QString outOfRange = QStringLiteral("Error!!!File size of %1 is out of range!");
    const QString failedRead = QStringLiteral("Error!!!Fail to read file%1!");
    QTest::newRow("endless device, last, meets a file size limit")
        << "/dev/zero" << "1000" << false << "Error!!!Fail to store file%1 in a temporary file!";
    QTest::newRow("endless device at a low address is not read")
        << "/dev/zero" << "0" << false << "Error!!!Start address cannot less than 0x1000!";
    QTest::newRow("endless device before a file") << "/dev/zero" << "1000" << true << outOfRange;
    QTest::newRow("endless random device before a file") << "/dev/urandom" << "1000" << true << outOfRange;
    QTest::newRow("pipe that keeps writing, before a file") << "endless fifo" << "1000" << true << outOfRange;
    QTest::newRow("pipe that writes and ends") << "fifo" << "1000" << true << QString();
    QTest::newRow("pipe that writes and then stalls") << "stalled fifo" << "1000" << false << failedRead;
    QTest::newRow("pipe that nobody writes") << "silent fifo" << "1000" << false << failedRead;
    QTest::newRow("file that reports no size") << "/proc/version" << "1000" << false << QString();
    QTest::newRow("file that fails to read") << "/proc/self/mem" << "1000" << false << failedRead;
    QTest::newRow("empty file") << "empty" << "1000" << true << QString();
}

void tst_MergeJob::streamSources()
{
    QFETCH(QString, kind);
#ifndef Q_OS_UNIX
    if (kind != QLatin1String("empty"))
        QSKIP("Windows has no FIFOs, devices or /proc files to name as a source");
#endif
    QFETCH(QString, address);
    QFETCH(bool, followed);
    QFETCH(QString, message);

#ifdef Q_OS_UNIX
    std::signal(SIGPIPE, SIG_IGN); // a writer whose reader has gone gets EPIPE
#endif
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("tmp")));
    const ScopedTempFolder tempFolder(dir.filePath(QStringLiteral("tmp")));
    const QString out = dir.filePath(QStringLiteral("out.bin"));
    const QString after = dir.filePath(QStringLiteral("after.bin"));
    QVERIFY(writeBytes(out, "old"));
    QVERIFY(writeBytes(after, "after"));
    QString source = kind;
    QByteArray content;
    if (kind.startsWith(QLatin1String("/"))) {
        if (!QFile::exists(kind))
            QSKIP("no such file here");
        QFile file(kind);
        if (message.isEmpty() && file.open(QIODevice::ReadOnly))
            content = file.readAll();
    } else if (kind == QLatin1String("empty")) {
        source = dir.filePath(kind);
        QVERIFY(writeBytes(source, QByteArray()));
    }
#ifdef Q_OS_UNIX
    else {
        source = dir.filePath(QStringLiteral("fifo"));
        QCOMPARE(mkfifo(QFile::encodeName(source).constData(), 0600), 0);
    }

    int heldOpen = -1;
    std::thread writer;
    const QByteArray fifoPath = QFile::encodeName(source);
    if (kind == QLatin1String("fifo")) {
        content = pieceContent(3, 100 * 1024); // more than a pipe holds at once
        writer = std::thread([fifoPath, content] {
            const int fd = open(fifoPath.constData(), O_WRONLY);
            for (qint64 done = 0; fd >= 0 && done < content.size();) {
                const ssize_t n = ::write(fd, content.constData() + done, size_t(content.size() - done));
                if (n <= 0)
                    break;
                done += n;
            }
            close(fd);
        });
    } else if (kind == QLatin1String("endless fifo")) {
        writer = std::thread([fifoPath] {
            const int fd = open(fifoPath.constData(), O_WRONLY);
            const QByteArray block(65536, 'e');
            while (fd >= 0 && ::write(fd, block.constData(), size_t(block.size())) > 0) {
            }
            close(fd);
        });
    } else if (kind == QLatin1String("stalled fifo")) {
        // Held open for writing, with a little in it and then nothing more.
        heldOpen = open(fifoPath.constData(), O_RDWR | O_NONBLOCK);
        QVERIFY(heldOpen >= 0);
        QCOMPARE(::write(heldOpen, "abc", 3), ssize_t(3));
    }

#endif

    QStringList log;
    const MergeRow last = windowRow(after, QString::number(Address::fromWindowText(address) + 0x20000, 16));
    QVector<MergeRow> rows{windowRow(source, address)};
    if (followed)
        rows.append(last);
    MergeOptions options;
    options.streamIdleTimeout = 300;
    MergeJob job(rows, out, [&log](const QString &line) { log << line; }, options);
    bool merged;
#ifdef Q_OS_UNIX
    {
        const bool limited = QTest::currentDataTag() == QLatin1String("endless device, last, meets a file size limit");
        ScopedLimit limit(RLIMIT_FSIZE, limited ? 1 << 20 : RLIM_INFINITY);
        QVERIFY(limit.isValid());
        merged = job.run();
    }

    if (writer.joinable()) {
        // A writer still waiting for a reader gets one, and then its EPIPE.
        close(open(fifoPath.constData(), O_RDONLY | O_NONBLOCK));
        writer.join();
    }
    if (heldOpen >= 0)
        close(heldOpen);
#else
    merged = job.run();
#endif

    QCOMPARE(log.first(), QStringLiteral("Begin to merge..."));
    if (message.isEmpty()) {
        QCOMPARE(log.last(), QStringLiteral("Merge success!"));
        QVERIFY(merged);
        QByteArray expected = content;
        if (followed)
            expected += QByteArray(0x20000 - content.size(), char(0xFF)) + "after";
        QFile image(out);
        QVERIFY(image.open(QIODevice::ReadOnly));
        QVERIFY2(image.readAll() == expected, "the image differs");
    } else {
        QVERIFY(!merged);
        QCOMPARE(log, QStringList() << "Begin to merge..." << QString(message).replace(QLatin1String("%1"), source));
        QFile old(out);
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), QByteArray("old"));
    }
    QCOMPARE(QDir(QDir::tempPath()).entryList({QStringLiteral("MergeFile-*")}, QDir::Files), QStringList());
}

void tst_MergeJob::anyNumberOfSources()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVector<MergeRow> rows;
    QByteArray expected;
    for (int i = 0; i < 400; ++i) {
        const QString name = dir.filePath(QStringLiteral("%1.bin").arg(i));
        QVERIFY(writeBytes(name, pieceContent(i, 3)));
        rows.append(windowRow(name, QString::number(0x1000 + 4 * i, 16)));
        expected += pieceContent(i, 3) + (i < 399 ? QByteArray(1, char(0xFF)) : QByteArray());
    }
    const QString out = dir.filePath(QStringLiteral("out.bin"));
#ifdef Q_OS_UNIX
    // Far fewer files may be open than there are rows.
    const int open = QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::System).size();
    ScopedLimit limit(RLIMIT_NOFILE, rlim_t(qMax(open, 16) + 16));
    QVERIFY(limit.isValid());
#endif
    for (bool hash : {false, true}) {
        QStringList log;
        MergeJob job(rows, out, [&log](const QString &line) { log << line; }, hashing(hash));
        QVERIFY2(job.run(), qPrintable(log.join(QLatin1Char('\n'))));
        QFile image(out);
        QVERIFY(image.open(QIODevice::ReadOnly));
        QCOMPARE(image.readAll(), expected);
    }
}

void tst_MergeJob::inPlaceOutput_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("message"); // %1: the output, %2: the file that changes; empty: it merges

    QTest::newRow("shorter image over a longer output") << "shorter" << QString();
    QTest::newRow("longer image over a shorter output") << "longer" << QString();
    QTest::newRow("file size limit keeps the old output") << "size limit" << "Error!!!Fail to write merge file%1";
    QTest::newRow("output locked by another writer")
        << "locked" << "Error!!!Merge file%1 is being written by another program!";
    QTest::newRow("output is one of the sources")
        << "source" << "Error!!!Cannot replace merge file%1 in place: it is one of the files to merge!";
    QTest::newRow("no output yet") << "missing" << "Error!!!Fail to open merge file%1";
    // Between the checks and the write: nothing of the old output may be
    // overwritten before every source byte has been read.
    const QString failedRead = QStringLiteral("Error!!!Fail to read file%2!");
    QTest::newRow("source grows after the check") << "grows" << failedRead;
    QTest::newRow("source shrinks after the check") << "shrinks" << failedRead;
    QTest::newRow("source vanishes after the check") << "vanishes" << failedRead;
    QTest::newRow("source becomes unreadable after the check") << "unreadable" << failedRead;
    const QString noRoom = QStringLiteral("Error!!!No room in the temporary folder for merge file%1!");
    QTest::newRow("no temporary folder") << "no temporary folder" << noRoom;
    QTest::newRow("temporary folder too small") << "small temporary folder" << noRoom;
}

// A read-only folder that holds a writable output: no temporary file can be
// made beside it, so the output is written in place.
void tst_MergeJob::inPlaceOutput()
{
#ifndef Q_OS_UNIX
    QSKIP("Windows ignores the read-only mark of a folder; only access rights keep files out of it");
#else
    QFETCH(QString, kind);
    QFETCH(QString, message);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString folder = dir.filePath(QStringLiteral("ro"));
    const QString temp = dir.filePath(QStringLiteral("tmp"));
    QVERIFY(QDir().mkdir(folder));
    QVERIFY(QDir().mkdir(temp));
    const QString out = folder + QStringLiteral("/out.bin");
    const QString source = dir.filePath(QStringLiteral("src.bin"));
    const QByteArray old(1000, 'o');
    const QByteArray content = pieceContent(5, kind == QLatin1String("shorter") ? 10 : 300 * 1024);
    QVERIFY(writeBytes(source, content));
    if (kind != QLatin1String("missing"))
        QVERIFY(writeBytes(out, old));
    QVector<MergeRow> rows{windowRow(source, QStringLiteral("1000"))};
    if (kind == QLatin1String("source"))
        rows.append(windowRow(out, QStringLiteral("100000")));
    // A file that changes after the check lies behind one that is fine, as
    // the old output would already be half overwritten by then.
    const QString changing = dir.filePath(QStringLiteral("changing.bin"));
    const bool changes = QStringList{"grows", "shrinks", "vanishes", "unreadable"}.contains(kind);
    if (changes) {
        QVERIFY(writeBytes(changing, pieceContent(6, 1000)));
        rows.append(windowRow(changing, QStringLiteral("60000")));
    }
    for (const QString &path : {dir.path(), folder, out, source, temp, changing})
        QVERIFY(chownTree(path) || !QFile::exists(path));
    QCOMPARE(chmod(QFile::encodeName(folder).constData(), 0555), 0);
    bool mounted = false;
    if (kind == QLatin1String("small temporary folder")) {
        if (!ScopedUnprivileged::isRoot())
            QSKIP("mounting a small file system needs root");
        mounted = QProcess::execute(QStringLiteral("mount"),
                                    {"-t", "tmpfs", "-o", "size=64k,mode=1777", "tmpfs", temp}) == 0;
        if (!mounted)
            QSKIP("no tmpfs can be mounted here");
    }
    const ScopedTempFolder tempFolder(kind == QLatin1String("no temporary folder") ? dir.filePath(QStringLiteral("none"))
                                                                                    : temp);

    int lockHolder = -1;
    if (kind == QLatin1String("locked")) {
        lockHolder = open(QFile::encodeName(out).constData(), O_RDONLY);
        QCOMPARE(flock(lockHolder, LOCK_EX), 0);
    }
    QStringList log;
    bool merged;
    {
        ScopedLimit limit(RLIMIT_FSIZE, kind == QLatin1String("size limit") ? 64 * 1024 : RLIM_INFINITY);
        ScopedUnprivileged unprivileged;
        QVERIFY(limit.isValid() && unprivileged.isValid());
        MergeJob job(rows, out, [&log](const QString &line) { log << line; });
        merged = job.check();
        if (kind == QLatin1String("grows"))
            QVERIFY(writeBytes(changing, "more", QIODevice::Append));
        else if (kind == QLatin1String("shrinks"))
            QVERIFY(QFile(changing).resize(100));
        else if (kind == QLatin1String("vanishes"))
            QVERIFY(QFile::remove(changing));
        else if (kind == QLatin1String("unreadable"))
            QVERIFY(QFile::setPermissions(changing, QFileDevice::WriteOwner));
        merged = merged && job.write();
    }
    if (lockHolder >= 0)
        close(lockHolder);
    QCOMPARE(chmod(QFile::encodeName(folder).constData(), 0755), 0);
    const QStringList leftInTemp = QDir(temp).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    if (mounted)
        QCOMPARE(QProcess::execute(QStringLiteral("umount"), {temp}), 0);

    QFile written(out);
    if (message.isEmpty()) {
        QCOMPARE(log, QStringList() << "Begin to merge..." << "Merge success!");
        QVERIFY(merged);
        QVERIFY(written.open(QIODevice::ReadOnly));
        QVERIFY2(written.readAll() == content, "the image differs");
    } else {
        QCOMPARE(log, QStringList() << "Begin to merge..."
                           << QString(message).replace(QLatin1String("%1"), out).replace(QLatin1String("%2"), changing));
        QVERIFY(!merged);
        if (kind != QLatin1String("missing")) {
            QVERIFY(written.open(QIODevice::ReadOnly));
            QCOMPARE(written.readAll(), old);
        }
    }
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden),
             kind == QLatin1String("missing") ? QStringList() : QStringList{"out.bin"});
    QCOMPARE(leftInTemp, QStringList());
#endif
}

void tst_MergeJob::replaceExisting_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("message"); // %1: the output; empty: it merges

    QTest::newRow("name of 248 bytes") << "name 248" << QString();
    QTest::newRow("name of 249 bytes") << "name 249" << QString();
    QTest::newRow("name of 255 bytes") << "name 255" << QString();
    QTest::newRow("owner, group and mode kept") << "owner" << QString();
    QTest::newRow("ACL kept") << "acl" << QString();
    QTest::newRow("extended attribute kept") << "xattr" << QString();
    const QString refused = QStringLiteral("Error!!!Merge file%1 is a link that another user made in a shared folder!");
    QTest::newRow("another user's link in a shared folder") << "foreign link" << refused;
    QTest::newRow("another user's dangling link in a shared folder") << "foreign dangling link" << refused;
    QTest::newRow("own link in a shared folder") << "own link" << QString();
    QTest::newRow("link loop") << "loop" << "Error!!!Merge file%1 is a link that leads round in a loop!";
    QTest::newRow("bind-mounted file") << "bind mount" << QString();
    QTest::newRow("another user's writable file in a shared folder") << "foreign file" << QString();
}

// An existing output replaced by the new image: whatever its name, links and
// attributes, the right file gets the image and keeps what it was.
void tst_MergeJob::replaceExisting()
{
#ifndef Q_OS_UNIX
    QSKIP("links, owners, ACLs and bind mounts as Unix has them");
#else
    QFETCH(QString, kind);
    QFETCH(QString, message);

    const bool root = ScopedUnprivileged::isRoot();
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(chownTree(dir.path()));
    QVERIFY(QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                                  | QFileDevice::ExeGroup | QFileDevice::ExeOther));
    const QString source = dir.filePath(QStringLiteral("src.bin"));
    const QByteArray content = pieceContent(7, 5000);
    QVERIFY(writeBytes(source, content));
    QVERIFY(chownTree(source));
    const QByteArray old("old image");
    const QString shared = dir.filePath(QStringLiteral("shared"));
    QVERIFY(QDir().mkdir(shared));
    QCOMPARE(chmod(QFile::encodeName(shared).constData(), 01777), 0);
    const QString elsewhere = dir.filePath(QStringLiteral("elsewhere.bin"));
    QString out = dir.filePath(QStringLiteral("out.bin"));
    QString written = out; // where the image must land
    const auto sh = [](const QString &command) {
        return QProcess::execute(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), command}) == 0;
    };

    if (kind.startsWith(QLatin1String("name "))) {
        out = written = dir.filePath(QString(kind.mid(5).toInt() - 4, QLatin1Char('n')) + QStringLiteral(".bin"));
        QVERIFY(writeBytes(out, old));
    } else if (kind == QLatin1String("owner") || kind == QLatin1String("acl") || kind == QLatin1String("xattr")) {
        QVERIFY(writeBytes(out, old));
        QCOMPARE(chmod(QFile::encodeName(out).constData(), 0640), 0);
        if (kind == QLatin1String("owner")) {
            if (!root)
                QSKIP("giving a file to another user needs root");
            QVERIFY(chownTree(out));
        } else if (kind == QLatin1String("acl")) {
            if (QStandardPaths::findExecutable(QStringLiteral("setfacl")).isEmpty())
                QSKIP("no setfacl here (Debian's acl package)");
            if (!sh(QStringLiteral("setfacl -m u:daemon:rw '%1'").arg(out)))
                QSKIP("this file system keeps no ACLs");
        } else if (setxattr(QFile::encodeName(out).constData(), "user.mergefile", "kept", 4, 0) != 0) {
            QSKIP("this file system keeps no extended attributes");
        }
    } else if (kind.contains(QLatin1String("link"))) {
        if (kind.startsWith(QLatin1String("foreign")) && !root)
            QSKIP("a link of another user needs root to make");
        out = shared + QStringLiteral("/link.bin");
        written = elsewhere;
        if (!kind.contains(QLatin1String("dangling")))
            QVERIFY(writeBytes(elsewhere, old));
        QVERIFY(QFile::link(elsewhere, out));
        if (kind.startsWith(QLatin1String("foreign")))
            QCOMPARE(lchown(QFile::encodeName(out).constData(), ScopedUnprivileged::nobody, ScopedUnprivileged::nobody), 0);
    } else if (kind == QLatin1String("loop")) {
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("other")), out));
        QVERIFY(QFile::link(out, dir.filePath(QStringLiteral("other"))));
    } else if (kind == QLatin1String("bind mount")) {
        if (!root)
            QSKIP("bind mounts need root");
        written = elsewhere;
        QVERIFY(writeBytes(elsewhere, old));
        QVERIFY(writeBytes(out, "mount point"));
        if (!sh(QStringLiteral("mount --bind '%1' '%2'").arg(elsewhere, out)))
            QSKIP("no bind mount can be made here");
    } else if (kind == QLatin1String("foreign file")) {
        if (!root)
            QSKIP("a file of another user needs root to make");
        out = written = shared + QStringLiteral("/theirs.bin");
        QVERIFY(writeBytes(out, old));
        QCOMPARE(chmod(QFile::encodeName(out).constData(), 0666), 0);
        QCOMPARE(chown(QFile::encodeName(out).constData(), 1, 1), 0); // daemon's; the merge runs as nobody
    }
    struct stat before;
    const bool existed = stat(QFile::encodeName(written).constData(), &before) == 0;
    const QStringList getfacl{QStringLiteral("-p"), out};
    const QString aclBefore = kind == QLatin1String("acl") ? commandOutput(QStringLiteral("getfacl"), getfacl) : QString();

    QStringList log;
    bool merged;
    {
        ScopedUnprivileged unprivileged(kind == QLatin1String("foreign file"));
        QVERIFY(unprivileged.isValid());
        MergeJob job({windowRow(source, QStringLiteral("1000"))}, out, [&log](const QString &line) { log << line; });
        merged = job.run();
    }
    if (kind == QLatin1String("bind mount"))
        QVERIFY(sh(QStringLiteral("umount '%1'").arg(out)));

    if (!message.isEmpty()) {
        QCOMPARE(log, QStringList() << "Begin to merge..." << message.arg(out));
        QVERIFY(!merged);
        if (kind.contains(QLatin1String("dangling")))
            QVERIFY(!QFile::exists(written));
        else if (kind != QLatin1String("loop"))
            QCOMPARE(readBytes(written), old);
        QVERIFY(QFileInfo(out).isSymLink());
    } else {
        QCOMPARE(log, QStringList() << "Begin to merge..." << "Merge success!");
        QVERIFY(merged);
        QVERIFY2(readBytes(written) == content, "the image is not where it belongs");
        struct stat after;
        QCOMPARE(stat(QFile::encodeName(written).constData(), &after), 0);
        if (existed) {
            QCOMPARE(after.st_uid, before.st_uid);
            QCOMPARE(after.st_gid, before.st_gid);
            QCOMPARE(after.st_mode, before.st_mode);
        }
        if (kind.contains(QLatin1String("link")))
            QVERIFY(QFileInfo(out).isSymLink());
        if (kind == QLatin1String("acl")) {
            QCOMPARE(commandOutput(QStringLiteral("getfacl"), getfacl), aclBefore);
            QVERIFY(aclBefore.contains(QLatin1String("user:daemon:rw-")));
        }
        if (kind == QLatin1String("xattr")) {
            char value[16] = {};
            QCOMPARE(getxattr(QFile::encodeName(out).constData(), "user.mergefile", value, sizeof value), ssize_t(4));
            QCOMPARE(QByteArray(value), QByteArray("kept"));
        }
    }
    // Nothing of ours left beside the output or in the shared folder.
    for (const QString &folder : {dir.path(), shared}) {
        for (const QString &name : QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System))
            QVERIFY2(!name.startsWith(QLatin1String(".MergeFile")), qPrintable(name));
    }
#endif
}

QTEST_GUILESS_MAIN(tst_MergeJob)
#include "tst_mergejob.moc"
