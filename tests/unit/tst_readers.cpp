// The input readers through their registry, on bytes held in memory: which
// format a file is told to be, what its records or segments give, and where
// a damaged file is refused. Records are made here from their definitions,
// their checksums worked out by the test. What a look inside a file shows
// of its format (the details) is held to what the test counts in the file
// itself, to srec_cat's options and to what readelf says; a merge, which
// does without them, reads just the same.

#include "Files.h"
#include "Records.h"
#include "TempFolder.h"
#include "input/InputReader.h"
#include "input/Uf2Family.h"
#include "input/ScratchStore.h"

#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <utility>

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

// A value of the details with its type, lists and maps all through, so that
// a count given as another kind of number shows: "qlonglong 3".
QString shown(const QVariant &value)
{
    if (value.userType() == QMetaType::QVariantMap) {
        const QVariantMap map = value.toMap();
        QStringList entries;
        for (auto it = map.cbegin(); it != map.cend(); ++it)
            entries << it.key() + QStringLiteral(": ") + shown(it.value());
        return '{' + entries.join(QStringLiteral(", ")) + '}';
    }
    if (value.userType() == QMetaType::QVariantList) {
        QStringList entries;
        for (const QVariant &entry : value.toList())
            entries << shown(entry);
        return '[' + entries.join(QStringLiteral(", ")) + ']';
    }
    return QString::fromLatin1(value.typeName()) + ' ' + value.toString();
}

// A header's bytes as the details show them: printable ASCII, anything else
// (and the backslash) as \xNN.
QString escaped(const QByteArray &bytes)
{
    QString text;
    for (const char c : bytes) {
        if (uchar(c) >= 0x20 && uchar(c) < 0x7F && c != '\\')
            text += QLatin1Char(c);
        else
            text += QStringLiteral("\\x") + QString::fromLatin1(QByteArray(1, c).toHex().toUpper());
    }
    return text;
}

