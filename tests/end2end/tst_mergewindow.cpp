// The Merge button, driven through the real window: image layout, the checks
// and their order, the log, and what happens on disk when something fails.

#include "WindowDriver.h"

#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QFileInfo>
#include <QIcon>
#include <QMetaMethod>
#include <QTemporaryDir>

#include <QProcess>
#include <QSettings>

#ifdef Q_OS_UNIX
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

struct RowSpec
{
    int row;
    QString address;
    QByteArray content; // written to "<row>.bin" unless the row names another file
    QString fileName = QString();
    bool enabled = true;
};
using RowSpecs = QVector<RowSpec>;
static const QString noName = QStringLiteral("<row without a name>");
Q_DECLARE_METATYPE(RowSpecs)

class tst_MergeWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void titleAndForm();
    void formWidgets_data();
    void formWidgets();
    void slotTable();
    void logIsReadOnlyButSelectable();

    void layout_data();
    void layout();
    void failures_data();
    void failures();
    void fileSystemFaults_data();
    void fileSystemFaults();
    void outputMayBeOneOfTheSources();
    void successReplacesLongerOldOutput();
    void logShowsNamesLiterally_data();
    void logShowsNamesLiterally();
    void addressHistory();
    void imageBeyondTheAddressRange();
    void mergeIntoAClosedPipe();
    void mergeIntoAClosedPipeChild();

private:
    void applyRows(const RowSpecs &rows);
    QStringList entries() const;

    QScopedPointer<CurrentTempDir> dir;
    QScopedPointer<MergeMainWindow> window;
};

void tst_MergeWindow::init()
{
    dir.reset(new CurrentTempDir);
    QVERIFY(dir->isValid());
    window.reset(new MergeMainWindow);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.data()));
}

void tst_MergeWindow::cleanup()
{
    window.reset();
    dir.reset();
}

void tst_MergeWindow::applyRows(const RowSpecs &rows)
{
    for (const RowSpec &spec : rows) {
        QString name = spec.fileName;
        if (name.isNull()) {
            name = QStringLiteral("%1.bin").arg(spec.row);
            QVERIFY(writeFile(name, spec.content));
        }
        setRow(*window, spec.row, spec.enabled, name == noName ? QString() : name, spec.address);
    }
}

