#ifndef INTERRUPTS_H
#define INTERRUPTS_H

#include <QString>

// What happens when the user stops the program (Ctrl-C, SIGTERM, a closed
// terminal; on Windows a console's Ctrl-C or close) while a merge writes.
// Nothing is installed until a merge first needs it, and a signal that the
// program already ignores or handles itself is left to that.
namespace Interrupts {

// Removes the file if the process is stopped before forget() is called with
// the token; -1 when no place is left (the file then stays behind).
int removeOnInterrupt(const QString &name);
void forget(int token);

// While one lives, a stop is held back; the last one to go lets it end the
// process then. For the few steps that must not be cut in half.
class Deferred
{
public:
    Deferred();
    ~Deferred();
    Deferred(const Deferred &) = delete;
    Deferred &operator=(const Deferred &) = delete;
};

} // namespace Interrupts

#endif // INTERRUPTS_H
