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

// Bytes held in memory, and as many zero bytes after them as a sparse file
// of the given size would read.
class MemoryBytes : public ByteSource
{
public:
    explicit MemoryBytes(const QByteArray &bytes, qint64 sparseSize = 0)
        : bytes(bytes)
        , total(qMax<qint64>(bytes.size(), sparseSize))
    {
    }
    qint64 size() const override { return total; }
    qint64 readAt(qint64 offset, char *data, qint64 size) override
    {
        if (offset >= total)
            return 0;
        const qint64 n = qMin(size, total - offset);
        for (qint64 i = 0; i < n; ++i)
            data[i] = offset + i < bytes.size() ? bytes.at(int(offset + i)) : '\0';
        return n;
    }

private:
    QByteArray bytes;
    qint64 total;
};

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
    void uf2FamilyChoosesBlocks();
    void rawDataInRuns_data();
    void rawDataInRuns();

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
    QTest::newRow("ELF, 32-bit little-endian") << elfFile(false, false, {}, 0, 64).left(64) << false << "elf";
    QTest::newRow("ELF, 64-bit big-endian") << elfFile(true, true, {}, 0, 64).left(64) << false << "elf";
    QByteArray zeros("\x7f" "ELF", 4);
    zeros += QByteArray(60, '\0');
    QTest::newRow("ELF magic, then zeros") << zeros << false << "raw";
    QByteArray wrongVersion = elfFile(false, false, {}, 0, 64);
    wrongVersion[6] = 2;
    QTest::newRow("ELF of another version") << wrongVersion << false << "raw";
    const QByteArray block = uf2Block(0, 1, 0x2000, 0x10000000, "abc", 0xE48BFF56);
    QTest::newRow("UF2 block") << block << true << "uf2";
    QTest::newRow("UF2 blocks in a stream, length unknown") << block + block << false << "uf2";
    // Told by its first block; a length that is no whole number of blocks is
    // then a UF2 file cut short, refused as such.
    QTest::newRow("UF2 magics, a length that is no whole number of blocks") << block + 'x' << true << "uf2";
    QTest::newRow("UF2 without its end magic") << block.left(508) + "abcd" << true << "raw";
    QTest::newRow("UF2 magics in less than a block") << block.left(100) << true << "raw";
    QTest::newRow("TI-TXT") << QByteArray("@1000\n01 02\nq\n") << true << "ti-txt";
    QTest::newRow("TI-TXT after blank lines, CRLF, lower case") << QByteArray("\r\n\n@fc00\r\n0a\r\nq\r\n") << true << "ti-txt";
    QTest::newRow("an @ and a word") << QByteArray("@home\n") << true << "raw";
    QTest::newRow("an @ and nine digits") << QByteArray("@123456789\n") << true << "raw";
    QTest::newRow("an @ alone") << QByteArray("@\n") << true << "raw";
    QTest::newRow("empty") << QByteArray() << true << "raw";
    QTest::newRow("blank lines only") << QByteArray("\n\r\n\n") << true << "raw";
    QTest::newRow("binary") << QByteArray("\x00\x01\x02\xff", 4) << true << "raw";
}

