#ifndef FIELDPLAN_H
#define FIELDPLAN_H

#include "FieldKind.h"
#include "MergeLayout.h"
#include "MergeMessages.h"

// Where fields go and what each one covers.
namespace FieldPlan {

// Puts the fields into the layout among its pieces: on fill, or past the end
// (dataEnd grows to hold them), never on a file's bytes or on one another.
bool place(MergeLayout &layout, const QVector<MergeField> &fields, qint64 *dataEnd, const Messages::Log &log);
// Once the image's size is known (padding included): each field's range, the
// whole image or the range given, which must lie in the image and not hold
// the field itself.
bool settleRanges(MergeLayout &layout, const Messages::Log &log);

// The one rule that feeds field k its bytes, the same when its value is
// worked out and when it is checked against what is written: of a run of
// the image at address (bytes null: fill), the part in the field's range;
// the field's own bytes left out, the fields after it counted as fill (they
// are not in place yet), those before it as they are.
void feed(const MergeLayout &layout, int k, FieldSum &sum, qint64 address, const char *bytes, qint64 count,
          int ownerField);

} // namespace FieldPlan

#endif // FIELDPLAN_H
