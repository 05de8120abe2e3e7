#include "MergeMainWindow.h"
#include "ui_MergeMainWindow.h"

#include "Address.h"
#include "MergeJob.h"
#include "Version.h"
#include "settings/MergeSettings.h"

#include <QDropEvent>
#include <QFileDialog>
#include <QMimeData>
#include <QTextCursor>
#include <QTextDocument>

#include <utility>

MergeMainWindow::MergeMainWindow()
    : QMainWindow(nullptr)
    , form(new Ui::MergeMainWindowForm)
    , settings(nullptr)
{
    form->setupUi(this);
    setWindowTitle(QStringLiteral("Varn Merge File Tool %1").arg(QLatin1String(MERGEFILE_VERSION_TEXT)));

    settings = new MergeSettings;
    settings->load(MergeSettings::windowLoadPath());

    connect(form->file1Btn, SIGNAL(clicked(bool)), this, SLOT(onfile1()));
    connect(form->file2Btn, SIGNAL(clicked(bool)), this, SLOT(onfile2()));
    connect(form->file3Btn, SIGNAL(clicked(bool)), this, SLOT(onfile3()));
    connect(form->file4Btn, SIGNAL(clicked(bool)), this, SLOT(onfile4()));
    connect(form->file5Btn, SIGNAL(clicked(bool)), this, SLOT(onfile5()));
    connect(form->file6Btn, SIGNAL(clicked(bool)), this, SLOT(onfile6()));
    connect(form->file7Btn, SIGNAL(clicked(bool)), this, SLOT(onfile7()));
    connect(form->file8Btn, SIGNAL(clicked(bool)), this, SLOT(onfile8()));
    connect(form->file1Ck, SIGNAL(stateChanged(int)), this, SLOT(onfile1CK(int)));
    connect(form->file2Ck, SIGNAL(stateChanged(int)), this, SLOT(onfile2CK(int)));
    connect(form->file3Ck, SIGNAL(stateChanged(int)), this, SLOT(onfile3CK(int)));
    connect(form->file4Ck, SIGNAL(stateChanged(int)), this, SLOT(onfile4CK(int)));
    connect(form->file5Ck, SIGNAL(stateChanged(int)), this, SLOT(onfile5CK(int)));
    connect(form->file6Ck, SIGNAL(stateChanged(int)), this, SLOT(onfile6CK(int)));
    connect(form->file7Ck, SIGNAL(stateChanged(int)), this, SLOT(onfile7CK(int)));
    connect(form->file8Ck, SIGNAL(stateChanged(int)), this, SLOT(onfile8CK(int)));
    connect(form->mergefileBtn, SIGNAL(clicked(bool)), this, SLOT(onMergefile()));
    connect(form->mergeBtn, SIGNAL(clicked(bool)), this, SLOT(onMergeBtn()));

    enableBoxes = {form->file1Ck, form->file2Ck, form->file3Ck, form->file4Ck,
                   form->file5Ck, form->file6Ck, form->file7Ck, form->file8Ck};
    nameEdits = {form->file1LEdt, form->file2LEdt, form->file3LEdt, form->file4LEdt,
                 form->file5LEdt, form->file6LEdt, form->file7LEdt, form->file8LEdt};
    addrCombos = {form->file1CoBx, form->file2CoBx, form->file3CoBx, form->file4CoBx,
                  form->file5CoBx, form->file6CoBx, form->file7CoBx, form->file8CoBx};

    for (QLineEdit *edit : std::as_const(nameEdits))
        edit->installEventFilter(this);
    form->mergefileLEdt->installEventFilter(this);

    // The signals are wired by now, so a stored checked box enables its row.
    settingsToWidgets();
}

MergeMainWindow::~MergeMainWindow()
{
    widgetsToSettings();
    settings->save(MergeSettings::windowSavePath());
    delete form;
    delete settings;
}

void MergeMainWindow::settingsToWidgets()
{
    const std::array<QToolButton *, 8> buttons = browseButtons();
    for (int i = 0; i < MergeSettings::rowCount; ++i) {
        const size_t k = size_t(i);
        enableBoxes.at(i)->setChecked(settings->enables[k]);
        nameEdits.at(i)->setText(settings->fileNames[k]);
        addrCombos.at(i)->addItem(settings->addresses[k]);
        if (!enableBoxes.at(i)->isChecked()) {
            nameEdits.at(i)->setEnabled(false);
            buttons[k]->setEnabled(false);
            addrCombos.at(i)->setEnabled(false);
        }
    }
    form->mergefileLEdt->setText(settings->mergeFileName);
}

