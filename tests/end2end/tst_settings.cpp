// "cfg/MergeTool.ini": the real window started and closed against a folder of
// its own, with files it wrote itself and files written by hand.

#include "Limits.h"
#include "settings/MergeSettings.h"
#include "WindowDriver.h"

#include <QDir>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#endif

class tst_Settings : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void firstStart();
    void flagValues_data();
    void flagValues();
    void textsComeBackAsStored();
    void roundTrip_data();
    void roundTrip();
    void closingSavesWhatTheWidgetsHold();
    void junk_data();
    void junk();
    void unwritableFileIsLeftAlone();
    void escapedAndPlainForms_data();
    void escapedAndPlainForms();
    void handWrittenCommas_data();
    void handWrittenCommas();
    void onlyARegularFileIsWritten_data();
    void onlyARegularFileIsWritten();
    void whereTheRowsAreKept_data();
    void whereTheRowsAreKept();

private:
    void start();
    void restart();
    static bool writeSettings(const QByteArray &content);
    static QStringList storedKeys();

    QScopedPointer<CurrentTempDir> dir;
    QScopedPointer<MergeMainWindow> window;
};

static const QString iniPath = QStringLiteral("cfg/MergeTool.ini");

static QStringList allKeys()
{
    QStringList keys;
    for (const char *kind : {"Name", "Addr", "Enable"})
        for (int row = 1; row <= 8; ++row)
            keys << QStringLiteral("File%1%2").arg(row).arg(QLatin1String(kind));
    keys << QStringLiteral("MergeFileName");
    keys.sort();
    return keys;
}

void tst_Settings::init()
{
    dir.reset(new CurrentTempDir);
    QVERIFY(dir->isValid());
}

void tst_Settings::cleanup()
{
    window.reset();
    dir.reset();
}

void tst_Settings::start()
{
    window.reset(new MergeMainWindow);
    window->show();
}

void tst_Settings::restart()
{
    window->close();
    window.reset();
    start();
}

bool tst_Settings::writeSettings(const QByteArray &content)
{
    return QDir().mkpath(QStringLiteral("cfg")) && writeFile(iniPath, content);
}

QStringList tst_Settings::storedKeys()
{
    QSettings ini(iniPath, QSettings::IniFormat);
    QStringList keys = ini.allKeys();
    keys.sort();
    return keys;
}

void tst_Settings::firstStart()
{
    start();
    for (int row = 1; row <= 8; ++row) {
        QVERIFY(!enableBox(*window, row)->isChecked());
        QVERIFY(enableBox(*window, row)->isEnabled());
        QVERIFY(!nameEdit(*window, row)->isEnabled());
        QVERIFY(!browseButton(*window, row)->isEnabled());
        QVERIFY(!addressBox(*window, row)->isEnabled());
        QCOMPARE(nameEdit(*window, row)->text(), QString());
        QCOMPARE(addressBox(*window, row)->count(), 1);
        QCOMPARE(addressBox(*window, row)->itemText(0), QString());
    }
    QCOMPARE(outputEdit(*window)->text(), QString());
    QCOMPARE(logView(*window)->toPlainText(), QString());
    QVERIFY(!QFileInfo::exists(QStringLiteral("cfg")));

    window->close();
    window.reset();
    QCOMPARE(storedKeys(), QStringList(allKeys()).replaceInStrings(QRegularExpression(QStringLiteral("^")),
                                                                  QStringLiteral("MergeTool/")));
    const QByteArray text = readFile(iniPath);
    QVERIFY(text.startsWith("[MergeTool]"));
    QVERIFY(text.contains("File8Enable=0"));
    QVERIFY(text.contains("File1Name="));
    QVERIFY(text.contains("MergeFileName="));
}

