#ifndef DIGESTSINK_H
#define DIGESTSINK_H

#include "Checksums.h"
#include "ImageSink.h"

#include <memory>
#include <vector>

// The checksums a map shows: the flat image's (fill included, whatever the
// output format) and each file's over its data bytes in address order.
class DigestSink : public ImageSink
{
public:
    explicit DigestSink(const MergeLayout &layout);
    ~DigestSink() override;

    bool fill(qint64 address, qint64 count) override;
    bool data(qint64 address, const char *bytes, qint64 count, const MergePiece &piece) override;
    MergeDigests result();

private:
    char fillByte;
    Crc32 imageCrc;
    Sha256 imageSha;
    std::vector<Crc32> fileCrcs;
    std::vector<std::unique_ptr<Sha256>> fileShas;
};

// The flat image's CRC-32 as the walk hands it out, fill included: what the
// bytes written of a flat image must give.
class ImageCrcSink : public ImageSink
{
public:
    explicit ImageCrcSink(char fillByte)
        : fillByte(fillByte)
    {
    }
    bool fill(qint64 address, qint64 count) override;
    bool data(qint64 address, const char *bytes, qint64 count, const MergePiece &piece) override;
    quint32 result() const { return crc.result(); }

private:
    char fillByte;
    Crc32 crc;
};

#endif // DIGESTSINK_H
