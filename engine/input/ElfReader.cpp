#include "InputReader.h"

namespace {

// Reads the header's numbers in the file's own byte order.
struct Fields
{
    const unsigned char *bytes;
    bool bigEndian;

    quint64 number(int at, int width) const
    {
        quint64 value = 0;
        for (int i = 0; i < width; ++i)
            value |= quint64(bytes[at + i]) << (8 * (bigEndian ? width - 1 - i : i));
        return value;
    }
};

// Names of the machines (e_machine) firmware is mostly built for.
struct Machine
{
    int number;
    const char *name;
};
const Machine machines[] = {
    {0, "none"},    {2, "SPARC"},  {3, "x86"},    {8, "MIPS"},     {20, "PowerPC"}, {21, "PowerPC64"},
    {22, "S/390"},  {40, "ARM"},   {42, "SuperH"}, {62, "x86-64"}, {83, "AVR"},     {94, "Xtensa"},
    {105, "MSP430"}, {183, "AArch64"}, {243, "RISC-V"}, {258, "LoongArch"},
};

const char *const typeNames[] = {"none", "relocatable", "executable", "shared", "core"};

// What the header says of the file, for a look inside it.
QVariantMap headerDetails(const Fields &elf, bool wide)
{
    const int machine = int(elf.number(18, 2));
    const int type = int(elf.number(16, 2));
    QVariantMap details{
        {QStringLiteral("class"), wide ? QStringLiteral("ELF64") : QStringLiteral("ELF32")},
        {QStringLiteral("byteOrder"), elf.bigEndian ? QStringLiteral("big") : QStringLiteral("little")},
        {QStringLiteral("machine"), qint64(machine)},
        {QStringLiteral("type"), qint64(type)},
        {QStringLiteral("entry"), elf.number(24, wide ? 8 : 4)},
        {QStringLiteral("programHeaders"), qint64(elf.number(wide ? 56 : 44, 2))},
    };
    for (const Machine &known : machines) {
        if (known.number == machine)
            details.insert(QStringLiteral("machineName"), QLatin1String(known.name));
    }
    if (type < int(sizeof typeNames / sizeof *typeNames))
        details.insert(QStringLiteral("typeName"), QLatin1String(typeNames[type]));
    return details;
}

// A loadable segment as readelf shows it: its addresses, sizes, and flags
// both as the number and as R, W and E (execute) in their columns.
QVariantMap segmentDetails(int index, const Fields &entry, bool wide)
{
    const int word = wide ? 8 : 4;
    const quint64 flags = entry.number(wide ? 4 : 24, 4);
    QString text(3, QLatin1Char(' '));
    if (flags & 4)
        text[0] = QLatin1Char('R');
    if (flags & 2)
        text[1] = QLatin1Char('W');
    if (flags & 1)
        text[2] = QLatin1Char('E');
    return QVariantMap{
        {QStringLiteral("index"), qint64(index)},
        {QStringLiteral("offset"), entry.number(wide ? 8 : 4, word)},
        {QStringLiteral("virtualAddress"), entry.number(wide ? 16 : 8, word)},
        {QStringLiteral("physicalAddress"), entry.number(wide ? 24 : 12, word)},
        {QStringLiteral("fileSize"), entry.number(wide ? 32 : 16, word)},
        {QStringLiteral("memorySize"), entry.number(wide ? 40 : 20, word)},
        {QStringLiteral("flags"), text},
        {QStringLiteral("flagBits"), flags},
    };
}

// ELF, 32- and 64-bit, either byte order: the file bytes of each PT_LOAD
// segment at its physical (load) address; the part past p_filesz (.bss) is
// not in the file and not in the image.
class ElfReader : public InputReader
{
public:
    QLatin1String name() const override { return QLatin1String("elf"); }
    bool tells(const QByteArray &head, qint64 size) const override;
    QString toldBy() const override
    {
        return QStringLiteral("its first bytes are an ELF identification: the magic, a class, a byte order, version 1");
    }
    Result read(ByteSource &source, ScratchStore &store, const ReadOptions &options, InputContent &content,
                QString &problem) const override;
    bool readsInPlace() const override { return true; }
};

// An identification this reader knows: the magic, a class and a byte order
// it reads, version 1. Anything else that starts with the magic is raw data.
bool ElfReader::tells(const QByteArray &head, qint64) const
{
    return head.size() >= 7 && head.startsWith("\x7f" "ELF") && (head.at(4) == 1 || head.at(4) == 2)
           && (head.at(5) == 1 || head.at(5) == 2) && head.at(6) == 1;
}

InputReader::Result ElfReader::read(ByteSource &source, ScratchStore &, const ReadOptions &options, InputContent &content,
                                    QString &problem) const
{
    content = InputContent();
    const qint64 fileSize = source.size();
    unsigned char header[64] = {};
    const qint64 got = source.readAt(0, reinterpret_cast<char *>(header), sizeof header);
    if (got < 0)
        return ReadFailed;
    const bool wide = header[4] == 2;
    const int headerSize = wide ? 64 : 52;
    if (got < 6 || (header[4] != 1 && header[4] != 2) || (header[5] != 1 && header[5] != 2)) {
        problem = QStringLiteral("its ELF identification is damaged or cut short");
        return Damaged;
    }
    if (got < headerSize) {
        problem = QStringLiteral("its ELF header is cut short");
        return Damaged;
    }
    const Fields elf{header, header[5] == 2};
    // What the header says is known now, whatever is found wrong after it:
    // a look at an object file still tells its machine.
    if (options.details)
        content.details = headerDetails(elf, wide);
    QVariantList loadSegments;
    qint64 loadCount = 0;
    const quint64 entry = elf.number(24, wide ? 8 : 4);
    const quint64 tableAt = elf.number(wide ? 32 : 28, wide ? 8 : 4);
    const int entrySize = int(elf.number(wide ? 54 : 42, 2));
    const int count = int(elf.number(wide ? 56 : 44, 2));
    const int wantedSize = wide ? 56 : 32;
    if (count == 0) {
        problem = QStringLiteral("an ELF file without program headers, such as an object file or a library, has "
                                 "no loadable (PT_LOAD) segments to merge");
        return Damaged;
    }
    if (entrySize < wantedSize || count == 0xFFFF) {
        problem = QStringLiteral("its ELF program header table is not one this tool reads");
        return Damaged;
    }
    const qint64 tableSize = qint64(entrySize) * count;
    if (tableAt > quint64(fileSize) || qint64(tableAt) + tableSize > fileSize) {
        problem = QStringLiteral("its ELF program header table runs past the end of the file");
        return Damaged;
    }
    // One entry at a time: what the file claims cannot make us allocate.
    bool loadable = false;
    unsigned char entryBytes[56];
    for (int k = 0; k < count; ++k) {
        const qint64 at = qint64(tableAt) + qint64(k) * entrySize;
        for (qint64 done = 0; done < wantedSize;) {
            const qint64 n = source.readAt(at + done, reinterpret_cast<char *>(entryBytes) + done, wantedSize - done);
            if (n <= 0)
                return ReadFailed;
            done += n;
        }
        const Fields entryFields{entryBytes, elf.bigEndian};
        if (entryFields.number(0, 4) != 1) // PT_LOAD
            continue;
        loadable = true;
        if (options.details && loadCount++ < InputContent::listedAtMost)
            loadSegments << segmentDetails(k, entryFields, wide);
        const quint64 offset = entryFields.number(wide ? 8 : 4, wide ? 8 : 4);
        const quint64 physical = entryFields.number(wide ? 24 : 12, wide ? 8 : 4);
        const quint64 fileBytes = entryFields.number(wide ? 32 : 16, wide ? 8 : 4);
        const quint64 memoryBytes = entryFields.number(wide ? 40 : 20, wide ? 8 : 4);
        if (fileBytes > memoryBytes) {
            problem = QStringLiteral("its ELF program header %1 has more bytes in the file than in memory").arg(k);
            return Damaged;
        }
        if (fileBytes == 0)
            continue; // all of it .bss: nothing in the file
        if (offset > quint64(fileSize) || fileBytes > quint64(fileSize) - offset) {
            problem = QStringLiteral("its ELF program header %1 runs past the end of the file").arg(k);
            return Damaged;
        }
        if (physical >= quint64(addressSpaceEnd) || fileBytes > quint64(addressSpaceEnd)) {
            problem = QStringLiteral("its ELF program header %1 loads at 0x%2, past the 32-bit address range")
                          .arg(k)
                          .arg(physical, 0, 16);
            return Damaged;
        }
        for (qint64 at = 0; at < qint64(fileBytes); at += largestSegment) {
            MergeSegment segment;
            segment.address = qint64(physical) + at;
            segment.dataOffset = qint64(offset) + at;
            segment.size = quint32(qMin(qint64(fileBytes) - at, largestSegment));
            content.segments.append(segment);
        }
    }
    if (!loadable) {
        problem = QStringLiteral("an ELF file without loadable (PT_LOAD) segments, such as an object file, has "
                                 "nothing to merge");
        return Damaged;
    }
    if (options.details) {
        content.details.insert(QStringLiteral("segments"), loadSegments);
        content.details.insert(QStringLiteral("loadSegments"), loadCount);
    }
    if (entry < quint64(addressSpaceEnd)) {
        content.hasStartAddress = entry != 0;
        content.startAddress = quint32(entry);
    }
    return Read;
}

} // namespace

MERGEFILE_REGISTER(ElfReader)
{
    static const ElfReader reader;
    InputReader::add(reader);
}
