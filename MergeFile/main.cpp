#include "MergeMainWindow.h"
#include "platform/ProcessIo.h"

#include <QApplication>
#include <QDir>

int main(int argc, char *argv[])
{
    // A failed write is reported in the log, instead of ending the window
    // and every row typed since it started.
    ProcessIo::keepRunningOnFailedWrites();
    QApplication app(argc, argv);
    // The settings file and relative file names live beside the program, however
    // it was started.
    QDir::setCurrent(QCoreApplication::applicationDirPath());

    MergeMainWindow window;
    window.show();
    return app.exec();
}
