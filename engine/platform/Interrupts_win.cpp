#include "InterruptState.h"

#include <QDir>

#include <cstdlib>
#include <cstring>
#include <mutex>

#include <windows.h>

namespace Interrupts {
namespace detail {

namespace {

std::once_flag installed;

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

} // namespace

void install()
{
    std::call_once(installed, [] { SetConsoleCtrlHandler(onConsoleEvent, TRUE); });
}

void endNow(int)
{
    // The console handler waits for the deferring scope instead.
}

void *copyName(const QString &name)
{
    const QString native = QDir::toNativeSeparators(name);
    auto *copy = static_cast<wchar_t *>(std::malloc((size_t(native.size()) + 1) * sizeof(wchar_t)));
    if (copy) {
        std::memcpy(copy, native.utf16(), size_t(native.size()) * sizeof(wchar_t));
        copy[native.size()] = 0;
    }
    return copy;
}

void removeFile(const void *nativeName)
{
    DeleteFileW(static_cast<const wchar_t *>(nativeName));
}

} // namespace detail
} // namespace Interrupts
