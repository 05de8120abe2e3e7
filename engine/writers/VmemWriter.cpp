#include "HexLinesWriter.h"

// Verilog's $readmemh memory text: "@ADDR" in words where data starts after
// a gap, then the words, big-endian (their bytes in address order), 16 bytes
// to a line. A word that a file covers only in part is completed with the
// fill byte.
const OutputFormatInfo &vmemFormat()
{
    static const OutputFormatInfo format{"vmem", "Verilog $readmemh words (--word-bits)", ".vmem .mem", false, 0, false,
                                         [](ByteSink &output, const WriterSettings &settings) {
                                             return std::unique_ptr<ImageWriter>(new HexLinesWriter(
                                                 output, settings.wordBits / 8, settings.fill, 8, ""));
                                         }};
    return format;
}
