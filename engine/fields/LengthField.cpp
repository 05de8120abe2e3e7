#include "FieldKind.h"

namespace {

// A 32-bit count of the bytes covered.
class LengthSum : public FieldSum
{
public:
    void add(const char *, qint64 size) override { count += quint64(size); }
    QByteArray bytes(bool bigEndian) override { return numberBytes(quint32(count), 4, bigEndian); }

private:
    quint64 count = 0;
};

} // namespace

MERGEFILE_REGISTER(LengthField)
{
    static const FieldKind kind = [] {
        FieldKind k;
        k.name = "length";
        k.size = 4;
        k.start = [] { return std::unique_ptr<FieldSum>(new LengthSum); };
        return k;
    }();
    FieldKinds::add(kind);
}
