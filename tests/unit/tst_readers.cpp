// The input readers through their registry, on bytes held in memory: which
// format a file is told to be, what its records or segments give, and where
// a damaged file is refused. Records are made here from their definitions,
// their checksums worked out by the test.

#include "Records.h"
#include "TempFolder.h"
#include "input/InputReader.h"
#include "input/ScratchStore.h"

#include <QTemporaryDir>
#include <QTest>

namespace {

class MemoryBytes : public ByteSource
{
public:
    explicit MemoryBytes(const QByteArray &bytes)
        : bytes(bytes)
    {
    }
    qint64 size() const override { return bytes.size(); }
    qint64 readAt(qint64 offset, char *data, qint64 size) override
    {
        if (offset >= bytes.size())
            return 0;
        const qint64 n = qMin(size, bytes.size() - offset);
        memcpy(data, bytes.constData() + offset, size_t(n));
        return n;
    }

private:
    QByteArray bytes;
};

// An ELF file: header, program headers (type, offset, physical address,
// file size, memory size) and the bytes they point at, in either class and
// byte order.
struct ElfSegment
{
    quint32 type;
    quint64 offset;
    quint64 physical;
    quint64 fileSize;
    quint64 memorySize;
};

QByteArray elf(bool wide, bool bigEndian, const QVector<ElfSegment> &segments, quint64 entry, int fileSize)
{
    QByteArray file(fileSize, '\0');
    const auto put = [&](int at, quint64 value, int width) {
        for (int i = 0; i < width; ++i)
            file[at + i] = char(value >> (8 * (bigEndian ? width - 1 - i : i)));
    };
    file.replace(0, 4, "\x7f" "ELF");
    file[4] = char(wide ? 2 : 1);
    file[5] = char(bigEndian ? 2 : 1);
    file[6] = 1;
    const int word = wide ? 8 : 4;
    const int tableAt = wide ? 64 : 52;
    const int entrySize = wide ? 56 : 32;
    put(16, 2, 2); // an executable
    put(24, entry, word);
    put(wide ? 32 : 28, quint64(tableAt), word);
    put(wide ? 54 : 42, quint64(entrySize), 2);
    put(wide ? 56 : 44, quint64(segments.size()), 2);
    for (int k = 0; k < segments.size(); ++k) {
        const int at = tableAt + k * entrySize;
        const ElfSegment &s = segments.at(k);
        put(at, s.type, 4);
        put(at + (wide ? 8 : 4), s.offset, word);
        put(at + (wide ? 16 : 8), s.physical + 0x1000000, word); // where it runs: not what is merged
        put(at + (wide ? 24 : 12), s.physical, word);
        put(at + (wide ? 32 : 16), s.fileSize, word);
        put(at + (wide ? 40 : 20), s.memorySize, word);
    }
    for (int i = 512; i < fileSize; ++i)
        file[i] = char(i * 7);
    return file;
}

// The segments a reader gave, as "address:bytes in hex" each, their bytes
// read back from the store or the file.
QStringList segmentsOf(const InputContent &content, ScratchStore &store, const QByteArray &file)
{
    QStringList list;
    for (const MergeSegment &s : content.segments) {
        QByteArray bytes(int(s.size), '\0');
        if (s.inStore)
            store.readAt(s.dataOffset, bytes.data(), s.size);
        else
            bytes = file.mid(int(s.dataOffset), int(s.size));
        list << QStringLiteral("%1:%2").arg(s.address, 0, 16).arg(QString::fromLatin1(bytes.toHex()));
    }
    return list;
}

} // namespace

class tst_Readers : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void tellsTheFormat_data();
    void tellsTheFormat();
    void readsWhatTheFileHolds_data();
    void readsWhatTheFileHolds();
    void refusesDamagedFiles_data();
    void refusesDamagedFiles();

private:
    QScopedPointer<QTemporaryDir> temp;
    QScopedPointer<ScopedTempFolder> tempFolder;
};

