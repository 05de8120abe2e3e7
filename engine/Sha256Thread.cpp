#include "Sha256Thread.h"

#include "Bytes.h"

#include <condition_variable>
#include <cstring>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// Enough for the caller to run ahead while a buffer is hashed.
constexpr int ringSize = 4;

} // namespace

struct Sha256Thread::Worker
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
    int filled = 0;          // slots handed over, not yet hashed
    int next = 0;            // the next slot to fill
    Slot *current = nullptr; // the slot being filled, not handed over yet
    bool done = false;       // the caller has finished
    std::thread thread;

    ~Worker()
    {
        if (thread.joinable()) {
            if (current)
                handOver();
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
        while (size > 0) {
            if (!current) {
                std::unique_lock<std::mutex> lock(mutex);
                changed.wait(lock, [&] { return filled < ringSize; });
                current = &ring[size_t(next)];
                current->size = 0;
            }
            const qint64 n = qMin(size, chunkSize - current->size);
            std::memcpy(current->data.get() + current->size, data, size_t(n));
            current->size += n;
            data += n;
            size -= n;
            if (current->size == chunkSize)
                handOver();
        }
    }

    // Hands over what is given and waits until all of it is hashed.
    void drain()
    {
        if (current)
            handOver();
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return filled == 0; });
    }

    void handOver()
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            next = (next + 1) % ringSize;
            ++filled;
        }
        current = nullptr;
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

Sha256Thread::Sha256Thread() = default;

Sha256Thread::~Sha256Thread() = default;

void Sha256Thread::start(bool secondThread)
{
    if (!secondThread || worker)
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

void Sha256Thread::add(const char *data, qint64 size)
{
    if (worker)
        worker->put(data, size);
    else
        sha.add(data, size);
}

QByteArray Sha256Thread::resultSoFar()
{
    if (worker)
        worker->drain(); // the second thread now waits: the hash is ours to read
    return sha.resultSoFar();
}

QByteArray Sha256Thread::finish()
{
    worker.reset(); // hashes what is left, then ends
    return sha.result();
}