// The file's lines without their ends, numbered from 1 as a text editor
// numbers them.
QList<QByteArray> linesOf(const QByteArray &file)
{
    QList<QByteArray> lines = file.split('\n');
    for (QByteArray &line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    return lines;
}

// What a look inside a record or TI-TXT file must show, worked out here line
// by line from the formats' descriptions: an Intel HEX record is
// ":LLAAAATT" (length, offset, type), data and a checksum, the file ends at
// the type 01 record; an S-record "Sn" and a count of the address (2, 3 or 4
// bytes by type), data and checksum bytes; TI-TXT "@ADDR" lines, lines of
// bytes and "q".
QVariantMap census(const QString &format, const QByteArray &file)
{
    const QList<QByteArray> lines = linesOf(file);
    QVariantMap details;
    QVariantMap types;
    qint64 records = 0;
    qint64 longest = 0;
    if (format == QLatin1String("ti-txt")) {
        qint64 sections = 0;
        for (int i = 0; i < lines.size(); ++i) {
            const QByteArray line = lines.at(i).simplified();
            if (line.startsWith('q') || line.startsWith('Q')) {
                details.insert(QStringLiteral("lines"), qint64(i + 1));
                break;
            }
            if (line.startsWith('@'))
                ++sections;
            else if (!line.isEmpty())
                longest = qMax(longest, qint64(line.count(' ') + 1));
        }
        details.insert(QStringLiteral("sections"), sections);
        details.insert(QStringLiteral("longestLine"), longest);
        return details;
    }
    QVariantList widths;
    for (int i = 0; i < lines.size(); ++i) {
        const QByteArray &line = lines.at(i);
        if (line.isEmpty())
            continue;
        ++records;
        if (format == QLatin1String("hex")) {
            const QByteArray bytes = QByteArray::fromHex(line.mid(1));
            const int type = uchar(bytes.at(3));
            const QString name = QString::fromLatin1(line.mid(7, 2)).toUpper();
            types.insert(name, types.value(name, qint64(0)).toLongLong() + 1);
            if (type == 0)
                longest = qMax(longest, qint64(uchar(bytes.at(0))));
            if (type == 3)
                details.insert(QStringLiteral("startSegmentAddress"),
                               QString::fromLatin1(line.mid(9, 4) + ':' + line.mid(13, 4)).toUpper());
            if (type == 5)
                details.insert(QStringLiteral("startLinearAddress"), quint64(line.mid(9, 8).toULongLong(nullptr, 16)));
            if (type == 1) {
                details.insert(QStringLiteral("endOfFile"), qint64(i + 1));
                break;
            }
        } else {
            const int type = line.at(1) - '0';
            const int width = type == 0 || type == 1 || type == 5 || type == 9 ? 2 : type == 2 || type == 6 || type == 8 ? 3 : 4;
            const QByteArray bytes = QByteArray::fromHex(line.mid(2));
            const QByteArray data = bytes.mid(1 + width, uchar(bytes.at(0)) - width - 1);
            const QString name = QString::fromLatin1(line.left(2));
            types.insert(name, types.value(name, qint64(0)).toLongLong() + 1);
            if (type == 0 && !details.contains(QStringLiteral("header")))
                details.insert(QStringLiteral("header"), escaped(data));
            if (type >= 1 && type <= 3) {
                longest = qMax(longest, qint64(data.size()));
                if (!widths.contains(qint64(8 * width)))
                    widths << qint64(8 * width);
            }
            if (type == 5 || type == 6)
                details.insert(QStringLiteral("count"), qint64(bytes.mid(1, width).toHex().toLongLong(nullptr, 16)));
        }
    }
    details.insert(QStringLiteral("recordTypes"), types);
    details.insert(QStringLiteral("records"), records);
    details.insert(QStringLiteral("longestRecord"), longest);
    std::sort(widths.begin(), widths.end(), [](const QVariant &a, const QVariant &b) { return a.toLongLong() < b.toLongLong(); });
    if (widths.size() == 1)
        details.insert(QStringLiteral("addressWidth"), widths.first());
    else if (!widths.isEmpty())
        details.insert(QStringLiteral("addressWidth"), widths);
    return details;
}

// Runs a shell script in folder; its output, or a null array when it fails
// (what it said on its error channel goes to the test's log then).
QByteArray shell(const QString &folder, const QString &script)
{
    QProcess process;
    process.setWorkingDirectory(folder);
    process.start(QStringLiteral("/bin/sh"), {QStringLiteral("-ec"), script});
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        qWarning("%s", process.readAllStandardError().constData());
        return QByteArray();
    }
    const QByteArray output = process.readAllStandardOutput();
    return output.isNull() ? QByteArray("") : output;
}

// The first of the tools that is not here, for a row to be skipped.
QString missingTool(const QStringList &tools)
{
    if (!QFileInfo::exists(QStringLiteral("/bin/sh")))
        return QStringLiteral("/bin/sh (srec_cat and binutils do not run without it either)");
    for (const QString &tool : tools) {
        if (QStandardPaths::findExecutable(tool).isEmpty())
            return tool;
    }
    return QString();
}

// What one read of a file gives.
struct Reading
{
    InputReader::Result result;
    QString problem;
    QStringList segments; // as segmentsOf() shows them
    qint64 startAddress;  // -1: none
    QVariantMap details;
};

Reading readOnce(const InputReader &reader, const QByteArray &file, const ReadOptions &options, qint64 sparseSize = 0)
{
    MemoryBytes bytes(file, sparseSize);
    ScratchStore store;
    InputContent content;
    Reading reading;
    reading.result = reader.read(bytes, store, options, content, reading.problem);
    reading.segments = segmentsOf(content, store, file);
    reading.startAddress = content.hasStartAddress ? qint64(content.startAddress) : qint64(-1);
    reading.details = content.details;
    return reading;
}

