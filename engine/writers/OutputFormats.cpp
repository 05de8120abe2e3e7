#include "ImageWriter.h"

#include <QFileInfo>

const OutputFormatInfo &rawImageFormat();

void OutputFormats::add(const OutputFormatInfo &format)
{
    Registry<OutputFormatInfo>::add(format);
}

const QVector<const OutputFormatInfo *> &OutputFormats::all()
{
    return Registry<OutputFormatInfo>::all();
}

const OutputFormatInfo *OutputFormats::find(const QString &name)
{
    return Registry<OutputFormatInfo>::find(name);
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
    return Registry<OutputFormatInfo>::names();
}
