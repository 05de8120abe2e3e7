#include "MergeMainWindow.h"

#include <QApplication>
#include <QDir>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // The settings file and relative file names live beside the program, however
    // it was started.
    QDir::setCurrent(QCoreApplication::applicationDirPath());

    MergeMainWindow window;
    window.show();
    return app.exec();
}