// A file read as a merge reads it and as a look inside it does: the details
// change nothing else, and a merge gets none.
Reading readBothWays(const InputReader &reader, const QByteArray &file, ReadOptions options, qint64 sparseSize = 0)
{
    options.details = false;
    const Reading merge = readOnce(reader, file, options, sparseSize);
    options.details = true;
    const Reading look = readOnce(reader, file, options, sparseSize);
    [&] {
        QCOMPARE(look.result, merge.result);
        QCOMPARE(look.problem, merge.problem);
        QCOMPARE(look.segments, merge.segments);
        QCOMPARE(look.startAddress, merge.startAddress);
        QCOMPARE(shown(merge.details), shown(QVariantMap()));
    }();
    return look;
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
    void detailsOfToolMadeFiles_data();
    void detailsOfToolMadeFiles();
    void elfDetailsAsReadelfShows_data();
    void elfDetailsAsReadelfShows();
    void uf2Details_data();
    void uf2Details();

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
    const Reading look = readBothWays(reader, file, ReadOptions());
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(look.result, InputReader::Read);
    QCOMPARE(look.problem, QString());
    QCOMPARE(look.segments, segments);
    QCOMPARE(look.startAddress, startAddress);
    // What the lines of a text format show, counted here.
    const QString format = reader.name();
    if (format == QLatin1String("hex") || format == QLatin1String("srec") || format == QLatin1String("ti-txt"))
        QCOMPARE(shown(look.details), shown(census(format, file)));
    else
        QVERIFY(!look.details.isEmpty());
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
    const Reading look = readBothWays(reader, file, ReadOptions(), sparseSize);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(look.result, InputReader::Damaged);
    QCOMPARE(look.problem, problem);
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
        options.formats.set<Uf2Family>().id = family;
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
    QVERIFY(content.details.isEmpty());
    ReadOptions look;
    look.details = true;
    QCOMPARE(InputReader::raw().read(bytes, store, look, content, problem), InputReader::Read);
    QCOMPARE(shown(content.details), shown(QVariantMap{{QStringLiteral("length"), size}}));
}

