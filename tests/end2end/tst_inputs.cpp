// Intel HEX, S-record and ELF inputs, made and flattened by tools nobody here
// wrote (srec_cat from Debian's srecord, binutils' ld and objcopy, Python's
// zlib and hashlib): the image must be what they make of the same files, in
// every output format; bad inputs get one line and no output.

#include "CliRunner.h"
#include "Records.h"
#include "WindowDriver.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>

namespace {

// Runs a shell script in the test's folder; false when it fails.
bool shell(const QString &script)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QStringLiteral("/bin/sh"), {QStringLiteral("-ec"), script});
    return process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// The tools a row needs that are not here: the row is skipped then.
QString missingTool(const QStringList &tools)
{
    if (!QFileInfo::exists(QStringLiteral("/bin/sh")))
        return QStringLiteral("/bin/sh (Windows has none; srec_cat and binutils do not run there either)");
    for (const QString &tool : tools) {
        if (QStandardPaths::findExecutable(tool).isEmpty())
            return tool;
    }
    return QString();
}

// Random bytes of a given size, as a shell line.
QString blob(const QString &name, int size)
{
    return QStringLiteral("head -c %1 /dev/urandom > %2\n").arg(size).arg(name);
}

// Links an ELF executable from two blobs with ld: .text at 08000000 and
// .data run at 20000000 but loaded (LMA) at 08000400, then .bss.
QString elf(const QString &ld, const QString &name)
{
    return blob(QStringLiteral("code.bin"), 300) + blob(QStringLiteral("init.bin"), 40)
           + QStringLiteral("printf '%s\\n' 'SECTIONS {' '.text 0x08000000 : { code.o(.data) }'"
                            " '.data 0x20000000 : AT(0x08000400) { init.o(.data) }'"
                            " '.bss (NOLOAD) : { . = . + 0x100; }' '}' > e.ld\n"
                            "%1 -r -b binary code.bin -o code.o\n"
                            "%1 -r -b binary init.bin -o init.o\n"
                            "%1 -T e.ld code.o init.o -o %2\n")
                 .arg(ld, name);
}

} // namespace

class tst_Inputs : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void layoutsMatchOtherTools_data();
    void layoutsMatchOtherTools();
    void badInputs_data();
    void badInputs();
    void recordsThroughPipes();
    void toldAfterBlankLines_data();
    void toldAfterBlankLines();
    void mapShowsSegmentsShiftAndStart();
    void startAddressOfEachWidth_data();
    void startAddressOfEachWidth();
    void windowReadsEveryFileRaw();

private:
    QScopedPointer<CurrentTempDir> dir;
};

void tst_Inputs::init()
{
    dir.reset(new CurrentTempDir);
    QVERIFY(dir->isValid());
}

void tst_Inputs::cleanup()
{
    dir.reset();
}

