// The inputs of a merge: rows checked and ordered, files kept open from the
// check to the write, streams copied once, and a file that changed after the
// check found before its bytes go into an image.

#include "Address.h"
#include "Files.h"
#include "Limits.h"
#include "Records.h"
#include "TempFolder.h"
#include "input/Sources.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QDateTime>
#include <QTest>

#include <csignal>
#include <thread>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

#ifdef Q_OS_UNIX
QByteArray segmentBytes(SourceSet &sources, int k, const InputContent &content)
{
    QByteArray bytes;
    for (const MergeSegment &s : content.segments) {
        QByteArray part(int(s.size), '\0');
        if (!sources.readSegment(k, s, 0, part.data(), s.size))
            return "unreadable";
        bytes += part;
    }
    return bytes;
}

int openDescriptors()
{
    return QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System).size();
}
#endif

} // namespace

class tst_Sources : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void collectRows_data();
    void collectRows();
    void refusalsNameFileAndRow_data();
    void refusalsNameFileAndRow();
    void unchangedSinceTheCheck_data();
    void unchangedSinceTheCheck();
    void filesStayOpenUntilWritten();
    void moreFilesThanMayBeOpen();
    void streamCopiedOnce_data();
    void streamCopiedOnce();

private:
    QScopedPointer<QTemporaryDir> dir;
    QScopedPointer<ScopedTempFolder> tempFolder;
};

void tst_Sources::init()
{
    dir.reset(new QTemporaryDir);
    QVERIFY(dir->isValid());
    tempFolder.reset(new ScopedTempFolder(dir->path()));
}

void tst_Sources::cleanup()
{
    tempFolder.reset();
    dir.reset();
}

void tst_Sources::collectRows_data()
{
    QTest::addColumn<QStringList>("rows"); // "name@address", "-name@address" when disabled, address "-": own
    QTest::addColumn<QString>("order");    // rows in the order they are read; or the message

    QTest::newRow("address order, own addresses last")
        << QStringList{"a@3000", "b@-", "c@1000", "d@2000"} << "3 4 1 2";
    QTest::newRow("disabled rows are not looked at") << QStringList{"-@", "b@1000", "-x@1000"} << "2";
    QTest::newRow("an empty name") << QStringList{"a@1000", "@2000", "@"} << "Error!!!File name or start address of file2 cannot be empty!";
    QTest::newRow("an empty address") << QStringList{"a@1000", "b@"} << "Error!!!File name or start address of file2 cannot be empty!";
    QTest::newRow("the later row of a duplicate")
        << QStringList{"a@1000", "b@2000", "c@0x1000"} << "Error!!!The address of file3 is duplicated!";
    QTest::newRow("own addresses are no duplicates") << QStringList{"a@-", "b@-"} << "1 2";
    QTest::newRow("nothing enabled") << QStringList{"-a@1000"} << "Error!!!No file to be merged!";
}

void tst_Sources::collectRows()
{
    QFETCH(QStringList, rows);
    QFETCH(QString, order);

    QVector<MergeRow> merged;
    for (const QString &text : rows) {
        const bool enabled = !text.startsWith(QLatin1Char('-'));
        const QString row = enabled ? text : text.mid(1);
        const QString address = row.section(QLatin1Char('@'), 1);
        MergeRow r = Address::windowRow(enabled, row.section(QLatin1Char('@'), 0, 0), address);
        if (address == QLatin1String("-"))
            r.address = MergeAddress::own();
        merged.append(r);
    }
    QStringList log;
    SourceSet sources([&log](const QString &line) { log << line; });
    if (!sources.collect(merged)) {
        QCOMPARE(log, QStringList{order});
        return;
    }
    QStringList got;
    for (int k = 0; k < sources.count(); ++k)
        got << QString::number(sources.input(k).row);
    QCOMPARE(got.join(QLatin1Char(' ')), order);
    QCOMPARE(log, QStringList());
}

