// The settings record and its INI file on their own, without the window:
// what a stored file gives each field, what a save writes, and the values a
// merge must not use as names.

#include "platform/ProgramFolder.h"
#include "settings/MergeSettings.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

class tst_SettingsFile : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void loaded_data();
    void loaded();
    void savedWithEveryKey();
    void namesThatAreNotUtf8_data();
    void namesThatAreNotUtf8();
    void onlyARegularFileIsRead();
    void userFolder_data();
    void userFolder();
    void installedFolders_data();
    void installedFolders();

private:
    QString path() const { return dir->filePath(QStringLiteral("cfg/MergeTool.ini")); }
    bool store(const QByteArray &content) const
    {
        QFile file(path());
        return QDir().mkpath(dir->filePath(QStringLiteral("cfg"))) && file.open(QIODevice::WriteOnly)
               && file.write(content) == content.size();
    }
    QScopedPointer<QTemporaryDir> dir;
};

void tst_SettingsFile::init()
{
    dir.reset(new QTemporaryDir);
    QVERIFY(dir->isValid());
}

void tst_SettingsFile::cleanup()
{
    dir.reset();
}

void tst_SettingsFile::loaded_data()
{
    QTest::addColumn<QByteArray>("stored"); // the section's lines for row 1 and the output
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<QString>("output");

    QTest::newRow("as the window writes it") << QByteArray("File1Name=boot.bin\nFile1Addr=0x1000\nFile1Enable=1\nMergeFileName=all.bin")
                                             << "boot.bin" << "0x1000" << true << "all.bin";
    QTest::newRow("missing keys leave the defaults") << QByteArray("File2Name=other.bin") << "" << "" << false << "";
    QTest::newRow("01 reads as 1") << QByteArray("File1Enable=01") << "" << "" << true << "";
    QTest::newRow("the word true is not 1") << QByteArray("File1Enable=true") << "" << "" << false << "";
    QTest::newRow("2 is not 1") << QByteArray("File1Enable=2") << "" << "" << false << "";
    QTest::newRow("an address kept as typed") << QByteArray("File1Addr= 1000 ") << "" << "1000" << false << "";
    QTest::newRow("a comma outside quotes is part of the name")
        << QByteArray("File1Name=a,b.bin\nMergeFileName=c, d.bin") << "a,b.bin" << "" << false << "c, d.bin";
    QTest::newRow("an escaped name") << QByteArray("File1Name=M\\xfcller.bin") << "M\u00fcller.bin" << "" << false << "";
}

void tst_SettingsFile::loaded()
{
    QFETCH(QByteArray, stored);
    QFETCH(QString, name);
    QFETCH(QString, address);
    QFETCH(bool, enabled);
    QFETCH(QString, output);

    QVERIFY(store("[MergeTool]\n" + stored + '\n'));
    MergeSettings settings;
    settings.load(path());
    QCOMPARE(settings.fileNames[0], name);
    QCOMPARE(settings.addresses[0], address);
    QCOMPARE(settings.enables[0], enabled);
    QCOMPARE(settings.mergeFileName, output);
    QVERIFY(!settings.settingsFile);
}

void tst_SettingsFile::savedWithEveryKey()
{
    MergeSettings settings;
    settings.fileNames[2] = QStringLiteral("C:/fw/app,1.bin");
    settings.addresses[2] = QStringLiteral("0x8000");
    settings.enables[2] = true;
    settings.mergeFileName = QStringLiteral("\u56fa\u4ef6.bin");
    QVERIFY(QDir().mkpath(dir->filePath(QStringLiteral("cfg"))));
    settings.save(path());

    QSettings ini(path(), QSettings::IniFormat);
    QStringList keys = ini.allKeys();
    QCOMPARE(keys.size(), 25);
    for (const QString &key : keys)
        QVERIFY2(key.startsWith(QLatin1String("MergeTool/")), qPrintable(key));
    QCOMPARE(ini.value(QStringLiteral("MergeTool/File3Enable")).toString(), QStringLiteral("1"));
    QCOMPARE(ini.value(QStringLiteral("MergeTool/File1Enable")).toString(), QStringLiteral("0"));
    MergeSettings again;
    again.load(path());
    QCOMPARE(again.fileNames, settings.fileNames);
    QCOMPARE(again.addresses, settings.addresses);
    QCOMPARE(again.enables, settings.enables);
    QCOMPARE(again.mergeFileName, settings.mergeFileName);
}

void tst_SettingsFile::namesThatAreNotUtf8_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QStringList>("keys");

    QTest::newRow("all UTF-8") << QByteArray("File1Name=\xe5\x9b\xba.bin\nMergeFileName=o.bin") << QStringList();
    QTest::newRow("a Latin-1 byte in a name") << QByteArray("File1Name=M\xfcller.bin\nMergeFileName=o.bin")
                                              << QStringList{"File1Name"};
    QTest::newRow("in the output's name too") << QByteArray("File2Name=\xff\nMergeFileName=\xfe")
                                              << QStringList{"File2Name", "MergeFileName"};
    QTest::newRow("an escaped byte is text") << QByteArray("File1Name=M\\xfcller.bin") << QStringList();
}

