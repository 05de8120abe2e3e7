// The formats boards and their tools take, written by MergeFileCli and read
// back by readers nobody here wrote: srec_cat for TI-TXT and Verilog memory
// text, gcc and g++ for the C array, and for UF2 a reader written below from
// the format's description. Each compares with the flat image built in memory.

#include "CliRunner.h"
#include "Files.h"
#include "Pieces.h"
#include "Records.h"

#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QTest>

namespace {

// The units (bytes, words, blocks) that hold a byte of some file.
QSet<qint64> unitsTouched(const Pieces &pieces, int unit)
{
    QSet<qint64> units;
    for (const Piece &p : pieces) {
        for (qint64 a = p.address; a < p.address + p.size; ++a)
            units.insert(a / unit);
    }
    return units;
}

quint32 le32(const QByteArray &bytes, int at)
{
    quint32 value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | uchar(bytes.at(at + i));
    return value;
}

const Pieces gaps{{0x1000, 100}, {0x1064, 3}, {0x2003, 0}, {0x2005, 40}, {0x2100, 1}};

} // namespace

class tst_BoardFormats : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void textReadBack_data();
    void textReadBack();
    void cArrayCompiles_data();
    void cArrayCompiles();
    void cNamesRefused_data();
    void cNamesRefused();
    void uf2Blocks_data();
    void uf2Blocks();
    void readBack_data();
    void readBack();
    void uf2OfAnotherFamily();
    void inputRefusals_data();
    void inputRefusals();

private:
    QScopedPointer<CurrentTempDir> dir;
};

void tst_BoardFormats::init()
{
    dir.reset(new CurrentTempDir);
    QVERIFY(dir->isValid());
}

void tst_BoardFormats::cleanup()
{
    dir.reset();
}

void tst_BoardFormats::textReadBack_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("wordBits");
    QTest::addColumn<Pieces>("pieces");

    const Pieces one{{0x1000, 33}};
    const Pieces unaligned{{0x1001, 6}, {0x1009, 2}, {0x1013, 16}};
    for (const char *format : {"ti-txt", "vmem"}) {
        for (const int bits : {8, 16, 32, 64}) {
            if (qstrcmp(format, "ti-txt") == 0 && bits != 8)
                continue;
            const QByteArray name = QByteArray(format) + (qstrcmp(format, "vmem") == 0 ? " " + QByteArray::number(bits) : "");
            QTest::newRow((name + ": one file").constData()) << format << bits << one;
            QTest::newRow((name + ": gaps, touching and empty files").constData()) << format << bits << gaps;
            QTest::newRow((name + ": files sharing words, unaligned").constData()) << format << bits << unaligned;
            QTest::newRow((name + ": past 64 KiB").constData()) << format << bits << Pieces{{0xFFF8, 20}, {0x12345, 7}};
        }
    }
}