void tst_Readers::detailsOfToolMadeFiles_data()
{
    QTest::addColumn<QString>("setUp");        // makes f with srec_cat
    QTest::addColumn<QVariantMap>("expected"); // what follows from the commands themselves

    const QString blob = QStringLiteral("head -c %1 /dev/urandom > a.bin\n");
    const auto number = [](qint64 n) { return QVariant(n); };
    QTest::newRow("HEX, 32-bit addresses, 32 bytes a record, a linear start")
        << blob.arg(1000)
               + "srec_cat a.bin -binary -offset 0x08000000 -o f -intel -address-length=4 -obs=32 "
                 "-execution-start-address=0x08000189\n"
        << QVariantMap{{"longestRecord", number(32)}, {"startLinearAddress", QVariant(quint64(0x08000189))}};
    QTest::newRow("HEX, 255 bytes a record")
        << blob.arg(5000) + "srec_cat a.bin -binary -offset 0x2000 -o f -intel -address-length=4 -obs=255\n"
        << QVariantMap{{"longestRecord", number(255)}};
    QTest::newRow("HEX, a byte a record, 16-bit addresses")
        << blob.arg(300) + "srec_cat a.bin -binary -offset 0x100 -o f -intel -address-length=2 -obs=1\n"
        << QVariantMap{{"longestRecord", number(1)}};
    QTest::newRow("HEX, segment addresses and a CS:IP start")
        << blob.arg(200000) + "srec_cat a.bin -binary -offset 0x12340 -o f -intel -address-length=3 -execution-start-address=0x12345\n"
        << QVariantMap();
    QTest::newRow("HEX of a megabyte, 16 bytes a record")
        << blob.arg(1 << 20) + "srec_cat a.bin -binary -o f -intel -address-length=4 -obs=16\n"
        << QVariantMap{{"longestRecord", number(16)}};
    QTest::newRow("HEX after blank lines, CRLF")
        << blob.arg(100) + "srec_cat a.bin -binary -offset 0x4000 -o g -intel -obs=16\n"
                           "printf '\\r\\n\\n' > f\n"
                           "sed 's/$/\\r/' g >> f\n"
        << QVariantMap{{"longestRecord", number(16)}};
    QTest::newRow("S19 with a header of srec_cat's")
        << blob.arg(100) + "srec_cat a.bin -binary -offset 0x4000 -o f -motorola -address-length=2 -obs=16\n"
        << QVariantMap{{"longestRecord", number(16)}, {"addressWidth", number(16)}};
    QTest::newRow("S28, a header given, 7 bytes a record, a start")
        << blob.arg(100)
               + "srec_cat a.bin -binary -offset 0x123450 -o f -motorola -address-length=3 -obs=7 "
                 "-header 'Made by srec_cat' -execution-start-address=0x123451\n"
        << QVariantMap{{"header", "Made by srec_cat"}, {"longestRecord", number(7)}, {"addressWidth", number(24)}};
    QTest::newRow("S37, a header of control characters and a backslash")
        << blob.arg(64)
               + "h=$(printf 'A\\001B\\\\C\\177')\n"
                 "srec_cat a.bin -binary -offset 0x9D000000 -o f -motorola -address-length=4 -obs=64 -header \"$h\"\n"
        << QVariantMap{{"header", "A\\x01B\\x5CC\\x7F"}, {"longestRecord", number(64)}, {"addressWidth", number(32)}};
    QTest::newRow("S-records of two widths")
        << blob.arg(100)
               + "srec_cat a.bin -binary -offset 0x100 -o g -motorola -address-length=2 -disable=data-count "
                 "-disable=exec-start-address\n"
                 "srec_cat a.bin -binary -offset 0x9D000000 -o h -motorola -address-length=4 -disable=header "
                 "-disable=data-count\n"
                 "cat g h > f\n"
        << QVariantMap{{"addressWidth", QVariantList{number(16), number(32)}}};
    // More data records than an S5 counts: an S6 counts them.
    QTest::newRow("S-records counted by an S6")
        << blob.arg(70000) + "srec_cat a.bin -binary -o f -motorola -address-length=3 -obs=1\n"
        << QVariantMap{{"count", number(70000)}, {"longestRecord", number(1)}};
    QTest::newRow("TI-TXT of two sections, 16 bytes a line")
        << blob.arg(100) + "srec_cat a.bin -binary -offset 0x1100 a.bin -binary -offset 0x2000 -o f -ti-txt\n"
        << QVariantMap{{"sections", number(2)}, {"longestLine", number(16)}};
    QTest::newRow("TI-TXT, 7 bytes a line")
        << blob.arg(100) + "srec_cat a.bin -binary -offset 0xFC00 -o f -ti-txt -obs=7\n"
        << QVariantMap{{"sections", number(1)}, {"longestLine", number(7)}};
}

// Files that srec_cat wrote: their details are what their lines give,
// counted here, and what the commands that made them say.
void tst_Readers::detailsOfToolMadeFiles()
{
    QFETCH(QString, setUp);
    QFETCH(QVariantMap, expected);

    const QString missing = missingTool({QStringLiteral("srec_cat")});
    if (!missing.isEmpty())
        QSKIP(qPrintable(missing + QStringLiteral(" is not here")));
    QVERIFY(!shell(temp->path(), setUp).isNull());
    const QByteArray file = readFile(temp->filePath(QStringLiteral("f")));
    const InputReader &reader = InputReader::tell(file.left(InputReader::headSize), file.size());
    QVERIFY(!reader.isRaw());
    const Reading look = readBothWays(reader, file, ReadOptions());
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(look.result, InputReader::Read);
    QCOMPARE(shown(look.details), shown(census(reader.name(), file)));
    for (auto it = expected.cbegin(); it != expected.cend(); ++it)
        QCOMPARE(it.key() + ' ' + shown(look.details.value(it.key())), it.key() + ' ' + shown(it.value()));
}

