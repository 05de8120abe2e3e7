#include "FieldKind.h"

#include "CrcTables.h"

namespace {

// CRC-16 with the CCITT polynomial, not reflected, no final XOR: the two
// catalogue entries differ only in where they start.
template <quint16 initial>
class Crc16Sum : public FieldSum
{
public:
    void add(const char *data, qint64 size) override
    {
        static const std::array<quint16, 256> table = msbFirstTable<quint16>(0x1021);
        const auto *p = reinterpret_cast<const unsigned char *>(data);
        quint16 c = crc;
        for (qint64 i = 0; i < size; ++i)
            c = quint16((c << 8) ^ table[((c >> 8) ^ p[i]) & 0xFF]);
        crc = c;
    }
    QByteArray bytes(bool bigEndian) override { return numberBytes(crc, 2, bigEndian); }

private:
    quint16 crc = initial;
};

} // namespace

// CRC-16/CCITT-FALSE.
const FieldKind &crc16CcittField()
{
    static const FieldKind kind = [] {
        FieldKind k;
        k.name = "crc16-ccitt";
        k.size = 2;
        k.start = [] { return std::unique_ptr<FieldSum>(new Crc16Sum<0xFFFF>); };
        return k;
    }();
    return kind;
}

// CRC-16/XMODEM.
const FieldKind &crc16XmodemField()
{
    static const FieldKind kind = [] {
        FieldKind k;
        k.name = "crc16-xmodem";
        k.size = 2;
        k.start = [] { return std::unique_ptr<FieldSum>(new Crc16Sum<0>); };
        return k;
    }();
    return kind;
}

MERGEFILE_REGISTER(Crc16Fields)
{
    FieldKinds::add(crc16CcittField());
    FieldKinds::add(crc16XmodemField());
}
