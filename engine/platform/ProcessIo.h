#ifndef PROCESSIO_H
#define PROCESSIO_H

#include <QString>

#include <cstdio>

// What a front end asks of the system about its own process: how it meets
// failed writes, its standard streams and the names it is given.
namespace ProcessIo {

// Past a file size limit, or into a pipe whose reader went away, a write
// fails and is reported instead of ending the program.
void keepRunningOnFailedWrites();
// Standard output and error carry bytes as they are, \n for a line end.
void useBinaryStandardStreams();

// Writes one line and flushes it: UTF-8 with a plain \n for scripts and
// files; on a Windows console the console's own Unicode call, so that names
// outside the ANSI code page show as they are. False when it could not be
// written (a reader that went away, a full disk).
bool writeLine(std::FILE *stream, const QString &line);

// An argument whose bytes the system's encoding for names (UTF-8) cannot
// carry, shown with its odd bytes escaped; empty when there is none.
QString undecodableArgument(int argc, char *argv[]);

// True when the file named is the one standard output already writes to
// (/dev/stdout, /proc/self/fd/1, or the file a shell redirected into).
bool isStandardOutput(const QString &name);

// Two names for one file: the same file on disk, or, for files still to be
// made, the same place.
bool sameFile(const QString &a, const QString &b);

} // namespace ProcessIo

#endif // PROCESSIO_H
