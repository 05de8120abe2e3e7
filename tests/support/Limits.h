#ifndef LIMITS_H
#define LIMITS_H

// Process limits and an unprivileged user for the length of one test, so that
// full disks, size limits and read-only folders can be met on purpose.

#include <QtGlobal>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

// Lowers one soft limit (children inherit it) and puts it back afterwards.
class ScopedLimit
{
public:
    ScopedLimit(int resource, rlim_t value)
        : resource(resource)
    {
        // Past a size limit a write fails with EFBIG instead of killing us.
        std::signal(SIGXFSZ, SIG_IGN);
        ok = getrlimit(resource, &saved) == 0;
        struct rlimit lower = saved;
        lower.rlim_cur = value;
        ok = ok && setrlimit(resource, &lower) == 0;
    }
    ~ScopedLimit()
    {
        if (ok)
            setrlimit(resource, &saved);
    }
    bool isValid() const { return ok; }

private:
    int resource;
    struct rlimit saved;
    bool ok = false;
};

// Root writes into read-only folders; as root, file access is checked for
// "nobody" instead, for the length of the scope.
class ScopedUnprivileged
{
public:
    static constexpr uid_t nobody = 65534;
    explicit ScopedUnprivileged(bool on = true)
        : wasRoot(on && geteuid() == 0)
    {
        ok = !wasRoot || (setegid(nobody) == 0 && seteuid(nobody) == 0);
    }
    ~ScopedUnprivileged()
    {
        if (wasRoot) {
            if (seteuid(0) != 0 || setegid(0) != 0)
                qFatal("cannot become root again");
        }
    }
    bool isValid() const { return ok; }
    static bool isRoot() { return geteuid() == 0; }

private:
    bool wasRoot;
    bool ok = false;
};
#endif

#endif // LIMITS_H
