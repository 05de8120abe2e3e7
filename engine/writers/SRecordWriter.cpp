#include "RecordWriter.h"

#include <cstring>

namespace {

const char headerText[] = "MergeFile";
constexpr int maxRecordSize = 250; // a record counts at most 255 bytes

// Motorola S-records: an S0 header, S3 data records with 32-bit addresses,
// an S7 end record.
class SRecordWriter : public RecordWriter
{
public:
    SRecordWriter(ByteSink &output, int recordSize)
        : RecordWriter(output, qMin(recordSize, maxRecordSize))
    {
    }

protected:
    qint64 recordLimit(qint64) const override { return recordSize; }
    qint64 headerSize() const override { return 2 * qint64(sizeof headerText - 1) + 11; }
    qint64 trailerSize() const override { return 15; }
    qint64 dataSize(qint64, qint64 count, qint64 &) const override
    {
        const qint64 rest = count % recordSize;
        return (count / recordSize) * (2 * recordSize + 15) + (rest ? 2 * rest + 15 : 0);
    }
    void header() override;
    void record(qint64 address, const unsigned char *bytes, int count) override;
    // No entry point is known: the end record says address 0.
    void trailer() override { std::memcpy(reserve(15), "S70500000000FA\n", 15); }
};

void SRecordWriter::header()
{
    const int length = int(sizeof headerText - 1);
    const auto *bytes = reinterpret_cast<const unsigned char *>(headerText);
    char *at = reserve(2 * length + 11);
    *at++ = 'S';
    *at++ = '0';
    at = putHex(at, quint32(length + 3), 2);
    at = putHex(at, 0, 4);
    unsigned sum = unsigned(length + 3);
    at = putBytes(at, bytes, length, sum);
    at = putHex(at, ~sum & 0xFF, 2);
    *at = '\n';
}

void SRecordWriter::record(qint64 address, const unsigned char *bytes, int count)
{
    const quint32 a = quint32(address);
    char *at = reserve(2 * count + 15);
    *at++ = 'S';
    *at++ = '3';
    at = putHex(at, quint32(count + 5), 2);
    at = putHex(at, a, 8);
    unsigned sum = unsigned(count + 5) + (a >> 24) + ((a >> 16) & 0xFF) + ((a >> 8) & 0xFF) + (a & 0xFF);
    at = putBytes(at, bytes, count, sum);
    at = putHex(at, ~sum & 0xFF, 2);
    *at = '\n';
}

} // namespace

MERGEFILE_REGISTER(SRecordWriter)
{
    static const OutputFormatInfo format = [] {
        OutputFormatInfo f;
        f.name = "srec";
        f.summary = "Motorola S-records, S3";
        f.extensions = ".srec .s19 .s28 .s37 .mot";
        f.maxRecordSize = maxRecordSize;
        f.make = [](ByteSink &output, const WriterSettings &settings) {
            return std::unique_ptr<ImageWriter>(new SRecordWriter(output, settings.recordSize));
        };
        return f;
    }();
    OutputFormats::add(format);
}
