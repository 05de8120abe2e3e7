#include "HexLinesWriter.h"

// TI-TXT, the MSP430 programmers' text: "@ADDR" (four digits at least) where
// data starts after a gap, lines of up to 16 bytes, "q" at the end.
const OutputFormatInfo &tiTxtFormat()
{
    static const OutputFormatInfo format{"ti-txt", "TI-TXT, the MSP430 text", "", false, 0, false,
                                         [](ByteSink &output, const WriterSettings &settings) {
                                             return std::unique_ptr<ImageWriter>(
                                                 new HexLinesWriter(output, 1, settings.fill, 4, "q\n"));
                                         }};
    return format;
}