namespace {

// Links e.elf from two blobs with LD (EMULATION: its -m option, if any):
// .text at 08000000 (read, execute), .data run at DATA but loaded at
// 08000400 with .bss after it (read, write), four bytes run at 20001000 and
// loaded at 08000800 (read, write, execute), and an empty PT_NOTE among
// them; the entry at 08000101. LINKING: more options for the last step.
QString linked(const QString &ld, const QString &emulation, const QString &data, const QString &linking = QString())
{
    return QStringLiteral(
               "head -c 300 /dev/urandom > code.bin\n"
               "head -c 40 /dev/urandom > init.bin\n"
               "printf '%s\\n' 'PHDRS { code PT_LOAD FLAGS(5); note PT_NOTE FLAGS(4); init PT_LOAD FLAGS(6);'"
               " 'ram PT_LOAD FLAGS(7); }' 'SECTIONS {' '.text 0x08000000 : { code.o(.data) } :code'"
               " '.data DATA : AT(0x08000400) { init.o(.data) } :init' '.bss (NOLOAD) : { . = . + 0x100; } :init'"
               " '.ram 0x20001000 : AT(0x08000800) { LONG(0x12345678) } :ram' '}' > e.ld\n"
               "LD EMULATION -r -b binary code.bin -o code.o\n"
               "LD EMULATION -r -b binary init.bin -o init.o\n"
               "LD EMULATION LINKING -e 0x08000101 -T e.ld code.o init.o -o e.elf 2>ld.log || { cat ld.log >&2; exit 1; }\n")
        .replace(QLatin1String("LINKING"), linking)
        .replace(QLatin1String("EMULATION"), emulation)
        .replace(QLatin1String("DATA"), data)
        .replace(QLatin1String("LD"), ld);
}

// What readelf -h -l -W says of an ELF file, as the details name it. The
// machine's and the type's numbers are not in its words: the row gives them.
QVariantMap readelfDetails(const QByteArray &output, qint64 machine, qint64 type, bool loadable)
{
    // readelf's words for the machines and types the details name.
    const QHash<QString, QString> machines{
        {"None", "none"},
        {"Sparc", "SPARC"},
        {"Intel 80386", "x86"},
        {"MIPS R3000", "MIPS"},
        {"PowerPC", "PowerPC"},
        {"PowerPC64", "PowerPC64"},
        {"IBM S/390", "S/390"},
        {"ARM", "ARM"},
        {"Renesas / SuperH SH", "SuperH"},
        {"Advanced Micro Devices X86-64", "x86-64"},
        {"Atmel AVR 8-bit microcontroller", "AVR"},
        {"Tensilica Xtensa Processor", "Xtensa"},
        {"Texas Instruments msp430 microcontroller", "MSP430"},
        {"AArch64", "AArch64"},
        {"RISC-V", "RISC-V"},
        {"LoongArch", "LoongArch"},
    };
    const QHash<QString, QString> types{
        {"NONE", "none"}, {"REL", "relocatable"}, {"EXEC", "executable"}, {"DYN", "shared"}, {"CORE", "core"}};
    QVariantMap details{{"machine", machine}, {"type", type}};
    QVariantList segments;
    qint64 index = 0;
    const QRegularExpression field(QStringLiteral("^  ([A-Za-z ]+):\\s+(.*)$"));
    const QRegularExpression header(QStringLiteral("^  (\\w+)\\s+0x([0-9a-f]+) 0x([0-9a-f]+) 0x([0-9a-f]+) 0x([0-9a-f]+) "
                                                   "0x([0-9a-f]+) (...) (0x)?[0-9a-f]+$"));
    for (const QByteArray &line : linesOf(output)) {
        const QString text = QString::fromLatin1(line);
        const QRegularExpressionMatch f = field.match(text);
        const QString value = f.hasMatch() ? f.captured(2).trimmed() : QString();
        if (f.captured(1) == QLatin1String("Class")) {
            details.insert("class", value);
        } else if (f.captured(1) == QLatin1String("Data")) {
            details.insert("byteOrder", value.contains(QLatin1String("little endian")) ? "little" : "big");
        } else if (f.captured(1) == QLatin1String("Type")) {
            const QString word = value.section(QLatin1Char(' '), 0, 0);
            if (types.contains(word))
                details.insert("typeName", types.value(word));
        } else if (f.captured(1) == QLatin1String("Machine")) {
            if (machines.contains(value))
                details.insert("machineName", machines.value(value));
        } else if (f.captured(1) == QLatin1String("Entry point address")) {
            details.insert("entry", value.mid(2).toULongLong(nullptr, 16));
        } else if (f.captured(1) == QLatin1String("Number of program headers")) {
            details.insert("programHeaders", value.toLongLong());
        }
        const QRegularExpressionMatch h = header.match(text);
        if (!h.hasMatch())
            continue;
        if (h.captured(1) == QLatin1String("LOAD") && segments.size() < InputContent::listedAtMost) {
            const QString flags = h.captured(7);
            segments << QVariantMap{
                {"index", index},
                {"offset", h.captured(2).toULongLong(nullptr, 16)},
                {"virtualAddress", h.captured(3).toULongLong(nullptr, 16)},
                {"physicalAddress", h.captured(4).toULongLong(nullptr, 16)},
                {"fileSize", h.captured(5).toULongLong(nullptr, 16)},
                {"memorySize", h.captured(6).toULongLong(nullptr, 16)},
                {"flags", flags},
                {"flagBits", quint64((flags.at(0) == 'R' ? 4 : 0) | (flags.at(1) == 'W' ? 2 : 0) | (flags.at(2) == 'E' ? 1 : 0))},
            };
        }
        details.insert("loadSegments", details.value("loadSegments", qint64(0)).toLongLong()
                                           + (h.captured(1) == QLatin1String("LOAD") ? 1 : 0));
        ++index;
    }
    if (loadable)
        details.insert("segments", segments);
    else
        details.remove("loadSegments");
    return details;
}

} // namespace