void tst_Inputs::layoutsMatchOtherTools_data()
{
    QTest::addColumn<QStringList>("tools");
    QTest::addColumn<QString>("setUp"); // makes the inputs and expected.bin, the flat image
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("base");

    const QStringList srec{"srec_cat"};
    QTest::newRow("HEX with 32-bit linear addresses, own addresses, base 08000000")
        << srec
        << blob("a.bin", 3000) + blob("b.bin", 500)
               + "srec_cat a.bin -binary -offset 0x08000000 -o a.hex -intel -address-length=4\n"
                 "srec_cat b.bin -binary -offset 0x08004000 -o b.hex -intel -address-length=4\n"
                 "srec_cat '(' a.hex -intel b.hex -intel ')' -fill 0xFF 0x08000000 0x080041F4 -offset -0x08000000 "
                 "-o expected.bin -binary\n"
        << QStringList{"--base", "8000000", "-", "a.hex", "-", "b.hex"} << "8000000";
    QTest::newRow("HEX with 16-bit segment addresses")
        << srec
        << blob("a.bin", 5000)
               + "srec_cat a.bin -binary -offset 0x12340 -o a.hex -intel -address-length=3\n"
                 "grep -q '^:02000002' a.hex\n"
                 "srec_cat a.hex -intel -fill 0xFF 0x10000 0x136C8 -offset -0x10000 -o expected.bin -binary\n"
        << QStringList{"--base", "10000", "-", "a.hex"} << "10000";
    QTest::newRow("HEX records in reverse order, across 64 KiB")
        << srec
        << blob("a.bin", 6000)
               // Each 64 KiB half keeps its extended address record first.
               + "srec_cat a.bin -binary -offset 0x3F000 -crop 0x3F000 0x40000 -o low.hex -intel -address-length=4\n"
                 "srec_cat a.bin -binary -offset 0x3F000 -crop 0x40000 0x50000 -o high.hex -intel -address-length=4\n"
                 "{ sed -n 1p high.hex; sed '1d;$d' high.hex | tac; sed -n 1p low.hex; sed '1d;$d' low.hex | tac; "
                 "echo ':00000001FF'; } > a.hex\n"
                 "srec_cat a.hex -intel -offset -0x3F000 -o expected.bin -binary\n"
        << QStringList{"--base", "3F000", "-", "a.hex"} << "3F000";
    QTest::newRow("HEX moved between raw files")
        << srec
        << blob("r1.bin", 100) + blob("a.bin", 2000) + blob("r2.bin", 300)
               + "srec_cat a.bin -binary -offset 0x08000000 -o a.hex -intel\n"
                 "srec_cat '(' r1.bin -binary -offset 0x1000 a.hex -intel -offset -0x07FFE000 r2.bin -binary "
                 "-offset 0x3000 ')' -fill 0xFF 0x1000 0x312C -offset -0x1000 -o expected.bin -binary\n"
        << QStringList{"1000", "r1.bin", "2000", "a.hex", "3000", "r2.bin"} << "1000";
    QTest::newRow("HEX that gives the same record twice")
        << srec
        << blob("a.bin", 64)
               + "srec_cat a.bin -binary -offset 0x1000 -o once.hex -intel\n"
                 "{ sed -n 2p once.hex; cat once.hex; } > a.hex\n"
                 "cp a.bin expected.bin\n"
        << QStringList{"-", "a.hex"} << "1000";
    QTest::newRow("S1 records, base 0")
        << srec
        << blob("s.bin", 700)
               + "srec_cat s.bin -binary -offset 0x4000 -o s.s19 -motorola -address-length=2\n"
                 "grep -q '^S1' s.s19\n"
                 "srec_cat s.s19 -motorola -fill 0xFF 0 0x42BC -o expected.bin -binary\n"
        << QStringList{"--base", "0", "-", "s.s19"} << "0";
    QTest::newRow("S2 records")
        << srec
        << blob("s.bin", 700)
               + "srec_cat s.bin -binary -offset 0x123450 -o s.s28 -motorola -address-length=3\n"
                 "grep -q '^S2' s.s28\n"
                 "srec_cat s.s28 -motorola -fill 0xFF 0x120000 0x12370C -offset -0x120000 -o expected.bin -binary\n"
        << QStringList{"--base", "120000", "-", "s.s28"} << "120000";
    QTest::newRow("S3 records above 7FFFFFFF, with raw data after")
        << srec
        << blob("s.bin", 700) + blob("r.bin", 10)
               + "srec_cat s.bin -binary -offset 0x9D000000 -o s.s37 -motorola -address-length=4\n"
                 "srec_cat '(' s.s37 -motorola r.bin -binary -offset 0x9D001000 ')' -fill 0xFF 0x9D000000 0x9D00100A "
                 "-offset -0x9D000000 -o expected.bin -binary\n"
        << QStringList{"--base", "9D000000", "-", "s.s37", "9D001000", "r.bin"} << "9D000000";
    QTest::newRow("a piece that ends at FFFFFFFF")
        << srec
        << blob("top.bin", 256)
               + "srec_cat top.bin -binary -offset 0xFFFFFF00 -o top.hex -intel -address-length=4\n"
                 "cp top.bin expected.bin\n"
        << QStringList{"--base", "FFFFFF00", "-", "top.hex"} << "FFFFFF00";
    // srec_cat passes over an empty data record, wherever it lies.
    const QByteArray sixteen = QByteArray::fromHex("000102030405060708090a0b0c0d0e0f");
    QTest::newRow("HEX data records without data are no data")
        << srec
        << QStringLiteral("printf '%s' '%1' > z.hex\nsrec_cat z.hex -intel -offset -0x8000 -o expected.bin -binary\n")
               .arg(QString::fromLatin1(hexRecord(0, 0, {}) + hexRecord(0, 0x8000, sixteen) + hexRecord(0, 0xF000, {})
                                        + hexRecord(1, 0, {})))
        << QStringList{"1000", "z.hex"} << "1000";
    QTest::newRow("S1 records without data are no data")
        << srec
        << QStringLiteral("printf '%s' '%1' > z.s19\nsrec_cat z.s19 -motorola -offset -0x4000 -o expected.bin -binary\n")
               .arg(QString::fromLatin1(sRecord(1, 0, 2, {}) + sRecord(1, 0x4000, 2, sixteen) + sRecord(9, 0, 2, {})))
        << QStringList{"1000", "z.s19"} << "1000";
    // An extended segment address: offsets wrap round inside the segment.
    QTest::newRow("HEX record that wraps round its segment")
        << srec
        << QStringLiteral("printf '%s' '%1' > w.hex\n"
                          "srec_cat w.hex -intel -fill 0xFF 0x10000 0x20000 -offset -0x10000 -o expected.bin -binary\n")
               .arg(QString::fromLatin1(hexRecord(2, 0, QByteArray("\x10\x00", 2)) + hexRecord(0, 0xFFF8, sixteen)
                                        + hexRecord(1, 0, {})))
        << QStringList{"--base", "10000", "-", "w.hex"} << "10000";
    QTest::newRow("TI-TXT with lines of 5,000 and 300,000 bytes, as srec_cat reads them")
        << srec
        << blob("a.bin", 5000) + blob("b.bin", 300000)
               + "{ echo @2000; od -An -v -tx1 a.bin | tr -d '\\n'; echo; echo @8000; od -An -v -tx1 b.bin | tr -d '\\n'; "
                 "echo; echo q; } > long.txt\n"
                 "srec_cat long.txt -ti-txt -fill 0xFF 0x2000 0x513E0 -offset -0x2000 -o expected.bin -binary\n"
        << QStringList{"--base", "2000", "-", "long.txt"} << "2000";
    QTest::newRow("a file that starts like ELF, then zeros, is raw data")
        << QStringList() << "{ printf '\\177ELF'; head -c 60 /dev/zero; } > e.bin\ncp e.bin expected.bin\n"
        << QStringList{"1000", "e.bin"} << "1000";
    QTest::newRow("a file that only starts like HEX is raw data")
        << QStringList() << "printf ':not a record\\n:0400000001020304F2\\n' > a.hex\ncp a.hex expected.bin\n"
        << QStringList{"1000", "a.hex"} << "1000";
    // objcopy flattens by load address; the cross binutils read their own.
    const auto flatten = [](const char *prefix) {
        return QStringLiteral("%1objcopy -O binary --gap-fill 0xff e.elf expected.bin\n").arg(QLatin1String(prefix));
    };
    QTest::newRow("ELF, 64-bit little-endian, loaded where it does not run")
        << QStringList{"ld", "objcopy"} << elf("ld", "e.elf") + flatten("")
        << QStringList{"--base", "8000000", "-", "e.elf"} << "8000000";
    QTest::newRow("ELF, 32-bit little-endian")
        << QStringList{"ld", "objcopy"} << elf("ld -m elf_i386", "e.elf") + flatten("")
        << QStringList{"--base", "8000000", "-", "e.elf"} << "8000000";
    QTest::newRow("ELF, 32-bit big-endian")
        << QStringList{"powerpc-linux-gnu-ld", "powerpc-linux-gnu-objcopy"}
        << elf("powerpc-linux-gnu-ld", "e.elf") + flatten("powerpc-linux-gnu-")
        << QStringList{"--base", "8000000", "-", "e.elf"} << "8000000";
    QTest::newRow("ELF, 64-bit big-endian")
        << QStringList{"s390x-linux-gnu-ld", "s390x-linux-gnu-objcopy"}
        << elf("s390x-linux-gnu-ld", "e.elf") + flatten("s390x-linux-gnu-")
        << QStringList{"--base", "8000000", "-", "e.elf"} << "8000000";
    QTest::newRow("ELF moved to 1000, a raw file and a HEX file after it")
        << QStringList{"ld", "objcopy", "srec_cat"}
        << elf("ld", "e.elf") + blob("r.bin", 50) + blob("h.bin", 70)
               + "objcopy -O binary --gap-fill 0xff e.elf e.flat\n"
                 "srec_cat h.bin -binary -offset 0x20000000 -o h.hex -intel\n"
                 "srec_cat '(' e.flat -binary -offset 0x1000 r.bin -binary -offset 0x2000 h.hex -intel -offset "
                 "-0x1FFFD000 ')' -fill 0xFF 0x1000 0x3046 -offset -0x1000 -o expected.bin -binary\n"
        << QStringList{"1000", "e.elf", "2000", "r.bin", "3000", "h.hex"} << "1000";
}

