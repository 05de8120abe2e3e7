// One input reader, found in the registry by name (FUZZ_READER), on any
// bytes: it must read them or refuse them, never crash, hang or take more
// than a bound of memory. What it accepts is checked: no segment without
// bytes, every byte readable where the segment says; and an image from
// records, written back out as Intel HEX and read again, gives the same
// bytes. TI-TXT is also read with its first line stretched across the end of
// a part. Every input is read again with the details a look inside a file
// gathers (UF2 also with a family asked for): they change nothing a merge
// reads, a merge gets none, and their lists stay bounded.

#include "FuzzSupport.h"
#include "input/Uf2Family.h"
#include "writers/ImageWriter.h"

#include <algorithm>

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

// Lists in the details, at any depth, hold at most listedAtMost entries.
bool bounded(const QVariant &value)
{
    if (value.userType() == QMetaType::QVariantMap) {
        const QVariantMap map = value.toMap();
        return std::all_of(map.cbegin(), map.cend(), bounded);
    }
    if (value.userType() == QMetaType::QVariantList) {
        const QVariantList list = value.toList();
        return list.size() <= InputContent::listedAtMost && std::all_of(list.cbegin(), list.cend(), bounded);
    }
    return true;
}

bool sameSegments(const QVector<MergeSegment> &a, const QVector<MergeSegment> &b)
{
    return std::equal(a.cbegin(), a.cend(), b.cbegin(), b.cend(), [](const MergeSegment &x, const MergeSegment &y) {
        return x.address == y.address && x.size == y.size && x.dataOffset == y.dataOffset && x.inStore == y.inStore;
    });
}

// The bytes read as a merge reads them and with the details: the same
// outcome, problem, segments (each store from its start) and start address.
void sameWithDetails(const InputReader &reader, const uint8_t *data, size_t size, ReadOptions options)
{
    static ScratchStore stores[2];
    MemoryBytes bytes(reinterpret_cast<const char *>(data), qint64(size));
    InputContent contents[2];
    QString problems[2];
    InputReader::Result results[2];
    for (int details = 0; details < 2; ++details) {
        stores[details].truncate(0);
        options.details = details == 1;
        results[details] = reader.read(bytes, stores[details], options, contents[details], problems[details]);
    }
    if (!contents[0].details.isEmpty())
        fault("a merge's read gathered details");
    if (results[0] != results[1] || problems[0] != problems[1])
        fault("the details change how a read ends");
    if (!sameSegments(contents[0].segments, contents[1].segments) || contents[0].hasStartAddress != contents[1].hasStartAddress
        || contents[0].startAddress != contents[1].startAddress)
        fault("the details change what is read");
    if (results[1] == InputReader::Read && contents[1].details.isEmpty())
        fault("a file read gave no details");
    if (!bounded(contents[1].details))
        fault("a list in the details is longer than its bound");
    for (const MergeSegment &s : contents[0].segments) {
        if (!s.inStore)
            continue;
        QByteArray first(int(s.size), '\0');
        QByteArray second(int(s.size), '\0');
        if (stores[0].readAt(s.dataOffset, first.data(), s.size) != s.size
            || stores[1].readAt(s.dataOffset, second.data(), s.size) != s.size || first != second)
            fault("the details change the bytes decoded");
    }
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
    sameWithDetails(*reader, data, size, ReadOptions());
    if (QLatin1String(FUZZ_READER) == QLatin1String("uf2")) {
        ReadOptions family;
        family.formats.set<Uf2Family>().id = 0xE48BFF56;
        sameWithDetails(*reader, data, size, family);
    }
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
