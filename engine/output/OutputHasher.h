#ifndef OUTPUTHASHER_H
#define OUTPUTHASHER_H

#include "Checksums.h"
#include "platform/FileHandle.h"

#include <memory>

// The SHA-256 of what is written to a file, worked out by a second thread
// that reads the file back behind the writer: the hashing overlaps both the
// writing and the final sync. Where no thread or reader can be had, the
// bytes are hashed as they are written instead.
class OutputHasher
{
public:
    OutputHasher();
    ~OutputHasher();
    OutputHasher(const OutputHasher &) = delete;
    OutputHasher &operator=(const OutputHasher &) = delete;

    // written: the file the bytes go to, or null for a device or pipe, which
    // cannot be read back.
    void start(const FileHandle *written, bool secondThread);
    // After each write: its bytes, and how many have been written in all.
    void wrote(const char *data, qint64 size, qint64 total);
    // Waits for the second thread; the digest, or empty when reading back
    // failed.
    QByteArray finish(qint64 total);

private:
    struct Reader;
    Sha256 sha;
    std::unique_ptr<Reader> reader; // the second thread, while it reads back
};

#endif // OUTPUTHASHER_H
