// MergeFileCli as a build script sees it: exit codes, usage errors, the map,
// --dry-run, the hash, and the same image as the window for the same rows.

#include "CliRunner.h"
#include "Limits.h"
#include "Pieces.h"
#include "Records.h"
#include "WindowDriver.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#ifdef Q_OS_UNIX
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <grp.h>
#include <sys/wait.h>
#endif


class tst_Cli : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void exitCodes_data();
    void exitCodes();
    void moreThanEightPairsAndTheHash();
    void layoutMap();
    void dryRunWritesNothing_data();
    void dryRunWritesNothing();
    void sameImageAsTheWindow();
    void failedWriteKeepsOldOutput();
    void reportsThatCannotBeWritten_data();
    void reportsThatCannotBeWritten();
    void dryRunAgreesWithTheMerge_data();
    void dryRunAgreesWithTheMerge();
    void limitsGiveAnErrorLineNotACrash_data();
    void limitsGiveAnErrorLineNotACrash();
    void mapTargets_data();
    void mapTargets();
    void settingsFiles_data();
    void settingsFiles();
    void standardOutput_data();
    void standardOutput();
    void nonBlockingStandardOutput();
    void interruptedMerge_data();
    void interruptedMerge();
    void helpAndManualAgree();

private:
    QScopedPointer<CurrentTempDir> dir;
};

void tst_Cli::init()
{
    dir.reset(new CurrentTempDir);
    QVERIFY(dir->isValid());
    QVERIFY(writeFile(QStringLiteral("a.bin"), "AAAA"));
    QVERIFY(writeFile(QStringLiteral("b.bin"), "BB"));
}

void tst_Cli::cleanup()
{
    dir.reset();
}

void tst_Cli::exitCodes_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("out");
    QTest::addColumn<QString>("err"); // a part of what stderr says

    const QString begin = QStringLiteral("Begin to merge...");
    QTest::newRow("no arguments") << QStringList() << 2 << QStringList() << "nothing to merge";
    QTest::newRow("odd number of pair arguments") << QStringList{"-o", "out.bin", "1000", "a.bin", "2000"} << 2
                                                  << QStringList() << "odd number of arguments";
    QTest::newRow("unknown option") << QStringList{"--fast", "-o", "out.bin", "1000", "a.bin"} << 2
                                    << QStringList() << "Unknown option 'fast'";
    QTest::newRow("missing -o") << QStringList{"1000", "a.bin"} << 2 << QStringList() << "missing -o";
    QTest::newRow("-o without a value") << QStringList{"1000", "a.bin", "-o"} << 2 << QStringList()
                                        << "Missing value after '-o'";
    QTest::newRow("settings and pairs") << QStringList{"--settings", "a.bin", "1000", "a.bin"} << 2
                                        << QStringList() << "not both";
    QTest::newRow("missing settings file") << QStringList{"--settings", "cfg/none.ini"} << 2 << QStringList()
                                           << "no settings file cfg/none.ini";
    QTest::newRow("the output given twice") << QStringList{"-o", "other.bin", "-o", "out.bin", "1000", "a.bin"} << 2
                                            << QStringList() << "-o/--output is given twice (other.bin, out.bin); it takes one value";
    QTest::newRow("a map given twice") << QStringList{"--map", "m.json", "-o", "out.bin", "--map=n.json", "1000", "a.bin"}
                                       << 2 << QStringList() << "--map is given twice (m.json, n.json); it takes one value";
    QTest::newRow("help") << QStringList{"--help"} << 0 << QStringList() << "";
    QTest::newRow("version") << QStringList{"--version"} << 0 << QStringList{"MergeFileCli v01.00.01"} << "";
    QTest::newRow("duplicate address") << QStringList{"-o", "out.bin", "1000", "a.bin", "0x1000", "b.bin"} << 1
                                       << QStringList{begin, "Error!!!The address of file2 is duplicated!"} << "";
    QTest::newRow("address below 0x1000") << QStringList{"-o", "out.bin", "fff", "a.bin"} << 1
                                          << QStringList{begin, "Error!!!Start address cannot less than 0x1000!"} << "";
    QTest::newRow("empty output name") << QStringList{"-o", "", "1000", "a.bin"} << 1
                                       << QStringList{"Error!!!Merge file name cannot be empty!"} << "";
    QTest::newRow("missing source") << QStringList{"-o", "out.bin", "1000", "nope.bin"} << 1
                                    << QStringList{begin, "Error!!!Cannot open filenope.bin!"} << "";
    QTest::newRow("overlap") << QStringList{"-o", "out.bin", "1000", "a.bin", "1002", "b.bin"} << 1
                             << QStringList{begin, "Error!!!File size of a.bin is out of range!"} << "";
    QTest::newRow("output in a missing folder") << QStringList{"-o", "no/out.bin", "1000", "a.bin"} << 1
                                                << QStringList{begin, "Error!!!Fail to open merge fileno/out.bin"} << "";
    // Every address out of 0 to FFFFFFFF is a usage error, found before anything is read.
    QTest::newRow("negative address after --") << QStringList{"-o", "out.bin", "--", "-10", "a.bin"} << 2
                                               << QStringList() << "\"-10\" is not a hexadecimal address";
    QTest::newRow("minus zero") << QStringList{"-o", "out.bin", "--", "-0", "a.bin"} << 2 << QStringList()
                                << "\"-0\" is not a hexadecimal address";
}

