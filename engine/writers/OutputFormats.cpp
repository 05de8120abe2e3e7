#include "ImageWriter.h"

#include <QFileInfo>

// The output formats, in the order --help lists them: one row each, its
// writer in a file of its own.
#define MERGEFILE_OUTPUT_FORMATS(row) \
    row(rawImageFormat)               \
    row(intelHexFormat)               \
    row(sRecordFormat)                \
    row(tiTxtFormat)                  \
    row(vmemFormat)                   \
    row(cArrayFormat)                 \
    row(uf2Format)

#define MERGEFILE_DECLARE(format) const OutputFormatInfo &format();
MERGEFILE_OUTPUT_FORMATS(MERGEFILE_DECLARE)
#undef MERGEFILE_DECLARE

const QVector<const OutputFormatInfo *> &OutputFormats::all()
{
#define MERGEFILE_LIST(format) &format(),
    static const QVector<const OutputFormatInfo *> formats{MERGEFILE_OUTPUT_FORMATS(MERGEFILE_LIST)};
#undef MERGEFILE_LIST
    return formats;
}

const OutputFormatInfo *OutputFormats::find(const QString &name)
{
    for (const OutputFormatInfo *format : all()) {
        if (name == QLatin1String(format->name))
            return format;
    }
    return nullptr;
}

const OutputFormatInfo &OutputFormats::flat()
{
    return rawImageFormat();
}

const OutputFormatInfo &OutputFormats::forFileName(const QString &fileName)
{
    const QString name = QFileInfo(fileName).fileName();
    for (const OutputFormatInfo *format : all()) {
        const QStringList endings = QString::fromLatin1(format->extensions).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        for (const QString &ending : endings) {
            if (name.endsWith(ending, Qt::CaseInsensitive) && name.size() > ending.size())
                return *format;
        }
    }
    return flat();
}

QStringList OutputFormats::names()
{
    QStringList list;
    for (const OutputFormatInfo *format : all())
        list << QLatin1String(format->name);
    return list;
}
