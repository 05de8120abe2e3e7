#ifndef LAYOUTREPORT_H
#define LAYOUTREPORT_H

#include "MergeLayout.h"

#include <QString>

#include <functional>

// The image map --layout and --dry-run print, a line at a time as it is made:
// a line per file, its origin and segments, slots, fields, erase sectors and
// the image's length.
void layoutReport(const MergeLayout &layout, const std::function<void(const QString &)> &line);

#endif // LAYOUTREPORT_H
