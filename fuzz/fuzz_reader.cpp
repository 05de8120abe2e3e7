// One input reader, found in the registry by name (FUZZ_READER), on any
// bytes: it must read them or refuse them, never crash, hang or take more
// than a bound of memory. What it accepts is checked: no segment without
// bytes, every byte readable where the segment says; and an image from
// records, written back out as Intel HEX and read again, gives the same
// bytes. TI-TXT is also read with its first line stretched across the end of
// a part.

#include "FuzzSupport.h"
#include "writers/ImageWriter.h"

namespace {

// Writes the image in one format and reads it back with that format's reader.
void roundTrip(const std::map<qint64, char> &image, const char *format, const char *reader)
{
    BufferSink sink;
    const std::unique_ptr<ImageWriter> writer = OutputFormats::find(QLatin1String(format))->make(sink, WriterSettings());
    const MergePiece piece;
    for (auto it = image.begin(); it != image.end();) {
        QByteArray run;
        const qint64 start = it->first;
        for (qint64 next = start; it != image.end() && it->first == next; ++it, ++next)
            run += it->second;
        if (!writer->fill(start, 0) || !writer->data(start, run.constData(), run.size(), piece))
            fault("writing records failed");
    }
    if (!writer->finish())
        fault("finishing records failed");
    static ScratchStore store;
    store.truncate(0);
    MemoryBytes text(sink.bytes.constData(), sink.bytes.size());
    InputContent content;
    QString problem;
    if (!InputReader::find(QLatin1String(reader))->tells(sink.bytes.left(InputReader::headSize), sink.bytes.size()))
        fault("records written are not told to be records");
    if (InputReader::find(QLatin1String(reader))->read(text, store, ReadOptions(), content, problem) != InputReader::Read)
        fault("records written cannot be read back");
    std::map<qint64, char> back;
    if (!imageOf(content, store, text, back) || back != image)
        fault("records written and read back give other bytes");
}

// What a reader makes of some bytes: how it ended, why, and the image.
struct Outcome
{
    InputReader::Result result;
    QString problem;
    std::map<qint64, char> image;
    bool sameBytesTwice = true; // no address with two different bytes
};

Outcome readAll(const InputReader &reader, const QByteArray &bytes, ScratchStore &store)
{
    store.truncate(0);
    MemoryBytes text(bytes.constData(), bytes.size());
    InputContent content;
    Outcome outcome;
    outcome.result = reader.read(text, store, ReadOptions(), content, outcome.problem);
    if (outcome.result == InputReader::Read)
        outcome.sameBytesTwice = imageOf(content, store, text, outcome.image);
    return outcome;
}

// TI-TXT lines of any length come in parts of a buffer each, a megabyte in a
// large file: the bytes again, their first line after as many blanks as put
// its middle where a part ends, must read as they do after "@0" alone.
void acrossParts(const uint8_t *data, size_t size)
{
    if (size == 0 || size > (1 << 20) || data[0] == '@' || data[0] == 'q' || data[0] == 'Q')
        return;
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    const QByteArray plain = "@0\n" + bytes;
    const QByteArray padded = "@0\n" + QByteArray((1 << 20) - int(size / 2), ' ') + bytes;
    static ScratchStore store;
    const InputReader &reader = *InputReader::find(QLatin1String("ti-txt"));
    const Outcome alone = readAll(reader, plain, store);
    const Outcome stretched = readAll(reader, padded, store);
    if (alone.result != stretched.result || alone.problem != stretched.problem || alone.image != stretched.image
        || alone.sameBytesTwice != stretched.sameBytesTwice)
        fault("a TI-TXT line read across two parts gives another outcome");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzzProcess();
    const InputReader *reader = InputReader::find(QLatin1String(FUZZ_READER));
    if (!reader)
        fault("no such reader");
    // One store for every input, as a merge has one for every file.
    static ScratchStore store;
    store.truncate(0);
    if (QLatin1String(FUZZ_READER) == QLatin1String("ti-txt"))
        acrossParts(data, size);
    MemoryBytes bytes(reinterpret_cast<const char *>(data), qint64(size));
    InputContent content;
    QString problem;
    const InputReader::Result result = reader->read(bytes, store, ReadOptions(), content, problem);
    if (result == InputReader::Damaged && problem.isEmpty())
        fault("refused without saying why");
    if (result != InputReader::Read)
        return 0;
    std::map<qint64, char> image;
    if (!imageOf(content, store, bytes, image) || image.empty())
        return 0;
    // What a merge takes: within 32-bit addresses.
    if (image.rbegin()->first >= addressSpaceEnd || QLatin1String(FUZZ_READER) == QLatin1String("elf"))
        return 0;
    roundTrip(image, "hex", "hex");
    if (QLatin1String(FUZZ_READER) == QLatin1String("ti-txt"))
        roundTrip(image, "ti-txt", "ti-txt");
    return 0;
}
