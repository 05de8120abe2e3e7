#ifndef LAYOUTREPORT_H
#define LAYOUTREPORT_H

#include "MergeLayout.h"

#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <functional>

// The image map --layout and --dry-run print, a line at a time as it is made:
// a line per file, its origin and segments, slots, fields, erase sectors and
// the image's length.
void layoutReport(const MergeLayout &layout, const std::function<void(const QString &)> &line);

// An MCUboot image's header, TLVs and trailer (Mcuboot::ImageInfo::details())
// in lines of text, each after indent; the image's first byte at address.
QStringList mcubootLines(const QVariantMap &details, qint64 address, const QString &indent);

#endif // LAYOUTREPORT_H
