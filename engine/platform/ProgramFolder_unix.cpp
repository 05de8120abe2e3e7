#include "ProgramFolder.h"

#include <QFile>

#include <sys/stat.h>
#include <unistd.h>

QStringList ProgramFolder::installFolders()
{
#ifdef MERGEFILE_INSTALL_PREFIX
    const QString prefix = QStringLiteral(MERGEFILE_INSTALL_PREFIX);
    // A prefix of / would make every folder an installed one.
    if (!prefix.isEmpty() && prefix != QLatin1String("/"))
        return {prefix};
#endif
    return {};
}

bool ProgramFolder::isOwnedByUser(const QString &folder)
{
    struct stat st;
    if (stat(QFile::encodeName(folder).constData(), &st) != 0)
        return true; // not there yet: whoever makes it owns it
    return st.st_uid == geteuid();
}
