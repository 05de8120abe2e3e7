#include "MergeMainWindow.h"

#include <QApplication>
#include <QDir>

#ifdef Q_OS_UNIX
#include <csignal>
#endif

int main(int argc, char *argv[])
{
#ifdef Q_OS_UNIX
    // Past a file size limit, or into a pipe whose reader went away, a write
    // fails and is reported in the log, instead of killing the window and its
    // rows.
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
#endif
    QApplication app(argc, argv);
    // The settings file and relative file names live beside the program, however
    // it was started.
    QDir::setCurrent(QCoreApplication::applicationDirPath());

    MergeMainWindow window;
    window.show();
    return app.exec();
}