void tst_Cli::exitCodes()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QStringList, out);
    QFETCH(QString, err);

    const Run run = runCli(args);
    QCOMPARE(run.exitCode, exitCode);
    if (exitCode == 2) {
        QVERIFY2(run.err.contains(err), qPrintable(run.err));
        QVERIFY(run.out.isEmpty());
    } else if (QTest::currentDataTag() == QLatin1String("help")) {
        QVERIFY(run.out.first().startsWith(QLatin1String("Usage:")));
    } else {
        QCOMPARE(run.out, out);
        QCOMPARE(run.err, QString());
    }
    QVERIFY(!QFileInfo::exists(QStringLiteral("out.bin")));
}

void tst_Cli::moreThanEightPairsAndTheHash()
{
    QStringList args{"-o", "out.bin"};
    QByteArray expected;
    for (int n = 1; n <= 10; ++n) {
        const QString name = QStringLiteral("f%1.bin").arg(n);
        QVERIFY(writeFile(name, QByteArray(n, char('a' + n))));
        args << QString::number(0x1000 + 0x10 * (n - 1), 16) << name;
        expected += QByteArray(n, char('a' + n));
        if (n < 10)
            expected += fill(16 - n);
    }
    const Run run = runCli(args);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(readFile(QStringLiteral("out.bin")), expected);
    const QByteArray hash = QCryptographicHash::hash(expected, QCryptographicHash::Sha256).toHex();
    QCOMPARE(run.out, QStringList() << "Begin to merge..." << "Merge success!"
                                    << QStringLiteral("Image length: %1 bytes").arg(expected.size())
                                    << QStringLiteral("SHA-256: %1").arg(QString::fromLatin1(hash)));
}

void tst_Cli::layoutMap()
{
    QVERIFY(writeFile(QStringLiteral("c.bin"), "CCC"));
    const Run run = runCli({"--layout", "-o", "out.bin", "1010", "a.bin", "1020", "c.bin", "0x1000", "b.bin"});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out.size(), 1 + 1 + 3 + 1 + 1 + 3);

    // file, start, offset, size, end, fill after: read back as numbers.
    const QVector<QVector<qint64>> expected{{3, 0x1000, 0x0, 2, 0x1002, 0xE},
                                           {1, 0x1010, 0x10, 4, 0x1014, 0xC},
                                           {2, 0x1020, 0x20, 3, 0x1023, 0}};
    for (int i = 0; i < expected.size(); ++i) {
        const QStringList cells = run.out.at(2 + i).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        QCOMPARE(cells.size(), 6);
        QVector<qint64> numbers;
        for (const QString &cell : cells)
            numbers << cell.toLongLong(nullptr, 0);
        QCOMPARE(numbers, expected.at(i));
    }
    QCOMPARE(run.out.at(5), QStringLiteral("image length 0x00000023 (35 bytes)"));
    QCOMPARE(run.out.at(6), QStringLiteral("output format bin (the flat image, the default)"));
    QCOMPARE(run.out.at(7), QStringLiteral("Merge success!"));
    QCOMPARE(readFile(QStringLiteral("out.bin")), QByteArray("BB") + fill(14) + "AAAA" + fill(12) + "CCC");
}

void tst_Cli::dryRunWritesNothing_data()
{
    QTest::addColumn<QStringList>("pairs");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("last");

    QTest::newRow("checks pass") << QStringList{"1000", "a.bin", "2000", "b.bin"} << 0
                                 << "Checks passed; nothing written.";
    QTest::newRow("checks fail") << QStringList{"1000", "a.bin", "1001", "b.bin"} << 1
                                 << "Error!!!File size of a.bin is out of range!";
}

void tst_Cli::dryRunWritesNothing()
{
    QFETCH(QStringList, pairs);
    QFETCH(int, exitCode);
    QFETCH(QString, last);

    QVERIFY(writeFile(QStringLiteral("old.bin"), "old"));
    const Run run = runCli(QStringList{"--dry-run", "-o", "old.bin"} + pairs);
    QCOMPARE(run.exitCode, exitCode);
    QCOMPARE(run.out.last(), last);
    QCOMPARE(run.out.size(), exitCode == 0 ? 1 + 1 + 2 + 1 + 1 + 1 : 2);
    QCOMPARE(readFile(QStringLiteral("old.bin")), QByteArray("old"));
    QCOMPARE(QDir().entryList(QDir::Files).size(), 3);
}

void tst_Cli::sameImageAsTheWindow()
{
    QVERIFY(QDir().mkpath(QStringLiteral("app")));
    QVERIFY(QDir().mkpath(QStringLiteral("elsewhere")));
    QVERIFY(writeFile(QStringLiteral("app/boot.bin"), QByteArray(300, 'b')));
    QVERIFY(writeFile(QStringLiteral("app/app.bin"), QByteArray(1000, 'a')));
    QVERIFY(QDir::setCurrent(QStringLiteral("app")));
    QStringList windowLog;
    {
        MergeMainWindow window;
        window.show();
        setRow(window, 1, true, QStringLiteral("app.bin"), QStringLiteral("0x2000"));
        setRow(window, 2, false, QStringLiteral("missing.bin"), QStringLiteral("1000"));
        setRow(window, 5, true, QStringLiteral("boot.bin"), QStringLiteral(" 1100"));
        outputEdit(window)->setText(QStringLiteral("image.bin"));
        windowLog = merge(window);
    } // closing saves cfg/MergeTool.ini
    QVERIFY(QDir::setCurrent(QStringLiteral("../elsewhere")));
    const QByteArray windowImage = readFile(QStringLiteral("../app/image.bin"));
    QCOMPARE(windowImage, fill(0x100) + QByteArray(300, 'b') + fill(0xF00 - 300) + QByteArray(1000, 'a'));

    // Relative names resolve against the program folder; -o against where the script runs.
    Run run = runCli({"--settings", "../app/cfg/MergeTool.ini", "-o", "copy.bin"});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(readFile(QStringLiteral("copy.bin")), windowImage);
    QCOMPARE(run.out.mid(0, 2), windowLog);

    // Without -o the saved output name is used, as the window would.
    QVERIFY(QFile::remove(QStringLiteral("../app/image.bin")));
    run = runCli({"--settings", QDir(QStringLiteral("../app/cfg")).absoluteFilePath(QStringLiteral("MergeTool.ini"))});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(readFile(QStringLiteral("../app/image.bin")), windowImage);
}

