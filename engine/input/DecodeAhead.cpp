#include "SourceParts.h"

#include <exception>

// Record files decoded on a second thread while the first reads the others
// in turn: on two cores, two files at once.

void SourceSet::stopDecoding()
{
    if (decoder.joinable()) {
        {
            std::lock_guard<std::mutex> lock(decodeMutex);
            stopDecoder = true;
        }
        decodeChanged.notify_all();
        decoder.join();
    }
    stopDecoder = false;
    decoded.clear();
}

// A file being decoded, or waiting for it, is not put aside for the budget:
// the decoding thread reads it.
bool SourceSet::setAside(const Source &source) const
{
    std::lock_guard<std::mutex> lock(decodeMutex);
    for (size_t i = 0; i < decoded.size(); ++i) {
        if (sources[i].get() == &source)
            return decoded[i].state != Decoded::Waiting && decoded[i].state != Decoded::Decoding;
    }
    return true;
}

void SourceSet::decodeAhead()
{
    int records = 0;
    decoded.assign(sources.size(), Decoded());
    for (size_t k = 0; k < sources.size(); ++k) {
        const Source &source = *sources[k];
        // Text to decode, in a file that stays open: no stream, no ELF, no
        // file put aside for the budget.
        const bool text = source.reader && !source.reader->isRaw() && !source.reader->readsInPlace();
        if (text && !source.stream && source.fault == Fault::None && source.file.isOpen()) {
            decoded[k].state = Decoded::Waiting;
            ++records;
        }
    }
    if (records < 2)
        return; // nothing to do two at a time
    try {
        decoder = std::thread([this] { decodeWork(); });
    } catch (const std::exception &) {
        // No second thread to be had: read() decodes each in turn.
    }
}

void SourceSet::decode(Source &source, int store, Decoded &result)
{
    FileBytes bytes(source.file);
    result.result = source.reader->read(bytes, stores[store], readOptions, result.content, result.problem);
    result.store = store;
}

// The second thread: the first record file nobody decodes yet, again and
// again, into the second store.
void SourceSet::decodeWork()
{
    for (;;) {
        size_t k = 0;
        {
            std::lock_guard<std::mutex> lock(decodeMutex);
            while (k < decoded.size() && decoded[k].state != Decoded::Waiting)
                ++k;
            if (stopDecoder || k == decoded.size())
                return;
            decoded[k].state = Decoded::Decoding;
        }
        Decoded result;
        decode(*sources[k], 1, result);
        {
            std::lock_guard<std::mutex> lock(decodeMutex);
            result.state = Decoded::Done;
            decoded[k] = std::move(result);
        }
        decodeChanged.notify_all();
    }
}

// What the second thread, or this one while waiting for it, decoded of
// input k; false when it is not a file decoded ahead.
bool SourceSet::takeDecoded(int k, InputReader::Result &result, InputContent &content, QString &problem)
{
    Decoded *ahead = nullptr;
    std::unique_lock<std::mutex> lock(decodeMutex, std::defer_lock);
    if (size_t(k) < decoded.size()) {
        lock.lock(); // the second thread may be writing its state now
        if (decoded[size_t(k)].state != Decoded::None)
            ahead = &decoded[size_t(k)];
        else
            lock.unlock();
    }
    if (!ahead)
        return false;
    // Decoded by the second thread, or by this one now; while the second
    // thread still decodes it, this one decodes the next file waiting.
    while (ahead->state != Decoded::Done) {
        size_t next = size_t(k);
        while (next < decoded.size() && decoded[next].state != Decoded::Waiting)
            ++next;
        if (next == decoded.size()) {
            decodeChanged.wait(lock);
            continue;
        }
        decoded[next].state = Decoded::Decoding;
        lock.unlock();
        Decoded mine;
        decode(*sources[next], 0, mine);
        mine.state = Decoded::Done;
        lock.lock();
        decoded[next] = std::move(mine);
    }
    result = ahead->result;
    content = std::move(ahead->content);
    problem = ahead->problem;
    const quint8 store = quint8(ahead->store);
    lock.unlock();
    for (MergeSegment &segment : content.segments)
        segment.store = store;
    return true;
}