QStringList tst_MergeWindow::entries() const
{
    return QDir(dir->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
}

void tst_MergeWindow::titleAndForm()
{
    QCOMPARE(window->windowTitle(), QStringLiteral("Varn Merge File Tool v01.00.01"));
    QCOMPARE(window->objectName(), QStringLiteral("MergeMainWindow"));
    // The form's own size; once shown, the layout may grow it to fit larger fonts.
    QCOMPARE(MergeMainWindow().size(), QSize(564, 405));

    const QList<QSize> iconSizes = window->windowIcon().availableSizes();
    QVERIFY2(iconSizes.contains(QSize(32, 32)) && iconSizes.contains(QSize(16, 16)),
             "the window icon holds a 32 x 32 and a 16 x 16 image");
    for (const char *name : {":/images/open.png", ":/images/merge.png"})
        QCOMPARE(QIcon(QLatin1String(name)).availableSizes(), QList<QSize>() << QSize(18, 18));

    QComboBox *first = addressBox(*window, 1);
    QCOMPARE(first->minimumSize(), QSize(100, 0));
    QCOMPARE(first->sizePolicy().horizontalPolicy(), QSizePolicy::Preferred);
    QCOMPARE(first->sizePolicy().verticalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(addressBox(*window, 2)->minimumSize(), QSize(0, 0));

    // The header sits above the grid, "Start Address" right of "File Name".
    QWidget *fileLabel = widget<QWidget>(*window, QStringLiteral("label"));
    QWidget *addressLabel = widget<QWidget>(*window, QStringLiteral("label_2"));
    QVERIFY(fileLabel->geometry().right() < addressLabel->geometry().left());
    QVERIFY(addressLabel->mapTo(window.data(), QPoint()).y() < first->mapTo(window.data(), QPoint()).y());
    QVERIFY(addressLabel->mapTo(window.data(), QPoint(addressLabel->width(), 0)).x()
            >= first->mapTo(window.data(), QPoint()).x());
}

void tst_MergeWindow::formWidgets_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("text");

    for (int row = 1; row <= 8; ++row) {
        const QByteArray r = QByteArray::number(row);
        QTest::newRow(("check box " + r).constData()) << rowName(row, "Ck") << QStringLiteral("QCheckBox") << QString();
        QTest::newRow(("name field " + r).constData()) << rowName(row, "LEdt") << QStringLiteral("QLineEdit") << QString();
        QTest::newRow(("browse button " + r).constData()) << rowName(row, "Btn") << QStringLiteral("QToolButton") << QStringLiteral("...");
        QTest::newRow(("separator " + r).constData()) << (row == 1 ? QStringLiteral("line") : QStringLiteral("line_%1").arg(row))
                                        << QStringLiteral("QFrame") << QString();
        QTest::newRow(("address box " + r).constData()) << rowName(row, "CoBx") << QStringLiteral("QComboBox") << QString();
    }
    QTest::newRow("file name header") << "label" << "QLabel" << "File Name";
    QTest::newRow("address header") << "label_2" << "QLabel" << "Start Address";
    QTest::newRow("output name") << "mergefileLEdt" << "QLineEdit" << QString();
    QTest::newRow("output browse") << "mergefileBtn" << "QToolButton" << "...";
    QTest::newRow("output separator") << "line_10" << "QFrame" << QString();
    QTest::newRow("merge button") << "mergeBtn" << "QPushButton" << "Merge";
    QTest::newRow("log") << "teLog" << "QTextEdit" << QString();
    QTest::newRow("group box") << "groupBox" << "QGroupBox" << QString();
    QTest::newRow("central widget") << "centralwidget" << "QWidget" << QString();
}

void tst_MergeWindow::formWidgets()
{
    QFETCH(QString, name);
    QFETCH(QString, className);
    QFETCH(QString, text);

    QWidget *w = widget<QWidget>(*window, name);
    QCOMPARE(QString::fromLatin1(w->metaObject()->className()), className);
    if (auto *button = qobject_cast<QAbstractButton *>(w)) {
        QCOMPARE(button->text(), text);
        QCOMPARE(button->isCheckable(), className == QLatin1String("QCheckBox"));
        if (className != QLatin1String("QCheckBox"))
            QVERIFY(!button->icon().isNull());
        else
            QVERIFY(!button->isChecked());
    } else if (auto *label = qobject_cast<QLabel *>(w)) {
        QCOMPARE(label->text(), text);
    } else if (auto *line = qobject_cast<QFrame *>(w); line && className == QLatin1String("QFrame")) {
        QCOMPARE(line->frameShape(), QFrame::VLine);
        QCOMPARE(line->frameShadow(), QFrame::Sunken);
    } else if (auto *combo = qobject_cast<QComboBox *>(w)) {
        QVERIFY(combo->isEditable());
        QCOMPARE(combo->insertPolicy(), QComboBox::InsertAtBottom);
        QVERIFY(!combo->duplicatesEnabled());
    } else if (auto *group = qobject_cast<QGroupBox *>(w)) {
        QCOMPARE(group->title(), QString());
    }
}

void tst_MergeWindow::slotTable()
{
    QStringList expected;
    for (int row = 1; row <= 8; ++row)
        expected << QStringLiteral("onfile%1()").arg(row);
    for (int row = 1; row <= 8; ++row)
        expected << QStringLiteral("onfile%1CK(int)").arg(row);
    expected << QStringLiteral("onMergefile()") << QStringLiteral("onMergeBtn()");

    const QMetaObject *meta = window->metaObject();
    QCOMPARE(QString::fromLatin1(meta->className()), QStringLiteral("MergeMainWindow"));
    QStringList found;
    for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
        const QMetaMethod method = meta->method(i);
        QCOMPARE(method.access(), QMetaMethod::Private);
        QCOMPARE(method.methodType(), QMetaMethod::Slot);
        found << QString::fromLatin1(method.methodSignature());
    }
    QCOMPARE(found, expected);
}