// srec_cat reads the text back: the flat image's bytes where the text has
// data (fill around a file's bytes in a word it shares with a gap), nothing
// in the gaps, and every unit a file touches written. (srec_cat reads words
// of up to 32 bits; 64-bit words are read here as $readmemh reads them.)
void tst_BoardFormats::textReadBack()
{
    QFETCH(QString, format);
    QFETCH(int, wordBits);
    QFETCH(Pieces, pieces);

    const QString srecCat = QStandardPaths::findExecutable(QStringLiteral("srec_cat"));
    if (srecCat.isEmpty())
        QSKIP("srec_cat (Debian's srecord) is not installed; on Windows it cannot be started at all");
    const bool vmem = format == QLatin1String("vmem");
    QStringList args{"--format", format, "-o", "out.txt"};
    if (vmem)
        args << "--word-bits" << QString::number(wordBits);
    const Run run = runCli(args + writePieces(pieces));
    QCOMPARE(run.exitCode, 0);
    const QByteArray text = readFile(QStringLiteral("out.txt"));
    QVERIFY(run.out.contains(QStringLiteral("Output length: %1 bytes").arg(text.size())));

    const QByteArray image = referenceImage(pieces);
    const QString end = QString::number(0x1000 + image.size());
    if (wordBits <= 32) {
        int exitCode = -1;
        const QByteArray back = runTool(srecCat, {QStringLiteral("out.txt"), vmem ? "-vmem" : "-ti-txt", "-crop", "0x1000",
                                               end, "-fill", "0xFF", "0x1000", end, "-offset", "-0x1000", "-o", "-", "-binary"},
                                     &exitCode);
        QCOMPARE(exitCode, 0);
        QCOMPARE(back.toHex(), image.toHex());
    }

    // The units written are the units the files touch, no more, each the
    // image's bytes there (big-endian words), fill past the image's end.
    const int unit = vmem ? wordBits / 8 : 1;
    const QSet<qint64> expected = unitsTouched(pieces, unit);
    const QByteArray padded = image + QByteArray(unit, char(0xFF));
    QSet<qint64> written;
    qint64 at = -1;
    for (const QString &token : QString::fromLatin1(text).split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts)) {
        if (token.startsWith(QLatin1Char('@'))) {
            at = token.mid(1).toLongLong(nullptr, 16);
        } else if (token != QLatin1String("q")) {
            QCOMPARE(token.size(), 2 * unit);
            QVERIFY2(!written.contains(at), qPrintable(token));
            QCOMPARE(QByteArray::fromHex(token.toLatin1()).toHex(), padded.mid(int(at * unit - 0x1000), unit).toHex());
            written.insert(at++);
        }
    }
    QCOMPARE(written, expected);
    if (!vmem)
        QVERIFY(text.endsWith("\nq\n"));
}

void tst_BoardFormats::cArrayCompiles_data()
{
    QTest::addColumn<QString>("name"); // empty: the default
    QTest::addColumn<Pieces>("pieces");
    QTest::addColumn<QString>("fill");

    QTest::newRow("gaps filled, the default name") << QString() << gaps << QString();
    QTest::newRow("a name of its own, another fill") << "boot_image2" << gaps << "00";
    QTest::newRow("a whole number of lines") << "fw_64" << Pieces{{0x1000, 64}} << QString();
    QTest::newRow("one byte") << "x" << Pieces{{0x1000, 1}} << QString();
    // Next to the names C and C++ keep for themselves, which are refused.
    QTest::newRow("a name that starts like main") << "main_image" << Pieces{{0x1000, 5}} << QString();
    QTest::newRow("a capital letter first") << "Boot_Image" << Pieces{{0x1000, 5}} << QString();
}

// The source compiles on its own as C99 and as C++ with every warning an
// error, and a program in either language that links it gives back the flat
// image, its base and its length.
void tst_BoardFormats::cArrayCompiles()
{
    QFETCH(QString, name);
    QFETCH(Pieces, pieces);
    QFETCH(QString, fill);

    const QString gcc = QStandardPaths::findExecutable(QStringLiteral("gcc"));
    const QString gxx = QStandardPaths::findExecutable(QStringLiteral("g++"));
    if (gcc.isEmpty() || gxx.isEmpty())
        QSKIP("gcc and g++ are not here (Windows)");
    QStringList args{"-o", "image.c"};
    if (!name.isEmpty())
        args << "--c-name" << name;
    if (!fill.isEmpty())
        args << "--fill" << fill;
    const Run run = runCli(args + writePieces(pieces));
    QCOMPARE(run.exitCode, 0);
    QVERIFY(run.out.contains(QStringLiteral("Output length: %1 bytes").arg(readFile(QStringLiteral("image.c")).size())));

    const QByteArray array = (name.isEmpty() ? QByteArray("mergefile_image") : name.toLatin1());
    const QByteArray main = "#include <stdio.h>\n"
                            "#ifdef __cplusplus\nextern \"C\" {\n#endif\n"
                            "extern const unsigned char "
                            + array + "[];\nextern const unsigned long " + array + "_base, " + array
                            + "_length;\n"
                              "#ifdef __cplusplus\n}\n#endif\n"
                              "int main(void)\n{\n    printf(\"%lx\\n\", "
                            + array + "_base);\n    fwrite(" + array + ", 1, " + array + "_length, stdout);\n    return 0;\n}\n";
    QVERIFY(writeFile(QStringLiteral("main.c"), main));
    const QStringList strict{"-Wall", "-Wextra", "-pedantic", "-Werror"};
    int exitCode = -1;
    for (const bool cxx : {false, true}) {
        const QString compiler = cxx ? gxx : gcc;
        const QStringList language = cxx ? QStringList{"-x", "c++", "-std=c++17"} : QStringList{"-std=c99"};
        runTool(compiler, language + strict + QStringList{"-c", "image.c", "-o", "image.o"}, &exitCode);
        QCOMPARE(exitCode, 0);
        runTool(compiler, language + strict + QStringList{"-c", "main.c", "-o", "main.o"}, &exitCode);
        QCOMPARE(exitCode, 0);
        runTool(compiler, {"main.o", "image.o", "-o", "program"}, &exitCode);
        QCOMPARE(exitCode, 0);
        const QByteArray out = runTool(QDir::current().absoluteFilePath(QStringLiteral("program")), {}, &exitCode);
        QCOMPARE(exitCode, 0);
        const int newline = out.indexOf('\n');
        QCOMPARE(out.left(newline), QByteArray("1000"));
        QByteArray expected = referenceImage(pieces);
        if (!fill.isEmpty()) {
            // The gaps hold the fill given: where the reference has its 0xFF
            // fill and no file byte.
            QSet<qint64> data;
            for (const Piece &p : pieces) {
                for (qint64 a = p.address; a < p.address + p.size; ++a)
                    data.insert(a - 0x1000);
            }
            for (int i = 0; i < expected.size(); ++i) {
                if (!data.contains(i))
                    expected[i] = char(fill.toInt(nullptr, 16));
            }
        }
        QCOMPARE(out.mid(newline + 1).toHex(), expected.toHex());
    }
}

