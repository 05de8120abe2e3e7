// Any command line (the bytes split at NUL into arguments): the option table
// takes it or says what is wrong, and what it takes is within the bounds the
// engine relies on.

#include "CliOptions.h"
#include "FuzzSupport.h"
#include "writers/ImageWriter.h"

#include <QDir>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzProcess &process = fuzzProcess();
    QStringList arguments{QStringLiteral("MergeFileCli")};
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    for (const QByteArray &argument : bytes.split('\0'))
        arguments << QString::fromUtf8(argument);
    if (arguments.size() > 64)
        return 0;
    // --settings makes the settings file's folder the current one.
    const QString current = QDir::currentPath();
    QDir::setCurrent(process.folder.path());
    CliOptions options;
    QString error;
    const bool ok = parseCommandLine(arguments, options, &error);
    QDir::setCurrent(current);
    if (!ok) {
        if (error.isEmpty())
            fault("a usage error that says nothing");
        return 0;
    }
    if (options.action != CliOptions::Action::Merge)
        return 0;
    const MergeOptions &m = options.merge;
    const OutputFormatInfo &format = m.format ? *m.format : OutputFormats::flat();
    if (m.base < 0 || m.base >= addressSpaceEnd || m.padTo < 0 || m.base + m.padTo > addressSpaceEnd
        || m.recordSize < 1 || (format.maxRecordSize > 0 && m.recordSize > format.maxRecordSize)
        || m.flashOrigin + m.flashSize > addressSpaceEnd || (m.sectorSize & (m.sectorSize - 1)) != 0)
        fault("an option out of its bounds");
    for (const MergeField &field : m.fields) {
        if (field.address < 0 || field.end() > addressSpaceEnd || (!field.wholeImage && !(field.from < field.to && field.to <= addressSpaceEnd)))
            fault("a field out of its bounds");
    }
    for (const MergeRow &row : options.rows) {
        if (row.address.kind == MergeAddress::At && !options.settingsGiven
            && (row.address.value < 0 || row.address.value >= addressSpaceEnd))
            fault("a pair's address out of 32 bits");
        if (row.slotSize < 0 || row.slotSize > addressSpaceEnd)
            fault("a slot out of its bounds");
    }
    return 0;
}