void tst_MergeWindow::logIsReadOnlyButSelectable()
{
    QTextEdit *log = logView(*window);
    QVERIFY(QTest::qWaitForWindowExposed(window.data()));
    log->setFocus();
    QTest::keyClicks(log, QStringLiteral("typed"));
    QCOMPARE(log->toPlainText(), QString());

    merge(*window);
    QVERIFY(log->isReadOnly());
    QVERIFY(log->textInteractionFlags() & Qt::TextSelectableByMouse);
    log->selectAll();
    QCOMPARE(log->textCursor().selectedText(), QStringLiteral("Error!!!Merge file name cannot be empty!"));
}

void tst_MergeWindow::layout_data()
{
    QTest::addColumn<RowSpecs>("rows");
    QTest::addColumn<QByteArray>("image");

    const QByteArray a("\x01\x02\x03\x04", 4);
    const QByteArray b("BBBBBB");
    const QByteArray c("c");

    QTest::newRow("one file at 0x1000 is the image") << RowSpecs{{1, "1000", a}} << a;
    QTest::newRow("one file at 0x1010 follows 16 fill bytes") << RowSpecs{{1, "1010", a}} << fill(16) + a;
    QTest::newRow("gap between two files is filled") << RowSpecs{{1, "1000", a}, {2, "1008", b}} << a + fill(4) + b;
    QTest::newRow("touching files get no fill") << RowSpecs{{1, "1000", a}, {2, "1004", b}} << a + b;
    QTest::newRow("address order, not row order")
        << RowSpecs{{1, "1010", b}, {3, "1000", a}, {6, "1004", c}} << a + c + fill(11) + b;
    QTest::newRow("empty file in the middle adds nothing")
        << RowSpecs{{1, "1000", a}, {2, "1004", QByteArray()}, {3, "1006", c}} << a + fill(2) + c;
    QTest::newRow("empty file alone gives an empty image") << RowSpecs{{4, "1000", QByteArray()}} << QByteArray();
    QTest::newRow("last file is not checked against anything")
        << RowSpecs{{1, "1000", c}, {2, "1001", QByteArray(70000, 'z')}} << c + QByteArray(70000, 'z');
    QTest::newRow("disabled rows take no part")
        << RowSpecs{{1, "1002", a}, {2, "1002", b, QString(), false}, {3, "", c, QStringLiteral("missing.bin"), false}}
        << fill(2) + a;
    QTest::newRow("prefix, case and blanks in addresses")
        << RowSpecs{{1, " 0x1000 ", a}, {2, "0X1004", c}, {3, "100a", c}, {4, "100B", b}}
        << a + c + fill(5) + c + b;
    QTest::newRow("plus sign") << RowSpecs{{5, "+1001", a}} << fill(1) + a;

    RowSpecs all;
    QByteArray eight;
    for (int row = 1; row <= 8; ++row) {
        const QByteArray content(row, char('0' + row));
        all.append({row, QString::number(0x1000 + 16 * (8 - row), 16), content});
    }
    for (int row = 8; row >= 1; --row)
        eight += QByteArray(row, char('0' + row)) + fill(16 - row);
    eight.chop(16 - 1);
    QTest::newRow("all eight rows") << all << eight;
}

void tst_MergeWindow::layout()
{
    QFETCH(RowSpecs, rows);
    QFETCH(QByteArray, image);

    applyRows(rows);
    outputEdit(*window)->setText(QStringLiteral("out.bin"));
    QCOMPARE(merge(*window), QStringList() << "Begin to merge..." << "Merge success!");
    QCOMPARE(readFile(QStringLiteral("out.bin")), image);
    QVERIFY(QFileInfo(QStringLiteral("out.bin")).isFile());
}

