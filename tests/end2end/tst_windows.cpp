// Where a Windows user meets other rules than a Linux user: drive letters and
// backslashes, names outside the ANSI code page, the read-only attribute,
// outputs that another program holds open, and the program's own folder.

#include "CliRunner.h"
#include "WindowDriver.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>

#include <windows.h>

namespace {

QString native(const QString &path)
{
    return QDir::toNativeSeparators(QDir::current().absoluteFilePath(path));
}

// Holds a file open the way an editor or a flashing tool does: others may
// read it, but neither write, rename nor delete it.
class HeldOpen
{
public:
    explicit HeldOpen(const QString &name)
        : handle(CreateFileW(reinterpret_cast<const wchar_t *>(native(name).utf16()), GENERIC_READ,
                             FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr))
    {
    }
    ~HeldOpen()
    {
        if (isValid())
            CloseHandle(handle);
    }
    bool isValid() const { return handle != INVALID_HANDLE_VALUE; }

private:
    HANDLE handle;
};

} // namespace

class tst_Windows : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void windowsRules_data();
    void windowsRules();
    void commandLineKeepsUnicodeNames();
    void startedFromAnotherFolder();

private:
    QScopedPointer<CurrentTempDir> dir;
    QScopedPointer<MergeMainWindow> window;
};

void tst_Windows::init()
{
    dir.reset(new CurrentTempDir);
    QVERIFY(dir->isValid());
    window.reset(new MergeMainWindow);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.data()));
}

void tst_Windows::cleanup()
{
    window.reset();
    dir.reset();
}

void tst_Windows::windowsRules_data()
{
    QTest::addColumn<QString>("source");  // written with "boot" unless empty
    QTest::addColumn<QString>("output");  // as typed into the window
    QTest::addColumn<QString>("setUp");   // what happens to an existing output first
    QTest::addColumn<QString>("message"); // %1: the output as typed; empty: it merges

    QTest::newRow("drive letter and backslashes") << "<absolute>boot.bin" << "<absolute>out.bin" << "" << "";
    QTest::newRow("drive letter and forward slashes") << "<absolute/>boot.bin" << "<absolute/>out.bin" << "" << "";
    QTest::newRow("relative with backslashes") << "sub\\boot.bin" << "sub\\out.bin" << "" << "";
    QTest::newRow("Cyrillic and CJK names") << QStringLiteral("загрузчик_引导.bin") << QStringLiteral("образ_映像.bin")
                                            << "" << "";
    QTest::newRow("read-only output") << "boot.bin" << "out.bin" << "read-only"
                                      << "Error!!!Fail to open merge file%1";
    QTest::newRow("output held open by another program")
        << "boot.bin" << "out.bin" << "held open" << "Error!!!Cannot replace merge file%1: it is open in another program!";
    QTest::newRow("hidden output stays hidden") << "boot.bin" << "out.bin" << "hidden" << "";
}

void tst_Windows::windowsRules()
{
    QFETCH(QString, source);
    QFETCH(QString, output);
    QFETCH(QString, setUp);
    QFETCH(QString, message);

    QVERIFY(QDir().mkdir(QStringLiteral("sub")));
    auto resolve = [](QString name) {
        if (name.startsWith(QLatin1String("<absolute>")))
            return native(name.mid(10));
        if (name.startsWith(QLatin1String("<absolute/>")))
            return QDir::current().absoluteFilePath(name.mid(11));
        return name;
    };
    source = resolve(source);
    output = resolve(output);
    QVERIFY(source.contains(QLatin1Char(':')) == output.contains(QLatin1Char(':')));
    QVERIFY(writeFile(source, "boot"));
    const QByteArray old("old image");
    if (!setUp.isEmpty())
        QVERIFY(writeFile(output, old));
    const QString nativeName = native(output);
    const auto nativeOutput = reinterpret_cast<const wchar_t *>(nativeName.utf16());
    if (setUp == QLatin1String("read-only"))
        QVERIFY(SetFileAttributesW(nativeOutput, FILE_ATTRIBUTE_READONLY));
    if (setUp == QLatin1String("hidden"))
        QVERIFY(SetFileAttributesW(nativeOutput, FILE_ATTRIBUTE_HIDDEN));
    QScopedPointer<HeldOpen> held(setUp == QLatin1String("held open") ? new HeldOpen(output) : nullptr);
    QVERIFY(!held || held->isValid());

    setRow(*window, 1, true, source, QStringLiteral("1002"));
    outputEdit(*window)->setText(output);
    const QStringList log = merge(*window);
    held.reset();

    if (message.isEmpty()) {
        QCOMPARE(log, QStringList() << "Begin to merge..." << "Merge success!");
        QCOMPARE(readFile(output), fill(2) + "boot");
        // The name on disk is the name typed, character for character.
        QVERIFY(QDir(QFileInfo(output).absolutePath()).entryList(QDir::Files | QDir::Hidden).contains(QFileInfo(output).fileName()));
        // The replaced file keeps its attributes.
        const DWORD attributes = GetFileAttributesW(nativeOutput);
        QCOMPARE(bool(attributes & FILE_ATTRIBUTE_HIDDEN), setUp == QLatin1String("hidden"));
    } else {
        QCOMPARE(log, QStringList() << "Begin to merge..." << message.arg(output));
        QCOMPARE(readFile(output), old);
        QCOMPARE(QDir().entryList(QDir::Files | QDir::Hidden), QStringList() << "boot.bin" << "out.bin");
    }
    SetFileAttributesW(reinterpret_cast<const wchar_t *>(native(output).utf16()), FILE_ATTRIBUTE_NORMAL);
}

