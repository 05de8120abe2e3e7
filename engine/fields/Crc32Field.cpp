#include "FieldKind.h"

#include "Checksums.h"

namespace {

// CRC-32/ISO-HDLC, as zlib and crc32 print it.
class Crc32Sum : public FieldSum
{
public:
    void add(const char *data, qint64 size) override { crc.add(data, size); }
    QByteArray bytes(bool bigEndian) override { return numberBytes(crc.result(), 4, bigEndian); }

private:
    Crc32 crc;
};

} // namespace

MERGEFILE_REGISTER(Crc32Field)
{
    static const FieldKind kind = [] {
        FieldKind k;
        k.name = "crc32";
        k.size = 4;
        k.start = [] { return std::unique_ptr<FieldSum>(new Crc32Sum); };
        return k;
    }();
    FieldKinds::add(kind);
}