void tst_Inputs::layoutsMatchOtherTools()
{
    QFETCH(QStringList, tools);
    QFETCH(QString, setUp);
    QFETCH(QStringList, args);
    QFETCH(QString, base);

    const QString missing = missingTool(tools);
    if (!missing.isEmpty())
        QSKIP(qPrintable(QStringLiteral("%1 is not here").arg(missing)));
    QVERIFY2(shell(setUp), "the other tools could not make the inputs");
    const QByteArray expected = readFile(QStringLiteral("expected.bin"));
    QVERIFY(!expected.isEmpty());

    const Run run = runCli(QStringList{"-o", "out.bin"} + args);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out.at(1), QStringLiteral("Merge success!"));
    QVERIFY2(readFile(QStringLiteral("out.bin")) == expected, "the flat image differs from the other tools'");

    // The same inputs as records, read back by srec_cat: gaps are left out,
    // so it fills them as the flat image holds them.
    if (QStandardPaths::findExecutable(QStringLiteral("srec_cat")).isEmpty())
        return;
    for (const char *format : {"hex", "srec"}) {
        const Run records = runCli(QStringList{"--format", QLatin1String(format), "-o", "out.txt"} + args);
        QCOMPARE(records.exitCode, 0);
        const qint64 start = base.toLongLong(nullptr, 16);
        QVERIFY(shell(QStringLiteral("srec_cat out.txt %1 -fill 0xFF 0x%2 0x%3 -offset -0x%2 -o back.bin -binary")
                          .arg(QLatin1String(qstrcmp(format, "hex") == 0 ? "-intel" : "-motorola"))
                          .arg(start, 0, 16)
                          .arg(start + expected.size(), 0, 16)));
        QVERIFY2(readFile(QStringLiteral("back.bin")) == expected, format);
    }
}