void tst_Readers::tellsTheFormat()
{
    QFETCH(QByteArray, head);
    QFETCH(bool, whole);
    QFETCH(QString, format);
    QCOMPARE(QString(InputReader::tell(head, whole ? head.size() : qint64(-1)).name()), format);
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
    const QByteArray sixteen = QByteArray::fromHex("000102030405060708090a0b0c0d0e0f");
    QTest::newRow("HEX records without data are no data")
        << hexRecord(0, 0, {}) + hexRecord(0, 0x8000, sixteen) + hexRecord(0, 0xFFF0, {}) + end
        << QStringList{"8000:" + QString::fromLatin1(sixteen.toHex())} << qint64(-1);
    QTest::newRow("HEX segment addresses wrap round inside the segment")
        << hexRecord(2, 0, QByteArray("\x10\x00", 2)) + hexRecord(0, 0xFFF8, sixteen) + end
        << QStringList{"1fff8:0001020304050607", "10000:08090a0b0c0d0e0f"} << qint64(-1);
    QTest::newRow("HEX linear addresses run on")
        << hexRecord(4, 0, QByteArray("\x00\x01", 2)) + hexRecord(0, 0xFFF8, sixteen) + end
        << QStringList{"1fff8:" + QString::fromLatin1(sixteen.toHex())} << qint64(-1);
    QTest::newRow("HEX without an address record runs on")
        << hexRecord(0, 0xFFF8, sixteen) + end << QStringList{"fff8:" + QString::fromLatin1(sixteen.toHex())} << qint64(-1);
    QTest::newRow("HEX linear after segment runs on again")
        << hexRecord(2, 0, QByteArray("\x10\x00", 2)) + hexRecord(4, 0, QByteArray("\x00\x02", 2))
               + hexRecord(0, 0xFFFF, "\xAA\xBB") + end
        << QStringList{"2ffff:aabb"} << qint64(-1);
    QTest::newRow("S-records without data are no data")
        << sRecord(1, 0x10, 2, {}) + sRecord(1, 0x20, 2, "\x01") + sRecord(3, 0x30, 4, {}) + sRecord(5, 3, 2, {})
        << QStringList{"20:01"} << qint64(-1);
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

    QByteArray payload(256, Qt::Uninitialized);
    for (int i = 0; i < payload.size(); ++i)
        payload[i] = char(i * 7 + 3);
    QTest::newRow("UF2 blocks: each its payload at its address, other memories passed over")
        << uf2Block(0, 3, 0, 0x2000, payload) + uf2Block(1, 3, 0x1, 0x9000, "other") + uf2Block(2, 3, 0, 0x2100, "tail")
        << QStringList{"2000:" + QString::fromLatin1(payload.toHex()), "2100:" + QString::fromLatin1(QByteArray("tail").toHex())}
        << qint64(-1);
    QTest::newRow("UF2 files for a boot loader's file system passed over")
        << uf2Block(0, 2, 0x1000, 0, "file.txt") + uf2Block(1, 2, 0, 0x400, "x") << QStringList{"400:78"} << qint64(-1);
    // Several UF2 files one after the other, each numbered from 0: one for
    // each family, and an RP2350 file's first block, one of two for its boot
    // ROM, before the file itself.
    QTest::newRow("UF2 files of two families one after the other")
        << uf2Block(0, 2, 0x2000, 0x1000, "a", 0xE48BFF56) + uf2Block(1, 2, 0x2000, 0x1100, "b", 0xE48BFF56)
               + uf2Block(0, 1, 0x2000, 0x1000, "c", 0x68ED2B88)
        << QStringList{"1000:61", "1100:62", "1000:63"} << qint64(-1);
    QTest::newRow("UF2 of an RP2350: a block of its own family first, one of two")
        << uf2Block(0, 2, 0x2000, 0x10FFFF00, QByteArray(256, char(0xEF)), 0xE48BFF57)
               + uf2Block(0, 2, 0x2000, 0x10000000, "x", 0xE48BFF59) + uf2Block(1, 2, 0x2000, 0x10000100, "y", 0xE48BFF59)
        << QStringList{"10ffff00:" + QString::fromLatin1(QByteArray(256, char(0xEF)).toHex()), "10000000:78", "10000100:79"}
        << qint64(-1);
    QTest::newRow("UF2 blocks passed over count in the numbering")
        << uf2Block(0, 3, 0x1, 0x9000, "note") + uf2Block(1, 3, 0, 0x2000, "a") + uf2Block(2, 3, 0x1000, 0, "file.txt")
        << QStringList{"2000:61"} << qint64(-1);
    QTest::newRow("TI-TXT lines go on, @ moves on")
        << QByteArray("@1000\n01 02 03\n04\n@2000\naa\tBB  cc\nq\n") << QStringList{"1000:01020304", "2000:aabbcc"}
        << qint64(-1);
    // Lines of any length, as srec_cat reads them: a buffer's worth at a
    // time, a byte's two digits, or a CRLF, split between two of them.
    const auto tiLine = [](const QByteArray &bytes, const char *separator) {
        QByteArray line;
        for (const char b : bytes)
            line += QByteArray(1, b).toHex() + separator;
        return line;
    };
    QByteArray many(5000, Qt::Uninitialized);
    for (int i = 0; i < many.size(); ++i)
        many[i] = char(i * 13 + i / 256);
    QTest::newRow("TI-TXT line of 5,000 bytes")
        << "@2000\n" + tiLine(many, " ") + "\nq\n" << QStringList{"2000:" + QString::fromLatin1(many.toHex())} << qint64(-1);
    const QByteArray huge = many.repeated(150); // 750,000 bytes, 2.25 MB of text
    QTest::newRow("TI-TXT line of 2.25 MB, tabs between the bytes")
        << "@0\n" + tiLine(huge, "\t") + "\nq\n" << QStringList{"0:" + QString::fromLatin1(huge.toHex())} << qint64(-1);
    // The line after "@0\r\n" fills the 1 MiB buffer up to its CR.
    const QByteArray third = many.repeated(70).left(349525);
    QTest::newRow("TI-TXT CRLF line whose CR ends a buffer")
        << "@0\r\n" + tiLine(third, " ") + "\r\n0a\r\nq\r\n"
        << QStringList{"0:" + QString::fromLatin1(third.toHex()) + "0a"} << qint64(-1);
    QTest::newRow("TI-TXT address and q lines with many blanks after them")
        << "@10" + QByteArray(3000, ' ') + "\n01\nq" + QByteArray(5000, '\t') + '\n' << QStringList{"10:01"} << qint64(-1);
    QTest::newRow("TI-TXT: what follows q is passed over")
        << QByteArray("@10\n01\nq\n@20\nzz\n") << QStringList{"10:01"} << qint64(-1);
    QTest::newRow("TI-TXT: an address without data gives nothing")
        << QByteArray("@10\n@20\n05\nq\n") << QStringList{"20:05"} << qint64(-1);

    const QByteArray little = elfFile(false, false,
                                  {{1, 512, 0x08000000, 16, 16}, {4, 0, 0, 0, 0}, {1, 600, 0x08000400, 8, 0x100}}, 0x08000001,
                                  700);
    QTest::newRow("ELF32 LE: PT_LOAD at physical addresses, .bss left out")
        << little << QStringList{"8000000:" + QString::fromLatin1(little.mid(512, 16).toHex()),
                                 "8000400:" + QString::fromLatin1(little.mid(600, 8).toHex())}
        << qint64(0x08000001);
    const QByteArray big = elfFile(true, true, {{1, 520, 0xFFFF0000, 4, 4}, {1, 0, 0, 0, 0x40}}, 0, 600);
    QTest::newRow("ELF64 BE: a segment that is all .bss gives nothing")
        << big << QStringList{"ffff0000:" + QString::fromLatin1(big.mid(520, 4).toHex())} << qint64(-1);
}

