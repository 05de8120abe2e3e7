#include "Terminal.h"

#include "platform/ProcessIo.h"

namespace {

bool stdoutBroken = false;
bool stderrBroken = false;

void remember(std::FILE *stream, bool ok)
{
    if (!ok)
        (stream == stdout ? stdoutBroken : stderrBroken) = true;
}

} // namespace

namespace Terminal {

QString escaped(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const ushort u = c.unicode();
        // Controls of the text's direction (marks, embeddings, overrides,
        // isolates) would turn the rest of the line about in a terminal.
        const bool direction = u == 0x061C || u == 0x200E || u == 0x200F || (u >= 0x202A && u <= 0x202E)
                               || (u >= 0x2066 && u <= 0x2069);
        if (u >= 0x20 && u != 0x7F && !(u >= 0x80 && u <= 0x9F) && u != 0x2028 && u != 0x2029 && !direction) {
            out += c;
        } else if (u == '\n') {
            out += QLatin1String("\\n");
        } else if (u == '\r') {
            out += QLatin1String("\\r");
        } else if (u == '\t') {
            out += QLatin1String("\\t");
        } else if (u < 0x100) {
            out += QStringLiteral("\\x%1").arg(u, 2, 16, QLatin1Char('0'));
        } else {
            out += QStringLiteral("\\u%1").arg(u, 4, 16, QLatin1Char('0'));
        }
    }
    return out;
}

void writeLine(std::FILE *stream, const QString &line)
{
    remember(stream, ProcessIo::writeLine(stream, line));
}

void print(std::FILE *stream, const QString &line)
{
    writeLine(stream, escaped(line));
}

void write(std::FILE *stream, const QByteArray &text)
{
    remember(stream, std::fwrite(text.constData(), 1, size_t(text.size()), stream) == size_t(text.size())
                         && std::fflush(stream) == 0);
}

bool outputBroken()
{
    return stdoutBroken;
}

void outputFailed(bool failed)
{
    stdoutBroken = stdoutBroken || failed;
}

bool errorBroken()
{
    return stderrBroken;
}

} // namespace Terminal