void tst_Readers::elfDetailsAsReadelfShows_data()
{
    QTest::addColumn<QStringList>("tools");
    QTest::addColumn<QString>("setUp");  // makes e.elf
    QTest::addColumn<QByteArray>("made"); // or, when not empty, this is e.elf
    QTest::addColumn<int>("machine");    // e_machine as the file has it
    QTest::addColumn<int>("type");       // e_type
    QTest::addColumn<bool>("patch");     // both written into the file here first
    QTest::addColumn<bool>("loadable");  // read; else refused, the header's details given all the same

    const QStringList ld{"ld", "readelf"};
    const QString x86 = linked("ld", "", "0x1000000000");
    QTest::newRow("ELF64 x86-64, a segment run above 4 GiB") << ld << x86 << QByteArray() << 62 << 2 << false << true;
    QTest::newRow("ELF32 i386") << ld << linked("ld", "-m elf_i386", "0x20000000") << QByteArray() << 3 << 2 << false << true;
    QTest::newRow("ELF32 x32") << ld << linked("ld", "-m elf32_x86_64", "0x20000000") << QByteArray() << 62 << 2 << false
                               << true;
    QTest::newRow("ELF32 big-endian PowerPC")
        << QStringList{"powerpc-linux-gnu-ld", "readelf"} << linked("powerpc-linux-gnu-ld", "", "0x20000000") << QByteArray()
        << 20 << 2 << false << true;
    QTest::newRow("ELF64 big-endian s390x")
        << QStringList{"s390x-linux-gnu-ld", "readelf"} << linked("s390x-linux-gnu-ld", "", "0x20000000") << QByteArray() << 22
        << 2 << false << true;
    QTest::newRow("shared object") << ld << linked("ld", "", "0x20000000", "-shared") << QByteArray() << 62 << 3 << false
                                   << true;
    QTest::newRow("relocatable object: no program headers")
        << ld << QStringLiteral("head -c 100 /dev/urandom > a.bin\nld -r -b binary a.bin -o e.elf\n") << QByteArray() << 62
        << 1 << false << false;
    // The machines firmware is built for, and types, named as readelf names
    // them (written into a file linked for x86-64).
    for (const int machine : {40, 243, 83, 105, 183, 94, 20, 8, 0, 0x1234})
        QTest::addRow("machine %d", machine) << ld << x86 << QByteArray() << machine << 2 << true << true;
    QTest::newRow("core file") << ld << x86 << QByteArray() << 62 << 4 << true << true;
    QTest::newRow("type of an operating system's own") << ld << x86 << QByteArray() << 62 << 0xFE00 << true << true;
    // More loadable segments than are listed: the list stops, the count
    // goes on.
    QVector<ElfSegment> many{{1, 9000, 0x1000, 16, 16}};
    for (int k = 1; k < 150; ++k)
        many.append({1, 0, quint64(0x10000 + 0x100 * k), 0, 0x20});
    QTest::newRow("150 loadable segments") << QStringList{"readelf"} << QString() << elfFile(false, false, many, 0x1001, 9100)
                                           << 0 << 2 << false << true;
}

