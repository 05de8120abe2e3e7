#include "ImageWriter.h"
#include "TextBuffer.h"

#include <QRegularExpression>

#include <cstring>

namespace {

constexpr int bytesPerLine = 16;

// " 0xAB," for every byte value: one copy per byte.
struct ByteTexts
{
    ByteTexts()
    {
        const char digits[] = "0123456789abcdef";
        for (int b = 0; b < 256; ++b) {
            char *at = text + 6 * b;
            std::memcpy(at, " 0x", 3);
            at[3] = digits[b >> 4];
            at[4] = digits[b & 0xF];
            at[5] = ',';
        }
    }
    char text[6 * 256];
};
const ByteTexts byteTexts;

struct CArraySettings
{
    QString name = QStringLiteral("mergefile_image");
};

// C's and C++'s keywords, which cannot name the array.
bool isKeyword(const QString &name)
{
    static const QStringList keywords = QStringLiteral(
        "alignas alignof and and_eq asm auto bitand bitor bool break case catch char char8_t char16_t char32_t class "
        "compl concept const consteval constexpr constinit const_cast continue co_await co_return co_yield decltype "
        "default delete do double dynamic_cast else enum explicit export extern false float for friend goto if inline "
        "int long mutable namespace new noexcept not not_eq nullptr operator or or_eq private protected public "
        "register reinterpret_cast requires restrict return short signed sizeof static static_assert static_cast "
        "struct switch template this thread_local throw true try typedef typeid typename union unsigned using "
        "virtual void volatile wchar_t while xor xor_eq _Alignas _Alignof _Atomic _Bool _Complex _Generic "
        "_Imaginary _Noreturn _Static_assert _Thread_local").split(QLatin1Char(' '));
    return keywords.contains(name);
}

// Why C or C++ keeps a name from the array and its NAME_base and NAME_length,
// all three declared in the global scope; empty when it may have them.
QString reservedWhy(const QString &name)
{
    if (name == QLatin1String("main"))
        return QStringLiteral("main is the program's entry point in C and C++");
    if (name.startsWith(QLatin1Char('_')))
        return QStringLiteral("C and C++ keep names that start with _ in the global scope for the compiler and its library");
    if (name.contains(QLatin1String("__")))
        return QStringLiteral("C++ keeps names that hold __ for the compiler and its library");
    if (name.endsWith(QLatin1Char('_')))
        return QStringLiteral("%1_base and %1_length would hold __, which C++ keeps for the compiler and its library")
            .arg(name);
    return QString();
}

bool parseName(const QString &name, FormatSettings &settings, QString *error)
{
    static const QRegularExpression identifier(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]{0,200}$"));
    if (!identifier.match(name).hasMatch() || isKeyword(name)) {
        *error = QStringLiteral("C name %1: give a C identifier (letters, digits and _, not a digit first, not a keyword)")
                     .arg(name);
        return false;
    }
    const QString why = reservedWhy(name);
    if (!why.isEmpty()) {
        *error = QStringLiteral("--c-name %1: %2; give another name").arg(name, why);
        return false;
    }
    settings.set<CArraySettings>().name = name;
    return true;
}

QByteArray hex8(qint64 value)
{
    return QByteArray::number(value, 16).rightJustified(8, '0');
}

// A C source that holds the flat image (gaps filled): the array NAME and
// NAME_base and NAME_length, which compile on their own as C99 and C++, and
// link from either (declared extern "C" for C++, where a const object would
// otherwise stay inside its file).
class CArrayWriter : public ImageWriter
{
public:
    CArrayWriter(ByteSink &output, const WriterSettings &settings)
        : ImageWriter(output)
        , fillByte(static_cast<unsigned char>(settings.fill()))
        , text(output)
    {
        const QByteArray name = settings.own.get<CArraySettings>().name.toLatin1();
        const qint64 base = settings.layout ? settings.layout->base : 0;
        const qint64 length = settings.layout ? settings.layout->imageSize : 0;
        empty = length == 0;
        head = "/* The flat image written by MergeFileCli: " + name + "_length bytes from address " + name
               + "_base, every gap filled. */\n"
                 "#ifdef __cplusplus\n"
                 "extern \"C\" {\n"
                 "extern const unsigned char "
               + name + "[];\nextern const unsigned long " + name + "_base;\nextern const unsigned long " + name
               + "_length;\n}\n#endif\n\nconst unsigned long " + name + "_base = 0x" + hex8(base)
               + "UL;\nconst unsigned long " + name + "_length = 0x" + hex8(length) + "UL;\nconst unsigned char "
               + name + "[] = {\n";
        // C has no empty array: an image of no bytes still gives one.
        tail = QByteArray(empty ? "    0\n" : "") + "};\n";
    }