void tst_Cli::failedWriteKeepsOldOutput()
{
#ifndef Q_OS_UNIX
    QSKIP("Windows has no file size limit for a process");
#else
    QVERIFY(writeFile(QStringLiteral("big.bin"), QByteArray(1 << 20, 'x')));
    QVERIFY(writeFile(QStringLiteral("old.bin"), "old"));
    struct rlimit saved;
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
    std::signal(SIGXFSZ, SIG_IGN); // inherited: the write fails instead of killing the child
    struct rlimit lower = saved;
    lower.rlim_cur = 64 * 1024;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &lower), 0);
    const Run run = runCli({"-o", "old.bin", "1000", "big.bin"});
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &saved), 0);

    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.out, QStringList() << "Begin to merge..." << "Error!!!Fail to write merge fileold.bin");
    QCOMPARE(readFile(QStringLiteral("old.bin")), QByteArray("old"));
    QCOMPARE(QDir().entryList(QDir::Files | QDir::Hidden), QStringList() << "a.bin" << "b.bin" << "big.bin" << "old.bin");
#endif
}

void tst_Cli::reportsThatCannotBeWritten_data()
{
    QTest::addColumn<QString>("report");  // --map or --picture
    QTest::addColumn<QString>("where");   // device, read-only folder, full disk, full disk in place
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("line");    // %1 the report's full name
    QTest::addColumn<bool>("replaced");   // the output holds the new image

    const QString kept = QStringLiteral(": merge fileout.bin is left as it was!");
    QTest::newRow("a picture on a full device") << "--picture" << "device" << "out.bin"
                                                << "Error!!!Fail to write picture file %1" + kept << false;
    QTest::newRow("a map on a full device") << "--map" << "device" << "out.bin" << "Error!!!Fail to write map file%1" + kept
                                            << false;
    QTest::newRow("a map on a full device, the image to a device") << "--map" << "device" << "/dev/null"
                                                                    << "Error!!!Fail to write map file%1, though merge "
                                                                       "file/dev/null was written!"
                                                                    << false;
    QTest::newRow("a map in a read-only folder") << "--map" << "read-only folder" << "out.bin"
                                                 << "Error!!!Fail to open map file%1" + kept << false;
    QTest::newRow("a picture in a read-only folder") << "--picture" << "read-only folder" << "out.bin"
                                                     << "Error!!!Fail to open picture file %1" + kept << false;
    QTest::newRow("a map on a full disk") << "--map" << "full disk" << "out.bin" << "Error!!!Fail to write map file%1" + kept
                                          << false;
    QTest::newRow("a picture on a full disk") << "--picture" << "full disk" << "out.bin"
                                              << "Error!!!Fail to write picture file %1" + kept << false;
    // Written over an old picture in a read-only folder of a full disk: that
    // is only found when the picture takes the old one's place, after the
    // output has taken its own.
    QTest::newRow("a picture in place on a full disk, larger than the old one")
        << "--picture" << "full disk, in place" << "out.bin"
        << "Error!!!Fail to write picture file %1, though merge fileout.bin was written!" << true;
}

