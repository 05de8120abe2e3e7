#include "HexLinesWriter.h"

// TI-TXT, the MSP430 programmers' text: "@ADDR" (four digits at least) where
// data starts after a gap, lines of up to 16 bytes, "q" at the end.
MERGEFILE_REGISTER(TiTxtWriter)
{
    static const OutputFormatInfo format = [] {
        OutputFormatInfo f;
        f.name = "ti-txt";
        f.summary = "TI-TXT, the MSP430 text";
        f.make = [](ByteSink &output, const WriterSettings &settings) {
            return std::unique_ptr<ImageWriter>(new HexLinesWriter(output, 1, settings.fill(), 4, "q\n"));
        };
        return f;
    }();
    OutputFormats::add(format);
}
