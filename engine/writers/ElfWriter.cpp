#include "ImageWriter.h"

#include <cstring>
#include <vector>

namespace {

// What --elf-machine sets; by default the machine and byte order of an ELF
// input whose header the merge looked at, else none, little-endian.
struct ElfSettings
{
    int machine = -1; // e_machine; -1: not given
    bool bigEndian = false;
    bool byteOrderGiven = false;
};

// The machines firmware is mostly built for, by the names --elf-machine
// takes; any other as its number.
struct MachineName
{
    const char *name;
    int number;
};
const MachineName machineNames[] = {
    {"none", 0}, {"arm", 40}, {"riscv", 243}, {"avr", 83}, {"msp430", 105}, {"ppc", 20},
};

bool parseMachine(const QString &text, FormatSettings &settings, QString *error)
{
    for (const MachineName &known : machineNames) {
        if (text == QLatin1String(known.name)) {
            settings.set<ElfSettings>().machine = known.number;
            return true;
        }
    }
    bool ok = false;
    const int number = text.toInt(&ok, 10);
    if (!ok || number < 0 || number > 0xFFFF) {
        *error = QStringLiteral("ELF machine %1: give arm, riscv, avr, msp430, ppc, none or a number from 0 to 65535")
                     .arg(text);
        return false;
    }
    settings.set<ElfSettings>().machine = number;
    return true;
}

bool parseBigEndian(const QString &, FormatSettings &settings, QString *)
{
    ElfSettings &elf = settings.set<ElfSettings>();
    elf.bigEndian = true;
    elf.byteOrderGiven = true;
    return true;
}

constexpr qint64 headerSize = 52;        // the ELF header of a 32-bit file
constexpr qint64 programHeaderSize = 32; // a segment's entry
constexpr qint64 sectionHeaderSize = 40; // a section's entry
// Counts at or past these do not fit the header's 16-bit fields: the header
// says so, and the first section header, which is otherwise all zeros, holds
// them.
constexpr qint64 manySegments = 0xFFFF; // PN_XNUM
constexpr qint64 manySections = 0xFF00; // SHN_LORESERVE

// A run of data: bytes of files and fields at consecutive addresses. Each is
// one loadable segment and one section.
struct Run
{
    qint64 address = 0;
    qint64 size = 0;
};

std::vector<Run> runsOf(const MergeLayout &layout)
{
    std::vector<Run> runs;
    for (const MergePiece &piece : layout.pieces) {
        const qint64 size = layout.size(piece);
        if (size <= 0)
            continue;
        const qint64 address = layout.address(piece);
        if (!runs.empty() && runs.back().address + runs.back().size == address)
            runs.back().size += size;
        else
            runs.push_back(Run{address, size});
    }
    return runs;
}

// The sections' names, each after the one before it in .shstrtab, which
// starts with the empty name and its own.
QByteArray sectionName(size_t index)
{
    return ".sec" + QByteArray::number(qulonglong(index + 1));
}
const char shstrtab[] = ".shstrtab";

// Where everything lies in the file, worked out from the layout alone, so
// that the tables go first and the data streams after them: the ELF header,
// the program headers, the section headers, the section names, then the runs'
// bytes in address order.
struct Plan
{
    std::vector<Run> runs;
    qint64 sectionsAt = 0;
    qint64 namesAt = 0;
    qint64 namesSize = 0;
    qint64 dataAt = 0;
    qint64 dataSize = 0;

    explicit Plan(const MergeLayout &layout)
        : runs(runsOf(layout))
    {
        const qint64 n = qint64(runs.size());
        sectionsAt = headerSize + n * programHeaderSize;
        namesAt = sectionsAt + (n + 2) * sectionHeaderSize;
        namesSize = 1 + qint64(sizeof shstrtab);
        for (size_t k = 0; k < runs.size(); ++k) {
            namesSize += sectionName(k).size() + 1;
            dataSize += runs[k].size;
        }
        dataAt = namesAt + namesSize;
    }
    qint64 fileSize() const { return dataAt + dataSize; }
};

// The numbers of the tables in the file's byte order.
class Table
{
public:
    explicit Table(bool bigEndian)
        : bigEndian(bigEndian)
    {
    }
    void put(int width, quint64 value)
    {
        for (int i = 0; i < width; ++i)
            bytes += char(value >> (8 * (bigEndian ? width - 1 - i : i)));
    }
    void half(quint64 value) { put(2, value); }
    void word(quint64 value) { put(4, value); }
    QByteArray bytes;

private:
    bool bigEndian;
};

// An ELF executable for debuggers and probes to load: a 32-bit file with one
// PT_LOAD segment and one section for each run of data, at its address
// (physical and virtual the same); the gaps between runs are not in it. Its
// entry point is the start address of the first file, in the order they were
// given, that has one, else the image's first data address.
class ElfWriter : public ImageWriter
{
public:
    ElfWriter(ByteSink &output, const WriterSettings &settings)
        : ImageWriter(output)
        , layout(settings.layout)
        , own(settings.own.get<ElfSettings>())
    {
    }

    qint64 outputSize(const MergeLayout &layout) const override { return Plan(layout).fileSize(); }
    bool fill(qint64, qint64) override { return tables(); }
    bool data(qint64, const char *bytes, qint64 count, const MergePiece &) override
    {
        return tables() && output.write(bytes, count);
    }
    bool finish() override { return tables(); }

private:
    bool tables();

