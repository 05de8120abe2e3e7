#ifndef SIGNEDROW_H
#define SIGNEDROW_H

#include "MergeLayout.h"
#include "MergeMessages.h"
#include "input/Sources.h"

namespace Mcuboot {
struct Request;
}

// A row made into an MCUboot image where it lies: its bytes, from its lowest
// address with the holes erased, are the application; the image (header,
// application, TLVs, padding and trailer) is put in the merge's store and
// takes the row's place as one run. The key is read here, once.
namespace SignedRow {

// Whether input k is the row the request names: by its address, or the one
// row of a merge of a single file (the sign command's).
bool isRequested(const Mcuboot::Request &request, const SourceSet &sources, int k);
bool make(const Mcuboot::Request &request, SourceSet &sources, MergePlacement &placement, const Messages::Log &log);

} // namespace SignedRow

#endif // SIGNEDROW_H