void tst_MergeWindow::failures_data()
{
    QTest::addColumn<RowSpecs>("rows");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QStringList>("log");

    const QByteArray four("abcd");
    const QString begin = QStringLiteral("Begin to merge...");
    const QString out = QStringLiteral("out.bin");

    QTest::newRow("empty output name") << RowSpecs{{1, "1000", four}} << QString()
                                       << QStringList{"Error!!!Merge file name cannot be empty!"};
    QTest::newRow("blank output name is a name, no row")
        << RowSpecs{} << QStringLiteral(" ") << QStringList{begin, "Error!!!No file to be merged!"};
    QTest::newRow("empty address, later rows not looked at")
        << RowSpecs{{2, "1000", four}, {4, "", four}, {5, "", QByteArray(), QString()}, {6, "1000", four}} << out
        << QStringList{begin, "Error!!!File name or start address of file4 cannot be empty!"};
    QTest::newRow("empty name") << RowSpecs{{3, "1000", QByteArray(), noName}} << out
                                << QStringList{begin, "Error!!!File name or start address of file3 cannot be empty!"};
    QTest::newRow("duplicate names the later row") << RowSpecs{{2, "1000", four}, {5, "0x1000", four}} << out
                                                   << QStringList{begin, "Error!!!The address of file5 is duplicated!"};
    QTest::newRow("two texts that are not hex are both 0")
        << RowSpecs{{1, "xyz", four}, {7, "qq", four}} << out
        << QStringList{begin, "Error!!!The address of file7 is duplicated!"};
    QTest::newRow("first fault in row order wins")
        << RowSpecs{{1, "1000", four}, {2, "1000", four}, {3, "", four}} << out
        << QStringList{begin, "Error!!!The address of file2 is duplicated!"};
    QTest::newRow("no row enabled") << RowSpecs{{1, "1000", four, QString(), false}} << out
                                    << QStringList{begin, "Error!!!No file to be merged!"};
    QTest::newRow("address FFF") << RowSpecs{{1, "FFF", four}} << out
                                 << QStringList{begin, "Error!!!Start address cannot less than 0x1000!"};
    QTest::newRow("address 0") << RowSpecs{{1, "0", four}} << out
                               << QStringList{begin, "Error!!!Start address cannot less than 0x1000!"};
    QTest::newRow("address not hex") << RowSpecs{{1, "xyz", four}} << out
                                     << QStringList{begin, "Error!!!Start address cannot less than 0x1000!"};
    QTest::newRow("negative address is the lowest")
        << RowSpecs{{1, "2000", four}, {2, "-10", four}} << out
        << QStringList{begin, "Error!!!Start address cannot less than 0x1000!"};
    QTest::newRow("address beyond 32 bits is 0")
        << RowSpecs{{1, "80000000", four}} << out << QStringList{begin, "Error!!!Start address cannot less than 0x1000!"};
    QTest::newRow("blank address is 0") << RowSpecs{{1, "  ", four}} << out
                                        << QStringList{begin, "Error!!!Start address cannot less than 0x1000!"};
    QTest::newRow("missing file reported before its low address")
        << RowSpecs{{1, "FFF", QByteArray(), QStringLiteral("nothing.bin")}} << out
        << QStringList{begin, "Error!!!Cannot open filenothing.bin!"};
    QTest::newRow("file runs into the next one")
        << RowSpecs{{1, "1000", QByteArray(9, 'x')}, {2, "1008", four}} << out
        << QStringList{begin, "Error!!!File size of 1.bin is out of range!"};
    QTest::newRow("overlap found before a later file is opened")
        << RowSpecs{{4, "1000", QByteArray(5, 'x')}, {2, "1004", four}, {3, "2000", QByteArray(), QStringLiteral("gone.bin")}}
        << out << QStringList{begin, "Error!!!File size of 4.bin is out of range!"};
    QTest::newRow("middle file runs into the last one")
        << RowSpecs{{1, "1000", four}, {2, "1004", QByteArray(5, 'y')}, {3, "1008", four}} << out
        << QStringList{begin, "Error!!!File size of 2.bin is out of range!"};
}

