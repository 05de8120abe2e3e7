#ifndef LAYOUTREPORT_H
#define LAYOUTREPORT_H

#include "MergeLayout.h"

#include <QStringList>

// The image map --layout and --dry-run print: a line per file, its origin and
// segments, slots, fields, erase sectors and the image's length.
QStringList layoutReport(const MergeLayout &layout);

#endif // LAYOUTREPORT_H
