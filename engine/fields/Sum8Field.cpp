#include "FieldKind.h"

namespace {

// The byte sum modulo 256.
class Sum8 : public FieldSum
{
public:
    void add(const char *data, qint64 size) override
    {
        const auto *p = reinterpret_cast<const unsigned char *>(data);
        for (qint64 i = 0; i < size; ++i)
            sum = quint8(sum + p[i]);
    }
    QByteArray bytes(bool) override { return QByteArray(1, char(sum)); }

private:
    quint8 sum = 0;
};

} // namespace

MERGEFILE_REGISTER(Sum8Field)
{
    static const FieldKind kind = [] {
        FieldKind k;
        k.name = "sum8";
        k.size = 1;
        k.start = [] { return std::unique_ptr<FieldSum>(new Sum8); };
        return k;
    }();
    FieldKinds::add(kind);
}
