#include "UnitWriter.h"

#include "input/Uf2Family.h"

#include <QtEndian>

#include <cstring>

namespace {

constexpr int blockSize = 512;
constexpr int payloadSize = 256;
constexpr quint32 familyFlag = 0x00002000;

void put32(unsigned char *at, quint32 value)
{
    qToLittleEndian(value, at);
}

// The USB Flashing Format, for boot loaders that show up as a drive: a
// 512-byte block for each 256 bytes at a 256-aligned address that the image
// has data in (gaps get none), numbered, each saying how many there are.
class Uf2Writer : public UnitWriter
{
public:
    Uf2Writer(ByteSink &output, const WriterSettings &settings)
        : UnitWriter(output, payloadSize, settings.fill())
        , family(settings.own.get<Uf2Family>().id)
        , total(settings.layout ? UnitWriter::countUnits(*settings.layout, payloadSize).units : 0)
    {
    }

protected:
    void units(qint64 index, const unsigned char *bytes, qint64 count, bool) override
    {
        for (; count > 0; --count, ++index, bytes += payloadSize) {
            auto *block = reinterpret_cast<unsigned char *>(reserve(blockSize));
            std::memset(block, 0, blockSize);
            put32(block, 0x0A324655);      // the first start magic
            put32(block + 4, 0x9E5D5157);  // the second
            put32(block + 8, family >= 0 ? familyFlag : 0);
            put32(block + 12, quint32(index * payloadSize));
            put32(block + 16, payloadSize);
            put32(block + 20, quint32(number++));
            put32(block + 24, quint32(total));
            put32(block + 28, family >= 0 ? quint32(family) : 0); // else the file size, unknown: 0
            std::memcpy(block + 32, bytes, payloadSize);
            put32(block + blockSize - 4, 0x0AB16F30); // the end magic
        }
    }
    void end() override {}
    qint64 fixedSize() const override { return 0; }
    qint64 sectionSize(qint64) const override { return 0; }
    qint64 unitsSize(qint64 count) const override { return blockSize * count; }

private:
    qint64 family;
    qint64 total;
    qint64 number = 0;
};

} // namespace

// Its family is UF2's one setting, an input option (Uf2Reader.cpp), since it
// also chooses the blocks read from UF2 inputs.
MERGEFILE_REGISTER(Uf2Writer)
{
    static const OutputFormatInfo format = [] {
        OutputFormatInfo f;
        f.name = "uf2";
        f.summary = "UF2 blocks for USB boot loaders (--uf2-family)";
        f.extensions = ".uf2";
        f.make = [](ByteSink &output, const WriterSettings &settings) {
            return std::unique_ptr<ImageWriter>(new Uf2Writer(output, settings));
        };
        return f;
    }();
    OutputFormats::add(format);
}