void tst_Sources::refusalsNameFileAndRow_data()
{
    QTest::addColumn<QStringList>("rows"); // "name@address", address "-": own; the files that are there: a, h
    QTest::addColumn<QByteArray>("h");     // what h holds
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("line");     // %1: the folder; empty: the line as the reader words it

    using K = Refusal::Kind;
    const QByteArray hexEnd = hexRecord(1, 0, {});
    // Opened in address order, refused by the row the file has.
    QTest::newRow("a file that is not there, read first") << QStringList{"a@3000", "h@2000", "none@1000"} << QByteArray("h")
                                                          << int(K::CannotOpen) << 3 << "none"
                                                          << "Error!!!Cannot open file%1/none!";
    QTest::newRow("a record file that holds nothing") << QStringList{"a@1000", "h@-"} << hexEnd << int(K::CannotRead) << 2
                                                      << "h" << "Error!!!Cannot read %1/h: it holds no data!";
    QTest::newRow("a damaged record file") << QStringList{"h@-", "a@1000"} << hexRecord(0, 0, "\x01") + ":0100010001FF\n" + hexEnd
                                           << int(K::CannotRead) << 1 << "h" << "";
    QTest::newRow("an address twice, the later row") << QStringList{"a@1000", "h@1000"} << hexEnd
                                                     << int(K::DuplicateAddress) << 2 << "h"
                                                     << "Error!!!The address of file2 is duplicated!";
}

// SourceSet's refusals on their own, outside a merge: the file as its row
// names it, and that row.
void tst_Sources::refusalsNameFileAndRow()
{
    QFETCH(QStringList, rows);
    QFETCH(QByteArray, h);
    QFETCH(int, kind);
    QFETCH(int, row);
    QFETCH(QString, file);
    QFETCH(QString, line);

    QVERIFY(writeFile(dir->filePath(QStringLiteral("a")), QByteArray(16, 'a')));
    QVERIFY(writeFile(dir->filePath(QStringLiteral("h")), h));
    QVector<MergeRow> merged;
    for (const QString &text : std::as_const(rows)) {
        const QString address = text.section(QLatin1Char('@'), 1);
        MergeRow r = Address::windowRow(true, dir->filePath(text.section(QLatin1Char('@'), 0, 0)), address);
        if (address == QLatin1String("-"))
            r.address = MergeAddress::own();
        merged.append(r);
    }
    QStringList lines;
    QVector<Refusal> refusals;
    const Messages::Log log = Messages::Log([&lines](const QString &text) { lines << text; }).watched([&](const Refusal &r) {
        refusals << r;
        // Told before the line is.
        QCOMPARE(lines.size(), refusals.size() - 1);
    });
    SourceSet sources(log);
    sources.setDetectFormats(true);
    bool ok = sources.collect(merged);
    if (ok)
        sources.tellFormats();
    for (int k = 0; ok && k < sources.count(); ++k) {
        InputContent content;
        ok = sources.open(k) && sources.read(k, 0x10000, content);
    }
    QVERIFY(!ok);
    QCOMPARE(refusals.size(), 1);
    const Refusal &r = refusals.first();
    QCOMPARE(int(r.kind), kind);
    QCOMPARE(r.row, row);
    QCOMPARE(r.file, dir->filePath(file));
    QCOMPARE(lines, QStringList{r.line()});
    if (!line.isEmpty())
        QCOMPARE(r.line(), line.contains(QLatin1String("%1")) ? line.arg(dir->path()) : line);
    else
        QVERIFY2(r.line().startsWith(QStringLiteral("Error!!!Cannot read %1: ").arg(r.file)), qPrintable(r.line()));
}

void tst_Sources::unchangedSinceTheCheck_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<bool>("unchanged");

    QTest::newRow("untouched") << "" << true;
    // Written over, it cannot be told from a file written over with other
    // bytes (at its size) but by reading it all again.
    QTest::newRow("written again, even with the same bytes") << "rewritten" << false;
    QTest::newRow("written over with other bytes at its size") << "written over" << false;
    QTest::newRow("grown") << "grown" << false;
    QTest::newRow("shrunk") << "shrunk" << false;
