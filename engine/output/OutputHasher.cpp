#include "OutputHasher.h"

#include "Bytes.h"

#include <condition_variable>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <thread>

struct OutputHasher::Reader
{
    FileHandle file;
    ChunkBuffer buffer;
    Sha256 *sha = nullptr;
    std::mutex mutex;
    std::condition_variable changed;
    qint64 published = 0; // bytes the writer has written
    bool done = false;    // the writer has finished
    bool stop = false;    // give up: the output is thrown away
    bool failed = false;
    std::thread thread;

    ~Reader()
    {
        if (thread.joinable()) {
            {
                std::lock_guard<std::mutex> lock(mutex);
                stop = true;
            }
            changed.notify_all();
            thread.join();
        }
    }

    void publish(qint64 bytes, bool finished)
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            published = bytes;
            done = finished;
        }
        changed.notify_all();
    }

    void run()
    {
        qint64 position = 0;
        for (;;) {
            qint64 upTo;
            {
                std::unique_lock<std::mutex> lock(mutex);
                changed.wait(lock, [&] { return published > position || done || stop; });
                if (stop || (done && position >= published))
                    return;
                upTo = published;
            }
            while (position < upTo) {
                const qint64 n = file.readAt(position, buffer.get(), qMin(chunkSize, upTo - position));
                if (n <= 0) {
                    failed = true;
                    return;
                }
                sha->add(buffer.get(), n);
                position += n;
            }
        }
    }
};

OutputHasher::OutputHasher() = default;

OutputHasher::~OutputHasher() = default;

void OutputHasher::start(const FileHandle *written, bool secondThread)
{
    if (!secondThread || !written)
        return;
    std::unique_ptr<Reader> r(new Reader);
    r->buffer = allocateChunk();
    r->sha = &sha;
    if (!r->buffer || !written->openReader(r->file))
        return; // hashed inline instead
    try {
        r->thread = std::thread([raw = r.get()] { raw->run(); });
        reader = std::move(r);
    } catch (const std::exception &) {
        // No thread to be had (a process or memory limit): hashed inline.
    }
}

void OutputHasher::wrote(const char *data, qint64 size, qint64 total)
{
    if (reader)
        reader->publish(total, false);
    else
        sha.add(data, size);
}

QByteArray OutputHasher::finish(qint64 total)
{
    if (reader) {
        reader->publish(total, true);
        reader->thread.join();
        const bool failed = reader->failed;
        reader.reset();
        if (failed)
            return QByteArray();
    }
    return sha.result();
}