void tst_Readers::readsWhatTheFileHolds()
{
    QFETCH(QByteArray, file);
    QFETCH(QStringList, segments);
    QFETCH(qint64, startAddress);

    const InputReader &reader = InputReader::tell(file.left(InputReader::headSize), file.size());
    QVERIFY(!reader.isRaw());
    MemoryBytes bytes(file);
    ScratchStore store;
    InputContent content;
    QString problem;
    QCOMPARE(reader.read(bytes, store, ReadOptions(), content, problem), InputReader::Read);
    QCOMPARE(problem, QString());
    QCOMPARE(segmentsOf(content, store, file), segments);
    QCOMPARE(content.hasStartAddress ? qint64(content.startAddress) : qint64(-1), startAddress);
}

void tst_Readers::refusesDamagedFiles_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("problem");
    QTest::addColumn<qint64>("sparseSize"); // zeros after the bytes, up to this size

    const QByteArray good = hexRecord(0, 0x10, "\x01\x02\x03\x04");
    const QByteArray end = hexRecord(1, 0, {});
    QByteArray badSum = good;
    badSum[badSum.size() - 2] = badSum.at(badSum.size() - 2) == '0' ? '1' : '0';
    QTest::newRow("HEX checksum") << good + badSum + end << "line 2: the checksum does not match" << qint64(0);
    QTest::newRow("HEX cut short") << good + good.left(good.size() - 3) + '\n' + end << "line 2: the record is cut short" << qint64(0);
    QTest::newRow("HEX odd digits") << good + ":0000000\n" << "line 2: the record is cut short" << qint64(0);
    QTest::newRow("HEX longer than its length byte") << good.left(good.size() - 1) + "00\n" + end
                                                    << "line 1: the record is longer than its length byte says" << qint64(0);
    QTest::newRow("HEX unknown type") << good + hexRecord(6, 0, "\x01") + end << "line 2: unknown record type 06" << qint64(0);
    QTest::newRow("HEX address record of the wrong size")
        << good + hexRecord(4, 0, "\x01") + end << "line 2: a type 04 record must hold 2 bytes" << qint64(0);
    QTest::newRow("HEX without its end record") << good
                                                << "it ends without an end-of-file record (a truncated file?)" << qint64(0);
    QTest::newRow("HEX, then a line of text") << good + "hello\n" + end << "line 2: it is no Intel HEX record" << qint64(0);
    QTest::newRow("HEX, then a character that is no digit")
        << good + good.left(5) + 'G' + good.mid(6) + end << "line 2: the record holds a character that is no hexadecimal digit" << qint64(0);
    QTest::newRow("HEX, then a line longer than any record")
        << good + ':' + QByteArray(1048, '0') + '\n' + end << "line 2: the line is longer than any record" << qint64(0);
    QTest::newRow("S-record checksum") << QByteArray("S107000001020304EE\nS107000401020304ED\n")
                                       << "line 2: the checksum does not match" << qint64(0);
    QTest::newRow("S-record of type 4 after a good one")
        << QByteArray("S107000001020304EE\nS4030000FC\n") << "line 2: unknown record type S4" << qint64(0);
    QTest::newRow("S-record too short for its type")
        << sRecord(1, 0, 2, "\x01") + "S3030000FC\n" << "line 2: the record is too short for an S3 record" << qint64(0);
    QTest::newRow("S-records, then text") << sRecord(1, 0, 2, "\x01") + "end\n" << "line 2: it is no S-record" << qint64(0);
    QTest::newRow("S5 that counts wrong") << sRecord(1, 0, 2, "\x01") + sRecord(5, 99, 2, {})
                                          << "line 2: the S5 record counts 99 data records, but 1 came before it" << qint64(0);
    QTest::newRow("S6 that counts wrong") << sRecord(2, 0, 3, "\x01") + sRecord(2, 1, 3, "\x02") + sRecord(6, 1, 3, {})
                                          << "line 3: the S6 record counts 1 data records, but 2 came before it" << qint64(0);
    const QByteArray block = uf2Block(0, 2, 0, 0x1000, "abc");
    QByteArray noMagic = uf2Block(1, 2, 0, 0x1100, "def");
    noMagic[4] = 'X';
    QTest::newRow("UF2 block without its magic") << block + noMagic << "UF2 block 1 (at byte 512) lacks the UF2 magic numbers"
                                                 << qint64(0);
    QTest::newRow("UF2 block that carries too much")
        << block + uf2Block(1, 2, 0, 0x2000, "x", 0, 477) << "UF2 block 1 (at byte 512) says it carries 477 bytes; a block carries 1 to 476"
        << qint64(0);
    QTest::newRow("UF2 block that carries nothing")
        << uf2Block(0, 1, 0, 0x2000, {}) << "UF2 block 0 (at byte 0) says it carries 0 bytes; a block carries 1 to 476"
        << qint64(0);
    QTest::newRow("UF2 block past 32 bits") << uf2Block(0, 1, 0, 0xFFFFFF80, QByteArray(256, 'a'))
                                           << "UF2 block 0 (at byte 0) runs past address FFFFFFFF" << qint64(0);
    QTest::newRow("UF2 stream that ends inside a block")
        << block << "its length, 700 bytes, is not a whole number of 512-byte UF2 blocks" << qint64(700);
    // Each block says which of how many it is: a file that lacks one, holds
    // one twice, or stops short is refused, naming the block.
    const QByteArray zero = uf2Block(0, 3, 0, 0x1000, "a");
    const QByteArray one = uf2Block(1, 3, 0, 0x1100, "b");
    const QByteArray two = uf2Block(2, 3, 0, 0x1200, "c");
    QTest::newRow("UF2 cut at a block boundary") << zero + one << "it ends where UF2 block 2 of 3 should follow (a truncated file?)"
                                                 << qint64(0);
    QTest::newRow("UF2 cut short inside a block")
        << zero + one + two.left(100) << "its length, 1124 bytes, is not a whole number of 512-byte UF2 blocks" << qint64(0);
    QTest::newRow("UF2 block missing")
        << zero + two
        << "UF2 block 1 (at byte 512) is numbered 2 of 3, where 1 of 3 should come (a block missing, given twice or out of order)"
        << qint64(0);
    QTest::newRow("UF2 block given twice")
        << zero + one + one + two
        << "UF2 block 2 (at byte 1024) is numbered 1 of 3, where 2 of 3 should come (a block missing, given twice or out of order)"
        << qint64(0);
    QTest::newRow("UF2 first block given twice")
        << zero + zero + one + two
        << "UF2 block 1 (at byte 512) is numbered 0 of 3, where 1 of 3 should come (a block missing, given twice or out of order)"
        << qint64(0);
    QTest::newRow("UF2 block passed over, missing")
        << zero + uf2Block(2, 3, 0x1, 0x9000, "note")
        << "UF2 block 1 (at byte 512) is numbered 2 of 3, where 1 of 3 should come (a block missing, given twice or out of order)"
        << qint64(0);
    QTest::newRow("UF2 that starts at block 1")
        << one + two
        << "UF2 block 0 (at byte 0) is numbered 1 of 3, where 0 of 3 should come (a block missing, given twice or out of order)"
        << qint64(0);
    QTest::newRow("UF2 counts that differ") << zero + uf2Block(1, 4, 0, 0x1100, "b")
                                            << "UF2 block 1 (at byte 512) says its file holds 4 blocks, where the blocks "
                                               "before it said 3"
                                            << qint64(0);
    QTest::newRow("UF2 block of a file of no blocks")
        << uf2Block(0, 0, 0, 0x1000, "a") << "UF2 block 0 (at byte 0) says its file holds no block" << qint64(0);
    QTest::newRow("UF2 files one after the other, the first of them cut short")
        << zero + one + zero + one + two
        << "UF2 block 2 (at byte 1024) is numbered 0 of 3, where 2 of 3 should come (a block missing, given twice or out of order)"
        << qint64(0);
    QTest::newRow("UF2 of two families, the second cut short")
        << uf2Block(0, 1, 0x2000, 0x1000, "a", 0xE48BFF56) + uf2Block(0, 2, 0x2000, 0x1000, "c", 0x68ED2B88)
        << "it ends where UF2 block 1 of 2 should follow (a truncated file?)" << qint64(0);
    QTest::newRow("TI-TXT byte of three digits") << QByteArray("@1000\n01 023\nq\n")
                                                 << "line 2: it is not bytes as two hexadecimal digits separated by blanks"
                                                 << qint64(0);
    QTest::newRow("TI-TXT character that is no digit") << QByteArray("@1000\n0G\nq\n")
                                                       << "line 2: it is not bytes as two hexadecimal digits separated by blanks"
                                                       << qint64(0);
    QTest::newRow("TI-TXT address of nine digits") << QByteArray("@1000\n01\n@123456789\nq\n")
                                                   << "line 3: the address is not one to eight hexadecimal digits" << qint64(0);
    QTest::newRow("TI-TXT past 32 bits") << QByteArray("@FFFFFFFF\n01 02\nq\n")
                                         << "line 2: its bytes run past address FFFFFFFF" << qint64(0);
    QTest::newRow("TI-TXT long line whose last byte has one digit")
        << QByteArray("@0\n") + QByteArray("ab ").repeated(400000) + "c\nq\n"
        << "line 2: it is not bytes as two hexadecimal digits separated by blanks" << qint64(0);
    QTest::newRow("TI-TXT long line with three digits far in")
        << QByteArray("@0\n") + QByteArray("ab ").repeated(300000) + "abc " + QByteArray("ab ").repeated(10) + "\nq\n"
        << "line 2: it is not bytes as two hexadecimal digits separated by blanks" << qint64(0);
    QTest::newRow("TI-TXT long line with a CR that ends no line")
        << QByteArray("@0\n") + QByteArray("ab ").repeated(349525) + "\r" + QByteArray("ab ").repeated(10) + "\nq\n"
        << "line 2: it is not bytes as two hexadecimal digits separated by blanks" << qint64(0);
    QTest::newRow("TI-TXT long line past 32 bits")
        << QByteArray("@FFFFFF00\n") + QByteArray("ab ").repeated(2000) + "\nq\n"
        << "line 2: its bytes run past address FFFFFFFF" << qint64(0);
    QTest::newRow("TI-TXT address of nine digits and blanks")
        << QByteArray("@1000\n01\n@123456789") + QByteArray(5000, ' ') + "\nq\n"
        << "line 3: the address is not one to eight hexadecimal digits" << qint64(0);
    QTest::newRow("TI-TXT without its q") << QByteArray("@1000\n01 02\n")
                                          << "line 2: the file ends without the q line that ends TI-TXT" << qint64(0);
    QTest::newRow("TI-TXT q with more") << QByteArray("@1000\n01\nquit\n") << "line 3: the q line holds more than q" << qint64(0);
    QTest::newRow("ELF segment with more in the file than in memory")
        << elfFile(false, false, {{1, 512, 0x1000, 256, 16}}, 0, 800)
        << "its ELF program header 0 has more bytes in the file than in memory" << qint64(0);
    // 0x4000 entries of 0xFFFF bytes in a sparse file: a gigabyte of table.
    QByteArray huge = elfFile(false, false, {}, 0, 64);
    huge[42] = char(0xFF);
    huge[43] = char(0xFF);
    huge[44] = char(0x00);
    huge[45] = char(0x40);
    QTest::newRow("ELF that claims a gigabyte of program headers")
        << huge << "an ELF file without loadable (PT_LOAD) segments, such as an object file, has nothing to merge"
        << qint64(52) + 0x4000 * 0xFFFF;
    QTest::newRow("ELF without program headers")
        << elfFile(true, false, {}, 0, 600)
        << "an ELF file without program headers, such as an object file or a library, has no loadable (PT_LOAD) "
           "segments to merge" << qint64(0);
    QTest::newRow("ELF without loadable segments")
        << elfFile(false, false, {{4, 0, 0, 0, 0}}, 0, 600)
        << "an ELF file without loadable (PT_LOAD) segments, such as an object file, has nothing to merge" << qint64(0);
    QTest::newRow("ELF header cut short") << elfFile(true, false, {}, 0, 600).left(40) << "its ELF header is cut short" << qint64(0);
    QTest::newRow("ELF segment past the end of the file")
        << elfFile(false, false, {{1, 580, 0x1000, 64, 64}}, 0, 600) << "its ELF program header 0 runs past the end of the file" << qint64(0);
    QTest::newRow("ELF segment loaded past 32 bits")
        << elfFile(true, false, {{1, 512, Q_UINT64_C(0x100000000), 8, 8}}, 0, 600)
        << "its ELF program header 0 loads at 0x100000000, past the 32-bit address range" << qint64(0);
}

