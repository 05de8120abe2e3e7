// Where a merge writes, on its own: the old output stays until commit(),
// nothing of ours is left behind, the hash is what sha256sum would say, and
// the checks that refuse an output find the same with probe() as with open().

#include "Files.h"
#include "ImageModel.h"
#include "Limits.h"
#include "TempFolder.h"
#include "output/OutputFile.h"
#include "platform/SourceFile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

QByteArray contentOf(const QString &name)
{
    return QFile::exists(name) ? readFile(name) : QByteArray("missing");
}

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
}

#ifdef Q_OS_UNIX
FileIdentity identityOf(const QString &name)
{
    SourceFile file;
    return file.open(name) ? file.identity() : FileIdentity();
}
#endif

} // namespace

class tst_OutputFile : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void replacedOnlyByCommit_data();
    void replacedOnlyByCommit();
    void hashOfWhatIsWritten_data();
    void hashOfWhatIsWritten();
    void writesInOrder_data();
    void writesInOrder();
    void refusedOutputs_data();
    void refusedOutputs();

private:
    QScopedPointer<QTemporaryDir> dir;
    QScopedPointer<ScopedTempFolder> tempFolder;
};

void tst_OutputFile::init()
{
    dir.reset(new QTemporaryDir);
    QVERIFY(dir->isValid());
    QVERIFY(QDir(dir->path()).mkdir(QStringLiteral("tmp")));
    tempFolder.reset(new ScopedTempFolder(dir->filePath(QStringLiteral("tmp"))));
}

void tst_OutputFile::cleanup()
{
    tempFolder.reset();
    dir.reset();
}

void tst_OutputFile::replacedOnlyByCommit_data()
{
    QTest::addColumn<bool>("existed");
    QTest::addColumn<bool>("inPlace"); // a read-only folder: written over the old file
    QTest::addColumn<bool>("commit");

    QTest::newRow("new file, committed") << false << false << true;
    QTest::newRow("new file, given up") << false << false << false;
    QTest::newRow("old file, committed") << true << false << true;
    QTest::newRow("old file, given up") << true << false << false;
#ifdef Q_OS_UNIX
    QTest::newRow("in place, committed") << true << true << true;
    QTest::newRow("in place, given up") << true << true << false;
#endif
}

void tst_OutputFile::replacedOnlyByCommit()
{
    QFETCH(bool, existed);
    QFETCH(bool, inPlace);
    QFETCH(bool, commit);
#ifndef Q_OS_UNIX
    Q_UNUSED(inPlace);
#endif

    const QString folder = dir->filePath(QStringLiteral("out"));
    QVERIFY(QDir().mkdir(folder));
    const QString name = folder + QStringLiteral("/image.bin");
    const QByteArray old(3000, 'o');
    const QByteArray image(1000, 'n');
    if (existed)
        QVERIFY(writeFile(name, old));
#ifdef Q_OS_UNIX
    if (ScopedUnprivileged::isRoot()) {
        for (const QString &path : {dir->path(), folder, dir->filePath(QStringLiteral("tmp")), name})
            QVERIFY(!QFile::exists(path) || chown(QFile::encodeName(path).constData(), 65534, 65534) == 0);
    }
    if (inPlace)
        QCOMPARE(chmod(QFile::encodeName(folder).constData(), 0555), 0);
    ScopedUnprivileged nobody;
    QVERIFY(nobody.isValid());
#endif
    {
        OutputFile output(name);
        QCOMPARE(output.open(image.size(), {}), OutputFile::Opened);
        QVERIFY(output.write(image.constData(), 600) && output.write(image.constData() + 600, 400));
        QCOMPARE(contentOf(name), existed ? old : QByteArray("missing"));
        if (commit)
            QVERIFY(output.commit());
    }
#ifdef Q_OS_UNIX
    if (inPlace)
        QCOMPARE(chmod(QFile::encodeName(folder).constData(), 0755), 0);
#endif
    QCOMPARE(contentOf(name), commit ? image : existed ? old : QByteArray("missing"));
    QCOMPARE(entries(folder), commit || existed ? QStringList{"image.bin"} : QStringList());
    QCOMPARE(entries(dir->filePath(QStringLiteral("tmp"))), QStringList());
}

void tst_OutputFile::hashOfWhatIsWritten_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("secondThread");
    QTest::addColumn<bool>("device");

    for (bool thread : {false, true}) {
        const char *how = thread ? "read back" : "inline";
        QTest::addRow("nothing, %s", how) << 0 << thread << false;
        QTest::addRow("one byte, %s", how) << 1 << thread << false;
        QTest::addRow("several MiB in odd writes, %s", how) << (5 << 20) + 7 << thread << false;
    }
#ifdef Q_OS_UNIX
    QTest::newRow("a device, which cannot be read back") << 70000 << true << true;
#endif
}

