#ifndef COMMANDS_H
#define COMMANDS_H

#include "CliOptions.h"

// Runs a command that looks at images (info, compare, verify) as the
// options say; its exit status.
int runCommand(const CliOptions &options);

#endif // COMMANDS_H