// A map or picture that cannot be written is an error line before any
// success line, with the exit status to match; it says what became of the
// image, and a map or picture that fails before the output replaces
// anything leaves the output as it was.
void tst_Cli::reportsThatCannotBeWritten()
{
#ifndef Q_OS_UNIX
    QSKIP("Windows has no /dev/full, and no tmpfs to fill");
#else
    QFETCH(QString, report);
    QFETCH(QString, where);
    QFETCH(QString, output);
    QFETCH(QString, line);
    QFETCH(bool, replaced);

    const bool unprivileged = where.startsWith(QLatin1String("read-only")) || where.endsWith(QLatin1String("in place"));
    if (unprivileged && !ScopedUnprivileged::isRoot() && where.endsWith(QLatin1String("in place")))
        QSKIP("making a full disk takes root");
    // A small tmpfs, filled, unmounted whatever happens.
    struct Mount
    {
        QString at;
        ~Mount()
        {
            if (!at.isEmpty())
                QProcess::execute(QStringLiteral("umount"), {at});
        }
    } full;
    QString name;
    if (where == QLatin1String("device")) {
        name = QStringLiteral("/dev/full");
    } else if (where == QLatin1String("read-only folder")) {
        QVERIFY(QDir().mkdir(QStringLiteral("ro")));
        QCOMPARE(chmod("ro", 0555), 0);
        name = QDir::current().absoluteFilePath(QStringLiteral("ro/report"));
    } else {
        if (!ScopedUnprivileged::isRoot())
            QSKIP("making a full disk takes root");
        QVERIFY(QDir().mkdir(QStringLiteral("full")));
        if (QProcess::execute(QStringLiteral("mount"), {"-t", "tmpfs", "-o", "size=64k", "tmpfs", "full"}) != 0)
            QSKIP("no tmpfs could be mounted here");
        full.at = QDir::current().absoluteFilePath(QStringLiteral("full"));
        name = full.at + QStringLiteral("/report");
        if (where.endsWith(QLatin1String("in place"))) {
            QVERIFY(QDir().mkdir(QStringLiteral("full/ro")));
            name = full.at + QStringLiteral("/ro/report");
            QVERIFY(writeFile(name, "old report"));
            QCOMPARE(chmod(QFile::encodeName(name).constData(), 0666), 0);
            QCOMPARE(chmod("full/ro", 0555), 0);
        }
        QFile filler(QStringLiteral("full/filler"));
        QVERIFY(filler.open(QIODevice::WriteOnly));
        while (filler.write(QByteArray(4096, 'f')) == 4096) {
        }
    }
    // Files enough for a picture that needs more room than the old one.
    Pieces pieces;
    for (int k = 0; k < 20; ++k)
        pieces.append({0x1000 + 0x100 * k, 16});
    const QStringList pairs = writePieces(pieces);
    QVERIFY(writeFile(QStringLiteral("out.bin"), "old"));
    if (unprivileged) {
        QVERIFY(chown(QFile::encodeName(QDir::currentPath()).constData(), ScopedUnprivileged::nobody, 0) == 0
                || !ScopedUnprivileged::isRoot());
        QCOMPARE(chmod(".", 0755), 0);
    }
    const bool device = name == QLatin1String("/dev/full");
    const QByteArray reportBefore = device ? QByteArray() : readFile(name);
    const QStringList args = QStringList{report, name, "-o", output} + pairs;
    const Run run = unprivileged ? runCliUnprivileged(args) : runCli(args);
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.out, QStringList() << "Begin to merge..." << line.arg(name));
    QCOMPARE(readFile(QStringLiteral("out.bin")) == "old", !replaced);
    if (!device)
        QCOMPARE(readFile(name), reportBefore);
#endif
}

void tst_Cli::dryRunAgreesWithTheMerge_data()
{
    QTest::addColumn<QStringList>("pairs");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output");

    const QString out = QStringLiteral("out.bin");
    QTest::newRow("file that reports no size") << QStringList{"1000", "/proc/version"} << 0 << out;
    QTest::newRow("file that reports no size, running into the next")
        << QStringList{"1000", "/proc/version", "1001", "a.bin"} << 1 << out;
    QTest::newRow("endless device before a file") << QStringList{"1000", "/dev/zero", "2000", "a.bin"} << 1 << out;
    QTest::newRow("empty file") << QStringList{"1000", "empty.bin", "1001", "a.bin"} << 0 << out;
    QTest::newRow("file whose reported size is not its content")
        << QStringList{"1000", "/sys/kernel/mm/transparent_hugepage/enabled", "2000", "a.bin"} << 0 << out;
    QTest::newRow("output in a missing folder") << QStringList{"1000", "a.bin"} << 1 << "nowhere/out.bin";
    QTest::newRow("output is a link loop") << QStringList{"1000", "a.bin"} << 1 << "loop.bin";
}

void tst_Cli::dryRunAgreesWithTheMerge()
{
    QFETCH(QStringList, pairs);
    QFETCH(int, exitCode);
    QFETCH(QString, output);

    for (const QString &name : pairs) {
        if (name.startsWith(QLatin1Char('/')) && !QFileInfo::exists(name))
            QSKIP("no /proc or /dev here (Windows has neither)");
    }
    QVERIFY(writeFile(QStringLiteral("empty.bin"), QByteArray()));
    if (output == QLatin1String("loop.bin")) {
#ifndef Q_OS_UNIX
        QSKIP("Windows' shortcuts are files, not links");
#endif
        QVERIFY(QFile::link(QStringLiteral("other.bin"), output) && QFile::link(output, QStringLiteral("other.bin")));
    }
    const Run dry = runCli(QStringList{"--dry-run", "-o", output} + pairs);
    const Run real = runCli(QStringList{"-o", output} + pairs);
    QCOMPARE(dry.exitCode, exitCode);
    QCOMPARE(real.exitCode, exitCode);
    if (exitCode == 0) {
        QCOMPARE(dry.out.last(), QStringLiteral("Checks passed; nothing written."));
        QVERIFY(real.out.contains(QStringLiteral("Merge success!")));
    } else {
        QCOMPARE(real.out, dry.out);
        QVERIFY(real.out.last().startsWith(QLatin1String("Error!!!")));
        QVERIFY(!QFileInfo::exists(QStringLiteral("out.bin")));
    }
}

