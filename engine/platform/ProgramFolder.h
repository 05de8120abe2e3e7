#ifndef PROGRAMFOLDER_H
#define PROGRAMFOLDER_H

#include <QString>
#include <QStringList>

// Whether the program's folder is the user's own, to keep the window's rows
// in, or a place the system installed it into. Not judged by whether it can
// be written: root, or an elevated Windows user, can write anywhere.
namespace ProgramFolder {

// The folders this build installs into, and the system's own for programs:
// the install prefix it was built for, on Windows the Program Files folders.
QStringList installFolders();
// Whether folder is one of them or lies inside one (both as they are on
// disk, links followed; on Windows in any case).
bool liesIn(const QString &folder, const QString &installFolder);
bool isInstalled(const QString &folder);
// Whether the user this process runs as owns folder; true where the system
// cannot tell (a file system without owners).
bool isOwnedByUser(const QString &folder);

} // namespace ProgramFolder

#endif // PROGRAMFOLDER_H
