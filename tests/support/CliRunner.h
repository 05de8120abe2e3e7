#ifndef CLIRUNNER_H
#define CLIRUNNER_H

// Runs MergeFileCli, found beside the tests, as a build script would.

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QStringList>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

struct Run
{
    int exitCode = -1;
    QStringList out; // standard output, line by line
    QByteArray rawOut;
    QString err;
};

// Waits for a started process; a crash or a hang leaves exitCode at -1.
inline Run finishRun(QProcess &process, int timeoutMs)
{
    Run run;
    if (!process.waitForFinished(timeoutMs) || process.exitStatus() != QProcess::NormalExit)
        return run;
    run.exitCode = process.exitCode();
    run.rawOut = process.readAllStandardOutput();
    run.out = QString::fromUtf8(run.rawOut).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

inline QString cliProgram()
{
    return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral(MERGEFILECLI_PATH));
}

// Runs another program (a reader that is not ours) to its end: its standard
// output; exitCode -1 when it crashed or hung. What it said on standard error
// is shown where it failed.
inline QByteArray runTool(const QString &program, const QStringList &args, int *exitCode = nullptr)
{
    QProcess process;
    process.start(program, args);
    process.waitForFinished(120000);
    const int code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    if (code != 0)
        qWarning("%s: %s", qPrintable(program), process.readAllStandardError().constData());
    if (exitCode)
        *exitCode = code;
    return process.readAllStandardOutput();
}

// shellLimits: ulimit options for the program alone, such as "-v 2097152",
// several separated by ';'.
inline Run runCli(const QStringList &args, const QString &workingDir = QString(), const QString &shellLimits = QString())
{
    QProcess process;
    if (!workingDir.isEmpty())
        process.setWorkingDirectory(workingDir);
    const QString program = cliProgram();
    if (shellLimits.isEmpty())
        process.start(program, args);
    else
        process.start(QStringLiteral("/bin/sh"),
                      QStringList{"-c", QStringLiteral("ulimit %1 && exec \"$0\" \"$@\"")
                                                  .arg(shellLimits.split(QLatin1Char(';')).join(QLatin1String(" && ulimit "))),
                                  program} + args);
    return finishRun(process, 120000);
}

// As an unprivileged user where the tests run as root (whom no file mode
// stops), with its real and effective ids both changed: a program whose ids
// differ is refused by Qt as set-user-ID.
inline Run runCliUnprivileged(const QStringList &args)
{
    QProcess process;
#ifdef Q_OS_UNIX
    if (geteuid() == 0) {
        process.start(QStringLiteral("setpriv"), QStringList{"--reuid=65534", "--regid=65534", "--clear-groups", cliProgram()} + args);
        return finishRun(process, 120000);
    }
#endif
    process.start(cliProgram(), args);
    return finishRun(process, 120000);
}

#endif // CLIRUNNER_H
