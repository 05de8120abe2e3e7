// Writes what is made from MergeFileCli's option table at build time, so that
// --help, the manual page and the shell's completion cannot say different
// things:
//   mergefile-docs manpage TEMPLATE OUT   the page's own text, its OPTIONS section from the table
//   mergefile-docs bash-completion OUT    the bash completion script

#include "CliOptions.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>

namespace {

bool write(const QString &path, const QString &text)
{
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(text.toUtf8()) < 0 || !out.flush()) {
        std::fprintf(stderr, "mergefile-docs: cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

int manPage(const QString &templatePath, const QString &outPath)
{
    QFile in(templatePath);
    if (!in.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "mergefile-docs: cannot read %s\n", qPrintable(templatePath));
        return 1;
    }
    QString page = QString::fromUtf8(in.readAll());
    const QString placeholder = QStringLiteral(".\\\" (the options of MergeFileCli --help go here)\n");
    if (!page.contains(placeholder)) {
        std::fprintf(stderr, "mergefile-docs: %s has no %s\n", qPrintable(templatePath), qPrintable(placeholder));
        return 1;
    }
    page.replace(placeholder, manPageOptions());
    const QString commands = QStringLiteral(".\\\" (the commands of MergeFileCli go here)\n");
    if (!page.contains(commands)) {
        std::fprintf(stderr, "mergefile-docs: %s has no %s\n", qPrintable(templatePath), qPrintable(commands));
        return 1;
    }
    page.replace(commands, manPageCommands());
    return write(outPath, page) ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() == 4 && args.at(1) == QLatin1String("manpage"))
        return manPage(args.at(2), args.at(3));
    if (args.size() == 3 && args.at(1) == QLatin1String("bash-completion"))
        return write(args.at(2), bashCompletion()) ? 0 : 1;
    std::fprintf(stderr, "usage: mergefile-docs manpage TEMPLATE OUT\n"
                         "       mergefile-docs bash-completion OUT\n");
    return 2;
}
