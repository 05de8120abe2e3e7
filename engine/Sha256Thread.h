#ifndef SHA256THREAD_H
#define SHA256THREAD_H

#include "Checksums.h"

#include <memory>

// A SHA-256 worked out on a second thread while the caller goes on: the
// bytes given are copied into the buffers of a small ring, each handed over
// once full, which the second thread hashes. Small pieces cost a copy, not a
// wake-up each. Where no thread or buffers can be had, the bytes are hashed
// as they are given instead. The output's digest and a sha256 field over a
// large range both take it.
class Sha256Thread
{
public:
    Sha256Thread();
    ~Sha256Thread();
    Sha256Thread(const Sha256Thread &) = delete;
    Sha256Thread &operator=(const Sha256Thread &) = delete;

    // Bytes given before start() are hashed on the caller's thread.
    void start(bool secondThread);
    bool started() const { return bool(worker); }
    void add(const char *data, qint64 size);
    // Waits for the second thread to hash all given so far; their digest,
    // as Sha256::resultSoFar() gives it, while more may follow.
    QByteArray resultSoFar();
    // Waits for the second thread; the 32-byte digest.
    QByteArray finish();

private:
    struct Worker;
    Sha256 sha;
    std::unique_ptr<Worker> worker; // the second thread, while it hashes
};

#endif // SHA256THREAD_H
