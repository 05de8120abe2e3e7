#include "OutputHasher.h"

#include "Bytes.h"

#include <condition_variable>
#include <cstring>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// Enough for the writer to run ahead while a buffer is hashed.
constexpr int ringSize = 4;

} // namespace

struct OutputHasher::Worker
{
    struct Slot
    {
        ChunkBuffer data;
        qint64 size = 0;
    };
    Sha256 *sha = nullptr;
    std::vector<Slot> ring;
    std::mutex mutex;
    std::condition_variable changed;
    int filled = 0;   // slots the writer has filled, not yet hashed
    int next = 0;     // the next slot to fill
    bool done = false; // the writer has finished
    std::thread thread;

    ~Worker()
    {
        if (thread.joinable()) {
            {
                std::lock_guard<std::mutex> lock(mutex);
                done = true;
            }
            changed.notify_all();
            thread.join();
        }
    }

    void put(const char *data, qint64 size)
    {
        Slot *slot;
        {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait(lock, [&] { return filled < ringSize; });
            slot = &ring[size_t(next)];
        }
        std::memcpy(slot->data.get(), data, size_t(size));
        slot->size = size;
        {
            std::lock_guard<std::mutex> lock(mutex);
            next = (next + 1) % ringSize;
            ++filled;
        }
        changed.notify_all();
    }

    void run()
    {
        int at = 0;
        for (;;) {
            {
                std::unique_lock<std::mutex> lock(mutex);
                changed.wait(lock, [&] { return filled > 0 || done; });
                if (filled == 0)
                    return;
            }
            sha->add(ring[size_t(at)].data.get(), ring[size_t(at)].size);
            at = (at + 1) % ringSize;
            {
                std::lock_guard<std::mutex> lock(mutex);
                --filled;
            }
            changed.notify_all();
        }
    }
};

OutputHasher::OutputHasher() = default;

OutputHasher::~OutputHasher() = default;

void OutputHasher::start(bool secondThread)
{
    if (!secondThread)
        return;
    std::unique_ptr<Worker> w(new Worker);
    w->sha = &sha;
    for (int i = 0; i < ringSize; ++i) {
        w->ring.push_back(Worker::Slot{allocateChunk(), 0});
        if (!w->ring.back().data)
            return; // hashed inline instead
    }
    try {
        w->thread = std::thread([raw = w.get()] { raw->run(); });
        worker = std::move(w);
    } catch (const std::exception &) {
        // No thread to be had (a process or memory limit): hashed inline.
    }
}

void OutputHasher::add(const char *data, qint64 size)
{
    if (!worker) {
        sha.add(data, size);
        return;
    }
    for (qint64 done = 0; done < size;) {
        const qint64 n = qMin(size - done, chunkSize);
        worker->put(data + done, n);
        done += n;
    }
}

QByteArray OutputHasher::finish()
{
    worker.reset(); // hashes what is left, then ends
    return sha.result();
}
