#include "Checksums.h"

#include <QCryptographicHash>

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
