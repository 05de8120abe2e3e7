#ifndef CLIOPTIONS_H
#define CLIOPTIONS_H

#include "MergeJob.h"

#include <QString>
#include <QStringList>
#include <QVector>

// Everything the command line asked for, checked: what to merge, where to,
// in which format and with which reports. Usage errors are found here,
// before any input is read.
struct CliOptions
{
    enum class Action { Merge, Help, Version };
    Action action = Action::Merge;
    QString helpText;

    QVector<MergeRow> rows;
    MergeJob::AddressRule addressRule = MergeJob::AddressRule::FullRange;
    bool detectInputs = true;
    qint64 base = defaultImageBase;

    QString output; // as messages name it; "-" for standard output
    bool toStandardOutput = false;
    OutputFormat format = OutputFormat::Raw;
    QString formatText = QStringLiteral("bin");
    int recordSize = 16;
    qint64 padTo = 0;
    char fill = imageFillByte;
    QVector<MergeField> fields;
    qint64 flashOrigin = 0;
    qint64 flashSize = 0; // 0: no flash given
    qint64 sectorSize = 0;

    bool wantMap = false;
    QString map; // an absolute name, or "-" for standard output
    bool printLayout = false;
    bool dryRun = false;
};

// Reads the arguments (the program's name first). For --settings it also
// reads the settings file and makes the folder that holds its cfg folder
// the current one, as the window's own folder is to the window. False with a
// one-line usage error.
bool parseCommandLine(const QStringList &arguments, CliOptions &options, QString *error);

// An argument whose bytes the system's encoding (UTF-8) cannot carry, shown
// with its odd bytes escaped; empty when there is none.
QString undecodableArgument(int argc, char *argv[]);

#endif // CLIOPTIONS_H
