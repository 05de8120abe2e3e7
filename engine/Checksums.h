#ifndef CHECKSUMS_H
#define CHECKSUMS_H

#include <QByteArray>
#include <QtGlobal>

#include <memory>

// SHA-256 fed piece by piece. Everything it needs is allocated when it is
// made, so add() can run on another thread without allocating.
class Sha256
{
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256 &) = delete;
    Sha256 &operator=(const Sha256 &) = delete;

    void add(const char *data, qint64 size);
    QByteArray result(); // the 32-byte digest
    // The digest of the bytes added so far, while more may follow; empty
    // where the hash cannot be copied (a build without OpenSSL).
    QByteArray resultSoFar() const;
    static bool givesResultSoFar();

private:
    struct Private;
    std::unique_ptr<Private> d;
};

// CRC-32 as zlib, PNG and the crc32 tools compute it (reflected polynomial
// 0xEDB88320, initial and final XOR with all ones).
class Crc32
{
public:
    // By carry-less multiplication where the CPU has it (16 bytes in about a
    // cycle), by tables eight bytes a step otherwise.
    void add(const char *data, qint64 size);
    // The tables alone, whatever the CPU has.
    void addByTables(const char *data, qint64 size);
    static bool foldingAvailable();
    quint32 result() const { return ~state; }
    // The eight hexadecimal digits that crc32 tools print.
    QByteArray hex() const;

private:
    quint32 state = 0xFFFFFFFFu;
};

#endif // CHECKSUMS_H
