#include "Interrupts.h"

#include "InterruptState.h"

#include <cstdlib>

namespace Interrupts {
namespace detail {

std::atomic<void *> names[slotCount];
std::atomic<int> handlersRunning{0};
std::atomic<int> deferDepth{0};
std::atomic<int> pendingStop{0};

void removeAll()
{
    for (auto &slot : names) {
        if (const void *name = slot.load())
            removeFile(name);
    }
}

} // namespace detail

using namespace detail;

int removeOnInterrupt(const QString &name)
{
    install();
    void *copy = copyName(name);
    if (!copy)
        return -1;
    for (int i = 0; i < slotCount; ++i) {
        void *empty = nullptr;
        if (names[i].compare_exchange_strong(empty, copy))
            return i;
    }
    std::free(copy);
    return -1;
}

void forget(int token)
{
    if (token < 0 || token >= slotCount)
        return;
    void *name = names[token].exchange(nullptr);
    while (handlersRunning.load() > 0) {
        // A handler on another thread may still be reading the name.
    }
    std::free(name);
}

Deferred::Deferred()
{
    install();
    ++deferDepth;
}

Deferred::~Deferred()
{
    if (--deferDepth == 0) {
        const int signal = pendingStop.exchange(0);
        if (signal != 0) {
            removeAll();
            endNow(signal);
        }
    }
}

} // namespace Interrupts