// The store keeps its file in the temporary folder: one of the test's own.
void tst_Readers::init()
{
    temp.reset(new QTemporaryDir);
    QVERIFY(temp->isValid());
    tempFolder.reset(new ScopedTempFolder(temp->path()));
}

void tst_Readers::cleanup()
{
    tempFolder.reset();
    temp.reset();
}

void tst_Readers::tellsTheFormat_data()
{
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<bool>("whole");
    QTest::addColumn<QString>("format");

    const QByteArray data = hexRecord(0, 0x100, "\x01\x02\x03");
    QTest::newRow("HEX data record") << data + hexRecord(1, 0, {}) << true << "hex";
    QTest::newRow("HEX after blank lines, CRLF") << "\r\n\n" + data.left(data.size() - 1) + "\r\n" << true << "hex";
    QTest::newRow("HEX end record alone") << hexRecord(1, 0, {}) << true << "hex";
    QTest::newRow("HEX, no line end, whole file") << data.left(data.size() - 1) << true << "hex";
    QTest::newRow("HEX, no line end within the head") << data.left(data.size() - 1) << false << "raw";
    QTest::newRow("HEX whose first checksum is wrong") << QByteArray(":0301000001020304\n") << true << "raw";
    QTest::newRow("HEX record of an unknown type") << hexRecord(6, 0, "\x01") << true << "raw";
    QTest::newRow("HEX record cut short") << data.left(9) + '\n' << true << "raw";
    QTest::newRow("a colon alone") << QByteArray(":") << true << "raw";
    QTest::newRow("a colon and text") << QByteArray(":not a record\n") + data << true << "raw";
    QTest::newRow("S1 record") << sRecord(1, 0x1234, 2, "\xAA") << true << "srec";
    QTest::newRow("S0 header") << sRecord(0, 0, 2, "hdr") + sRecord(1, 0, 2, "\x01") << true << "srec";
    QTest::newRow("S-record of type 4") << QByteArray("S4030000FC\n") << true << "raw";
    QTest::newRow("S and a digit") << QByteArray("S1 is a name\n") << true << "raw";
    QTest::newRow("ELF, 32-bit little-endian") << elf(false, false, {}, 0, 64).left(64) << false << "elf";
    QTest::newRow("ELF, 64-bit big-endian") << elf(true, true, {}, 0, 64).left(64) << false << "elf";
    QByteArray zeros("\x7f" "ELF", 4);
    zeros += QByteArray(60, '\0');
    QTest::newRow("ELF magic, then zeros") << zeros << false << "raw";
    QByteArray wrongVersion = elf(false, false, {}, 0, 64);
    wrongVersion[6] = 2;
    QTest::newRow("ELF of another version") << wrongVersion << false << "raw";
    QTest::newRow("empty") << QByteArray() << true << "raw";
    QTest::newRow("blank lines only") << QByteArray("\n\r\n\n") << true << "raw";
    QTest::newRow("binary") << QByteArray("\x00\x01\x02\xff", 4) << true << "raw";
}

void tst_Readers::tellsTheFormat()
{
    QFETCH(QByteArray, head);
    QFETCH(bool, whole);
    QFETCH(QString, format);
    QCOMPARE(QString(InputReader::tell(head, whole).name()), format);
}