// ELF files made by ld, or by the test, patched where a row says: the
// details are what readelf shows of them.
void tst_Readers::elfDetailsAsReadelfShows()
{
    QFETCH(QStringList, tools);
    QFETCH(QString, setUp);
    QFETCH(QByteArray, made);
    QFETCH(int, machine);
    QFETCH(int, type);
    QFETCH(bool, patch);
    QFETCH(bool, loadable);

    const QString missing = missingTool(tools);
    if (!missing.isEmpty())
        QSKIP(qPrintable(missing + QStringLiteral(" is not here")));
    const QString name = temp->filePath(QStringLiteral("e.elf"));
    if (made.isEmpty())
        QVERIFY(!shell(temp->path(), setUp).isNull());
    else
        QVERIFY(writeFile(name, made));
    QByteArray file = readFile(name);
    QVERIFY(file.size() > 64);
    if (patch) {
        const bool big = file.at(5) == 2;
        for (const auto &at : {std::make_pair(16, type), std::make_pair(18, machine)}) {
            file[at.first + (big ? 1 : 0)] = char(at.second);
            file[at.first + (big ? 0 : 1)] = char(at.second >> 8);
        }
        QVERIFY(writeFile(name, file));
    }
    const QByteArray readelf = shell(temp->path(), QStringLiteral("readelf -h -l -W e.elf"));
    QVERIFY(!readelf.isNull());
    const InputReader &reader = InputReader::tell(file.left(InputReader::headSize), file.size());
    QCOMPARE(QString(reader.name()), QStringLiteral("elf"));
    const Reading look = readBothWays(reader, file, ReadOptions());
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(look.result, loadable ? InputReader::Read : InputReader::Damaged);
    QCOMPARE(shown(look.details), shown(readelfDetails(readelf, machine, type, loadable)));
}

