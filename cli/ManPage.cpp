// Writes MergeFileCli's manual page: the page's own text with the OPTIONS
// section made from the option table, which --help shows too, so that the
// two cannot say different things.
//   mergefile-manpage TEMPLATE OUT

#include "CliOptions.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 3) {
        std::fprintf(stderr, "usage: mergefile-manpage TEMPLATE OUT\n");
        return 2;
    }
    QFile in(args.at(1));
    if (!in.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "mergefile-manpage: cannot read %s\n", qPrintable(args.at(1)));
        return 1;
    }
    QString page = QString::fromUtf8(in.readAll());
    const QString placeholder = QStringLiteral(".\\\" (the options of MergeFileCli --help go here)\n");
    if (!page.contains(placeholder)) {
        std::fprintf(stderr, "mergefile-manpage: %s has no %s\n", qPrintable(args.at(1)), qPrintable(placeholder));
        return 1;
    }
    page.replace(placeholder, manPageOptions());
    QFile out(args.at(2));
    if (!out.open(QIODevice::WriteOnly) || out.write(page.toUtf8()) < 0 || !out.flush()) {
        std::fprintf(stderr, "mergefile-manpage: cannot write %s\n", qPrintable(args.at(2)));
        return 1;
    }
    return 0;
}
