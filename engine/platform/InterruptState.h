#ifndef INTERRUPTSTATE_H
#define INTERRUPTSTATE_H

// What the stop handlers of both systems share with the rest of Interrupts:
// names to remove, kept where a handler can reach them without allocating
// (a handler only reads these slots and calls the system).

#include <QString>

#include <atomic>

namespace Interrupts {
namespace detail {

constexpr int slotCount = 64;
extern std::atomic<void *> names[slotCount]; // native names, made by copyName()
extern std::atomic<int> handlersRunning;
extern std::atomic<int> deferDepth;
extern std::atomic<int> pendingStop;

// Removes every name in the slots; safe inside a handler.
void removeAll();

// Each system's own:
void install();                           // the stop handlers, once
void endNow(int signal);                  // ends the process by the stop it got
void *copyName(const QString &name);      // the name as the system takes it, malloc'd
void removeFile(const void *nativeName);  // safe inside a handler

} // namespace detail
} // namespace Interrupts

#endif // INTERRUPTSTATE_H
