#ifndef ROWS_H
#define ROWS_H

// Rows and options as the window makes them, for tests of the engine.

#include "Address.h"
#include "MergeOptions.h"

inline MergeRow windowRow(const QString &name, const QString &address)
{
    return Address::windowRow(true, name, address);
}

// The window's rules, with the output hashed (as the command line has it) or
// not (as the window has it).
inline MergeOptions hashing(bool on)
{
    MergeOptions options;
    options.hashOutput = on;
    return options;
}

#endif // ROWS_H
