#include "HexLinesWriter.h"

namespace {

struct VmemSettings
{
    int wordBits = 8;
};

bool parseWordBits(const QString &text, FormatSettings &settings, QString *error)
{
    const int bits = text.toInt(nullptr, 10);
    if (bits != 8 && bits != 16 && bits != 32 && bits != 64) {
        *error = QStringLiteral("word bits %1: give 8, 16, 32 or 64").arg(text);
        return false;
    }
    settings.set<VmemSettings>().wordBits = bits;
    return true;
}

} // namespace

// Verilog's $readmemh memory text: "@ADDR" in words where data starts after
// a gap, then the words, big-endian (their bytes in address order), 16 bytes
// to a line. A word that a file covers only in part is completed with the
// fill byte.
MERGEFILE_REGISTER(VmemWriter)
{
    static const OutputFormatInfo format = [] {
        OutputFormatInfo f;
        f.name = "vmem";
        f.summary = "Verilog $readmemh words (--word-bits)";
        f.extensions = ".vmem .mem";
        FormatOption wordBits;
        wordBits.name = QStringLiteral("word-bits");
        wordBits.valueName = QStringLiteral("n");
        wordBits.help = QStringLiteral("The width of a word in --format vmem: 8 (the default), 16, 32 or 64; words are "
                                       "big-endian, and one that a file covers only in part is completed with the fill "
                                       "byte.");
        wordBits.words = QStringList{QStringLiteral("8"), QStringLiteral("16"), QStringLiteral("32"), QStringLiteral("64")};
        wordBits.parse = parseWordBits;
        f.options = {wordBits};
        f.make = [](ByteSink &output, const WriterSettings &settings) {
            return std::unique_ptr<ImageWriter>(
                new HexLinesWriter(output, settings.own.get<VmemSettings>().wordBits / 8, settings.fill(), 8, ""));
        };
        return f;
    }();
    OutputFormats::add(format);
}
