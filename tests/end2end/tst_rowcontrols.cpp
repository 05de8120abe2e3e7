// Browse buttons, enable boxes and dropped files, driven through the real
// window and the toolkit's own widget-based file dialog.

#include "WindowDriver.h"

#include <QApplication>
#include <QDir>
#include <QDropEvent>
#include <QFileDialog>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>

#include <functional>

namespace {

struct DialogSeen
{
    bool opened = false;
    QString title;
    QStringList filters;
    QFileDialog::AcceptMode mode = QFileDialog::AcceptOpen;
    QWidget *parent = nullptr;
};

// Clicks the button, then, once its modal file dialog is up, records what it
// looks like and either picks `choice` or cancels (empty choice).
DialogSeen clickAndAnswer(QAbstractButton *button, const QString &choice)
{
    DialogSeen seen;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible())
            return;
        poll.stop();
        seen.opened = true;
        seen.title = dialog->windowTitle();
        seen.filters = dialog->nameFilters();
        seen.mode = dialog->acceptMode();
        seen.parent = dialog->parentWidget();
        if (choice.isEmpty()) {
            static_cast<QDialog *>(dialog)->reject();
        } else if (auto *nameField = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))) {
            nameField->setText(choice);
            QTest::keyClick(nameField, Qt::Key_Return);
        }
    });
    poll.start();
    QTest::mouseClick(button, Qt::LeftButton);
    poll.stop();
    return seen;
}

} // namespace

class tst_RowControls : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void fileDialogs_data();
    void fileDialogs();
    void enableBoxes_data();
    void enableBoxes();
    void disabledRowIsNotMerged();
    void dropFiles_data();
    void dropFiles();

private:
    QScopedPointer<CurrentTempDir> dir;
    QScopedPointer<MergeMainWindow> window;
};

void tst_RowControls::initTestCase()
{
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
}

void tst_RowControls::init()
{
    dir.reset(new CurrentTempDir);
    QVERIFY(dir->isValid());
    window.reset(new MergeMainWindow);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.data()));
}

void tst_RowControls::cleanup()
{
    window.reset();
    dir.reset();
}

void tst_RowControls::fileDialogs_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("field");
    QTest::addColumn<bool>("save");
    QTest::addColumn<bool>("accept");

    for (int row : {1, 4, 8}) {
        const QByteArray r = QByteArray::number(row);
        QTest::newRow(("row " + r + " picks a file").constData())
            << rowName(row, "Btn") << rowName(row, "LEdt") << false << true;
        QTest::newRow(("row " + r + " cancelled").constData())
            << rowName(row, "Btn") << rowName(row, "LEdt") << false << false;
    }
    QTest::newRow("output picks a file") << "mergefileBtn" << "mergefileLEdt" << true << true;
    QTest::newRow("output cancelled") << "mergefileBtn" << "mergefileLEdt" << true << false;
}