void tst_Inputs::badInputs_data()
{
    QTest::addColumn<QStringList>("tools");
    QTest::addColumn<QByteArray>("text"); // written to bad.hex, unless empty
    QTest::addColumn<QString>("setUp");   // a shell script, for the rest
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");

    const QByteArray end = hexRecord(1, 0, QByteArray());
    const QByteArray data = hexRecord(0, 0x1000, "\x01\x02\x03\x04");
    QByteArray badSum = data;
    badSum[badSum.size() - 2] = badSum.at(badSum.size() - 2) == '0' ? '1' : '0';
    const QStringList own{"-", "bad.hex"};
    const QString cannotRead = QStringLiteral("Error!!!Cannot read bad.hex: %1!");
    QTest::newRow("HEX checksum that does not match") << QStringList() << data + badSum + end << "" << own
                                                      << cannotRead.arg("line 2: the checksum does not match");
    QTest::newRow("HEX record cut short") << QStringList() << data + data.left(data.size() - 3) + '\n' + end << ""
                                          << own << cannotRead.arg("line 2: the record is cut short");
    QTest::newRow("HEX record longer than its length byte")
        << QStringList() << data.left(data.size() - 1) + "00\n" + end << "" << own
        << cannotRead.arg("line 1: the record is longer than its length byte says");
    QTest::newRow("HEX record of an unknown type") << QStringList() << data + hexRecord(6, 0, "\x01") + end << ""
                                                   << own << cannotRead.arg("line 2: unknown record type 06");
    QTest::newRow("HEX without its end record") << QStringList() << data << "" << own
                                                << cannotRead.arg("it ends without an end-of-file record (a truncated file?)");
    QTest::newRow("S-record checksum that does not match")
        << QStringList() << QByteArray("S107000001020304EE\nS107000401020304ED\n") << "" << own
        << cannotRead.arg("line 2: the checksum does not match");
    QTest::newRow("S-record of an unknown type") << QStringList() << QByteArray("S107000001020304EE\nS4030000FC\n")
                                                 << "" << own << cannotRead.arg("line 2: unknown record type S4");
    QTest::newRow("two different bytes for one address in one file")
        << QStringList() << data + hexRecord(0, 0x1002, "\x03\x09") + end << "" << own
        << "Error!!!bad.hex gives two different bytes for address 0x00001003!";
    QTest::newRow("two files that overlap")
        << QStringList() << data + end
        << QStringLiteral("printf '%s' '%1' > other.hex\n").arg(QString::fromLatin1(hexRecord(0, 0x1003, "\x05\x06") + end))
        << QStringList{"-", "bad.hex", "-", "other.hex"} << "Error!!!bad.hex and other.hex overlap at 0x00001003!";
    QTest::newRow("a raw file and a HEX file that overlap")
        << QStringList() << data + end << "head -c 10 /dev/zero > raw.bin\n"
        << QStringList{"1000", "raw.bin", "-", "bad.hex"} << "Error!!!raw.bin and bad.hex overlap at 0x00001000!";
    QTest::newRow("a piece past FFFFFFFF") << QStringList() << data + end << ""
                                           << QStringList{"FFFFFFFE", "bad.hex"}
                                           << "Error!!!bad.hex runs past the end of the 32-bit address range (0xFFFFFFFF)!";
    QTest::newRow("below another base") << QStringList() << data + end << "" << QStringList{"--base", "2000", "-", "bad.hex"}
                                        << "Error!!!Start address cannot less than 0x2000!";
    // One merge, one verdict: a raw file that only starts like a record file
    // changes nothing about how the other raw files are checked.
    QTest::newRow("raw files, one of them a single colon")
        << QStringList() << QByteArray() << "head -c 4096 /dev/zero > a.bin\n: > e.bin\nprintf ':' > c.bin\n"
        << QStringList{"7ca0", "a.bin", "886c", "e.bin", "1fbfe", "c.bin"} << "Error!!!File size of a.bin is out of range!";
    QTest::newRow("HEX with a line longer than any record")
        << QStringList() << data + ':' + QByteArray(1048, '0') + '\n' + end << "" << own
        << cannotRead.arg("line 2: the line is longer than any record");
    QTest::newRow("HEX that gives no data byte")
        << QStringList() << end << "echo c > c.bin\n" << QStringList{"--layout", "--map", "m.json", "-", "bad.hex", "1000", "c.bin"}
        << cannotRead.arg("it holds no data");
    QTest::newRow("raw data that starts with an end record")
        << QStringList() << ":00000001FF\n" + QByteArray("\x00\x01\x02\xff\xfe binary", 12) << "" << QStringList{"1000", "bad.hex"}
        << cannotRead.arg("it holds no data");
    QTest::newRow("S5 count that does not match")
        << QStringList() << sRecord(1, 0, 2, "\x01") + sRecord(5, 99, 2, {}) << "" << own
        << cannotRead.arg("line 2: the S5 record counts 99 data records, but 1 came before it");
    QTest::newRow("ELF segment with more bytes in the file than in memory")
        << QStringList() << elfFile(false, false, {{1, 512, 0x1000, 256, 16}}, 0, 800) << "" << own
        << cannotRead.arg("its ELF program header 0 has more bytes in the file than in memory");
    QTest::newRow("ELF whose loadable segments are all .bss")
        << QStringList() << elfFile(true, false, {{1, 0, 0x1000, 0, 64}}, 0, 600) << "" << own
        << cannotRead.arg("it holds no data");
    // A UF2 file is told by its first block, whatever its length: one cut
    // short is refused, not merged as raw data with its headers.
    const QByteArray block0 = uf2Block(0, 3, 0, 0x1000, QByteArray(256, 'a'));
    const QByteArray block1 = uf2Block(1, 3, 0, 0x1100, QByteArray(256, 'b'));
    const QByteArray block2 = uf2Block(2, 3, 0, 0x1200, QByteArray(256, 'c'));
    QTest::newRow("UF2 cut short inside a block, given an address")
        << QStringList() << block0 + block1.left(300) << "" << QStringList{"2000", "bad.hex"}
        << cannotRead.arg("its length, 812 bytes, is not a whole number of 512-byte UF2 blocks");
    QTest::newRow("UF2 cut at a block boundary")
        << QStringList() << block0 + block1 << "" << own << cannotRead.arg("it ends where UF2 block 2 of 3 should follow (a truncated file?)");
    QTest::newRow("UF2 with a block missing")
        << QStringList() << block0 + block2 << "" << QStringList{"2000", "bad.hex"}
        << cannotRead.arg("UF2 block 1 (at byte 512) is numbered 2 of 3, where 1 of 3 should come (a block missing, given "
                          "twice or out of order)");
    QTest::newRow("UF2 with a block given twice")
        << QStringList() << block0 + block1 + block1 + block2 << "" << own
        << cannotRead.arg("UF2 block 2 (at byte 1024) is numbered 1 of 3, where 2 of 3 should come (a block missing, given "
                          "twice or out of order)");
    QTest::newRow("raw data without an address") << QStringList() << QByteArray() << "echo raw > raw.bin\n"
                                                 << QStringList{"-", "raw.bin"}
                                                 << "Error!!!raw.bin is not an Intel HEX, S-record, ELF, UF2 or TI-TXT file: it needs an address!";
    QTest::newRow("ELF object without segments")
        << QStringList{"ld"} << QByteArray() << "head -c 100 /dev/urandom > blob.bin\nld -r -b binary blob.bin -o blob.o\n"
        << QStringList{"-", "blob.o"}
        << "Error!!!Cannot read blob.o: an ELF file without program headers, such as an object file or a library, "
           "has no loadable (PT_LOAD) segments to merge!";
    QTest::newRow("ELF header cut short")
        << QStringList{"ld"} << QByteArray() << elf("ld", "whole.elf") + "head -c 40 whole.elf > cut.elf\n"
        << QStringList{"-", "cut.elf"} << "Error!!!Cannot read cut.elf: its ELF header is cut short!";
}