void tst_Settings::flagValues_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<bool>("checked");

    QTest::newRow("1") << QByteArray("1") << true;
    QTest::newRow("01") << QByteArray("01") << true;
    QTest::newRow("+1") << QByteArray("+1") << true;
    QTest::newRow("blanks around 1") << QByteArray("  1  ") << true;
    QTest::newRow("quoted 1") << QByteArray("\"1\"") << true;
    QTest::newRow("0") << QByteArray("0") << false;
    QTest::newRow("2") << QByteArray("2") << false;
    QTest::newRow("-1") << QByteArray("-1") << false;
    QTest::newRow("the word true") << QByteArray("true") << false;
    QTest::newRow("empty") << QByteArray("") << false;
    QTest::newRow("hex 0x1") << QByteArray("0x1") << false;
    QTest::newRow("1 with junk") << QByteArray("1x") << false;
    QTest::newRow("1.0") << QByteArray("1.0") << false;
}

void tst_Settings::flagValues()
{
    QFETCH(QByteArray, value);
    QFETCH(bool, checked);

    QVERIFY(writeSettings("[MergeTool]\nFile2Enable=" + value + "\nFile2Name=two.bin\nFile2Addr=2000\n"
                          "File5Enable=1\n"));
    start();
    QCOMPARE(enableBox(*window, 2)->isChecked(), checked);
    QCOMPARE(nameEdit(*window, 2)->isEnabled(), checked);
    QCOMPARE(browseButton(*window, 2)->isEnabled(), checked);
    QCOMPARE(addressBox(*window, 2)->isEnabled(), checked);
    QCOMPARE(nameEdit(*window, 2)->text(), QStringLiteral("two.bin"));
    QCOMPARE(addressBox(*window, 2)->currentText(), QStringLiteral("2000"));
    // Missing keys leave the defaults; row 5 stands for a checked row without texts.
    QVERIFY(!enableBox(*window, 1)->isChecked());
    QVERIFY(!nameEdit(*window, 1)->isEnabled());
    QVERIFY(enableBox(*window, 5)->isChecked());
    QVERIFY(nameEdit(*window, 5)->isEnabled());
}

void tst_Settings::textsComeBackAsStored()
{
    QVERIFY(writeSettings("[MergeTool]\n"
                          "File1Addr=0x1000\nFile2Addr=1000\nFile3Addr=\" 10 \"\nFile4Addr=\n"
                          "File6Name=C:/images/boot.bin\nMergeFileName=C:/images/all.bin\n"));
    start();
    const QStringList expected{"0x1000", "1000", " 10 ", "", "", "", "", ""};
    for (int row = 1; row <= 8; ++row) {
        QComboBox *box = addressBox(*window, row);
        QCOMPARE(box->count(), 1);
        QCOMPARE(box->itemText(0), expected.at(row - 1));
        QCOMPARE(box->currentText(), expected.at(row - 1));
    }
    QCOMPARE(nameEdit(*window, 6)->text(), QStringLiteral("C:/images/boot.bin"));
    QCOMPARE(outputEdit(*window)->text(), QStringLiteral("C:/images/all.bin"));
}

void tst_Settings::roundTrip_data()
{
    QTest::addColumn<QString>("value");

    QTest::newRow("non-ASCII") << QStringLiteral("Pr\u00fcfung/\u56fa\u4ef6 \u00e9t\u00e9.bin");
    QTest::newRow("leading and trailing blanks") << "  both ends  ";
    QTest::newRow("equals sign") << "a=b.bin";
    QTest::newRow("semicolon") << "semi;colon.bin";
    QTest::newRow("hash") << "#not a comment";
    QTest::newRow("double quotes") << "\"quoted\" name";
    QTest::newRow("single quotes") << "'single'";
    QTest::newRow("backslashes") << "C:\\images\\boot.bin\\";
    QTest::newRow("commas") << "a,b,c.bin";
    QTest::newRow("looks like an INI section") << "x\n[MergeTool]\nFile1Enable=1\nFile2Name=evil";
    QTest::newRow("looks like a variant") << "@Variant(\\0\\0\\0\\x7f)";
    QTest::newRow("at sign") << "@home.bin";
    QTest::newRow("tab and carriage return") << "tab\there\rcr";
    QTest::newRow("percent escapes") << "%U0041%20";
    QTest::newRow("control character") << QString(QChar(0x01)) + QLatin1String("x");
}

