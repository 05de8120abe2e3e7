#include "FieldKind.h"

#include "Sha256Thread.h"

namespace {

// Past this many bytes the digest is worked out on a second thread, beside
// the writing; a small range is not worth a thread.
constexpr qint64 secondThreadFrom = qint64(4) << 20;

// The 32 bytes of a SHA-256 digest, the same in either byte order.
class Sha256Sum : public FieldSum
{
public:
    void add(const char *data, qint64 size) override
    {
        added += size;
        if (added > secondThreadFrom)
            sha.start(true);
        sha.add(data, size);
    }
    QByteArray bytes(bool) override { return sha.finish(); }

private:
    Sha256Thread sha;
    qint64 added = 0;
};

} // namespace

MERGEFILE_REGISTER(Sha256Field)
{
    static const FieldKind kind = [] {
        FieldKind k;
        k.name = "sha256";
        k.size = 32;
        k.start = [] { return std::unique_ptr<FieldSum>(new Sha256Sum); };
        k.isSha256 = true;
        return k;
    }();
    FieldKinds::add(kind);
}
