#ifndef MERGEMAINWINDOW_H
#define MERGEMAINWINDOW_H

#include <QList>
#include <array>
#include <QMainWindow>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QToolButton;
struct MergeSettings;

namespace Ui {
class MergeMainWindowForm;
}

// The tool's one window: eight file rows, the output row, the Merge button and
// the log. It only moves data between its widgets and the merge job.
class MergeMainWindow : public QMainWindow
{
    Q_OBJECT

public:
    MergeMainWindow();
    ~MergeMainWindow() override;

private slots:
    void onfile1();
    void onfile2();
    void onfile3();
    void onfile4();
    void onfile5();
    void onfile6();
    void onfile7();
    void onfile8();
    void onfile1CK(int state);
    void onfile2CK(int state);
    void onfile3CK(int state);
    void onfile4CK(int state);
    void onfile5CK(int state);
    void onfile6CK(int state);
    void onfile7CK(int state);
    void onfile8CK(int state);
    void onMergefile();
    void onMergeBtn();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void browseRow(int index);
    void enableRow(int index, int state);
    std::array<QToolButton *, 8> browseButtons() const;
    void appendLog(const QString &line);
    void settingsToWidgets();
    void widgetsToSettings();

    Ui::MergeMainWindowForm *form;
    MergeSettings *settings;
    QList<QCheckBox *> enableBoxes;
    QList<QLineEdit *> nameEdits;
    QList<QComboBox *> addrCombos;
};

#endif // MERGEMAINWINDOW_H