void tst_Settings::roundTrip()
{
    QFETCH(QString, value);

    start();
    setRow(*window, 3, true, value, value);
    setRow(*window, 7, false, value + QLatin1Char('7'), QStringLiteral("1000"));
    setRow(*window, 8, true, QString(), QString());
    outputEdit(*window)->setText(value);
    restart();

    QVERIFY(enableBox(*window, 3)->isChecked());
    QCOMPARE(nameEdit(*window, 3)->text(), value);
    QCOMPARE(addressBox(*window, 3)->currentText(), value);
    QVERIFY(!enableBox(*window, 7)->isChecked());
    QVERIFY(!nameEdit(*window, 7)->isEnabled());
    QCOMPARE(nameEdit(*window, 7)->text(), value + QLatin1Char('7'));
    QVERIFY(enableBox(*window, 8)->isChecked());
    QCOMPARE(outputEdit(*window)->text(), value);
    QVERIFY(!enableBox(*window, 1)->isChecked());
    QCOMPARE(nameEdit(*window, 1)->text(), QString());

    // Whatever the values hold, the file still has just the 25 keys.
    window->close();
    window.reset();
    QCOMPARE(storedKeys().size(), 25);
}

void tst_Settings::closingSavesWhatTheWidgetsHold()
{
    QVERIFY(writeFile(QStringLiteral("a.bin"), "a"));
    start();
    setRow(*window, 1, true, QStringLiteral("a.bin"), QStringLiteral("1000"));
    outputEdit(*window)->setText(QStringLiteral("out.bin"));
    merge(*window);
    addressBox(*window, 1)->setEditText(QStringLiteral("2000")); // typed, never merged
    QCOMPARE(addressBox(*window, 1)->count(), 2);
    restart();

    QCOMPARE(addressBox(*window, 1)->currentText(), QStringLiteral("2000"));
    QCOMPARE(addressBox(*window, 1)->count(), 1); // the history itself is not kept
    QCOMPARE(nameEdit(*window, 1)->text(), QStringLiteral("a.bin"));
    QCOMPARE(outputEdit(*window)->text(), QStringLiteral("out.bin"));
    QVERIFY(enableBox(*window, 1)->isChecked());
    QCOMPARE(logView(*window)->toPlainText(), QString());
}

void tst_Settings::junk_data()
{
    QTest::addColumn<QByteArray>("content");

    QByteArray binary;
    for (int i = 0; i < 4096; ++i)
        binary += char((i * 37 + 11) & 0xFF);
    QTest::newRow("binary junk") << binary;
    QTest::newRow("NUL bytes") << QByteArray(512, '\0');
    QTest::newRow("brackets") << QByteArray("[[[[\n]]]]\n[\n");
    QTest::newRow("keys outside the section") << QByteArray("File1Name=x\nFile1Enable=1\n");
    QTest::newRow("broken lines") << QByteArray("[MergeTool]\nFile1Enable\n=1\n\"\n\\\n[MergeTool\n");
    QTest::newRow("UTF-16 text") << QByteArray("\xff\xfe[\0M\0e\0r\0g\0e\0T\0o\0o\0l\0]\0", 24);
    QTest::newRow("one huge line") << QByteArray(1 << 20, 'x');
}

void tst_Settings::junk()
{
    QFETCH(QByteArray, content);
    QVERIFY(writeSettings(content));
    start();
    for (int row = 1; row <= 8; ++row) {
        QVERIFY(!enableBox(*window, row)->isChecked());
        QVERIFY(!nameEdit(*window, row)->isEnabled());
    }
    QCOMPARE(logView(*window)->toPlainText(), QString());

    // The next close writes a clean file over the junk.
    setRow(*window, 2, true, QStringLiteral("two.bin"), QStringLiteral("1000"));
    restart();
    QCOMPARE(nameEdit(*window, 2)->text(), QStringLiteral("two.bin"));
    QVERIFY(enableBox(*window, 2)->isChecked());
}