void tst_Readers::readsWhatTheFileHolds_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QStringList>("segments"); // address:bytes, in the file's order
    QTest::addColumn<qint64>("startAddress");  // -1: none

    const QByteArray end = hexRecord(1, 0, {});
    QTest::newRow("HEX records that go on join")
        << hexRecord(0, 0x10, "\x01\x02") + hexRecord(0, 0x12, "\x03") + end << QStringList{"10:010203"} << qint64(-1);
    QTest::newRow("HEX records out of order")
        << hexRecord(0, 0x20, "\x02") + hexRecord(0, 0x10, "\x01") + end << QStringList{"20:02", "10:01"} << qint64(-1);
    QTest::newRow("HEX linear address and start")
        << hexRecord(4, 0, QByteArray("\x08\x00", 2)) + hexRecord(0, 0x0100, "\xAB\xCD") + hexRecord(5, 0, QByteArray("\x08\x00\x01\x89", 4)) + end
        << QStringList{"8000100:abcd"} << qint64(0x08000189);
    QTest::newRow("HEX segment address and CS:IP")
        << hexRecord(2, 0, "\x12\x34") + hexRecord(0, 0x10, "\x55") + hexRecord(3, 0, QByteArray("\x10\x00\x00\x20", 4)) + end
        << QStringList{"12350:55"} << qint64(0x10020);
    QTest::newRow("HEX: what follows the end record is passed over")
        << hexRecord(0, 0, "\x01") + end + "junk\x00\xff" << QStringList{"0:01"} << qint64(-1);
    QTest::newRow("HEX with CRLF and blank lines")
        << "\r\n" + hexRecord(0, 0, "\x07").replace('\n', "\r\n") + "\n" + end << QStringList{"0:07"} << qint64(-1);
    // Start addresses of the three widths, as objcopy ends S19, S28 and S37.
    QTest::newRow("S1 data, S9 start") << sRecord(1, 0x1234, 2, "\x01\x02") + sRecord(9, 0x1235, 2, {})
                                       << QStringList{"1234:0102"} << qint64(0x1235);
    QTest::newRow("S2 data, S8 start") << sRecord(2, 0x123456, 3, "\x03") + sRecord(8, 0x123457, 3, {})
                                       << QStringList{"123456:03"} << qint64(0x123457);
    QTest::newRow("S3 data, S7 start") << sRecord(3, 0x9D000000, 4, "\x04") + sRecord(7, 0x9D000001, 4, {})
                                       << QStringList{"9d000000:04"} << qint64(0x9D000001);
    QTest::newRow("S0 header and S5 count passed over")
        << sRecord(0, 0, 2, "name") + sRecord(1, 0x10, 2, "\x09") + sRecord(5, 1, 2, {}) << QStringList{"10:09"} << qint64(-1);

    const QByteArray little = elf(false, false,
                                  {{1, 512, 0x08000000, 16, 16}, {4, 0, 0, 0, 0}, {1, 600, 0x08000400, 8, 0x100}}, 0x08000001,
                                  700);
    QTest::newRow("ELF32 LE: PT_LOAD at physical addresses, .bss left out")
        << little << QStringList{"8000000:" + QString::fromLatin1(little.mid(512, 16).toHex()),
                                 "8000400:" + QString::fromLatin1(little.mid(600, 8).toHex())}
        << qint64(0x08000001);
    const QByteArray big = elf(true, true, {{1, 520, 0xFFFF0000, 4, 4}, {1, 0, 0, 0, 0x40}}, 0, 600);
    QTest::newRow("ELF64 BE: a segment that is all .bss gives nothing")
        << big << QStringList{"ffff0000:" + QString::fromLatin1(big.mid(520, 4).toHex())} << qint64(-1);
}

void tst_Readers::readsWhatTheFileHolds()
{
    QFETCH(QByteArray, file);
    QFETCH(QStringList, segments);
    QFETCH(qint64, startAddress);

    const InputReader &reader = InputReader::tell(file.left(InputReader::headSize), file.size() <= InputReader::headSize);
    QVERIFY(!reader.isRaw());
    MemoryBytes bytes(file);
    ScratchStore store;
    InputContent content;
    QString problem;
    QCOMPARE(reader.read(bytes, store, content, problem), InputReader::Read);
    QCOMPARE(problem, QString());
    QCOMPARE(segmentsOf(content, store, file), segments);
    QCOMPARE(content.hasStartAddress ? qint64(content.startAddress) : qint64(-1), startAddress);
}

