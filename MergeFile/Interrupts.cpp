#include "Interrupts.h"

#include <QDir>
#include <QFile>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <csignal>
#include <pthread.h>
#include <unistd.h>
#endif

namespace {

#ifdef Q_OS_WIN
using NativeChar = wchar_t;
#else
using NativeChar = char;
#endif

// Names to remove, kept where a signal handler can reach them without
// allocating: a handler only reads these slots and calls the system.
constexpr int slotCount = 64;
std::atomic<NativeChar *> names[slotCount];
std::atomic<int> handlersRunning{0};
std::atomic<int> deferDepth{0};
std::atomic<int> pendingStop{0};
std::once_flag installed;

void removeAll()
{
    for (auto &slot : names) {
        if (const NativeChar *name = slot.load()) {
#ifdef Q_OS_WIN
            DeleteFileW(name);
#else
            unlink(name);
#endif
        }
    }
}

#ifdef Q_OS_WIN

// Runs on a thread of its own; returning FALSE lets Windows end the process.
BOOL WINAPI onConsoleEvent(DWORD)
{
    while (deferDepth.load() > 0)
        Sleep(20);
    ++handlersRunning;
    removeAll();
    --handlersRunning;
    return FALSE;
}

void install()
{
    std::call_once(installed, [] { SetConsoleCtrlHandler(onConsoleEvent, TRUE); });
}

void endNow(int)
{
}

NativeChar *copyName(const QString &name)
{
    const QString native = QDir::toNativeSeparators(name);
    auto *copy = static_cast<NativeChar *>(std::malloc((size_t(native.size()) + 1) * sizeof(NativeChar)));
    if (copy) {
        std::memcpy(copy, native.utf16(), size_t(native.size()) * sizeof(NativeChar));
        copy[native.size()] = 0;
    }
    return copy;
}

#else

const int stopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Ends the process by the signal itself, as if no handler had been there,
// so that the shell sees how it ended.
void endNow(int signal)
{
    struct sigaction plain;
    std::memset(&plain, 0, sizeof plain);
    plain.sa_handler = SIG_DFL;
    sigemptyset(&plain.sa_mask);
    sigaction(signal, &plain, nullptr);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    raise(signal);
}

extern "C" void onStopSignal(int signal)
{
    ++handlersRunning;
    if (deferDepth.load() > 0) {
        pendingStop.store(signal);
        // The deferring scope may have ended meanwhile without seeing it.
        if (deferDepth.load() > 0 || pendingStop.exchange(0) == 0) {
            --handlersRunning;
            return;
        }
    }
    removeAll();
    endNow(signal);
    --handlersRunning;
}

void install()
{
    std::call_once(installed, [] {
        struct sigaction ours;
        std::memset(&ours, 0, sizeof ours);
        ours.sa_handler = onStopSignal;
        ours.sa_flags = SA_RESTART;
        sigemptyset(&ours.sa_mask);
        for (int signal : stopSignals)
            sigaddset(&ours.sa_mask, signal);
        for (int signal : stopSignals) {
            struct sigaction current;
            // Ignored (nohup) or handled by the program: not ours to change.
            if (sigaction(signal, nullptr, &current) == 0 && !(current.sa_flags & SA_SIGINFO)
                && current.sa_handler == SIG_DFL)
                sigaction(signal, &ours, nullptr);
        }
    });
}

NativeChar *copyName(const QString &name)
{
    const QByteArray native = QFile::encodeName(name);
    auto *copy = static_cast<NativeChar *>(std::malloc(size_t(native.size()) + 1));
    if (copy)
        std::memcpy(copy, native.constData(), size_t(native.size()) + 1);
    return copy;
}

#endif

} // namespace

namespace Interrupts {

int removeOnInterrupt(const QString &name)
{
    install();
    NativeChar *copy = copyName(name);
    if (!copy)
        return -1;
    for (int i = 0; i < slotCount; ++i) {
        NativeChar *empty = nullptr;
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
    NativeChar *name = names[token].exchange(nullptr);
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