#ifdef Q_OS_UNIX
    // Windows keeps a file that is open, name and all, until it is closed
    // (Windows itself says it is being deleted; Wine does not).
    QTest::newRow("removed") << "removed" << false;
    QTest::newRow("another file of the same size in its place") << "replaced" << false;
    QTest::newRow("made unreadable") << "unreadable" << false;
#endif
}

// Kept open, a file is read as it was opened; its name must still lead to it,
// readable, at the size that was checked, not written since.
void tst_Sources::unchangedSinceTheCheck()
{
    QFETCH(QString, change);
    QFETCH(bool, unchanged);

    const QString name = dir->filePath(QStringLiteral("a.bin"));
    const QByteArray content(1000, 'a');
    QVERIFY(writeFile(name, content));
    // Written long ago: a change now shows in its time, whatever the clock's
    // grain.
    QFile old(name);
    QVERIFY(old.open(QIODevice::ReadWrite)
            && old.setFileTime(QDateTime(QDate(2020, 1, 1), QTime(0, 0)), QFileDevice::FileModificationTime));
    old.close();
#ifdef Q_OS_UNIX
    // Root reads anything: the merge runs as nobody for the length of the test.
    QVERIFY(!ScopedUnprivileged::isRoot() || chown(QFile::encodeName(dir->path()).constData(), 65534, 65534) == 0);
    QVERIFY(!ScopedUnprivileged::isRoot() || chown(QFile::encodeName(name).constData(), 65534, 65534) == 0);
    ScopedUnprivileged nobody;
    QVERIFY(nobody.isValid());
#endif
    SourceSet sources([](const QString &) {});
    QVERIFY(sources.collect({Address::windowRow(true, name, QStringLiteral("1000"))}));
    InputContent content1;
    QVERIFY(sources.open(0) && sources.read(0, 0x10000, content1));

    if (change == QLatin1String("rewritten"))
        QVERIFY(writeFile(name, content));
    else if (change == QLatin1String("written over"))
        QVERIFY(writeFile(name, QByteArray(1000, 'b')));
    else if (change == QLatin1String("grown"))
        QVERIFY(writeFile(name, content + 'b'));
    else if (change == QLatin1String("shrunk"))
        QVERIFY(QFile::resize(name, 999));
    else if (change == QLatin1String("removed"))
        QVERIFY(QFile::remove(name));
    else if (change == QLatin1String("replaced")) {
        QVERIFY(writeFile(name + QStringLiteral(".new"), content));
        QVERIFY(QFile::remove(name) && QFile::rename(name + QStringLiteral(".new"), name));
    } else if (change == QLatin1String("unreadable"))
        QVERIFY(QFile::setPermissions(name, QFileDevice::WriteOwner));
    QCOMPARE(sources.unchanged(0), unchanged);
}

void tst_Sources::filesStayOpenUntilWritten()
{
#ifndef Q_OS_LINUX
    QSKIP("counts this process's open files in /proc");
#else
    QVector<MergeRow> rows;
    for (int i = 0; i < 5; ++i) {
        const QString name = dir->filePath(QStringLiteral("%1.bin").arg(i));
        QVERIFY(writeFile(name, QByteArray(10, char('a' + i))));
        rows.append(Address::windowRow(true, name, QString::number(0x1000 + 0x100 * i, 16)));
    }
    const int before = openDescriptors();
    {
        SourceSet sources([](const QString &) {});
        QVERIFY(sources.collect(rows));
        QVector<InputContent> contents(rows.size());
        for (int k = 0; k < rows.size(); ++k)
            QVERIFY(sources.open(k) && sources.read(k, 0x100, contents[k]));
        // One descriptor a file, held for the write: it is read from there, not
        // opened again.
        QCOMPARE(openDescriptors(), before + rows.size());
        for (int k = 0; k < rows.size(); ++k)
            QCOMPARE(segmentBytes(sources, k, contents[k]), QByteArray(10, char('a' + k)));
        QCOMPARE(openDescriptors(), before + rows.size());
    }
    QCOMPARE(openDescriptors(), before);
#endif
}