void tst_Windows::commandLineKeepsUnicodeNames()
{
    const QString source = QStringLiteral("файл_文件.bin");
    QVERIFY(writeFile(source, "AB"));
    const Run missing = runCli({QStringLiteral("-o"), QStringLiteral("выход_出力.bin"), QStringLiteral("1000"), source,
                                QStringLiteral("1004"), QStringLiteral("нет_无.bin")});
    QCOMPARE(missing.exitCode, 1);
    QCOMPARE(QString::fromUtf8(missing.rawOut),
             QStringLiteral("Begin to merge...\nError!!!Cannot open fileнет_无.bin!\n"));

    const Run merged = runCli({QStringLiteral("-o"), QStringLiteral("выход_出力.bin"), QStringLiteral("1000"), source});
    QCOMPARE(merged.exitCode, 0);
    QCOMPARE(readFile(QStringLiteral("выход_出力.bin")), QByteArray("AB"));
}

// As a shortcut starts it: from another folder, the program still keeps its
// settings in cfg\MergeTool.ini beside itself.
void tst_Windows::startedFromAnotherFolder()
{
    QVERIFY(QDir().mkpath(QStringLiteral("app/cfg")));
    QVERIFY(QDir().mkpath(QStringLiteral("elsewhere")));
    const QString program = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral(MERGEFILE_PATH));
    QVERIFY(QFile::copy(program, QStringLiteral("app/MergeFile.exe")));
    QVERIFY(writeFile(QStringLiteral("app/cfg/MergeTool.ini"),
                      "[MergeTool]\r\nFile3Name=parts\\\\boot.bin\r\nFile3Addr=0x8000\r\nFile3Enable=1\r\n"
                      "MergeFileName=all.bin\r\n"));

    QProcess gui;
    gui.setWorkingDirectory(QStringLiteral("elsewhere"));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("QT_QPA_PLATFORM")); // its own window, as a user sees it
    gui.setProcessEnvironment(environment);
    gui.start(QDir::current().absoluteFilePath(QStringLiteral("app/MergeFile.exe")), QStringList());
    QVERIFY(gui.waitForStarted(60000));
    // Closed the way a user closes it, once its window is there.
    for (int i = 0; i < 120 && gui.state() != QProcess::NotRunning; ++i) {
        gui.terminate();
        gui.waitForFinished(500);
    }
    QCOMPARE(gui.state(), QProcess::NotRunning);
    QCOMPARE(gui.exitCode(), 0);

    QSettings saved(QStringLiteral("app/cfg/MergeTool.ini"), QSettings::IniFormat);
    saved.beginGroup(QStringLiteral("MergeTool"));
    QCOMPARE(saved.childKeys().size(), 25);
    QCOMPARE(saved.value(QStringLiteral("File3Name")).toString(), QStringLiteral("parts\\boot.bin"));
    QCOMPARE(saved.value(QStringLiteral("File3Enable")).toString(), QStringLiteral("1"));
    QCOMPARE(saved.value(QStringLiteral("MergeFileName")).toString(), QStringLiteral("all.bin"));
    QCOMPARE(QDir(QStringLiteral("elsewhere")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
}

QTEST_MAIN(tst_Windows)
#include "tst_windows.moc"