void tst_RowControls::fileDialogs()
{
    QFETCH(QString, button);
    QFETCH(QString, field);
    QFETCH(bool, save);
    QFETCH(bool, accept);

    const QString chosen = QDir(dir->path()).absoluteFilePath(save ? QStringLiteral("new image.bin")
                                                                   : QStringLiteral("boot loader.bin"));
    if (!save)
        QVERIFY(writeFile(chosen, "boot"));
    QLineEdit *edit = widget<QLineEdit>(*window, field);
    edit->setText(QStringLiteral("typed by hand.bin"));
    if (!save) // a row's button works only while its row is on
        QTest::mouseClick(enableBox(*window, field.mid(4, 1).toInt()), Qt::LeftButton);

    const DialogSeen seen = clickAndAnswer(widget<QAbstractButton>(*window, button), accept ? chosen : QString());
    QVERIFY(seen.opened);
    QCOMPARE(seen.title, QStringLiteral("Open BIN file"));
    QCOMPARE(seen.filters, QStringList() << "BIN files (*.bin)");
    QCOMPARE(seen.mode, save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    QCOMPARE(seen.parent, window.data());
    QCOMPARE(edit->text(), accept ? chosen : QStringLiteral("typed by hand.bin"));
    QVERIFY(!QFileInfo::exists(QDir(dir->path()).filePath(QStringLiteral("new image.bin"))));
}

void tst_RowControls::enableBoxes_data()
{
    QTest::addColumn<int>("row");
    for (int row = 1; row <= 8; ++row)
        QTest::newRow(("row " + QByteArray::number(row)).constData()) << row;
}

void tst_RowControls::enableBoxes()
{
    QFETCH(int, row);
    QCheckBox *box = enableBox(*window, row);
    QLineEdit *name = nameEdit(*window, row);
    QToolButton *browse = browseButton(*window, row);
    QComboBox *address = addressBox(*window, row);
    auto fieldsEnabled = [&](bool on) {
        return name->isEnabled() == on && browse->isEnabled() == on && address->isEnabled() == on;
    };
    auto othersUntouched = [&](bool on) {
        for (int other = 1; other <= 8; ++other)
            if (other != row && nameEdit(*window, other)->isEnabled() != on)
                return false;
        return true;
    };
    const bool othersAtStart = nameEdit(*window, row == 1 ? 2 : 1)->isEnabled();

    QTest::mouseClick(box, Qt::LeftButton);
    QVERIFY(box->isChecked());
    QVERIFY(fieldsEnabled(true));
    name->setText(QStringLiteral("app.bin"));
    address->setEditText(QStringLiteral("10000"));

    QTest::mouseClick(box, Qt::LeftButton);
    QVERIFY(fieldsEnabled(false));
    QVERIFY(box->isEnabled());
    QCOMPARE(name->text(), QStringLiteral("app.bin"));
    QCOMPARE(address->currentText(), QStringLiteral("10000"));

    QTest::mouseClick(box, Qt::LeftButton);
    QVERIFY(fieldsEnabled(true));
    QCOMPARE(name->text(), QStringLiteral("app.bin"));
    QCOMPARE(address->currentText(), QStringLiteral("10000"));

    box->setCheckState(Qt::PartiallyChecked); // only the checked state counts as on
    QVERIFY(fieldsEnabled(false));
    QVERIFY(othersUntouched(othersAtStart));
}

void tst_RowControls::disabledRowIsNotMerged()
{
    QVERIFY(writeFile(QStringLiteral("a.bin"), "a"));
    setRow(*window, 1, true, QStringLiteral("a.bin"), QStringLiteral("1000"));
    setRow(*window, 2, true, QStringLiteral("missing.bin"), QStringLiteral("1000"));
    QTest::mouseClick(enableBox(*window, 2), Qt::LeftButton);
    outputEdit(*window)->setText(QStringLiteral("out.bin"));

    QCOMPARE(merge(*window), QStringList() << "Begin to merge..." << "Merge success!");
    QCOMPARE(readFile(QStringLiteral("out.bin")), QByteArray("a"));
}

void tst_RowControls::dropFiles_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<bool>("asUrl");   // a file manager's drop, or plain text
    QTest::addColumn<QString>("expected");

    const QString path = QStringLiteral("/some where/app image.bin");
    QTest::newRow("file onto row 1") << "file1LEdt" << true << path;
    QTest::newRow("file onto row 5") << "file5LEdt" << true << path;
    QTest::newRow("file onto the output") << "mergefileLEdt" << true << path;
    QTest::newRow("text still drops as text") << "file2LEdt" << false << "old.binapp";
}

void tst_RowControls::dropFiles()
{
    QFETCH(QString, field);
    QFETCH(bool, asUrl);
    QFETCH(QString, expected);

    QLineEdit *edit = widget<QLineEdit>(*window, field);
    if (field != QLatin1String("mergefileLEdt"))
        QTest::mouseClick(enableBox(*window, field.mid(4, 1).toInt()), Qt::LeftButton);
    edit->setText(QStringLiteral("old.bin"));

    QMimeData mime;
    if (asUrl) {
        const QUrl url = QUrl::fromLocalFile(QStringLiteral("/some where/app image.bin"));
        mime.setUrls({url});
        mime.setText(url.toString());
    } else {
        mime.setText(QStringLiteral("app"));
    }
    const QPoint pos(edit->width() - 2, edit->height() / 2);
    QDragEnterEvent enter(pos, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(edit, &enter);
    QVERIFY(enter.isAccepted());
    QDragMoveEvent move(pos, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(edit, &move);
    QVERIFY(move.isAccepted());
    QDropEvent drop(QPointF(pos), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(edit, &drop);
    QVERIFY(drop.isAccepted());
    QCOMPARE(edit->text(), expected);

    // Typing by hand goes on working.
    edit->setFocus();
    edit->end(false);
    QTest::keyClicks(edit, QStringLiteral("x"));
    QCOMPARE(edit->text(), expected + QLatin1Char('x'));
}

QTEST_MAIN(tst_RowControls)
#include "tst_rowcontrols.moc"