// Past the number of files the process may keep open, a file is opened again
// when its bytes are wanted.
void tst_Sources::moreFilesThanMayBeOpen()
{
#ifndef Q_OS_UNIX
    QSKIP("Windows has no small limit of open files");
#else
    QVector<MergeRow> rows;
    for (int i = 0; i < 150; ++i) {
        const QString name = dir->filePath(QStringLiteral("%1.bin").arg(i));
        QVERIFY(writeFile(name, QByteArray(3, char(i))));
        rows.append(Address::windowRow(true, name, QString::number(0x1000 + 4 * i, 16)));
    }
    const int open = QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System).size();
    ScopedLimit limit(RLIMIT_NOFILE, rlim_t(qMax(open, 16) + 80));
    QVERIFY(limit.isValid());
    for (bool detect : {false, true}) {
        QStringList log;
        SourceSet sources([&log](const QString &line) { log << line; });
        sources.setDetectFormats(detect);
        QVERIFY(sources.collect(rows));
        if (detect)
            sources.tellFormats();
        QVector<InputContent> contents(rows.size());
        for (int k = 0; k < rows.size(); ++k)
            QVERIFY2(sources.open(k) && sources.read(k, 4, contents[k]), qPrintable(log.join(QLatin1Char('\n'))));
        for (int k = 0; k < rows.size(); ++k) {
            QVERIFY(sources.unchanged(k));
            QCOMPARE(segmentBytes(sources, k, contents[k]), QByteArray(3, char(k)));
        }
    }
#endif
}

void tst_Sources::streamCopiedOnce_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<qint64>("rawLimit");
    QTest::addColumn<bool>("detect");
    QTest::addColumn<bool>("ranPast");

    QTest::newRow("fits, raw by rule") << 100000 << qint64(200000) << false << false;
    QTest::newRow("fits, told raw") << 100000 << qint64(100000) << true << false;
    QTest::newRow("one byte too long") << 100001 << qint64(100000) << false << true;
    QTest::newRow("far too long, told raw") << 300000 << qint64(10) << true << true;
}

void tst_Sources::streamCopiedOnce()
{
#ifndef Q_OS_UNIX
    QSKIP("Windows has no FIFOs to name as a source");
#else
    QFETCH(int, size);
    QFETCH(qint64, rawLimit);
    QFETCH(bool, detect);
    QFETCH(bool, ranPast);

    const QString fifo = dir->filePath(QStringLiteral("fifo"));
    QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QByteArray content(size, '\0');
    for (int i = 0; i < size; ++i)
        content[i] = char(i * 13 + i / 251);
    const QByteArray path = QFile::encodeName(fifo);
    std::thread writer([path, content] {
        const int fd = ::open(path.constData(), O_WRONLY);
        for (qint64 done = 0; fd >= 0 && done < content.size();) {
            const ssize_t n = ::write(fd, content.constData() + done, size_t(content.size() - done));
            if (n <= 0)
                break;
            done += n;
        }
        ::close(fd);
    });
    std::signal(SIGPIPE, SIG_IGN);
    SourceSet sources([](const QString &) {});
    sources.setDetectFormats(detect);
    QVERIFY(sources.collect({Address::windowRow(true, fifo, QStringLiteral("1000"))}));
    if (detect)
        sources.tellFormats();
    InputContent read;
    QVERIFY(sources.open(0) && sources.read(0, rawLimit, read));
    ::close(::open(path.constData(), O_RDONLY | O_NONBLOCK)); // a writer still waiting gets its end
    writer.join();
    QCOMPARE(sources.ranPast(0), ranPast);
    QVERIFY(read.segments.size() == 1 && read.segments.first().inStore);
    // Raw data is never read further than one byte past the room it may
    // take, or the first bytes that tell its format.
    QVERIFY(sources.size(0) <= qMax<qint64>(rawLimit + 1, detect ? InputReader::headSize : 0));
    if (!ranPast) {
        QCOMPARE(sources.size(0), qint64(size));
        QCOMPARE(segmentBytes(sources, 0, read), content);
    }
#endif
}

QTEST_GUILESS_MAIN(tst_Sources)
#include "tst_sources.moc"