void tst_Inputs::badInputs()
{
    QFETCH(QStringList, tools);
    QFETCH(QByteArray, text);
    QFETCH(QString, setUp);
    QFETCH(QStringList, args);
    QFETCH(QString, message);

    if (!setUp.isEmpty()) {
        const QString missing = missingTool(tools);
        if (!missing.isEmpty())
            QSKIP(qPrintable(QStringLiteral("%1 is not here").arg(missing)));
        QVERIFY(shell(setUp));
    }
    if (!text.isEmpty())
        QVERIFY(writeFile(QStringLiteral("bad.hex"), text));
    QVERIFY(writeFile(QStringLiteral("out.bin"), "old"));
    const QStringList before = QDir().entryList(QDir::Files | QDir::Hidden);

    for (bool dryRun : {false, true}) {
        const Run run = runCli(QStringList{"-o", "out.bin"} + QStringList(dryRun ? QStringList{"--dry-run"} : QStringList())
                               + args);
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.out, QStringList() << "Begin to merge..." << message);
        QCOMPARE(readFile(QStringLiteral("out.bin")), QByteArray("old"));
        QCOMPARE(QDir().entryList(QDir::Files | QDir::Hidden), before);
    }
}

// HEX and ELF arriving through pipes (a build that streams them) give the
// same image as the files.
void tst_Inputs::recordsThroughPipes()
{
    const QString missing = missingTool({QStringLiteral("srec_cat"), QStringLiteral("ld")});
    if (!missing.isEmpty())
        QSKIP(qPrintable(QStringLiteral("%1 is not here").arg(missing)));
    QVERIFY(shell(elf("ld", "e.elf") + blob("h.bin", 3000)
                  + "srec_cat h.bin -binary -offset 0x08010000 -o h.hex -intel\n"));
    const QStringList files{"--base", "8000000", "-o", "files.bin", "-", "e.elf", "-", "h.hex"};
    QCOMPARE(runCli(files).exitCode, 0);
    QProcess process;
    process.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"),
                                             QStringLiteral("cat e.elf | { cat h.hex | \"$0\" --base 8000000 -o pipes.bin "
                                                            "- /dev/fd/3 - /dev/stdin; } 3<&0"),
                                             cliProgram()});
    QCOMPARE(finishRun(process, 60000).exitCode, 0);
    const QByteArray image = readFile(QStringLiteral("files.bin"));
    QCOMPARE(image.size(), 0x10000 + 3000);
    QVERIFY(readFile(QStringLiteral("pipes.bin")) == image);
}