void MergeMainWindow::widgetsToSettings()
{
    for (int i = 0; i < MergeSettings::rowCount; ++i) {
        const size_t k = size_t(i);
        settings->enables[k] = enableBoxes.at(i)->isChecked();
        settings->fileNames[k] = nameEdits.at(i)->text();
        settings->addresses[k] = addrCombos.at(i)->currentText();
    }
    settings->mergeFileName = form->mergefileLEdt->text();
}

void MergeMainWindow::onfile1()
{
    browseRow(0);
}

void MergeMainWindow::onfile2()
{
    browseRow(1);
}

void MergeMainWindow::onfile3()
{
    browseRow(2);
}

void MergeMainWindow::onfile4()
{
    browseRow(3);
}

void MergeMainWindow::onfile5()
{
    browseRow(4);
}

void MergeMainWindow::onfile6()
{
    browseRow(5);
}

void MergeMainWindow::onfile7()
{
    browseRow(6);
}

void MergeMainWindow::onfile8()
{
    browseRow(7);
}

void MergeMainWindow::onfile1CK(int state)
{
    enableRow(0, state);
}

void MergeMainWindow::onfile2CK(int state)
{
    enableRow(1, state);
}

void MergeMainWindow::onfile3CK(int state)
{
    enableRow(2, state);
}

void MergeMainWindow::onfile4CK(int state)
{
    enableRow(3, state);
}

void MergeMainWindow::onfile5CK(int state)
{
    enableRow(4, state);
}

void MergeMainWindow::onfile6CK(int state)
{
    enableRow(5, state);
}

void MergeMainWindow::onfile7CK(int state)
{
    enableRow(6, state);
}

void MergeMainWindow::onfile8CK(int state)
{
    enableRow(7, state);
}

void MergeMainWindow::onMergefile()
{
    const QString name = QFileDialog::getSaveFileName(this, tr("Open BIN file"), QString(), tr("BIN files (*.bin)"));
    if (!name.isEmpty())
        form->mergefileLEdt->setText(name);
}

void MergeMainWindow::browseRow(int index)
{
    const QString name = QFileDialog::getOpenFileName(this, tr("Open BIN file"), QString(), tr("BIN files (*.bin)"));
    if (!name.isEmpty())
        nameEdits.at(index)->setText(name);
}

void MergeMainWindow::enableRow(int index, int state)
{
    const bool enabled = state == Qt::Checked;
    nameEdits.at(index)->setEnabled(enabled);
    browseButtons().at(size_t(index))->setEnabled(enabled);
    addrCombos.at(index)->setEnabled(enabled);
}

std::array<QToolButton *, 8> MergeMainWindow::browseButtons() const
{
    return {form->file1Btn, form->file2Btn, form->file3Btn, form->file4Btn,
            form->file5Btn, form->file6Btn, form->file7Btn, form->file8Btn};
}

// A file dropped from a file manager arrives as a file:// URL; the name fields
// want its local path instead, in place of what they held.
bool MergeMainWindow::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    auto *edit = qobject_cast<QLineEdit *>(watched);
    if (!edit || (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop))
        return QMainWindow::eventFilter(watched, event);

    auto *drop = static_cast<QDropEvent *>(event);
    QString path;
    if (drop->mimeData()->hasUrls()) {
        const QList<QUrl> urls = drop->mimeData()->urls();
        for (const QUrl &url : urls) {
            if (url.isLocalFile()) {
                path = url.toLocalFile();
                break;
            }
        }
    }
    if (path.isEmpty())
        return QMainWindow::eventFilter(watched, event); // plain text drops as usual
    if (type == QEvent::Drop)
        edit->setText(path);
    drop->acceptProposedAction();
    return true;
}

void MergeMainWindow::onMergeBtn()
{
    // Every address box remembers what was merged with it.
    for (QComboBox *combo : std::as_const(addrCombos)) {
        const QString text = combo->currentText();
        bool known = false;
        for (int i = 0; i < combo->count() && !known; ++i)
            known = combo->itemText(i) == text;
        if (!known)
            combo->addItem(text);
    }

    QVector<MergeRow> rows;
    for (int i = 0; i < enableBoxes.size(); ++i)
        rows.append(Address::windowRow(enableBoxes.at(i)->isChecked(), nameEdits.at(i)->text(),
                                       addrCombos.at(i)->currentText()));

    form->teLog->clear();
    MergeJob job(rows, form->mergefileLEdt->text(), [this](const QString &line) { appendLog(line); });
    job.run();
}

// File names can look like HTML; the log shows every line as plain text.
void MergeMainWindow::appendLog(const QString &line)
{
    QTextDocument *document = form->teLog->document();
    QTextCursor cursor(document);
    cursor.movePosition(QTextCursor::End);
    if (!document->isEmpty())
        cursor.insertBlock();
    cursor.insertText(line);
    form->teLog->moveCursor(QTextCursor::End);
    form->teLog->ensureCursorVisible();
}