void tst_Settings::unwritableFileIsLeftAlone()
{
    // A folder where the file should be: nothing can be read or written there.
    QVERIFY(QDir().mkpath(iniPath));
    start();
    QVERIFY(!enableBox(*window, 1)->isChecked());
    setRow(*window, 1, true, QStringLiteral("one.bin"), QStringLiteral("1000"));
    restart();
    QVERIFY(QFileInfo(iniPath).isDir());
    QVERIFY(!enableBox(*window, 1)->isChecked());
    QCOMPARE(nameEdit(*window, 1)->text(), QString());
}

void tst_Settings::escapedAndPlainForms_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QString>("name");

    const QString chinese = QStringLiteral("C:/\u56fa\u4ef6/boot.bin");
    QTest::newRow("escaped, as older builds wrote it") << QByteArray("C:/\\x56fa\\x4ef6/boot.bin") << chinese;
    QTest::newRow("plain UTF-8") << QByteArray("C:/\xe5\x9b\xba\xe4\xbb\xb6/boot.bin") << chinese;
    QTest::newRow("escaped Latin-1") << QByteArray("M\\xfcller.bin") << QStringLiteral("M\u00fcller.bin");
    QTest::newRow("plain Latin-1 letter in UTF-8") << QByteArray("M\xc3\xbcller.bin") << QStringLiteral("M\u00fcller.bin");
    QTest::newRow("escape followed by an escaped hex digit")
        << QByteArray("\\xe9\\x61.bin") << QStringLiteral("\u00e9a.bin");
}

void tst_Settings::escapedAndPlainForms()
{
    QFETCH(QByteArray, stored);
    QFETCH(QString, name);

    QVERIFY(writeSettings("[MergeTool]\nFile1Name=" + stored + "\nMergeFileName=" + stored + "\n"));
    start();
    QCOMPARE(nameEdit(*window, 1)->text(), name);
    QCOMPARE(outputEdit(*window)->text(), name);

    // Written back and read again, by whichever form this build writes.
    restart();
    QCOMPARE(nameEdit(*window, 1)->text(), name);
    window.reset();
    QVERIFY(readFile(iniPath).contains("[MergeTool]"));
}

void tst_Settings::handWrittenCommas_data()
{
    QTest::addColumn<QByteArray>("stored"); // as typed into the file by hand
    QTest::addColumn<QString>("text");      // what the row shows

    QTest::newRow("comma") << QByteArray("a,b.bin") << "a,b.bin";
    QTest::newRow("comma and blank") << QByteArray("c, d.bin") << "c, d.bin";
    QTest::newRow("blank before the comma") << QByteArray("e ,f.bin") << "e ,f.bin";
    QTest::newRow("two commas in a row") << QByteArray("g,,h.bin") << "g,,h.bin";
    QTest::newRow("trailing comma") << QByteArray("i,") << "i,";
    QTest::newRow("escaped backslash and a comma") << QByteArray("C:\\\\fw\\\\j,k.bin") << "C:\\fw\\j,k.bin";
    QTest::newRow("quoted, as the program writes it") << QByteArray("\"l,m.bin\"") << "l,m.bin";
    QTest::newRow("non-ASCII") << QByteArray("\xd1\x84\xd0\xb0,\xe6\x96\x87.bin") << QStringLiteral("фа,文.bin");
}

// A value with a comma outside quotes reads as a list in an INI file; a row
// that a user typed that way is the text of the line, not an empty row.
void tst_Settings::handWrittenCommas()
{
    QFETCH(QByteArray, stored);
    QFETCH(QString, text);

    QVERIFY(writeSettings("[MergeTool]\nFile3Name=" + stored + "\nFile3Enable=1\nFile3Addr=1000\nMergeFileName="
                          + stored + "\n"));
    start();
    QCOMPARE(nameEdit(*window, 3)->text(), text);
    QCOMPARE(outputEdit(*window)->text(), text);
    QVERIFY(nameEdit(*window, 3)->isEnabled());
}

