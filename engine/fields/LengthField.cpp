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

const FieldKind &lengthField()
{
    static const FieldKind kind{"length", 4, [] { return std::unique_ptr<FieldSum>(new LengthSum); }};
    return kind;
}
