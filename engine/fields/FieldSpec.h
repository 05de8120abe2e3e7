#ifndef FIELDSPEC_H
#define FIELDSPEC_H

#include "MergeLayout.h"

#include <QString>

// Reads KIND@ADDR[,FROM-TO][,be] (hexadecimal addresses, TO the first
// address after the range); false with what is wrong.
bool parseField(const QString &text, MergeField *field, QString *problem);

#endif // FIELDSPEC_H
