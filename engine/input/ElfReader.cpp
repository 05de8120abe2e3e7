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
    Result read(ByteSource &source, ScratchStore &store, const ReadOptions &, InputContent &content, QString &problem) const override;
};

// An identification this reader knows: the magic, a class and a byte order
// it reads, version 1. Anything else that starts with the magic is raw data.
bool ElfReader::tells(const QByteArray &head, qint64) const
{
    return head.size() >= 7 && head.startsWith("\x7f" "ELF") && (head.at(4) == 1 || head.at(4) == 2)
           && (head.at(5) == 1 || head.at(5) == 2) && head.at(6) == 1;
}

InputReader::Result ElfReader::read(ByteSource &source, ScratchStore &, const ReadOptions &, InputContent &content, QString &problem) const
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
    if (entry < quint64(addressSpaceEnd)) {
        content.hasStartAddress = entry != 0;
        content.startAddress = quint32(entry);
    }
    return Read;
}

} // namespace

const InputReader &elfInput()
{
    static const ElfReader reader;
    return reader;
}
