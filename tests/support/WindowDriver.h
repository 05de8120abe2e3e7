#ifndef WINDOWDRIVER_H
#define WINDOWDRIVER_H

// Reaches the real window's widgets by their object names, as a user would see
// them, and a few file helpers shared by the window tests.

#include "Files.h"
#include "MergeMainWindow.h"

#include <QCheckBox>
#include <QDir>
#include <QTemporaryDir>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTextEdit>
#include <QToolButton>

template <typename T>
T *widget(QWidget &window, const QString &name)
{
    T *w = window.findChild<T *>(name);
    if (!w)
        qFatal("no widget named %s", qPrintable(name));
    return w;
}

inline QString rowName(int row, const char *kind)
{
    return QStringLiteral("file%1%2").arg(row).arg(QLatin1String(kind));
}

inline QCheckBox *enableBox(QWidget &w, int row) { return widget<QCheckBox>(w, rowName(row, "Ck")); }
inline QLineEdit *nameEdit(QWidget &w, int row) { return widget<QLineEdit>(w, rowName(row, "LEdt")); }
inline QToolButton *browseButton(QWidget &w, int row) { return widget<QToolButton>(w, rowName(row, "Btn")); }
inline QComboBox *addressBox(QWidget &w, int row) { return widget<QComboBox>(w, rowName(row, "CoBx")); }
inline QLineEdit *outputEdit(QWidget &w) { return widget<QLineEdit>(w, QStringLiteral("mergefileLEdt")); }
inline QToolButton *outputButton(QWidget &w) { return widget<QToolButton>(w, QStringLiteral("mergefileBtn")); }
inline QTextEdit *logView(QWidget &w) { return widget<QTextEdit>(w, QStringLiteral("teLog")); }

inline void setRow(QWidget &w, int row, bool enabled, const QString &name, const QString &address)
{
    QCheckBox *box = enableBox(w, row);
    if (box->isChecked() != enabled)
        QTest::mouseClick(box, Qt::LeftButton);
    nameEdit(w, row)->setText(name);
    addressBox(w, row)->setEditText(address);
}

inline QStringList merge(QWidget &w)
{
    QTest::mouseClick(widget<QPushButton>(w, QStringLiteral("mergeBtn")), Qt::LeftButton);
    return logView(w)->toPlainText().split(QLatin1Char('\n'));
}

inline QByteArray fill(int count)
{
    return QByteArray(count, char(0xFF));
}

#endif // WINDOWDRIVER_H