void tst_Readers::refusesDamagedFiles_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("problem");

    const QByteArray good = hexRecord(0, 0x10, "\x01\x02\x03\x04");
    const QByteArray end = hexRecord(1, 0, {});
    QByteArray badSum = good;
    badSum[badSum.size() - 2] = badSum.at(badSum.size() - 2) == '0' ? '1' : '0';
    QTest::newRow("HEX checksum") << good + badSum + end << "line 2: the checksum does not match";
    QTest::newRow("HEX cut short") << good + good.left(good.size() - 3) + '\n' + end << "line 2: the record is cut short";
    QTest::newRow("HEX odd digits") << good + ":0000000\n" << "line 2: the record is cut short";
    QTest::newRow("HEX longer than its length byte") << good.left(good.size() - 1) + "00\n" + end
                                                    << "line 1: the record is longer than its length byte says";
    QTest::newRow("HEX unknown type") << good + hexRecord(6, 0, "\x01") + end << "line 2: unknown record type 06";
    QTest::newRow("HEX address record of the wrong size")
        << good + hexRecord(4, 0, "\x01") + end << "line 2: a type 04 record must hold 2 bytes";
    QTest::newRow("HEX without its end record") << good
                                                << "it ends without an end-of-file record (a truncated file?)";
    QTest::newRow("HEX, then a line of text") << good + "hello\n" + end << "line 2: it is no Intel HEX record";
    QTest::newRow("HEX, then a character that is no digit")
        << good + good.left(5) + 'G' + good.mid(6) + end << "line 2: the record holds a character that is no hexadecimal digit";
    QTest::newRow("HEX, then a line longer than any record")
        << good + ':' + QByteArray(1048, '0') + '\n' + end << "line 2: the line is longer than any record";
    QTest::newRow("S-record checksum") << QByteArray("S107000001020304EE\nS107000401020304ED\n")
                                       << "line 2: the checksum does not match";
    QTest::newRow("S-record of type 4 after a good one")
        << QByteArray("S107000001020304EE\nS4030000FC\n") << "line 2: unknown record type S4";
    QTest::newRow("S-record too short for its type")
        << sRecord(1, 0, 2, "\x01") + "S3030000FC\n" << "line 2: the record is too short for an S3 record";
    QTest::newRow("S-records, then text") << sRecord(1, 0, 2, "\x01") + "end\n" << "line 2: it is no S-record";
    QTest::newRow("ELF without program headers")
        << elf(true, false, {}, 0, 600)
        << "an ELF file without program headers, such as an object file or a library, has no loadable (PT_LOAD) "
           "segments to merge";
    QTest::newRow("ELF without loadable segments")
        << elf(false, false, {{4, 0, 0, 0, 0}}, 0, 600)
        << "an ELF file without loadable (PT_LOAD) segments, such as an object file, has nothing to merge";
    QTest::newRow("ELF header cut short") << elf(true, false, {}, 0, 600).left(40) << "its ELF header is cut short";
    QTest::newRow("ELF segment past the end of the file")
        << elf(false, false, {{1, 580, 0x1000, 64, 64}}, 0, 600) << "its ELF program header 0 runs past the end of the file";
    QTest::newRow("ELF segment loaded past 32 bits")
        << elf(true, false, {{1, 512, Q_UINT64_C(0x100000000), 8, 8}}, 0, 600)
        << "its ELF program header 0 loads at 0x100000000, past the 32-bit address range";
}

void tst_Readers::refusesDamagedFiles()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, problem);

    // Told by the same rule as every input: a file that starts as one of the
    // formats stays that format, whatever follows.
    const InputReader &reader = InputReader::tell(file.left(InputReader::headSize), file.size() <= InputReader::headSize);
    QVERIFY(!reader.isRaw());
    MemoryBytes bytes(file);
    ScratchStore store;
    InputContent content;
    QString found;
    QCOMPARE(reader.read(bytes, store, content, found), InputReader::Damaged);
    QCOMPARE(found, problem);
}

QTEST_GUILESS_MAIN(tst_Readers)
#include "tst_readers.moc"