void tst_Inputs::toldAfterBlankLines_data()
{
    QTest::addColumn<QString>("setUp"); // makes text.in, the file without its blank lines, and expected.bin
    QTest::addColumn<QString>("blank"); // writes the blank lines that come first
    QTest::addColumn<bool>("pipe");     // through a pipe, not a file
    QTest::addColumn<QString>("limits"); // ulimit options for the program, or none
    QTest::addColumn<QStringList>("args"); // "in" is the input

    const QString lf = QStringLiteral("head -c %1 /dev/zero | tr '\\0' '\\n'");
    const QString crlf = QStringLiteral("awk 'BEGIN { for (i = 0; i < %1; i++) printf \"\\r\\n\" }'");
    const QString hex = blob("a.bin", 3000) + "srec_cat a.bin -binary -offset 0x2000 -o text.in -intel\ncp a.bin expected.bin\n";
    const QStringList own{"--base", "2000", "-", "in"};
    QTest::newRow("HEX after 5,000 blank lines") << hex << lf.arg(5000) << false << QString() << own;
    QTest::newRow("HEX after 3,000 CRLF blank lines, through a pipe") << hex << crlf.arg(3000) << true << QString() << own;
    QTest::newRow("HEX after 4,090 blank lines: its first record runs past 4 KiB")
        << hex << lf.arg(4090) << false << QString() << own;
    QTest::newRow("S-records after 10,000 blank lines")
        << blob("a.bin", 700) + "srec_cat a.bin -binary -offset 0x2000 -o text.in -motorola\ncp a.bin expected.bin\n"
        << lf.arg(10000) << false << QString() << own;
    QTest::newRow("TI-TXT after 3 MiB of CRLF blank lines, through a pipe")
        << blob("a.bin", 900) + "srec_cat a.bin -binary -offset 0x2000 -o text.in -ti-txt\ncp a.bin expected.bin\n"
        << crlf.arg(3 << 19) << true << QString() << own;
    QTest::newRow("nothing but blank lines is raw data")
        << QStringLiteral(": > text.in\n%1 > expected.bin\n").arg(lf.arg(9000)) << lf.arg(9000) << false << QString()
        << QStringList{"1000", "in"};
    QTest::newRow("nothing but blank lines through a pipe is raw data")
        << QStringLiteral(": > text.in\n%1 > expected.bin\n").arg(crlf.arg(6000)) << crlf.arg(6000) << true << QString()
        << QStringList{"1000", "in"};
    // Told with a head and a chunk in memory, whatever comes first; the
    // blank lines of a pipe are kept in the temporary file, as the rest.
    QTest::newRow("HEX after 300 MiB of blank lines, through a pipe, in 160 MiB of memory")
        << hex << lf.arg(300 << 20) << true << QStringLiteral("ulimit -v 163840\n") << own;
    QTest::newRow("HEX after 300 MiB of blank lines, in 160 MiB of memory")
        << hex << lf.arg(300 << 20) << false << QStringLiteral("ulimit -v 163840\n") << own;
}

