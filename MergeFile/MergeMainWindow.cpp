#include "MergeMainWindow.h"
#include "ui_MergeMainWindow.h"

#include "MergeJob.h"

#include <QTextCursor>
#include <QTextDocument>

namespace {
const char versionText[] = "v01.00.01";
}

MergeMainWindow::MergeMainWindow()
    : QMainWindow(nullptr)
    , form(new Ui::MergeMainWindowForm)
{
    form->setupUi(this);
    setWindowTitle(QStringLiteral("Varn Merge File Tool %1").arg(QLatin1String(versionText)));

    enableBoxes = {form->file1Ck, form->file2Ck, form->file3Ck, form->file4Ck,
                   form->file5Ck, form->file6Ck, form->file7Ck, form->file8Ck};
    nameEdits = {form->file1LEdt, form->file2LEdt, form->file3LEdt, form->file4LEdt,
                 form->file5LEdt, form->file6LEdt, form->file7LEdt, form->file8LEdt};
    addrCombos = {form->file1CoBx, form->file2CoBx, form->file3CoBx, form->file4CoBx,
                  form->file5CoBx, form->file6CoBx, form->file7CoBx, form->file8CoBx};

    connect(form->mergefileBtn, SIGNAL(clicked(bool)), this, SLOT(onMergefile()));
    connect(form->mergeBtn, SIGNAL(clicked(bool)), this, SLOT(onMergeBtn()));
}

MergeMainWindow::~MergeMainWindow()
{
    delete form;
}

void MergeMainWindow::onfile1() {}
void MergeMainWindow::onfile2() {}
void MergeMainWindow::onfile3() {}
void MergeMainWindow::onfile4() {}
void MergeMainWindow::onfile5() {}
void MergeMainWindow::onfile6() {}
void MergeMainWindow::onfile7() {}
void MergeMainWindow::onfile8() {}
void MergeMainWindow::onfile1CK(int) {}
void MergeMainWindow::onfile2CK(int) {}
void MergeMainWindow::onfile3CK(int) {}
void MergeMainWindow::onfile4CK(int) {}
void MergeMainWindow::onfile5CK(int) {}
void MergeMainWindow::onfile6CK(int) {}
void MergeMainWindow::onfile7CK(int) {}
void MergeMainWindow::onfile8CK(int) {}
void MergeMainWindow::onMergefile() {}

void MergeMainWindow::onMergeBtn()
{
    // Every address box remembers what was merged with it.
    for (QComboBox *combo : qAsConst(addrCombos)) {
        const QString text = combo->currentText();
        bool known = false;
        for (int i = 0; i < combo->count() && !known; ++i)
            known = combo->itemText(i) == text;
        if (!known)
            combo->addItem(text);
    }

    QVector<MergeRow> rows;
    for (int i = 0; i < enableBoxes.size(); ++i)
        rows.append(MergeRow{enableBoxes.at(i)->isChecked(), nameEdits.at(i)->text(),
                             addrCombos.at(i)->currentText()});

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
