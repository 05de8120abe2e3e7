#include "InterruptState.h"

#include <QFile>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <pthread.h>
#include <unistd.h>

namespace Interrupts {
namespace detail {

namespace {

const int stopSignals[] = {SIGINT, SIGTERM, SIGHUP};
std::once_flag installed;

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

} // namespace

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

void *copyName(const QString &name)
{
    const QByteArray native = QFile::encodeName(name);
    auto *copy = static_cast<char *>(std::malloc(size_t(native.size()) + 1));
    if (copy)
        std::memcpy(copy, native.constData(), size_t(native.size()) + 1);
    return copy;
}

void removeFile(const void *nativeName)
{
    unlink(static_cast<const char *>(nativeName));
}

} // namespace detail
} // namespace Interrupts