void tst_Cli::limitsGiveAnErrorLineNotACrash_data()
{
    QTest::addColumn<QString>("limits");
    QTest::addColumn<QStringList>("pairs");
    QTest::addColumn<QString>("last"); // empty: it merges

    // No room for a second thread's stack: the hash is made on the one thread.
    QTest::newRow("no second thread") << "-s 1048576;-v 524288" << QStringList{"1000", "big.bin", "400000", "a.bin"}
                                      << QString();
    QTest::newRow("endless device at a low address, 2 GiB of memory")
        << "-v 2097152" << QStringList{"0", "/dev/zero"} << "Error!!!Start address cannot less than 0x1000!";
    QTest::newRow("endless device before a file, 2 GiB of memory")
        << "-v 2097152" << QStringList{"1000", "/dev/zero", "2000", "a.bin"}
        << "Error!!!File size of /dev/zero is out of range!";
    // A sparse file whose program header table claims a gigabyte: read an
    // entry at a time, it costs nothing.
    QTest::newRow("ELF that claims a gigabyte of headers, 512 MiB of memory")
        << "-v 524288" << QStringList{"--base", "0", "-", "big.elf"}
        << "Error!!!Cannot read big.elf: an ELF file without loadable (PT_LOAD) segments, such as an object file, "
           "has nothing to merge!";
}

void tst_Cli::limitsGiveAnErrorLineNotACrash()
{
#if !defined(Q_OS_UNIX)
    QSKIP("Windows has no ulimit to start a program under");
#elif defined(__SANITIZE_ADDRESS__)
    QSKIP("AddressSanitizer reserves more address space than any such limit");
#else
    QFETCH(QString, limits);
    QFETCH(QStringList, pairs);
    QFETCH(QString, last);

    QByteArray big(3 << 20, Qt::Uninitialized);
    for (int i = 0; i < big.size(); ++i)
        big[i] = char(i * 7 + i / 4099);
    QVERIFY(writeFile(QStringLiteral("big.bin"), big));
    QVERIFY(writeFile(QStringLiteral("out.bin"), "old"));
    QByteArray header = elfFile(false, false, {}, 0, 52);
    header[42] = char(0xFF); // entries of 0xFFFF bytes
    header[43] = char(0xFF);
    header[45] = char(0x40); // 0x4000 of them
    QVERIFY(writeFile(QStringLiteral("big.elf"), header) && QFile::resize(QStringLiteral("big.elf"), 52 + 0x4000 * 0xFFFF));
    const Run run = runCli(QStringList{"-o", "out.bin"} + pairs, QString(), limits);
    if (last.isEmpty()) {
        const QByteArray image = big + fill(0x400000 - 0x1000 - big.size()) + "AAAA";
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(readFile(QStringLiteral("out.bin")), image);
        QCOMPARE(run.out.last(), QStringLiteral("SHA-256: %1").arg(QString::fromLatin1(
                                     QCryptographicHash::hash(image, QCryptographicHash::Sha256).toHex())));
    } else {
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.out, QStringList() << "Begin to merge..." << last);
        QCOMPARE(readFile(QStringLiteral("out.bin")), QByteArray("old"));
    }
#endif
}


// Remembers what the named files hold (or that they are missing), to be
// compared afterwards.
static QMap<QString, QByteArray> snapshot(const QStringList &names)
{
    QMap<QString, QByteArray> contents;
    for (const QString &name : names)
        contents.insert(name, QFileInfo::exists(name) ? readFile(name) : QByteArray("<missing>"));
    return contents;
}

void tst_Cli::mapTargets_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("folder");  // where it runs, in the test's folder
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("says");    // a part of stdout or stderr
    QTest::addColumn<QString>("mapAt");   // the file that gets the map; - standard output
    QTest::addColumn<QStringList>("kept"); // files that must stay as they were

    QTest::newRow("the map is the output") << QStringList{"--map", "o.bin", "-o", "o.bin", "1000", "a.bin"} << "" << 2
                                           << "is the output file" << "" << QStringList{"o.bin"};
    QTest::newRow("the map is an existing output under another name")
        << QStringList{"--map", "here/../old.bin", "-o", "old.bin", "1000", "a.bin"} << "" << 2 << "is the output file"
        << "" << QStringList{"old.bin"};
    QTest::newRow("the map is a source") << QStringList{"--map", "a.bin", "-o", "o3.bin", "1000", "a.bin"} << "" << 2
                                         << "is file1, one of the files to merge" << ""
                                         << QStringList{"a.bin", "o3.bin"};
    QTest::newRow("a relative map with --settings is relative to where it runs")
        << QStringList{"--settings", "../proj/cfg/MergeTool.ini", "--map", "a.bin", "-o", "mine.bin"} << "here" << 0
        << "Merge success!" << "here/a.bin" << QStringList{"proj/a.bin", "a.bin"};
    QTest::newRow("a map in a missing folder") << QStringList{"--map", "nodir/m.json", "-o", "old.bin", "1000", "a.bin"}
                                               << "" << 1 << "Error!!!Fail to open map file" << ""
                                               << QStringList{"old.bin"};
#ifdef Q_OS_UNIX
    QTest::newRow("standard output by its device name")
        << QStringList{"--map", "/dev/stdout", "-o", "o.bin", "1000", "a.bin"} << "" << 0 << "Merge success!" << "-"
        << QStringList();
#endif
}

