#include "Checksums.h"

#include <QCryptographicHash>

#include <array>
#include <cstring>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#endif

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

QByteArray Sha256::resultSoFar() const
{
#ifdef MERGEFILE_HAVE_OPENSSL
    if (d->context) {
        EVP_MD_CTX *copy = EVP_MD_CTX_new();
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        const bool ok = copy && EVP_MD_CTX_copy_ex(copy, d->context) == 1
                        && EVP_DigestFinal_ex(copy, digest, &length) == 1;
        EVP_MD_CTX_free(copy);
        return ok ? QByteArray(reinterpret_cast<const char *>(digest), int(length)) : QByteArray();
    }
#endif
    return QByteArray();
}

bool Sha256::givesResultSoFar()
{
#ifdef MERGEFILE_HAVE_OPENSSL
    static const bool gives = !Sha256().resultSoFar().isEmpty();
    return gives;
#else
    return false;
#endif
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

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define MERGEFILE_CRC_FOLDING

// CRC-32 by carry-less multiplication, as Intel's "Fast CRC Computation for
// Generic Polynomials Using PCLMULQDQ" shows for the reflected polynomial:
// four lanes of 128 bits folded 64 bytes a step, then into one lane, then
// Barrett-reduced to 32 bits. length: at least 64, a multiple of 16. Takes
// and gives the running state (before the final inversion).
#define MERGEFILE_FOLDING_TARGET __attribute__((target("pclmul,sse4.1")))

MERGEFILE_FOLDING_TARGET inline __m128i load(const unsigned char *at)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(at));
}

// x times k folded onto y: the low halves by the first constant, the high by
// the second.
MERGEFILE_FOLDING_TARGET inline __m128i fold(__m128i x, __m128i k, __m128i y)
{
    return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11)), y);
}

MERGEFILE_FOLDING_TARGET quint32 foldCrc32(quint32 state, const unsigned char *p, qint64 length)
{
    alignas(16) static const quint64 k1k2[] = {0x0154442bd4, 0x01c6e41596};
    alignas(16) static const quint64 k3k4[] = {0x01751997d0, 0x00ccaa009e};
    alignas(16) static const quint64 k5k0[] = {0x0163cd6124, 0x0000000000};
    alignas(16) static const quint64 poly[] = {0x01db710641, 0x01f7011641};

    __m128i x1 = _mm_xor_si128(load(p), _mm_cvtsi32_si128(int(state)));
    __m128i x2 = load(p + 16);
    __m128i x3 = load(p + 32);
    __m128i x4 = load(p + 48);
    p += 64;
    length -= 64;
    __m128i k = _mm_load_si128(reinterpret_cast<const __m128i *>(k1k2));
    for (; length >= 64; p += 64, length -= 64) {
        x1 = fold(x1, k, load(p));
        x2 = fold(x2, k, load(p + 16));
        x3 = fold(x3, k, load(p + 32));
        x4 = fold(x4, k, load(p + 48));
    }
    k = _mm_load_si128(reinterpret_cast<const __m128i *>(k3k4));
    x1 = fold(x1, k, x2);
    x1 = fold(x1, k, x3);
    x1 = fold(x1, k, x4);
    for (; length >= 16; p += 16, length -= 16)
        x1 = fold(x1, k, load(p));

    // 128 bits to 64, then to 32 by Barrett reduction.
    const __m128i low32 = _mm_setr_epi32(-1, 0, -1, 0);
    x2 = _mm_clmulepi64_si128(x1, k, 0x10);
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), x2);
    k = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(k5k0));
    x2 = _mm_srli_si128(x1, 4);
    x1 = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, low32), k, 0x00), x2);
    k = _mm_load_si128(reinterpret_cast<const __m128i *>(poly));
    x2 = _mm_clmulepi64_si128(_mm_and_si128(x1, low32), k, 0x10);
    x2 = _mm_clmulepi64_si128(_mm_and_si128(x2, low32), k, 0x00);
    return quint32(_mm_extract_epi32(_mm_xor_si128(x1, x2), 1));
}

bool canFold()
{
    static const bool available = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    return available;
}
#endif

} // namespace

bool Crc32::foldingAvailable()
{
#ifdef MERGEFILE_CRC_FOLDING
    return canFold();
#else
    return false;
#endif
}

void Crc32::add(const char *data, qint64 size)
{
#ifdef MERGEFILE_CRC_FOLDING
    if (size >= 64 && canFold()) {
        const qint64 folded = size & ~qint64(15);
        state = foldCrc32(state, reinterpret_cast<const unsigned char *>(data), folded);
        data += folded;
        size -= folded;
    }
#endif
    addByTables(data, size);
}

void Crc32::addByTables(const char *data, qint64 size)
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