void tst_BoardFormats::cNamesRefused_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("gxxRefuses"); // g++ itself refuses the source made with it

    QTest::newRow("main") << "main" << true;
    QTest::newRow("an underscore and a capital") << "_Image" << false;
    QTest::newRow("two underscores first") << "__image" << false;
    QTest::newRow("two underscores inside") << "boot__image" << false;
    QTest::newRow("an underscore last, so NAME__base") << "image_" << false;
}

// Names the standards keep for the compiler and its library are refused as
// a usage error, and nothing is written; g++ shows why for main.
void tst_BoardFormats::cNamesRefused()
{
    QFETCH(QString, name);
    QFETCH(bool, gxxRefuses);

    const QStringList pairs = writePieces({{0x1000, 16}});
    const Run run = runCli(QStringList{"-o", "image.c", "--c-name", name} + pairs);
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.err.startsWith(QStringLiteral("MergeFileCli: --c-name %1: ").arg(name)), qPrintable(run.err));
    QVERIFY(!QFile::exists(QStringLiteral("image.c")));
    if (!gxxRefuses)
        return;
    const QString gxx = QStandardPaths::findExecutable(QStringLiteral("g++"));
    if (gxx.isEmpty())
        QSKIP("g++ is not here (Windows)");
    QCOMPARE(runCli(QStringList{"-o", "image.c"} + pairs).exitCode, 0);
    QVERIFY(writeFile(QStringLiteral("named.c"), readFile(QStringLiteral("image.c")).replace("mergefile_image", name.toLatin1())));
    int exitCode = -1;
    runTool(gxx, {"-x", "c++", "-std=c++17", "-c", "named.c", "-o", "named.o"}, &exitCode);
    QVERIFY(exitCode != 0);
}

void tst_BoardFormats::uf2Blocks_data()
{
    QTest::addColumn<Pieces>("pieces");
    QTest::addColumn<QString>("family"); // empty: none
    QTest::addColumn<qint64>("familyId");

    QTest::newRow("gaps, no family") << gaps << QString() << qint64(-1);
    QTest::newRow("rp2040 by name") << Pieces{{0x1000, 700}} << "rp2040" << qint64(0xE48BFF56);
    QTest::newRow("a family by number, blocks far apart")
        << Pieces{{0x1080, 10}, {0x40000, 200}, {0x400FF, 2}} << "0x12345678" << qint64(0x12345678);
}