void tst_SettingsFile::namesThatAreNotUtf8()
{
    QFETCH(QByteArray, stored);
    QFETCH(QStringList, keys);

    QVERIFY(store("[MergeTool]\n" + stored + '\n'));
    QCOMPARE(MergeSettings::keysNotInUtf8(path()), keys);
}

// A FIFO at the settings file's place would hold the window for ever; a
// folder is no file to read.
void tst_SettingsFile::onlyARegularFileIsRead()
{
    QVERIFY(QDir().mkpath(path()));
    MergeSettings settings;
    settings.fileNames[0] = QStringLiteral("as it was");
    settings.load(path());
    QCOMPARE(settings.fileNames[0], QStringLiteral("as it was"));
#ifdef Q_OS_UNIX
    QVERIFY(QDir().rmdir(path()));
    QCOMPARE(mkfifo(QFile::encodeName(path()).constData(), 0600), 0);
    settings.load(path());
    QCOMPARE(settings.fileNames[0], QStringLiteral("as it was"));
#endif
}

void tst_SettingsFile::userFolder_data()
{
    QTest::addColumn<QString>("xdgConfigHome"); // "unset": not set at all
    QTest::addColumn<QString>("folder");        // "~" for the home folder

    QTest::newRow("not set") << "unset" << "~/.config";
    QTest::newRow("absolute") << "/srv/configs" << "/srv/configs";
    // The XDG rules: a relative path is ignored, as if it were not set.
    QTest::newRow("relative") << "configs" << "~/.config";
    QTest::newRow("relative with dots") << "./here/../configs" << "~/.config";
}

void tst_SettingsFile::userFolder()
{
#ifndef Q_OS_UNIX
    QSKIP("the user's settings folder is AppData on Windows");
#else
    QFETCH(QString, xdgConfigHome);
    QFETCH(QString, folder);

    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    const bool wasSet = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
    if (xdgConfigHome == QLatin1String("unset"))
        qunsetenv("XDG_CONFIG_HOME");
    else
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(xdgConfigHome));
    const QString path = MergeSettings::userPath();
    if (wasSet)
        qputenv("XDG_CONFIG_HOME", saved);
    else
        qunsetenv("XDG_CONFIG_HOME");
    QCOMPARE(path, QString(folder).replace(QLatin1Char('~'), QDir::homePath()) + QStringLiteral("/MergeFile/MergeTool.ini"));
#endif
}

void tst_SettingsFile::installedFolders_data()
{
    QTest::addColumn<QString>("folder"); // in the test's folder, which holds usr/bin, usr2/bin, usr/lib
    QTest::addColumn<QString>("prefix"); // and the links up (to usr) and bin (to usr/bin)
    QTest::addColumn<bool>("installed");

    QTest::newRow("in the prefix") << "usr/bin" << "usr" << true;
    QTest::newRow("the prefix itself") << "usr" << "usr" << true;
    QTest::newRow("the prefix given with a slash") << "usr/bin" << "usr/" << true;
    QTest::newRow("a folder whose name starts like the prefix") << "usr2/bin" << "usr" << false;
    QTest::newRow("a folder beside the prefix") << "usr2" << "usr/bin" << false;
    QTest::newRow("a folder above the prefix") << "usr" << "usr/bin" << false;
    QTest::newRow("through .. back into the prefix") << "usr/bin/../lib" << "usr" << true;
    QTest::newRow("a link to a folder in the prefix") << "bin" << "usr" << true;
    QTest::newRow("the prefix through a link") << "usr/bin" << "up" << true;
    QTest::newRow("no prefix") << "usr/bin" << "" << false;
}

// Where the system installed the program, the window keeps its rows in the
// user's folder: the folder and the prefix compared as they are on disk.
void tst_SettingsFile::installedFolders()
{
    QFETCH(QString, folder);
    QFETCH(QString, prefix);
    QFETCH(bool, installed);

#ifdef Q_OS_WIN
    if (folder == QLatin1String("bin") || prefix == QLatin1String("up"))
        QSKIP("QFile::link makes a shortcut on Windows, not a link the system follows");
#endif
    const QDir here(dir->path());
    for (const char *made : {"usr/bin", "usr2/bin", "usr/lib"})
        QVERIFY(here.mkpath(QLatin1String(made)));
    QVERIFY(QFile::link(here.filePath(QStringLiteral("usr")), here.filePath(QStringLiteral("up"))));
    QVERIFY(QFile::link(here.filePath(QStringLiteral("usr/bin")), here.filePath(QStringLiteral("bin"))));
    QCOMPARE(ProgramFolder::liesIn(here.filePath(folder), prefix.isEmpty() ? prefix : here.filePath(prefix)), installed);
}

QTEST_GUILESS_MAIN(tst_SettingsFile)
#include "tst_settingsfile.moc"
