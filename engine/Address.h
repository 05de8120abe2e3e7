#ifndef ADDRESS_H
#define ADDRESS_H

#include "MergeOptions.h"

#include <QString>

// The one place address and number texts are read.
namespace Address {

// The window's rule: base 16, blanks around, an optional sign and 0x; 0 when
// the text does not convert in full or does not fit a signed 32-bit integer
// (ok then says false).
qint32 fromWindowText(const QString &text, bool *ok = nullptr);
// A row as the window holds it, its address text read by the window's rule;
// an empty text is no address at all.
MergeRow windowRow(bool enabled, const QString &fileName, const QString &addressText);

// A pair's address on the command line: 0 to FFFFFFFF (with or without 0x),
// or "-" for an input at its own addresses. False for any other text.
bool fromPairText(const QString &text, MergeAddress *address);

// A hexadecimal number from 0 to most, with or without 0x.
bool hexNumber(const QString &text, qint64 most, qint64 *value);

// A range FROM-TO of hexadecimal addresses, TO the first address after it:
// FROM below TO, TO at most 100000000.
bool range(const QString &text, AddressRange *range);

// Ranges in address order, empty ones left out, those that meet or touch
// made one.
QVector<AddressRange> joined(QVector<AddressRange> ranges);

// As messages and reports show an address: 0x and eight upper-case digits.
QString hex(qint64 address);

} // namespace Address

#endif // ADDRESS_H
