#ifndef COMMANDS_H
#define COMMANDS_H

#include "CliOptions.h"

// Runs a command that looks at images (info, compare, verify) as the
// options say; its exit status.
int runCommand(const CliOptions &options);

class LoneFile;
// A file looked at alone: its flat bytes from..to, holes filled with fill,
// gathered in memory; false when it cannot be read.
bool readFlat(LoneFile &file, qint64 from, qint64 to, char fill, QByteArray *bytes);

#endif // COMMANDS_H
