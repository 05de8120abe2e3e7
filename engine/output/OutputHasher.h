#ifndef OUTPUTHASHER_H
#define OUTPUTHASHER_H

#include "Checksums.h"

#include <memory>

// The SHA-256 of what is written, worked out on a second thread from the
// very bytes written: each write is copied into a free buffer of a small
// ring, which the second thread hashes while the writer goes on. Nothing is
// read back. Where no thread or buffers can be had, the bytes are hashed as
// they are written instead.
class OutputHasher
{
public:
    OutputHasher();
    ~OutputHasher();
    OutputHasher(const OutputHasher &) = delete;
    OutputHasher &operator=(const OutputHasher &) = delete;

    void start(bool secondThread);
    void add(const char *data, qint64 size);
    // Waits for the second thread; the 32-byte digest.
    QByteArray finish();

private:
    struct Worker;
    Sha256 sha;
    std::unique_ptr<Worker> worker; // the second thread, while it hashes
};

#endif // OUTPUTHASHER_H
