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

private:
    struct Private;
    std::unique_ptr<Private> d;
};

#endif // CHECKSUMS_H