void tst_MergeWindow::failures()
{
    QFETCH(RowSpecs, rows);
    QFETCH(QString, output);
    QFETCH(QStringList, log);

    applyRows(rows);
    outputEdit(*window)->setText(output);
    const QStringList before = entries();
    QCOMPARE(merge(*window), log);
    QCOMPARE(entries(), before);
}

void tst_MergeWindow::fileSystemFaults_data()
{
    QTest::addColumn<QString>("source");   // row 1 at 0x1000; empty: a 1 MiB file
    QTest::addColumn<QString>("output");
    QTest::addColumn<qint64>("fileSizeLimit"); // 0: none
    QTest::addColumn<QString>("message");

    QTest::newRow("missing source") << "missing.bin" << "out.bin" << qint64(0) << "Error!!!Cannot open filemissing.bin!";
    QTest::newRow("directory as source") << "sub" << "out.bin" << qint64(0) << "Error!!!Cannot open filesub!";
    QTest::newRow("output in a missing directory") << "" << "nowhere/out.bin" << qint64(0)
                                                   << "Error!!!Fail to open merge filenowhere/out.bin";
    QTest::newRow("directory as output") << "" << "sub" << qint64(0) << "Error!!!Fail to open merge filesub";
#ifdef Q_OS_UNIX
    QTest::newRow("write fails, old output intact") << "" << "old.bin" << qint64(64 * 1024)
                                                    << "Error!!!Fail to write merge fileold.bin";
#endif
#ifdef Q_OS_LINUX
    QTest::newRow("device that is full") << "" << "/dev/full" << qint64(0) << "Error!!!Fail to write merge file/dev/full";
#endif
}

void tst_MergeWindow::fileSystemFaults()
{
    QFETCH(QString, source);
    QFETCH(QString, output);
    QFETCH(qint64, fileSizeLimit);
    QFETCH(QString, message);

    QVERIFY(QDir().mkdir(QStringLiteral("sub")));
    const QByteArray oldOutput("previous image");
    QVERIFY(writeFile(QStringLiteral("old.bin"), oldOutput));
    if (source.isEmpty()) {
        source = QStringLiteral("big.bin");
        QVERIFY(writeFile(source, QByteArray(1 << 20, 'b')));
    }
    const bool device = output.startsWith(QLatin1String("/dev/"));
    if (device && !QFileInfo::exists(output))
        QSKIP("no such device here");
    setRow(*window, 1, true, source, QStringLiteral("1000"));
    outputEdit(*window)->setText(output);
    const QStringList before = entries();

    QStringList log;
#ifdef Q_OS_UNIX
    struct rlimit saved;
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
    if (fileSizeLimit) {
        std::signal(SIGXFSZ, SIG_IGN); // let the write fail instead of killing the test
        struct rlimit lower = saved;
        lower.rlim_cur = rlim_t(fileSizeLimit);
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &lower), 0);
    }
    log = merge(*window);
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &saved), 0);
#else
    Q_UNUSED(fileSizeLimit);
    log = merge(*window);
#endif

    QCOMPARE(log, QStringList() << "Begin to merge..." << message);
    QCOMPARE(entries(), before); // no output, no temporary file left behind
    QCOMPARE(readFile(QStringLiteral("old.bin")), oldOutput);
    if (device) {
        QVERIFY2(!QFileInfo(output).isFile(), "the device node must not be replaced by a file");
    }
}

void tst_MergeWindow::outputMayBeOneOfTheSources()
{
    QVERIFY(writeFile(QStringLiteral("a.bin"), "AAAA"));
    QVERIFY(writeFile(QStringLiteral("b.bin"), "BB"));
    setRow(*window, 1, true, QStringLiteral("a.bin"), QStringLiteral("1000"));
    setRow(*window, 2, true, QStringLiteral("b.bin"), QStringLiteral("1006"));
    outputEdit(*window)->setText(QStringLiteral("a.bin"));

    QCOMPARE(merge(*window).last(), QStringLiteral("Merge success!"));
    QCOMPARE(readFile(QStringLiteral("a.bin")), QByteArray("AAAA") + fill(2) + "BB");
    QCOMPARE(entries(), QStringList() << "a.bin" << "b.bin");
}

