#ifndef TEXTBUFFER_H
#define TEXTBUFFER_H

#include "Bytes.h"

#include <memory>

// The text a writer makes, gathered in a fixed buffer and handed to the
// output whenever the next piece would not fit; a failed write is kept, and
// nothing is written after it.
class TextBuffer
{
public:
    explicit TextBuffer(ByteSink &output)
        : output(output)
        , text(new char[size])
    {
    }
    // Room for exactly length characters (at most the buffer's size), all of
    // which the caller writes.
    char *reserve(int length)
    {
        if (used + length > size)
            flush();
        char *at = text.get() + used;
        used += length;
        return at;
    }
    bool flush()
    {
        if (used > 0 && !broken)
            broken = !output.write(text.get(), used);
        used = 0;
        return !broken;
    }
    bool failed() const { return broken; }

private:
    static constexpr int size = 256 << 10;
    ByteSink &output;
    std::unique_ptr<char[]> text;
    int used = 0;
    bool broken = false;
};

#endif // TEXTBUFFER_H