// The map is a file like the output: it never takes the place of the output
// or a source, and a map that cannot be written stops the merge first.
void tst_Cli::mapTargets()
{
    QFETCH(QStringList, args);
    QFETCH(QString, folder);
    QFETCH(int, exitCode);
    QFETCH(QString, says);
    QFETCH(QString, mapAt);
    QFETCH(QStringList, kept);

    QVERIFY(QDir().mkpath(QStringLiteral("proj/cfg")) && QDir().mkpath(QStringLiteral("here")));
    QVERIFY(writeFile(QStringLiteral("proj/a.bin"), "PROJ"));
    QVERIFY(writeFile(QStringLiteral("proj/cfg/MergeTool.ini"),
                      "[MergeTool]\nFile1Name=a.bin\nFile1Addr=1000\nFile1Enable=1\nMergeFileName=all.bin\n"));
    QVERIFY(writeFile(QStringLiteral("old.bin"), "old image"));
    const QMap<QString, QByteArray> before = snapshot(kept);

    const Run run = runCli(args, folder.isEmpty() ? QString() : QDir::current().absoluteFilePath(folder));
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(run.out.join(QLatin1Char('\n')).contains(says) || run.err.contains(says),
             qPrintable(run.out.join(QLatin1Char('\n')) + run.err));
    QCOMPARE(snapshot(kept), before);
    if (!mapAt.isEmpty()) {
        const QByteArray json = mapAt == QLatin1String("-") ? run.rawOut : readFile(mapAt);
        const QJsonObject map = QJsonDocument::fromJson(json).object();
        QCOMPARE(map.value(QStringLiteral("files")).toArray().size(), 1);
    }
}

void tst_Cli::settingsFiles_data()
{
    QTest::addColumn<QByteArray>("ini");      // cfg/MergeTool.ini; row 1 is a.bin at 1000
    QTest::addColumn<QStringList>("extra");   // more arguments
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("says");        // a part of stdout or stderr
    QTest::addColumn<QString>("output");      // written when it merges

    QTest::newRow("unreadable settings file") << QByteArray("MergeFileName=all.bin\n") << QStringList() << 2
                                              << "cannot read the settings file cfg/MergeTool.ini" << "";
    QTest::newRow("output name that is not UTF-8") << QByteArray("MergeFileName=o\xff.bin\n") << QStringList() << 2
                                                   << "MergeFileName in cfg/MergeTool.ini is not valid UTF-8" << "";
    QTest::newRow("enabled row's name that is not UTF-8")
        << QByteArray("MergeFileName=all.bin\nFile2Name=b\xfe.bin\nFile2Addr=2000\nFile2Enable=1\n") << QStringList()
        << 2 << "File2Name in cfg/MergeTool.ini is not valid UTF-8" << "";
    QTest::newRow("disabled row's name that is not UTF-8")
        << QByteArray("MergeFileName=all.bin\nFile3Name=\xff\nFile3Addr=3000\nFile3Enable=0\n") << QStringList() << 0
        << "Merge success!" << "all.bin";
    QTest::newRow("output name that is not UTF-8, replaced by -o") << QByteArray("MergeFileName=o\xff.bin\n")
                                                                  << QStringList{"-o", "mine.bin"} << 0
                                                                  << "Merge success!" << "mine.bin";
    QTest::newRow("output named - is a file, as in the window") << QByteArray("MergeFileName=-\n") << QStringList()
                                                                << 0 << "Merge success!" << "-";
}

void tst_Cli::settingsFiles()
{
    QFETCH(QByteArray, ini);
    QFETCH(QStringList, extra);
    QFETCH(int, exitCode);
    QFETCH(QString, says);
    QFETCH(QString, output);

    QVERIFY(QDir().mkpath(QStringLiteral("cfg")));
    const QString path = QStringLiteral("cfg/MergeTool.ini");
    QVERIFY(writeFile(path, "[MergeTool]\nFile1Name=a.bin\nFile1Addr=1000\nFile1Enable=1\n" + ini));
    const bool unreadable = QTest::currentDataTag() == QLatin1String("unreadable settings file");
    Run run;
    if (unreadable) {
#ifdef Q_OS_UNIX
        QVERIFY(QFile::setPermissions(path, QFileDevice::WriteOwner));
        QVERIFY(chown(QFile::encodeName(QDir::currentPath()).constData(), ScopedUnprivileged::nobody, 0) == 0
                || !ScopedUnprivileged::isRoot());
        run = runCliUnprivileged(QStringList{"--settings", path} + extra); // root reads anything
#else
        QSKIP("a file no one may read is a Unix mode");
#endif
    } else {
        run = runCli(QStringList{"--settings", path} + extra);
    }
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(run.out.join(QLatin1Char('\n')).contains(says) || run.err.contains(says),
             qPrintable(run.out.join(QLatin1Char('\n')) + run.err));
    if (output.isEmpty())
        QCOMPARE(QDir().entryList(QDir::Files), QStringList() << "a.bin" << "b.bin");
    else
        QCOMPARE(readFile(output), QByteArray("AAAA"));
}

void tst_Cli::standardOutput_data()
{
    QTest::addColumn<QString>("redirect"); // for the shell
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("says");       // standard error, when it can be read
    QTest::addColumn<QByteArray>("image");   // what standard output holds; empty: not looked at

    const QStringList toSource{"-o", "-", "1000", "a.bin", "2000", "b.bin"};
    const QString isASource = QStringLiteral("Error!!!Merge file- is one of the files to merge!");
    QTest::newRow("standard output onto a source, read and write") << "1<>b.bin" << toSource << 1 << isASource
                                                                   << QByteArray();
    QTest::newRow("standard output appending to a source") << ">>b.bin" << toSource << 1 << isASource << QByteArray();
    QTest::newRow("standard output full, the log on it") << ">/dev/full" << QStringList{"-o", "o.bin", "1000", "a.bin"}
                                                         << 1 << "Error!!!Fail to write to standard output!"
                                                         << QByteArray();
    // The image is whole; only the log is lost, and nothing blames the image.
    QTest::newRow("standard error full, the log on it") << "2>/dev/full" << QStringList{"-o", "-", "1000", "a.bin"} << 1
                                                        << "" << QByteArray("AAAA");
}