// Read as the format's description has it: 512-byte blocks, both start
// magics and the end magic, the flags, a 256-aligned target address, 256
// bytes of payload, block numbers from 0 and their count, the family ID.
void tst_BoardFormats::uf2Blocks()
{
    QFETCH(Pieces, pieces);
    QFETCH(QString, family);
    QFETCH(qint64, familyId);

    QStringList args{"-o", "out.uf2"};
    if (!family.isEmpty())
        args << "--uf2-family" << family;
    const Run run = runCli(args + writePieces(pieces));
    QCOMPARE(run.exitCode, 0);
    const QByteArray uf2 = readFile(QStringLiteral("out.uf2"));
    QVERIFY(run.out.contains(QStringLiteral("Output length: %1 bytes").arg(uf2.size())));
    QCOMPARE(uf2.size() % 512, 0);

    const QByteArray image = referenceImage(pieces);
    const QSet<qint64> expected = unitsTouched(pieces, 256);
    const int count = uf2.size() / 512;
    QCOMPARE(count, expected.size());
    QSet<qint64> seen;
    for (int n = 0; n < count; ++n) {
        const QByteArray block = uf2.mid(512 * n, 512);
        QCOMPARE(le32(block, 0), 0x0A324655u);
        QCOMPARE(le32(block, 4), 0x9E5D5157u);
        QCOMPARE(le32(block, 508), 0x0AB16F30u);
        QCOMPARE(le32(block, 8), familyId >= 0 ? 0x2000u : 0u);
        const quint32 address = le32(block, 12);
        QCOMPARE(address % 256, 0u);
        QCOMPARE(le32(block, 16), 256u);
        QCOMPARE(le32(block, 20), quint32(n));
        QCOMPARE(le32(block, 24), quint32(count));
        if (familyId >= 0)
            QCOMPARE(le32(block, 28), quint32(familyId));
        QCOMPARE(block.mid(32 + 256, 476 - 256), QByteArray(476 - 256, '\0'));
        // The payload is the flat image there, fill where it has no bytes.
        QByteArray want = image.mid(int(address) - 0x1000, 256);
        want += QByteArray(256 - want.size(), char(0xFF));
        QCOMPARE(block.mid(32, 256).toHex(), want.toHex());
        seen.insert(address / 256);
    }
    QCOMPARE(seen, expected);
}

void tst_BoardFormats::readBack_data()
{
    QTest::addColumn<QString>("format"); // what srec_cat or MergeFileCli writes the files as
    QTest::addColumn<Pieces>("pieces");
    QTest::addColumn<QString>("family"); // --uf2-family for both ways; empty: none

    QTest::newRow("TI-TXT that srec_cat writes") << "ti-txt" << gaps << QString();
    QTest::newRow("TI-TXT that srec_cat writes, past 64 KiB") << "ti-txt" << Pieces{{0xFFF8, 20}, {0x12345, 7}} << QString();
    QTest::newRow("UF2 out and in") << "uf2" << gaps << QString();
    QTest::newRow("UF2 of a family out and in") << "uf2" << Pieces{{0x1000, 1000}, {0x9001, 3}} << "samd51";
}

// Files in the format, made from raw pieces, merged at their own addresses
// into a flat image: the data comes back where it was, and what a block or a
// line holds besides the pieces is the fill it was written with.
void tst_BoardFormats::readBack()
{
    QFETCH(QString, format);
    QFETCH(Pieces, pieces);
    QFETCH(QString, family);

    const QStringList pairs = writePieces(pieces);
    const QStringList familyArgs = family.isEmpty() ? QStringList() : QStringList{"--uf2-family", family};
    if (format == QLatin1String("ti-txt")) {
        const QString srecCat = QStandardPaths::findExecutable(QStringLiteral("srec_cat"));
        if (srecCat.isEmpty())
            QSKIP("srec_cat (Debian's srecord) is not installed; on Windows it cannot be started at all");
        QStringList args;
        for (int k = 0; k + 1 < pairs.size(); k += 2)
            args << pairs.at(k + 1) << "-binary" << "-offset" << "0x" + pairs.at(k);
        int exitCode = -1;
        runTool(srecCat, args + QStringList{"-o", "in.txt", "-ti-txt"}, &exitCode);
        QCOMPARE(exitCode, 0);
    } else {
        QCOMPARE(runCli(familyArgs + QStringList{"-o", "in.txt", "--format", format} + pairs).exitCode, 0);
    }
    const Run run = runCli(familyArgs + QStringList{"--map", "map.json", "-o", "back.bin", "-", "in.txt"});
    QCOMPARE(run.exitCode, 0);
    QVERIFY(readFile(QStringLiteral("map.json")).contains(("\"format\": \"" + format + '"').toLatin1()));
    // The image runs from the base, 0x1000, to the end of the last unit that
    // holds a byte.
    const int unit = format == QLatin1String("uf2") ? 256 : 1;
    qint64 end = 0;
    for (const Piece &p : pieces)
        end = qMax(end, p.address + p.size);
    end = (end + unit - 1) / unit * unit;
    const QByteArray image = referenceImage(pieces) + QByteArray(unit, char(0xFF));
    const QByteArray back = readFile(QStringLiteral("back.bin"));
    QCOMPARE(qint64(back.size()), end - 0x1000);
    QCOMPARE(back.toHex(), image.left(back.size()).toHex());
}

