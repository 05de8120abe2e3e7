#ifndef LAYOUTPLANNER_H
#define LAYOUTPLANNER_H

#include "MergeLayout.h"
#include "MergeMessages.h"
#include "input/Sources.h"

#include <memory>

namespace Mcuboot {
struct Request;
}

// Reads the inputs and lays them out: where each file lands, the pieces of
// the image in address order, the fill between them. Two rules, and which
// one applies follows from what the inputs are once told:
// - raw data alone keeps the window's rule: files in address order, each
//   read just before it is placed, each checked against the next file's
//   address with the window's messages;
// - wherever an input of another format takes part (or a file at its
//   own addresses, or trimming), every file is read, then any two that share
//   an address are refused, naming both, unless the overlap policy says
//   which keeps it.
class LayoutPlanner
{
public:
    LayoutPlanner(SourceSet &sources, Messages::Log log);

    // Fills placements, pieces and leadingFill of layout, whose base is set;
    // dataEnd: the first address after the last file.
    bool plan(bool detectFormats, MergeLayout &layout, qint64 *dataEnd);
    // What wins where files meet, and which of their bytes are kept: any of
    // these, and the piece rule applies to raw data too.
    void setTrimming(OverlapPolicy policy, QVector<AddressRange> crop, QVector<AddressRange> exclude)
    {
        overlap = policy;
        this->crop = std::move(crop);
        this->exclude = std::move(exclude);
    }
    // A row made into an MCUboot image before it is laid out; the piece rule
    // then applies, the image being no longer the file.
    void setSigned(std::shared_ptr<const Mcuboot::Request> request) { signing = std::move(request); }
    // Ends the image: up to padTo bytes of trailing fill (0: none; an image
    // already longer is refused), and its size.
    bool finish(MergeLayout &layout, qint64 dataEnd, qint64 padTo);

private:
    bool windowRule(MergeLayout &layout, qint64 *dataEnd);
    bool pieceRule(MergeLayout &layout, qint64 *dataEnd);
    MergePlacement placed(int k, InputContent &content) const;
    bool settleSegments(MergePlacement &placement);
    void orderPieces(MergeLayout &layout) const;
    bool fail(const Refusal &refusal);

    SourceSet &sources;
    Messages::Log log;
    OverlapPolicy overlap = OverlapPolicy::Refuse;
    QVector<AddressRange> crop;
    QVector<AddressRange> exclude;
    std::shared_ptr<const Mcuboot::Request> signing;
};

#endif // LAYOUTPLANNER_H
