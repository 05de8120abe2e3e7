#include "RecordWriter.h"

#include <cstring>

namespace {

// Intel HEX with 32-bit addresses: an extended linear address record wherever
// the upper 16 bits change, data records that never cross a 64 KiB boundary,
// one end-of-file record.
class IntelHexWriter : public RecordWriter
{
public:
    using RecordWriter::RecordWriter;

protected:
    qint64 recordLimit(qint64 address) const override { return qMin<qint64>(recordSize, 0x10000 - (address & 0xFFFF)); }
    qint64 headerSize() const override { return 0; }
    qint64 trailerSize() const override { return 12; }
    qint64 dataSize(qint64 address, qint64 count, qint64 &lastUpper) const override;
    void header() override {}
    void record(qint64 address, const unsigned char *bytes, int count) override;
    void trailer() override { std::memcpy(reserve(12), ":00000001FF\n", 12); }

private:
    qint64 upper = -1; // upper 16 address bits of the last extended address record
};

qint64 IntelHexWriter::dataSize(qint64 address, qint64 count, qint64 &lastUpper) const
{
    // Mirrors data() and record(): per 64 KiB segment one extended address
    // record (when the segment is new), full records and one shorter one.
    qint64 total = 0;
    while (count > 0) {
        const qint64 segment = qMin(count, 0x10000 - (address & 0xFFFF));
        if ((address >> 16) != lastUpper)
            total += 16;
        lastUpper = address >> 16;
        const qint64 rest = segment % recordSize;
        total += (segment / recordSize) * (2 * recordSize + 12) + (rest ? 2 * rest + 12 : 0);
        address += segment;
        count -= segment;
    }
    return total;
}

void IntelHexWriter::record(qint64 address, const unsigned char *bytes, int count)
{
    if ((address >> 16) != upper) {
        upper = address >> 16;
        char *at = reserve(16);
        const unsigned sum = 2 + 4 + unsigned(upper >> 8) + unsigned(upper & 0xFF);
        std::memcpy(at, ":02000004", 9);
        at = putHex(at + 9, quint32(upper), 4);
        at = putHex(at, (0x100 - (sum & 0xFF)) & 0xFF, 2);
        *at = '\n';
    }
    const quint32 offset = quint32(address & 0xFFFF);
    char *at = reserve(2 * count + 12);
    *at++ = ':';
    at = putHex(at, quint32(count), 2);
    at = putHex(at, offset, 4);
    *at++ = '0';
    *at++ = '0';
    unsigned sum = unsigned(count) + (offset >> 8) + (offset & 0xFF);
    at = putBytes(at, bytes, count, sum);
    at = putHex(at, (0x100 - (sum & 0xFF)) & 0xFF, 2);
    *at = '\n';
}

} // namespace

MERGEFILE_REGISTER(IntelHexWriter)
{
    static const OutputFormatInfo format = [] {
        OutputFormatInfo f;
        f.name = "hex";
        f.summary = "Intel HEX, 32-bit addresses";
        f.extensions = ".hex .ihex .ihx";
        f.maxRecordSize = 255; // a record counts its bytes in one byte
        f.make = [](ByteSink &output, const WriterSettings &settings) {
            return std::unique_ptr<ImageWriter>(new IntelHexWriter(output, settings.recordSize));
        };
        return f;
    }();
    OutputFormats::add(format);
}
