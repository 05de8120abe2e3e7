#include "FieldKind.h"

#include "Checksums.h"

namespace {

// The 32 bytes of a SHA-256 digest, the same in either byte order.
class Sha256Sum : public FieldSum
{
public:
    void add(const char *data, qint64 size) override { sha.add(data, size); }
    QByteArray bytes(bool) override { return sha.result(); }

private:
    Sha256 sha;
};

} // namespace

const FieldKind &sha256Field()
{
    static const FieldKind kind{"sha256", 32, [] { return std::unique_ptr<FieldSum>(new Sha256Sum); }};
    return kind;
}
