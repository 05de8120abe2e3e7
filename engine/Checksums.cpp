#include "Checksums.h"

#include <QCryptographicHash>

#include <array>
#include <cstring>

#ifdef MERGEFILE_HAVE_OPENSSL
#include <openssl/evp.h>
#endif

struct Sha256::Private
{
#ifdef MERGEFILE_HAVE_OPENSSL
    // Several times faster than QCryptographicHash where the CPU has SHA instructions.
    EVP_MD_CTX *context = nullptr;
#endif
    QCryptographicHash fallback{QCryptographicHash::Sha256};
};

Sha256::Sha256()
    : d(new Private)
{
#ifdef MERGEFILE_HAVE_OPENSSL
    d->context = EVP_MD_CTX_new();
    if (d->context && EVP_DigestInit_ex(d->context, EVP_sha256(), nullptr) != 1) {
        EVP_MD_CTX_free(d->context);
        d->context = nullptr;
    }
#endif
}

Sha256::~Sha256()
{
#ifdef MERGEFILE_HAVE_OPENSSL
    EVP_MD_CTX_free(d->context);
#endif
}

void Sha256::add(const char *data, qint64 size)
{
    const qint64 chunkLimit = 1 << 30;
    for (qint64 done = 0; done < size; done += chunkLimit) {
        const int chunk = int(qMin(size - done, chunkLimit));
#ifdef MERGEFILE_HAVE_OPENSSL
        if (d->context) {
            EVP_DigestUpdate(d->context, data + done, size_t(chunk));
            continue;
        }
#endif
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
        d->fallback.addData(QByteArrayView(data + done, chunk));
#else
        d->fallback.addData(data + done, chunk);
#endif
    }
}

QByteArray Sha256::result()
{
#ifdef MERGEFILE_HAVE_OPENSSL
    if (d->context) {
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        if (EVP_DigestFinal_ex(d->context, digest, &length) == 1)
            return QByteArray(reinterpret_cast<const char *>(digest), int(length));
        return QByteArray();
    }
#endif
    return d->fallback.result();
}

namespace {

// Eight tables, so that eight bytes are folded in per step.
using CrcTables = std::array<std::array<quint32, 256>, 8>;

const CrcTables &crcTables()
{
    static const CrcTables tables = [] {
        CrcTables t;
        for (quint32 i = 0; i < 256; ++i) {
            quint32 c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[0][i] = c;
        }
        for (quint32 i = 0; i < 256; ++i) {
            for (size_t k = 1; k < 8; ++k)
                t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
        }
        return t;
    }();
    return tables;
}

} // namespace

void Crc32::add(const char *data, qint64 size)
{
    const CrcTables &t = crcTables();
    const auto *p = reinterpret_cast<const unsigned char *>(data);
    quint32 c = state;
    for (; size >= 8; size -= 8, p += 8) {
        const quint32 low = c ^ (quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24);
        const quint32 high = quint32(p[4]) | quint32(p[5]) << 8 | quint32(p[6]) << 16 | quint32(p[7]) << 24;
        c = t[7][low & 0xFF] ^ t[6][(low >> 8) & 0xFF] ^ t[5][(low >> 16) & 0xFF] ^ t[4][low >> 24]
            ^ t[3][high & 0xFF] ^ t[2][(high >> 8) & 0xFF] ^ t[1][(high >> 16) & 0xFF] ^ t[0][high >> 24];
    }
    for (; size > 0; --size, ++p)
        c = t[0][(c ^ *p) & 0xFF] ^ (c >> 8);
    state = c;
}

QByteArray Crc32::hex() const
{
    return QByteArray::number(result(), 16).rightJustified(8, '0');
}