void tst_Readers::refusesDamagedFiles()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, problem);
    QFETCH(qint64, sparseSize);

    // Told by the same rule as every input: a file that starts as one of the
    // formats stays that format, whatever follows.
    const InputReader &reader = InputReader::tell(file.left(InputReader::headSize), file.size());
    QVERIFY(!reader.isRaw());
    MemoryBytes bytes(file, sparseSize);
    ScratchStore store;
    InputContent content;
    QString found;
    QCOMPARE(reader.read(bytes, store, ReadOptions(), content, found), InputReader::Damaged);
    QCOMPARE(found, problem);
}

// With a family asked for, only blocks that carry it are read; others, and
// blocks that carry none, are passed over.
void tst_Readers::uf2FamilyChoosesBlocks()
{
    const QByteArray file = uf2Block(0, 4, 0x2000, 0x1000, "a", 0xE48BFF56) + uf2Block(1, 4, 0x2000, 0x1000, "b", 0x68ED2B88)
                            + uf2Block(2, 4, 0, 0x3000, "c") + uf2Block(3, 4, 0x2000, 0x2000, "d", 0xE48BFF56);
    MemoryBytes bytes(file);
    ScratchStore store;
    QString problem;
    for (const qint64 family : {qint64(0xE48BFF56), qint64(0x68ED2B88), qint64(-1)}) {
        InputContent content;
        ReadOptions options;
        options.uf2Family = family;
        QCOMPARE(InputReader::find(QStringLiteral("uf2"))->read(bytes, store, options, content, problem), InputReader::Read);
        const QStringList expected = family == 0xE48BFF56 ? QStringList{"1000:61", "2000:64"}
                                     : family >= 0        ? QStringList{"1000:62"}
                                                          : QStringList{"1000:61", "1000:62", "3000:63", "2000:64"};
        QCOMPARE(segmentsOf(content, store, file), expected);
    }
}