void tst_Cli::standardOutput()
{
#ifndef Q_OS_UNIX
    QSKIP("shell redirections and /dev/full are Unix's");
#else
    QFETCH(QString, redirect);
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, says);
    QFETCH(QByteArray, image);

    QProcess process;
    process.start(QStringLiteral("/bin/sh"),
                  QStringList{"-c", QStringLiteral("exec \"$0\" \"$@\" %1").arg(redirect), cliProgram()} + args);
    const Run run = finishRun(process, 60000);
    QCOMPARE(run.exitCode, exitCode);
    if (!says.isEmpty())
        QVERIFY2(run.err.contains(says), qPrintable(run.err));
    if (!image.isEmpty())
        QCOMPARE(run.rawOut, image);
    QCOMPARE(readFile(QStringLiteral("b.bin")), QByteArray("BB"));
#endif
}

// A pipe left in non-blocking mode by the program that reads it: the image
// waits for room instead of failing part of the way.
void tst_Cli::nonBlockingStandardOutput()
{
#ifndef Q_OS_UNIX
    QSKIP("non-blocking pipes are set up the Unix way");
#else
    const QByteArray big = pieceContent(9, 2 * 1024 * 1024 + 1000);
    QVERIFY(writeFile(QStringLiteral("big.bin"), big));
    const QByteArray program = QFile::encodeName(cliProgram());
    const char *argv[] = {program.constData(), "-o", "-", "1000", "big.bin", nullptr};
    int fds[2];
    QCOMPARE(pipe(fds), 0);
    QCOMPARE(fcntl(fds[1], F_SETFL, O_NONBLOCK), 0);
    const pid_t child = fork();
    if (child == 0) {
        dup2(fds[1], STDOUT_FILENO);
        const int quiet = ::open("/dev/null", O_WRONLY);
        dup2(quiet, STDERR_FILENO);
        ::close(fds[0]);
        ::close(fds[1]);
        execv(argv[0], const_cast<char *const *>(argv));
        _exit(127);
    }
    ::close(fds[1]);
    QTest::qSleep(300); // the pipe fills and the writer meets EAGAIN
    QByteArray received;
    char buffer[65536];
    for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) != 0;) {
        if (n < 0 && errno == EINTR)
            continue;
        QVERIFY(n > 0);
        received.append(buffer, int(n));
    }
    ::close(fds[0]);
    int status = 0;
    QCOMPARE(waitpid(child, &status, 0), child);
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), 0);
    QCOMPARE(received.size(), big.size());
    QVERIFY(received == big);
#endif
}

void tst_Cli::interruptedMerge_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::addColumn<int>("delay"); // ms after the start
    QTest::addColumn<bool>("inPlace");

#ifdef Q_OS_UNIX
    for (int delay : {50, 200, 400, 700})
        QTest::addRow("SIGINT after %d ms, in place", delay) << int(SIGINT) << delay << true;
    QTest::newRow("SIGTERM, in place") << int(SIGTERM) << 300 << true;
    QTest::newRow("SIGHUP, in place") << int(SIGHUP) << 300 << true;
    for (int delay : {100, 400})
        QTest::addRow("SIGINT after %d ms, beside the output", delay) << int(SIGINT) << delay << false;
#endif
}