// A record or TI-TXT file is told by its first line that is not empty,
// however many blank lines come before it; a file of nothing else is raw.
void tst_Inputs::toldAfterBlankLines()
{
    QFETCH(QString, setUp);
    QFETCH(QString, blank);
    QFETCH(bool, pipe);
    QFETCH(QString, limits);
    QFETCH(QStringList, args);

    const QString missing = missingTool({QStringLiteral("srec_cat"), QStringLiteral("awk")});
    if (!missing.isEmpty())
        QSKIP(qPrintable(QStringLiteral("%1 is not here").arg(missing)));
#if defined(__SANITIZE_ADDRESS__)
    if (!limits.isEmpty())
        QSKIP("AddressSanitizer reserves more address space than any such limit");
#endif
    QVERIFY2(shell(setUp), "the other tools could not make the inputs");
    const QString input = QStringLiteral("{ %1; cat text.in; }").arg(blank);
    if (!pipe)
        QVERIFY(shell(input + " > in"));
    QStringList quoted;
    for (const QString &arg : std::as_const(args))
        quoted << (arg == QLatin1String("in") && pipe ? QStringLiteral("/dev/stdin") : arg);
    QProcess process;
    process.start(QStringLiteral("/bin/sh"),
                  {QStringLiteral("-c"),
                   limits + (pipe ? input + " | " : QString()) + QStringLiteral("exec \"$0\" -o out.bin ") + quoted.join(' '),
                   cliProgram()});
    const Run run = finishRun(process, 120000);
    QVERIFY2(run.exitCode == 0, qPrintable(run.out.join('\n') + run.err));
    QVERIFY2(readFile(QStringLiteral("out.bin")) == readFile(QStringLiteral("expected.bin")),
             "the image is not what the file holds after its blank lines");
    QFile::remove(QStringLiteral("in"));
}

// The map tells, per file, its format, the shift, the start address and the
// ranges it fills; its checksums are over its data bytes in address order.
void tst_Inputs::mapShowsSegmentsShiftAndStart()
{
    const QString missing = missingTool({QStringLiteral("srec_cat"), QStringLiteral("python3")});
    if (!missing.isEmpty())
        QSKIP(qPrintable(QStringLiteral("%1 is not here").arg(missing)));
    QVERIFY(shell(blob("one.bin", 100) + blob("two.bin", 50)
                  + "srec_cat '(' one.bin -binary -offset 0x08000000 two.bin -binary -offset 0x08001000 ')' "
                    "-execution-start-address=0x08000189 -o a.hex -intel\n"
                    "cat one.bin two.bin > data.bin\n"
                    "python3 -c 'import zlib, hashlib; d = open(\"data.bin\", \"rb\").read(); "
                    "print(\"%08x\" % zlib.crc32(d)); print(hashlib.sha256(d).hexdigest())' > digests.txt\n"));
    const Run run = runCli({"--map", "map.json", "-o", "out.bin", "1000", "a.hex"});
    QCOMPARE(run.exitCode, 0);
    const QJsonObject file = QJsonDocument::fromJson(readFile(QStringLiteral("map.json")))
                                 .object()
                                 .value(QStringLiteral("files"))
                                 .toArray()
                                 .at(0)
                                 .toObject();
    QCOMPARE(file.value(QStringLiteral("format")).toString(), QStringLiteral("hex"));
    QCOMPARE(qint64(file.value(QStringLiteral("shift")).toDouble()), qint64(0x1000) - 0x08000000);
    QCOMPARE(qint64(file.value(QStringLiteral("startAddress")).toDouble()), qint64(0x08000189));
    QCOMPARE(qint64(file.value(QStringLiteral("start")).toDouble()), qint64(0x1000));
    QCOMPARE(qint64(file.value(QStringLiteral("end")).toDouble()), qint64(0x2032));
    QCOMPARE(qint64(file.value(QStringLiteral("size")).toDouble()), qint64(150));
    const QJsonArray segments = file.value(QStringLiteral("segments")).toArray();
    QCOMPARE(segments.size(), 2);
    QCOMPARE(qint64(segments.at(1).toObject().value(QStringLiteral("start")).toDouble()), qint64(0x2000));
    QCOMPARE(qint64(segments.at(1).toObject().value(QStringLiteral("size")).toDouble()), qint64(50));
    const QList<QByteArray> digests = readFile(QStringLiteral("digests.txt")).split('\n');
    QCOMPARE(file.value(QStringLiteral("crc32")).toString().toLatin1(), digests.at(0));
    QCOMPARE(file.value(QStringLiteral("sha256")).toString().toLatin1(), digests.at(1));
}