    qint64 outputSize(const MergeLayout &layout) const override
    {
        const qint64 n = layout.imageSize;
        return head.size() + tail.size() + 6 * n + 4 * ((n + bytesPerLine - 1) / bytesPerLine);
    }
    bool fill(qint64, qint64 count) override
    {
        unsigned char block[4096];
        std::memset(block, fillByte, sizeof block);
        for (qint64 left = count; left > 0; left -= qint64(sizeof block))
            put(block, qMin<qint64>(left, qint64(sizeof block)));
        return !text.failed();
    }
    bool data(qint64, const char *bytes, qint64 count, const MergePiece &) override
    {
        put(reinterpret_cast<const unsigned char *>(bytes), count);
        return !text.failed();
    }
    bool finish() override
    {
        start();
        if (onLine > 0)
            *text.reserve(1) = '\n';
        std::memcpy(text.reserve(tail.size()), tail.constData(), size_t(tail.size()));
        return text.flush();
    }

private:
    void start()
    {
        if (!started)
            std::memcpy(text.reserve(head.size()), head.constData(), size_t(head.size()));
        started = true;
    }
    // Each line: three spaces, then " 0xAB," for each of its bytes.
    void put(const unsigned char *bytes, qint64 count)
    {
        start();
        while (count > 0 && !text.failed()) {
            const int take = int(qMin<qint64>(bytesPerLine - onLine, count));
            const bool endsLine = onLine + take == bytesPerLine;
            char *at = text.reserve(6 * take + (onLine == 0 ? 3 : 0) + (endsLine ? 1 : 0));
            if (onLine == 0) {
                std::memcpy(at, "   ", 3);
                at += 3;
            }
            for (int i = 0; i < take; ++i, at += 6)
                std::memcpy(at, byteTexts.text + 6 * bytes[i], 6);
            if (endsLine)
                *at = '\n';
            onLine = endsLine ? 0 : onLine + take;
            bytes += take;
            count -= take;
        }
    }
    unsigned char fillByte;
    QByteArray head;
    QByteArray tail;
    bool empty = false;
    bool started = false;
    int onLine = 0;
    TextBuffer text;
};

} // namespace

MERGEFILE_REGISTER(CArrayWriter)
{
    static const OutputFormatInfo format = [] {
        OutputFormatInfo f;
        f.name = "c";
        f.summary = "a C array of the flat image (--c-name)";
        f.extensions = ".c";
        f.writesGaps = true;
        FormatOption name;
        name.name = QStringLiteral("c-name");
        name.valueName = QStringLiteral("name");
        name.help = QStringLiteral("The name of the array in --format c (mergefile_image by default); NAME_base and "
                                   "NAME_length say where the image starts and how long it is. A C identifier that is no "
                                   "keyword, and none that C or C++ keeps for itself: not main, not starting with _, "
                                   "without __, not ending in _.");
        name.parse = parseName;
        f.options = {name};
        f.make = [](ByteSink &output, const WriterSettings &settings) {
            return std::unique_ptr<ImageWriter>(new CArrayWriter(output, settings));
        };
        return f;
    }();
    OutputFormats::add(format);
}
