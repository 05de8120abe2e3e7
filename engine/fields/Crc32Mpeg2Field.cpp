#include "FieldKind.h"

#include "CrcTables.h"

namespace {

// CRC-32/MPEG-2: what an STM32's CRC unit gives over bytes in address order.
class Crc32Mpeg2Sum : public FieldSum
{
public:
    void add(const char *data, qint64 size) override
    {
        static const std::array<quint32, 256> table = msbFirstTable<quint32>(0x04C11DB7u);
        const auto *p = reinterpret_cast<const unsigned char *>(data);
        quint32 c = crc;
        for (qint64 i = 0; i < size; ++i)
            c = (c << 8) ^ table[((c >> 24) ^ p[i]) & 0xFF];
        crc = c;
    }
    QByteArray bytes(bool bigEndian) override { return numberBytes(crc, 4, bigEndian); }

private:
    quint32 crc = 0xFFFFFFFFu;
};

} // namespace

MERGEFILE_REGISTER(Crc32Mpeg2Field)
{
    static const FieldKind kind = [] {
        FieldKind k;
        k.name = "crc32-mpeg2";
        k.size = 4;
        k.start = [] { return std::unique_ptr<FieldSum>(new Crc32Mpeg2Sum); };
        return k;
    }();
    FieldKinds::add(kind);
}