void tst_MergeWindow::successReplacesLongerOldOutput()
{
    QVERIFY(writeFile(QStringLiteral("out.bin"), QByteArray(100, 'o')));
    QVERIFY(writeFile(QStringLiteral("a.bin"), "new"));
    setRow(*window, 1, true, QStringLiteral("a.bin"), QStringLiteral("1001"));
    outputEdit(*window)->setText(QStringLiteral("out.bin"));

    QCOMPARE(merge(*window).last(), QStringLiteral("Merge success!"));
    QCOMPARE(readFile(QStringLiteral("out.bin")), fill(1) + "new");
}

void tst_MergeWindow::logShowsNamesLiterally_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("markup") << "<b>x.bin";
    QTest::newRow("entity") << "a&amp;b.bin";
    QTest::newRow("image tag and entities") << "<img src=\"q.png\">&nbsp;&lt;x&gt;.bin";
    QTest::newRow("double blank") << "two  blanks.bin";
}

void tst_MergeWindow::logShowsNamesLiterally()
{
    QFETCH(QString, name);
    setRow(*window, 1, true, name, QStringLiteral("1000"));
    outputEdit(*window)->setText(name);

    const QString expected = QStringLiteral("Error!!!Cannot open file%1!").arg(name);
    QCOMPARE(merge(*window), QStringList() << "Begin to merge..." << expected);
    QCOMPARE(logView(*window)->document()->blockCount(), 2);

#ifdef Q_OS_WIN
    if (name.contains(QLatin1Char('<')))
        return; // Windows allows no < > or " in a file name: such a row can only be refused
#endif
    QVERIFY(writeFile(name, "x"));
    QCOMPARE(merge(*window), QStringList() << "Begin to merge..." << "Merge success!");
}

static QStringList items(QComboBox *combo)
{
    QStringList texts;
    for (int i = 0; i < combo->count(); ++i)
        texts << combo->itemText(i);
    return texts;
}

void tst_MergeWindow::addressHistory()
{
    // A first start gives every address box one empty item.
    QVERIFY(writeFile(QStringLiteral("a.bin"), "a"));
    setRow(*window, 1, true, QStringLiteral("a.bin"), QStringLiteral("abc0"));
    setRow(*window, 3, false, QString(), QStringLiteral("typed"));
    outputEdit(*window)->setText(QStringLiteral("out.bin"));

    merge(*window);
    QComboBox *first = addressBox(*window, 1);
    QComboBox *third = addressBox(*window, 3);
    QCOMPARE(items(first), QStringList() << "" << "abc0");
    QCOMPARE(items(third), QStringList() << "" << "typed"); // disabled rows too
    QCOMPARE(items(addressBox(*window, 8)), QStringList() << "");

    first->setEditText(QStringLiteral("ABC0"));
    merge(*window);
    merge(*window);
    QCOMPARE(items(first), QStringList() << "" << "abc0" << "ABC0"); // case-sensitive, never twice
    QCOMPARE(first->currentText(), QStringLiteral("ABC0"));

    // An empty text is remembered like any other.
    QComboBox *fifth = addressBox(*window, 5);
    fifth->clear();
    fifth->setEditText(QString());
    merge(*window);
    QCOMPARE(items(fifth), QStringList() << "");

    // The history also runs when the output name is missing.
    outputEdit(*window)->clear();
    third->setEditText(QStringLiteral("2000"));
    QCOMPARE(merge(*window), QStringList() << "Error!!!Merge file name cannot be empty!");
    QCOMPARE(items(third), QStringList() << "" << "typed" << "2000");
    QCOMPARE(third->currentText(), QStringLiteral("2000"));
}