    const MergeLayout *layout;
    ElfSettings own;
    bool written = false;
};

bool ElfWriter::tables()
{
    if (written)
        return true;
    written = true;
    if (!layout)
        return false;
    const Plan plan(*layout);
    // Offsets are 32-bit: data of nearly all the address space and the
    // tables before it would not fit.
    if (plan.fileSize() > 0xFFFFFFFF)
        return false;

    // The machine and byte order given, else those of an ELF input's
    // header where the merge looked at one.
    int machine = own.machine;
    bool bigEndian = own.bigEndian;
    for (const MergePlacement &p : layout->placements) {
        const QVariant inputMachine = p.details.value(QStringLiteral("machine"));
        if (inputMachine.isValid() && p.details.contains(QStringLiteral("byteOrder"))) {
            if (!own.byteOrderGiven)
                bigEndian = p.details.value(QStringLiteral("byteOrder")).toString() == QLatin1String("big");
            if (machine < 0)
                machine = inputMachine.toInt();
            break;
        }
    }
    machine = qMax(machine, 0);

    qint64 entry = plan.runs.empty() ? layout->base : plan.runs.front().address;
    int startFrom = -1; // the input that gave it
    for (const MergePlacement &p : layout->placements) {
        if (p.hasStartAddress && (startFrom < 0 || p.input < startFrom)) {
            entry = p.startAddress;
            startFrom = p.input;
        }
    }

    const qint64 segments = qint64(plan.runs.size());
    const qint64 sections = segments + 2;
    Table t(bigEndian);
    t.bytes.reserve(int(plan.dataAt));
    // The identification: the magic, 32-bit, the byte order, version 1,
    // the System V ABI, padding.
    t.bytes += "\x7f" "ELF";
    t.bytes += char(1);
    t.bytes += char(bigEndian ? 2 : 1);
    t.bytes += char(1);
    t.bytes += QByteArray(9, '\0');
    t.half(2); // ET_EXEC
    t.half(quint64(machine));
    t.word(1); // EV_CURRENT
    t.word(quint64(entry));
    t.word(segments > 0 ? quint64(headerSize) : 0);
    t.word(quint64(plan.sectionsAt));
    t.word(0); // no flags of the machine's
    t.half(headerSize);
    t.half(programHeaderSize);
    t.half(quint64(qMin(segments, manySegments)));
    t.half(sectionHeaderSize);
    t.half(sections >= manySections ? 0 : quint64(sections));
    t.half(sections - 1 >= manySections ? 0xFFFF : quint64(sections - 1)); // SHN_XINDEX, or .shstrtab's index

    qint64 at = plan.dataAt;
    for (const Run &run : plan.runs) {
        t.word(1); // PT_LOAD
        t.word(quint64(at));
        t.word(quint64(run.address)); // virtual
        t.word(quint64(run.address)); // physical
        t.word(quint64(run.size));    // in the file
        t.word(quint64(run.size));    // in memory
        t.word(7);                    // read, write, execute
        t.word(1);                    // no alignment asked for
        at += run.size;
    }

    // The first section header is all zeros but for counts too large for
    // the ELF header.
    t.word(0);
    t.word(0);
    t.word(0);
    t.word(0);
    t.word(0);
    t.word(sections >= manySections ? quint64(sections) : 0);
    t.word(sections - 1 >= manySections ? quint64(sections - 1) : 0);
    t.word(segments >= manySegments ? quint64(segments) : 0);
    t.word(0);
    t.word(0);
    QByteArray names(1, '\0');
    at = plan.dataAt;
    for (size_t k = 0; k < plan.runs.size(); ++k) {
        const Run &run = plan.runs[k];
        t.word(quint64(names.size()));
        names += sectionName(k) + '\0';
        t.word(1);     // SHT_PROGBITS
        t.word(1 | 2 | 4); // SHF_WRITE, SHF_ALLOC, SHF_EXECINSTR
        t.word(quint64(run.address));
        t.word(quint64(at));
        t.word(quint64(run.size));
        t.word(0);
        t.word(0);
        t.word(1);
        t.word(0);
        at += run.size;
    }
    t.word(quint64(names.size()));
    names += QByteArray(shstrtab, int(sizeof shstrtab));
    t.word(3); // SHT_STRTAB
    t.word(0);
    t.word(0);
    t.word(quint64(plan.namesAt));
    t.word(quint64(names.size()));
    t.word(0);
    t.word(0);
    t.word(1);
    t.word(0);
    t.bytes += names;
    return output.write(t.bytes.constData(), t.bytes.size());
}

} // namespace

MERGEFILE_REGISTER(ElfWriter)
{
    static const OutputFormatInfo format = [] {
        OutputFormatInfo f;
        f.name = "elf";
        f.summary = "a 32-bit ELF executable for debuggers and probes (--elf-machine, --elf-big-endian)";
        f.extensions = ".elf .axf";
        FormatOption machine;
        machine.name = QStringLiteral("elf-machine");
        machine.valueName = QStringLiteral("machine");
        machine.help = QStringLiteral("The machine an --format elf output names in its header (e_machine): arm, "
                                      "riscv, avr, msp430, ppc, none (the default) or its number from 0 to 65535.");
        for (const MachineName &known : machineNames)
            machine.words << QLatin1String(known.name);
        machine.parse = parseMachine;
        FormatOption big;
        big.name = QStringLiteral("elf-big-endian");
        big.help = QStringLiteral("Write an --format elf output big-endian (by default the byte order of an ELF input, "
                                  "else little-endian).");
        big.parse = parseBigEndian;
        f.options = {machine, big};
        f.readsInputDetails = true;
        f.make = [](ByteSink &output, const WriterSettings &settings) {
            return std::unique_ptr<ImageWriter>(new ElfWriter(output, settings));
        };
        return f;
    }();
    OutputFormats::add(format);
}