void tst_Settings::onlyARegularFileIsWritten_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("saved"); // the rows reach target.ini

    QTest::newRow("a FIFO") << "fifo" << false;
    QTest::newRow("a link to a character device") << "device" << false;
    QTest::newRow("another user's link in a shared folder") << "foreign link" << false;
    QTest::newRow("own link to a regular file") << "own link" << true;
}

// Whatever lies at cfg/MergeTool.ini, the window starts, and closing it
// writes the rows only into a regular file reached safely; anything else is
// left as it was.
void tst_Settings::onlyARegularFileIsWritten()
{
#ifndef Q_OS_UNIX
    QSKIP("FIFOs, device nodes and shared sticky folders are Unix's");
#else
    QFETCH(QString, kind);
    QFETCH(bool, saved);

    QVERIFY(QDir().mkpath(QStringLiteral("cfg")));
    const QByteArray stored("[MergeTool]\nFile4Name=kept.bin\n");
    QVERIFY(writeFile(QStringLiteral("target.ini"), stored));
    if (kind == QLatin1String("fifo")) {
        QCOMPARE(mkfifo(QFile::encodeName(iniPath).constData(), 0600), 0);
    } else if (kind == QLatin1String("device")) {
        if (geteuid() != 0)
            QSKIP("making a device node needs root");
        QCOMPARE(mknod("zero", S_IFCHR | 0666, makedev(1, 5)), 0); // the zero device
        QVERIFY(QFile::link(QStringLiteral("../zero"), iniPath));
    } else {
        QVERIFY(QFile::link(QStringLiteral("../target.ini"), iniPath));
        if (kind == QLatin1String("foreign link")) {
            if (geteuid() != 0)
                QSKIP("a link of another user needs root to make");
            QCOMPARE(chmod("cfg", 01777), 0);
            QCOMPARE(lchown(QFile::encodeName(iniPath).constData(), 65534, 65534), 0);
        }
    }
    struct stat before;
    QCOMPARE(lstat(QFile::encodeName(iniPath).constData(), &before), 0);

    start(); // must not wait for a writer that never comes
    setRow(*window, 2, true, QStringLiteral("typed.bin"), QStringLiteral("2000"));
    window->close();
    window.reset();

    struct stat after;
    QCOMPARE(lstat(QFile::encodeName(iniPath).constData(), &after), 0);
    QCOMPARE(after.st_mode, before.st_mode);
    QCOMPARE(after.st_rdev, before.st_rdev);
    if (kind == QLatin1String("device")) {
        QCOMPARE(stat("zero", &after), 0);
        QVERIFY(S_ISCHR(after.st_mode));
    }
    const QByteArray target = readFile(QStringLiteral("target.ini"));
    if (saved) {
        QSettings ini(QStringLiteral("target.ini"), QSettings::IniFormat);
        QCOMPARE(ini.value(QStringLiteral("MergeTool/File2Name")).toString(), QStringLiteral("typed.bin"));
        QCOMPARE(ini.value(QStringLiteral("MergeTool/File4Name")).toString(), QStringLiteral("kept.bin"));
    } else {
        QCOMPARE(target, stored);
    }
#endif
}

