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

// When each field is worked out (FieldTiming): while the image is written
// wherever the output allows, so that the files are read once; before it
// where valuesFirst asks for them early (to show them), where a field covers
// another field's bytes, or where only a walk of its range can tell its value
// at its place. recordOutput: the output's records may come in any order;
// imageDigests: the flat image is hashed in address order as it goes.
void schedule(MergeLayout &layout, bool valuesFirst, bool recordOutput, bool imageDigests);

// Whether field k, worked out as the image is written, is the SHA-256 of
// every byte of the image before it and of nothing after it: in the flat
// image, the digest of the output so far, which its hash holds anyway.
bool isDigestOfAllBefore(const MergeLayout &layout, int k);

// The one rule that feeds field k its bytes, the same when its value is
// worked out and when it is checked against what is written: of a run of
// the image at address (bytes null: fill), the part in the field's range;
// the field's own bytes left out, the fields after it counted as fill (they
// are not in place yet), those before it as they are.
void feed(const MergeLayout &layout, int k, FieldSum &sum, qint64 address, const char *bytes, qint64 count,
          int ownerField);

} // namespace FieldPlan

#endif // FIELDPLAN_H