void tst_OutputFile::hashOfWhatIsWritten()
{
    QFETCH(int, size);
    QFETCH(bool, secondThread);
    QFETCH(bool, device);

    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char(i * 31 + i / 4093);
    const QString name = device ? QStringLiteral("/dev/null") : dir->filePath(QStringLiteral("image.bin"));
    OutputFile output(name);
    output.setHashing(true, secondThread);
    QCOMPARE(output.open(size, {}), OutputFile::Opened);
    for (int done = 0; done < size;) {
        const int n = qMin(size - done, 65536 + 3);
        QVERIFY(output.write(bytes.constData() + done, n));
        done += n;
    }
    QVERIFY(output.commit());
    QCOMPARE(output.sha256().toHex(), QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
    if (!device)
        QVERIFY(contentOf(name) == bytes);
}

void tst_OutputFile::writesInOrder_data()
{
    QTest::addColumn<QVector<int>>("writes"); // their sizes, in turn
    QTest::addColumn<bool>("secondThread");

    const int direct = 256 << 10; // from this size a write goes straight out
    const int chunk = 1 << 20;    // what small writes are gathered into
    for (const int d : {-1, 0, 1}) {
        QTest::addRow("small, then %d from going straight out", d) << QVector<int>{20000, direct + d, 7} << (d != 0);
        QTest::addRow("a chunk %+d of small writes, then a large one", d)
            << QVector<int>{chunk / 2, chunk / 2 + d, direct, 3} << (d == 0);
        QTest::addRow("a chunk %+d in one, then small ones", d) << QVector<int>{chunk + d, 1, 2, direct - 1} << (d < 0);
        QTest::addRow("hashing ring slot %+d, the hash on a second thread", d)
            << QVector<int>{100, 4 * chunk + d, 100, chunk - 100 + d} << true;
    }
    QVector<int> many;
    for (int i = 0; i < 300; ++i)
        many << (i % 7 == 0 ? direct + i : 1 + (i * 977) % 5000);
    QTest::newRow("small and large mixed") << many << true;
}

// Writes of any size leave the file holding them in the order given: small
// ones gathered before a large one go out before it. Its CRC-32 and SHA-256
// are those of the bytes in that order.
void tst_OutputFile::writesInOrder()
{
    QFETCH(QVector<int>, writes);
    QFETCH(bool, secondThread);

    QByteArray all;
    for (int k = 0; k < writes.size(); ++k) {
        QByteArray piece(writes[k], char('a' + k % 26));
        piece[0] = char(k); // no two pieces alike
        all += piece;
    }
    const QString name = dir->filePath(QStringLiteral("image.bin"));
    OutputFile output(name);
    output.setHashing(true, secondThread);
    QCOMPARE(output.open(all.size(), {}), OutputFile::Opened);
    int at = 0;
    for (const int n : writes) {
        QVERIFY(output.write(all.constData() + at, n));
        at += n;
    }
    QVERIFY(output.finish());
    QCOMPARE(output.bytesWritten(), qint64(all.size()));
    QCOMPARE(output.crc32(), Model::crc32(all.constData(), all.size()));
    QVERIFY(output.commit());
    QCOMPARE(output.sha256().toHex(), QCryptographicHash::hash(all, QCryptographicHash::Sha256).toHex());
    QVERIFY(contentOf(name) == all);
}

void tst_OutputFile::refusedOutputs_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("status");

    QTest::newRow("a folder") << "folder" << int(OutputFile::CannotOpen);
    QTest::newRow("in a folder that is not there") << "missing folder" << int(OutputFile::CannotOpen);
#ifdef Q_OS_UNIX
    QTest::newRow("in place over one of the sources") << "source in place" << int(OutputFile::IsASource);
    QTest::newRow("in place, no temporary folder") << "no temporary folder" << int(OutputFile::NoRoomToStage);
    QTest::newRow("a link loop") << "loop" << int(OutputFile::LinkLoop);
#endif
    QTest::newRow("a new file") << "new" << int(OutputFile::Opened);
}

// The checks that refuse an output say the same for a dry run, which makes
// nothing, as for the real one.
void tst_OutputFile::refusedOutputs()
{
    QFETCH(QString, kind);
    QFETCH(int, status);

    QString name = dir->filePath(QStringLiteral("image.bin"));
    QVector<FileIdentity> sources;
    if (kind == QLatin1String("folder")) {
        QVERIFY(QDir().mkdir(name));
    } else if (kind == QLatin1String("missing folder")) {
        name = dir->filePath(QStringLiteral("none/image.bin"));
    }
#ifdef Q_OS_UNIX
    const QString readOnly = dir->filePath(QStringLiteral("ro"));
    if (kind == QLatin1String("source in place") || kind == QLatin1String("no temporary folder")) {
        QVERIFY(QDir().mkdir(readOnly));
        name = readOnly + QStringLiteral("/image.bin");
        QVERIFY(writeFile(name, "old"));
        if (kind == QLatin1String("source in place"))
            sources.append(identityOf(name));
        else
        {
            tempFolder.reset();
            tempFolder.reset(new ScopedTempFolder(dir->filePath(QStringLiteral("none"))));
        }
        if (ScopedUnprivileged::isRoot()) {
            for (const QString &path : {dir->path(), readOnly, name})
                QCOMPARE(chown(QFile::encodeName(path).constData(), 65534, 65534), 0);
        }
        QCOMPARE(chmod(QFile::encodeName(readOnly).constData(), 0555), 0);
    } else if (kind == QLatin1String("loop")) {
        QVERIFY(QFile::link(dir->filePath(QStringLiteral("other")), name));
        QVERIFY(QFile::link(name, dir->filePath(QStringLiteral("other"))));
    }
    ScopedUnprivileged nobody(kind == QLatin1String("source in place") || kind == QLatin1String("no temporary folder"));
    QVERIFY(nobody.isValid());
#endif
    const QStringList before = entries(dir->path());
    {
        OutputFile probe(name);
        QCOMPARE(int(probe.probe(100, sources)), status);
    }
    QCOMPARE(entries(dir->path()), before);
    {
        OutputFile output(name);
        QCOMPARE(int(output.open(100, sources)), status);
    }
#ifdef Q_OS_UNIX
    if (QFileInfo::exists(readOnly))
        QCOMPARE(chmod(QFile::encodeName(readOnly).constData(), 0755), 0);
#endif
}

QTEST_GUILESS_MAIN(tst_OutputFile)
#include "tst_outputfile.moc"