void tst_Settings::whereTheRowsAreKept_data()
{
    QTest::addColumn<bool>("asRoot");
    QTest::addColumn<bool>("usersFolder");           // the program's folder belongs to the user
    QTest::addColumn<bool>("programFolderWritable"); // for the user
    QTest::addColumn<QByteArray>("shipped");         // cfg/MergeTool.ini beside the program at first
    QTest::addColumn<QString>("firstName");          // what row 1 shows at the first start
    QTest::addColumn<bool>("beside");                // where the rows are kept

    QTest::newRow("the user's own folder: beside the program")
        << false << true << true << QByteArray() << QString() << true;
    QTest::newRow("root in its own folder (a build folder): beside the program")
        << true << true << true << QByteArray() << QString() << true;
    QTest::newRow("a folder the user cannot write (installed): the user's own folder")
        << false << false << false << QByteArray() << QString() << false;
    QTest::newRow("a folder of someone else's that the user may write: the user's own folder")
        << false << false << true << QByteArray() << QString() << false;
    QTest::newRow("shipped rows beside an installed program are read")
        << false << false << false << QByteArray("[MergeTool]\nFile1Name=shipped.bin\nFile1Enable=1\n") << "shipped.bin"
        << false;
}

// Started, given a row, closed and started again: the row is there, kept
// beside a copy of the program that is the user's own, else in the user's
// own settings folder. (The install prefix's rule has a unit table.)
void tst_Settings::whereTheRowsAreKept()
{
#ifndef Q_OS_UNIX
    QSKIP("a folder that the program cannot write is a matter of access rights on Windows");
#else
    QFETCH(bool, asRoot);
    QFETCH(bool, usersFolder);
    QFETCH(bool, programFolderWritable);
    QFETCH(QByteArray, shipped);
    QFETCH(QString, firstName);
    QFETCH(bool, beside);
    if (!ScopedUnprivileged::isRoot() && (asRoot || !usersFolder))
        QSKIP("root makes a folder another user's, or runs the program as root");

    QTemporaryDir home;
    QVERIFY(home.isValid());
    QCOMPARE(chmod(QFile::encodeName(home.path()).constData(), 0777), 0);
    const QByteArray savedHome = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path()));
    const QString userFile = home.path() + QStringLiteral("/MergeFile/MergeTool.ini");
    QCOMPARE(MergeSettings::userPath(), userFile);
    if (!shipped.isEmpty())
        QVERIFY(writeSettings(shipped));
    if (!programFolderWritable) {
        QVERIFY(QDir().mkpath(QStringLiteral("cfg")));
        QCOMPARE(chmod("cfg", 0555), 0);
    }
    // The user is nobody where the test runs as root; the folder is root's.
    const uid_t user = asRoot || !ScopedUnprivileged::isRoot() ? geteuid() : ScopedUnprivileged::nobody;
    if (usersFolder && user != geteuid())
        QCOMPARE(chown(".", user, user), 0);
    QCOMPARE(chmod(".", programFolderWritable ? (usersFolder ? 0755 : 0777) : 0555), 0);
    {
        ScopedUnprivileged unprivileged(!asRoot); // root writes anywhere
        QVERIFY(unprivileged.isValid());
        start();
        QCOMPARE(nameEdit(*window, 1)->text(), firstName);
        setRow(*window, 2, true, QStringLiteral("typed.bin"), QStringLiteral("2000"));
        restart();
        QCOMPARE(nameEdit(*window, 1)->text(), firstName);
        QCOMPARE(nameEdit(*window, 2)->text(), QStringLiteral("typed.bin"));
        window.reset();
    }
    QCOMPARE(chmod(".", 0755), 0);
    QFile::setPermissions(QStringLiteral("cfg"), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QCOMPARE(QFileInfo::exists(userFile), !beside);
    QSettings kept(beside ? iniPath : userFile, QSettings::IniFormat);
    QCOMPARE(kept.value(QStringLiteral("MergeTool/File2Name")).toString(), QStringLiteral("typed.bin"));
    // What was shipped (or nothing) stays as it was beside the program.
    if (!beside)
        QCOMPARE(readFile(iniPath), shipped);
    if (savedHome.isEmpty())
        qunsetenv("XDG_CONFIG_HOME");
    else
        qputenv("XDG_CONFIG_HOME", savedHome);
#endif
}

QTEST_MAIN(tst_Settings)
#include "tst_settings.moc"