void tst_Readers::uf2Details_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<qint64>("family"); // asked for; -1: any
    QTest::addColumn<QVariantMap>("details");

    const auto passed = [](qint64 block, const char *reason) {
        return QVariantMap{{"block", block}, {"reason", QString::fromLatin1(reason)}};
    };
    const auto family = [](quint32 id, qint64 blocks, const char *name) {
        QVariantMap entry{{"id", quint64(id)}, {"blocks", blocks}};
        if (name)
            entry.insert("name", QString::fromLatin1(name));
        return entry;
    };
    // Flags: 0x1 not main flash, 0x1000 a file container, 0x2000 a family.
    const QByteArray mixed = uf2Block(0, 6, 0x2000, 0x10000000, "a", 0xE48BFF56)
                             + uf2Block(1, 6, 0x2001, 0x20000000, "b", 0xE48BFF56) + uf2Block(2, 6, 0x1000, 0, "file.txt")
                             + uf2Block(3, 6, 0x2000, 0x10000100, "c", 0x12345678) + uf2Block(4, 6, 0, 0x3000, "d")
                             + uf2Block(5, 6, 0x2000, 0x10000200, "e", 0xE48BFF56);
    const QVariantList families{family(0xE48BFF56, 3, "rp2040"), family(0x12345678, 1, nullptr)};
    const QVariantList always{passed(1, "not for the main flash"), passed(2, "a file for the boot loader's file system")};
    QTest::newRow("any family: other memories and files passed over")
        << mixed << qint64(-1)
        << QVariantMap{{"blocks", qint64(6)}, {"families", families}, {"passedOver", always}, {"passedOverCount", qint64(2)}};
    QTest::newRow("one family: others, and blocks of none, passed over too")
        << mixed << qint64(0xE48BFF56)
        << QVariantMap{{"blocks", qint64(6)},
                       {"families", families},
                       {"passedOver",
                        always
                            + QVariantList{passed(3, "of family 0x12345678, not the one asked for"),
                                           passed(4, "of no family, where one was asked for")}},
                       {"passedOverCount", qint64(4)}};
    QTest::newRow("UF2 files of two families one after the other")
        << uf2Block(0, 2, 0x2000, 0x1000, "a", 0x68ED2B88) + uf2Block(1, 2, 0x2000, 0x1100, "b", 0x68ED2B88)
               + uf2Block(0, 1, 0x2000, 0x10000000, "c", 0xE48BFF59)
        << qint64(0x68ED2B88)
        << QVariantMap{{"blocks", qint64(3)},
                       {"families", QVariantList{family(0x68ED2B88, 2, "samd21"), family(0xE48BFF59, 1, "rp2350")}},
                       {"passedOver", QVariantList{passed(2, "of family 0xE48BFF59, not the one asked for")}},
                       {"passedOverCount", qint64(1)}};
    QTest::newRow("blocks without a family")
        << uf2Block(0, 2, 0, 0x1000, "a") + uf2Block(1, 2, 0, 0x1100, "b") << qint64(-1)
        << QVariantMap{{"blocks", qint64(2)}, {"families", QVariantList()}, {"passedOver", QVariantList()},
                       {"passedOverCount", qint64(0)}};
    // 250 blocks, each of a family of its own, every other one for another
    // memory: the lists stop, the counts go on.
    QByteArray many;
    QVariantList manyFamilies;
    QVariantList manyPassed;
    for (quint32 k = 0; k < 250; ++k) {
        many += uf2Block(k, 250, 0x2000 | (k % 2), 0x100 * k, "x", 0xF0000000 + k);
        if (manyFamilies.size() < InputContent::listedAtMost)
            manyFamilies << family(0xF0000000 + k, 1, nullptr);
        if (k % 2 && manyPassed.size() < InputContent::listedAtMost)
            manyPassed << passed(k, "not for the main flash");
    }
    QTest::newRow("more families and blocks passed over than are listed")
        << many << qint64(-1)
        << QVariantMap{{"blocks", qint64(250)}, {"families", manyFamilies}, {"moreFamilies", true},
                       {"passedOver", manyPassed}, {"passedOverCount", qint64(125)}};
}

// UF2 blocks made here: how many, of which families, which were passed over
// and why.
void tst_Readers::uf2Details()
{
    QFETCH(QByteArray, file);
    QFETCH(qint64, family);
    QFETCH(QVariantMap, details);

    ReadOptions options;
    options.formats.set<Uf2Family>().id = family;
    const Reading look = readBothWays(*InputReader::find(QStringLiteral("uf2")), file, options);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(look.result, InputReader::Read);
    QCOMPARE(shown(look.details), shown(details));
}

QTEST_GUILESS_MAIN(tst_Readers)
#include "tst_readers.moc"
