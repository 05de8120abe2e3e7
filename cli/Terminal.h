#ifndef TERMINAL_H
#define TERMINAL_H

#include <QString>

#include <cstdio>

// What MergeFileCli prints, and whether its readers took it.
namespace Terminal {

// File names may hold control characters; shown as escapes, a name cannot
// print a line of its own that a script could take for the tool's, nor turn
// the text after it about.
QString escaped(const QString &text);
// One line as it is; a stream that fails is remembered.
void writeLine(std::FILE *stream, const QString &line);
// One line, escaped.
void print(std::FILE *stream, const QString &line);
// Text as it is (a JSON document, whose strings are escaped already).
void write(std::FILE *stream, const QByteArray &text);
// A reader closed standard output or standard error early, or it is full.
bool outputBroken();
// What a write of standard output said, written some other way.
void outputFailed(bool failed);
bool errorBroken();

} // namespace Terminal

#endif // TERMINAL_H