void tst_Inputs::startAddressOfEachWidth_data()
{
    QTest::addColumn<QString>("address"); // where ld puts the code; its entry lies 0x10 further
    QTest::addColumn<QString>("end");     // the end record objcopy writes for it

    QTest::newRow("S19, S9 end") << "0x1000" << "S9";
    QTest::newRow("S28, S8 end") << "0x123400" << "S8";
    QTest::newRow("S37, S7 end") << "0x08000000" << "S7";
}

// objcopy writes S-records of the width an address needs, ending in the
// start address record of that width; the map gives the entry readelf reads.
void tst_Inputs::startAddressOfEachWidth()
{
    QFETCH(QString, address);
    QFETCH(QString, end);

    const QString missing = missingTool({QStringLiteral("ld"), QStringLiteral("objcopy"), QStringLiteral("readelf")});
    if (!missing.isEmpty())
        QSKIP(qPrintable(QStringLiteral("%1 is not here").arg(missing)));
    const qint64 entry = address.toLongLong(nullptr, 16) + 0x10;
    QVERIFY(shell(blob(QStringLiteral("code.bin"), 64)
                  + QStringLiteral("ld -r -b binary code.bin -o code.o\n"
                                   "ld -Ttext=%1 -e 0x%2 code.o -o e.elf\n"
                                   "objcopy -O srec e.elf e.srec\n"
                                   "tail -n 1 e.srec | grep -q '^%3'\n"
                                   "readelf -h e.elf | sed -n 's/.*Entry point address: *//p' > entry.txt\n")
                        .arg(address)
                        .arg(entry, 0, 16)
                        .arg(end)));
    QCOMPARE(readFile(QStringLiteral("entry.txt")).trimmed().toLongLong(nullptr, 16), entry);
    const Run run = runCli({"--base", "0", "--map", "map.json", "-o", "out.bin", "-", "e.srec"});
    QCOMPARE(run.exitCode, 0);
    const QJsonObject file = QJsonDocument::fromJson(readFile(QStringLiteral("map.json")))
                                 .object()
                                 .value(QStringLiteral("files"))
                                 .toArray()
                                 .at(0)
                                 .toObject();
    QCOMPARE(file.value(QStringLiteral("format")).toString(), QStringLiteral("srec"));
    QCOMPARE(qint64(file.value(QStringLiteral("startAddress")).toDouble()), entry);
}

// The window reads every file whole as raw bytes, whatever it looks like.
void tst_Inputs::windowReadsEveryFileRaw()
{
    const QByteArray text = hexRecord(0, 0x1000, "\x01\x02") + hexRecord(1, 0, QByteArray());
    QVERIFY(writeFile(QStringLiteral("boot.hex"), text));
    MergeMainWindow window;
    window.show();
    setRow(window, 1, true, QStringLiteral("boot.hex"), QStringLiteral("1004"));
    outputEdit(window)->setText(QStringLiteral("out.bin"));
    QCOMPARE(merge(window), QStringList() << "Begin to merge..." << "Merge success!");
    QCOMPARE(readFile(QStringLiteral("out.bin")), fill(4) + text);
}

QTEST_MAIN(tst_Inputs)
#include "tst_inputs.moc"
