#include "ImageWriter.h"

// The output formats, in the order --help lists them: one row each, its
// writer in a file of its own.
#define MERGEFILE_OUTPUT_FORMATS(row) \
    row(rawImageFormat)               \
    row(intelHexFormat)               \
    row(sRecordFormat)

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

QStringList OutputFormats::names()
{
    QStringList list;
    for (const OutputFormatInfo *format : all())
        list << QLatin1String(format->name);
    return list;
}