void tst_MergeWindow::imageBeyondTheAddressRange()
{
    // A sparse 4 TiB source: cheap on disk, and far past the last 32-bit address.
    QFile huge(QStringLiteral("huge.bin"));
    QVERIFY(huge.open(QIODevice::WriteOnly));
    if (!huge.resize(qint64(4) << 40))
        QSKIP("this file system holds no sparse 4 TiB file");
    huge.close();
    QVERIFY(writeFile(QStringLiteral("a.bin"), "a"));
    setRow(*window, 1, true, QStringLiteral("a.bin"), QStringLiteral("1000"));
    setRow(*window, 2, true, QStringLiteral("huge.bin"), QStringLiteral("2000"));
    outputEdit(*window)->setText(QStringLiteral("out.bin"));

    const qint64 size = 0x1000 + (qint64(4) << 40);
    QCOMPARE(merge(*window), QStringList() << "Begin to merge..."
                                           << QStringLiteral("Error!!!Merge image of %1 bytes is too large!").arg(size));
    QVERIFY(!QFileInfo::exists(QStringLiteral("out.bin")));
}

// A reader that takes 10 bytes of the image and goes: the window logs a
// failed write and stays, with its rows, instead of dying of SIGPIPE. Run in
// a process of its own, since dying is what is looked for.
void tst_MergeWindow::mergeIntoAClosedPipe()
{
#ifndef Q_OS_UNIX
    QSKIP("FIFOs are Unix's");
#else
    const QString fifo = dir->path() + QStringLiteral("/fifo");
    QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QVERIFY(writeFile(QStringLiteral("a.bin"), "AAAA"));
    QVERIFY(writeFile(QStringLiteral("b.bin"), "BB"));
    const int reader = ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    QVERIFY(reader >= 0);

    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("MERGEFILE_PIPE_TEST"), dir->path());
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("mergeIntoAClosedPipeChild")});
    QVERIFY(child.waitForStarted());
    char taken[10];
    for (size_t got = 0; got < sizeof taken;) {
        struct pollfd data = {reader, POLLIN, 0};
        QCOMPARE(poll(&data, 1, 60000), 1);
        const ssize_t n = ::read(reader, taken + got, sizeof taken - got);
        QVERIFY(n > 0);
        got += size_t(n);
    }
    ::close(reader);
    QVERIFY(child.waitForFinished(60000));

    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 0);
    QCOMPARE(QString::fromUtf8(readFile(QStringLiteral("log.txt"))),
             QStringLiteral("Begin to merge...\nError!!!Fail to write merge file%1").arg(fifo));
    QSettings saved(QStringLiteral("saved.ini"), QSettings::IniFormat);
    QCOMPARE(saved.value(QStringLiteral("MergeTool/File2Addr")).toString(), QStringLiteral("200000"));
    QCOMPARE(saved.value(QStringLiteral("MergeTool/MergeFileName")).toString(), fifo);
#endif
}

// The child's half of mergeIntoAClosedPipe.
void tst_MergeWindow::mergeIntoAClosedPipeChild()
{
    const QString base = QFile::decodeName(qgetenv("MERGEFILE_PIPE_TEST"));
    if (base.isEmpty())
        QSKIP("run by mergeIntoAClosedPipe, in a process of its own");
    setRow(*window, 1, true, base + QStringLiteral("/a.bin"), QStringLiteral("1000"));
    setRow(*window, 2, true, base + QStringLiteral("/b.bin"), QStringLiteral("200000"));
    outputEdit(*window)->setText(base + QStringLiteral("/fifo"));
    const QStringList log = merge(*window);
    window.reset(); // closing saves the rows
    QVERIFY(QFile::copy(QStringLiteral("cfg/MergeTool.ini"), base + QStringLiteral("/saved.ini")));
    QVERIFY(writeFile(base + QStringLiteral("/log.txt"), log.join(QLatin1Char('\n')).toUtf8()));
}

QTEST_MAIN(tst_MergeWindow)
#include "tst_mergewindow.moc"