// Stopped at any moment, a merge leaves the old output or the whole new one,
// and none of its own files behind.
void tst_Cli::interruptedMerge()
{
#ifndef Q_OS_UNIX
    QSKIP("signals are Unix's");
#else
    QFETCH(int, signalNumber);
    QFETCH(int, delay);
    QFETCH(bool, inPlace);

    const QString here = QDir::currentPath();
    QVERIFY(QDir().mkdir(QStringLiteral("out")) && QDir().mkdir(QStringLiteral("tmp")));
    const QByteArray big = pieceContent(4, 2000000);
    const QByteArray old = pieceContent(5, 3000000);
    QVERIFY(writeFile(QStringLiteral("big.bin"), big));
    QVERIFY(writeFile(QStringLiteral("out/out.bin"), old));
    // 128 MiB, nearly all of it fill: long enough to be stopped half-way.
    const qint64 second = 0x8000000;
    QCryptographicHash expected(QCryptographicHash::Sha256);
    expected.addData(big);
    const QByteArray fillBlock(1 << 20, char(0xFF));
    for (qint64 left = second - 0x1000 - big.size(); left > 0; left -= fillBlock.size())
        expected.addData(left >= fillBlock.size() ? fillBlock : fillBlock.left(int(left)));
    expected.addData(big);
    const QByteArray newHash = expected.result();
    const QByteArray oldHash = QCryptographicHash::hash(old, QCryptographicHash::Sha256);

    for (const QString &name : {here, here + QStringLiteral("/out"), here + QStringLiteral("/out/out.bin"),
                                here + QStringLiteral("/big.bin"), here + QStringLiteral("/tmp")}) {
        QVERIFY(!ScopedUnprivileged::isRoot()
                || chown(QFile::encodeName(name).constData(), ScopedUnprivileged::nobody, ScopedUnprivileged::nobody) == 0);
    }
    if (inPlace)
        QCOMPARE(chmod("out", 0555), 0);

    // Started by hand: the signal that ended it must be seen, and root's
    // child must be nobody through and through.
    const QByteArray program = QFile::encodeName(cliProgram());
    const QByteArray address = QByteArray::number(second, 16);
    const char *argv[] = {program.constData(), "-o", "out/out.bin", "1000", "big.bin", address.constData(), "big.bin",
                          nullptr};
    const QByteArray tmpdir = "TMPDIR=" + QFile::encodeName(here) + "/tmp";
    const char *envp[] = {tmpdir.constData(), "PATH=/usr/bin:/bin", nullptr};
    const bool root = ScopedUnprivileged::isRoot();
    const pid_t child = fork();
    if (child == 0) {
        if (root && (setgroups(0, nullptr) != 0 || setgid(ScopedUnprivileged::nobody) != 0
                     || setuid(ScopedUnprivileged::nobody) != 0))
            _exit(126);
        const int quiet = ::open("/dev/null", O_WRONLY);
        dup2(quiet, STDOUT_FILENO);
        execve(argv[0], const_cast<char *const *>(argv), const_cast<char *const *>(envp));
        _exit(127);
    }
    QVERIFY(child > 0);
    QTest::qSleep(delay);
    ::kill(child, signalNumber);
    int status = 0;
    QCOMPARE(waitpid(child, &status, 0), child);
    QCOMPARE(chmod("out", 0755), 0);

    // Either it had finished, or the signal ended it.
    if (WIFEXITED(status))
        QCOMPARE(WEXITSTATUS(status), 0);
    else
        QVERIFY(WIFSIGNALED(status) && WTERMSIG(status) == signalNumber);
    QFile result(QStringLiteral("out/out.bin"));
    QVERIFY(result.open(QIODevice::ReadOnly));
    QCryptographicHash got(QCryptographicHash::Sha256);
    QVERIFY(got.addData(&result));
    QVERIFY2(got.result() == oldHash || got.result() == newHash, "the output is neither the old image nor the new one");
    QCOMPARE(QDir(QStringLiteral("out")).entryList(QDir::Files | QDir::Hidden), QStringList{"out.bin"});
    QCOMPARE(QDir(QStringLiteral("tmp")).entryList(QDir::Files | QDir::Hidden), QStringList());
#endif
}

#ifdef MERGEFILE_MANPAGE_PATH
// The options as --help lists them: "names <value>|text", one an option.
static QStringList helpOptions(const QString &help)
{
    QStringList options;
    bool inOptions = false;
    for (const QString &line : help.split(QLatin1Char('\n'))) {
        if (line == QLatin1String("Options:")) {
            inOptions = true;
        } else if (!line.startsWith(QLatin1Char(' '))) {
            inOptions = false;
        } else if (inOptions && line.startsWith(QLatin1String("  -"))) {
            const int gap = line.indexOf(QLatin1String("  "), 2);
            options << line.mid(2, gap - 2).replace(QLatin1Char('<'), QString()).replace(QLatin1Char('>'), QString())
                           + QLatin1Char('|') + line.mid(gap).trimmed();
        } else if (inOptions && !options.isEmpty()) {
            options.last() += QLatin1Char(' ') + line.trimmed();
        }
    }
    return options;
}

// The same of the manual page's OPTIONS section, its troff undone.
static QStringList pageOptions(const QString &page)
{
    QStringList options;
    bool inOptions = false;
    const auto plain = [](QString text) {
        return text.replace(QLatin1String("\\-"), QLatin1String("-")).replace(QLatin1String("\\&"), QString())
            .replace(QLatin1String("\\e"), QLatin1String("\\"));
    };
    for (const QString &line : page.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String(".SH"))) {
            inOptions = line == QLatin1String(".SH OPTIONS");
        } else if (!inOptions || line == QLatin1String(".TP")) {
            continue;
        } else if (line.startsWith(QLatin1String(".B "))) {
            options << plain(line.mid(3)).remove(QLatin1Char('"')) + QLatin1Char('|');
        } else if (line.startsWith(QLatin1String(".BI "))) {
            const QStringList parts = line.mid(4).split(QLatin1Char('"'), Qt::SkipEmptyParts);
            options << plain(parts.value(0)).trimmed() + QLatin1Char(' ') + plain(parts.value(2)) + QLatin1Char('|');
        } else if (!options.isEmpty()) {
            options.last() += (options.last().endsWith(QLatin1Char('|')) ? QString() : QStringLiteral(" ")) + plain(line);
        }
    }
    return options;
}
#endif

// The manual page and --help come from one table: every option, its value
// and its whole text say the same in both.
void tst_Cli::helpAndManualAgree()
{
#ifndef MERGEFILE_MANPAGE_PATH
    QSKIP("no manual page is made for this system");
#else
    const Run help = runCli({"--help"});
    QCOMPARE(help.exitCode, 0);
    const QStringList fromHelp = helpOptions(QString::fromUtf8(help.rawOut));
    const QStringList fromPage = pageOptions(QString::fromUtf8(readFile(QStringLiteral(MERGEFILE_MANPAGE_PATH))));
    QVERIFY(fromHelp.size() > 10);
    QStringList simplifiedHelp, simplifiedPage;
    for (const QString &option : fromHelp)
        simplifiedHelp << option.simplified();
    for (const QString &option : fromPage)
        simplifiedPage << option.simplified();
    QCOMPARE(simplifiedPage, simplifiedHelp);
#endif
}

QTEST_MAIN(tst_Cli)
#include "tst_cli.moc"