void tst_Readers::rawDataInRuns_data()
{
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QString>("runs"); // address+size each, hexadecimal

    QTest::newRow("empty") << qint64(0) << "";
    QTest::newRow("small") << qint64(10) << "0+a";
    QTest::newRow("the largest run") << largestSegment << "0+80000000";
    QTest::newRow("a byte more") << largestSegment + 1 << "0+80000000 80000000+1";
    QTest::newRow("4 GiB") << 2 * largestSegment << "0+80000000 80000000+80000000";
}

// A segment keeps its size in 32 bits: longer data comes in runs, one after
// the other, its bytes where they lie in the file.
void tst_Readers::rawDataInRuns()
{
    QFETCH(qint64, size);
    QFETCH(QString, runs);

    MemoryBytes bytes(QByteArray(), size);
    ScratchStore store;
    InputContent content;
    QString problem;
    QCOMPARE(InputReader::raw().read(bytes, store, ReadOptions(), content, problem), InputReader::Read);
    QStringList got;
    for (const MergeSegment &s : std::as_const(content.segments)) {
        QCOMPARE(s.dataOffset, s.address);
        QVERIFY(!s.inStore);
        got << QStringLiteral("%1+%2").arg(s.address, 0, 16).arg(s.size, 0, 16);
    }
    QCOMPARE(got.join(QLatin1Char(' ')), runs);
}

QTEST_GUILESS_MAIN(tst_Readers)
#include "tst_readers.moc"
