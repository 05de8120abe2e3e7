#include "DigestSink.h"

#include "Bytes.h"

DigestSink::DigestSink(const MergeLayout &layout)
    : fillByte(layout.fill)
    , fileCrcs(size_t(layout.placements.size()))
{
    for (size_t k = 0; k < fileCrcs.size(); ++k)
        fileShas.emplace_back(new Sha256);
}

DigestSink::~DigestSink() = default;

bool DigestSink::fill(qint64, qint64 count)
{
    const char *block = fillBlock(fillByte);
    for (qint64 left = count; left > 0; left -= fillBlockSize) {
        imageCrc.add(block, qMin(left, fillBlockSize));
        imageSha.add(block, qMin(left, fillBlockSize));
    }
    return true;
}

bool DigestSink::data(qint64, const char *bytes, qint64 count, const MergePiece &piece)
{
    if (piece.file >= 0) {
        fileCrcs[size_t(piece.file)].add(bytes, count);
        fileShas[size_t(piece.file)]->add(bytes, count);
    }
    imageCrc.add(bytes, count);
    imageSha.add(bytes, count);
    return true;
}

MergeDigests DigestSink::result()
{
    MergeDigests digests;
    for (size_t k = 0; k < fileCrcs.size(); ++k)
        digests.files.append({fileCrcs[k].hex(), fileShas[k]->result().toHex()});
    digests.image = {imageCrc.hex(), imageSha.result().toHex()};
    return digests;
}

bool ImageCrcSink::fill(qint64, qint64 count)
{
    const char *block = fillBlock(fillByte);
    for (qint64 left = count; left > 0; left -= fillBlockSize)
        crc.add(block, qMin(left, fillBlockSize));
    return true;
}

bool ImageCrcSink::data(qint64, const char *bytes, qint64 count, const MergePiece &)
{
    if (bytes) // a field's bytes that come later come in a format of records, never in the flat image
        crc.add(bytes, count);
    return true;
}