// A UF2 file of one family, merged for another: nothing of it is taken, and
// a file that gives nothing is refused, saying so.
void tst_BoardFormats::uf2OfAnotherFamily()
{
    QVERIFY(writeFile(QStringLiteral("a.bin"), "firmware"));
    QCOMPARE(runCli({"--uf2-family", "rp2040", "-o", "a.uf2", "1000", "a.bin"}).exitCode, 0);
    const Run other = runCli({"--uf2-family", "samd21", "-o", "b.bin", "-", "a.uf2"});
    QCOMPARE(other.exitCode, 1);
    QVERIFY2(other.out.contains(QStringLiteral("Error!!!Cannot read a.uf2: it holds no data!")), qPrintable(other.out.join('\n')));
    QVERIFY(!QFile::exists(QStringLiteral("b.bin")));
    QCOMPARE(runCli({"--uf2-family", "e48bff56", "-o", "b.bin", "-", "a.uf2"}).exitCode, 0);
    QCOMPARE(readFile(QStringLiteral("b.bin")), QByteArray("firmware") + QByteArray(248, char(0xFF)));
}

void tst_BoardFormats::inputRefusals_data()
{
    QTest::addColumn<QByteArray>("file"); // in.dat
    QTest::addColumn<QString>("line");     // empty: merged

    const QByteArray first = uf2Block(0, 2, 0, 0x2000, "abcd");
    QTest::newRow("UF2: one address twice, other bytes")
        << first + uf2Block(1, 2, 0, 0x2002, "XY") << "Error!!!in.dat gives two different bytes for address 0x00002002!";
    QTest::newRow("UF2: one address twice, the same bytes") << first + uf2Block(1, 2, 0, 0x2002, "cd") << QString();
    QTest::newRow("UF2: a block without its magic")
        << first + QByteArray(512, 'x') << "Error!!!Cannot read in.dat: UF2 block 1 (at byte 512) lacks the UF2 magic numbers!";
    QTest::newRow("TI-TXT: a wrong line") << QByteArray("@2000\n01 02\nzz\nq\n")
                                          << "Error!!!Cannot read in.dat: line 3: it is not bytes as two hexadecimal digits "
                                             "separated by blanks!";
    QTest::newRow("TI-TXT: cut short") << QByteArray("@2000\n01 02\n")
                                       << "Error!!!Cannot read in.dat: line 2: the file ends without the q line that ends "
                                          "TI-TXT!";
}

// Read as what it is and refused with one line, or merged.
void tst_BoardFormats::inputRefusals()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, line);

    QVERIFY(writeFile(QStringLiteral("in.dat"), file));
    const Run run = runCli({"--base", "0", "-o", "out.bin", "-", "in.dat"});
    QCOMPARE(run.exitCode, line.isEmpty() ? 0 : 1);
    if (!line.isEmpty()) {
        QVERIFY2(run.out.contains(line), qPrintable(run.out.join(QLatin1Char('\n'))));
        QVERIFY(!QFile::exists(QStringLiteral("out.bin")));
    } else {
        QCOMPARE(readFile(QStringLiteral("out.bin")).mid(0x2000), QByteArray("abcd"));
    }
}

QTEST_GUILESS_MAIN(tst_BoardFormats)
#include "tst_boardformats.moc"
