// MergeFileCli as a build script sees it: exit codes, usage errors, the map,
// --dry-run, the hash, and the same image as the window for the same rows.

#include "CliRunner.h"
#include "WindowDriver.h"

#include <QCryptographicHash>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/resource.h>
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
    void dryRunAgreesWithTheMerge_data();
    void dryRunAgreesWithTheMerge();
    void limitsGiveAnErrorLineNotACrash_data();
    void limitsGiveAnErrorLineNotACrash();

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
    QTest::newRow("negative address after --") << QStringList{"-o", "out.bin", "--", "-10", "a.bin"} << 1
                                               << QStringList{begin, "Error!!!Start address cannot less than 0x1000!"} << "";
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
    QCOMPARE(run.out.size(), 1 + 1 + 3 + 1 + 3);

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
    QCOMPARE(run.out.at(6), QStringLiteral("Merge success!"));
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
    QCOMPARE(run.out.size(), exitCode == 0 ? 1 + 1 + 2 + 1 + 1 : 2);
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

void tst_Cli::dryRunAgreesWithTheMerge_data()
{
    QTest::addColumn<QStringList>("pairs");
    QTest::addColumn<int>("exitCode");

    QTest::newRow("file that reports no size") << QStringList{"1000", "/proc/version"} << 0;
    QTest::newRow("file that reports no size, running into the next")
        << QStringList{"1000", "/proc/version", "1001", "a.bin"} << 1;
    QTest::newRow("endless device before a file") << QStringList{"1000", "/dev/zero", "2000", "a.bin"} << 1;
    QTest::newRow("empty file") << QStringList{"1000", "empty.bin", "1001", "a.bin"} << 0;
}

void tst_Cli::dryRunAgreesWithTheMerge()
{
    QFETCH(QStringList, pairs);
    QFETCH(int, exitCode);

    for (const QString &name : pairs) {
        if (name.startsWith(QLatin1Char('/')) && !QFileInfo::exists(name))
            QSKIP("no /proc or /dev here (Windows has neither)");
    }
    QVERIFY(writeFile(QStringLiteral("empty.bin"), QByteArray()));
    const Run dry = runCli(QStringList{"--dry-run", "-o", "out.bin"} + pairs);
    const Run real = runCli(QStringList{"-o", "out.bin"} + pairs);
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

QTEST_MAIN(tst_Cli)
#include "tst_cli.moc"
