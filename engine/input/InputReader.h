#ifndef INPUTREADER_H
#define INPUTREADER_H

#include "Bytes.h"
#include "FormatSettings.h"
#include "MergeLayout.h"
#include "Registry.h"

#include <QByteArray>
#include <QLatin1String>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <QVector>

class ScratchStore;

// What a merge asks of every reader.
struct ReadOptions
{
    FormatSettings formats; // what the formats' own options set
    // Also gather what is particular to the format (InputContent::details),
    // for looking inside a file; a merge does without.
    bool details = false;
};

// What an input holds, at its own addresses.
struct InputContent
{
    // In the order the file gives them. dataOffset is in the source, unless
    // inStore (bytes decoded from records).
    QVector<MergeSegment> segments;
    bool hasStartAddress = false;
    quint32 startAddress = 0;
    // What belongs to the format alone, when asked for: named values (text,
    // numbers, lists and maps of them), as a JSON object shows them. Each
    // reader names its own: HEX and S-record record types and the longest
    // record, the S0 header's text, ELF's class, byte order, machine and
    // loadable segments, UF2's families and blocks passed over. Keys in
    // lowerCamelCase; counts are qint64, addresses and other values the file
    // gives quint64. Complete only when the read succeeds (ELF's header is
    // there as soon as it is read), and bounded whatever the file: counts go
    // on, lists stop at listedAtMost entries.
    QVariantMap details;
    static constexpr int listedAtMost = 100;
};

// Turns one input format into segments. Data that is not in the file as it
// lies (record text) is decoded into the store, never into memory.
//
// The formats are a registry: a new one is a reader in a file of its own
// that registers it (MERGEFILE_REGISTER, Registry.h), with its own options
// where it has any; nothing else names it. What a file is gets told once, from its first
// bytes, by one rule: the first reader in the registry that knows the head as
// its own takes it, else it is raw data. From then on the file IS that format,
// and whatever is wrong with it is a refusal, never a reason to read it as
// raw data after all.
class InputReader
{
public:
    enum Result {
        Read,
        Damaged, // problem says where and how
        ReadFailed,
        StoreFailed,
    };

    virtual ~InputReader() = default;
    // As maps and layouts name the format.
    virtual QLatin1String name() const = 0;
    // Whether a file that starts with head is of this format; size is the
    // file's length, or -1 for a stream that goes on past head.
    virtual bool tells(const QByteArray &head, qint64 size) const = 0;
    // What told it, for a reader of `info`: "its first line that is not
    // empty is an Intel HEX record".
    virtual QString toldBy() const = 0;
    virtual Result read(ByteSource &source, ScratchStore &store, const ReadOptions &options, InputContent &content,
                        QString &problem) const = 0;

    // The options it takes for itself, into ReadOptions::formats: taken
    // whatever the output's format, since any input may be of this one.
    virtual const QVector<FormatOption> &options() const;

    // Whether what it reads stays where it lies in the file (ELF's segments),
    // rather than decoded into the store: nothing to decode ahead then.
    virtual bool readsInPlace() const { return false; }

    bool isRaw() const { return this == &raw(); }

    // A reader's file registers it with this, in the order formats are told
    // apart.
    static void add(const InputReader &reader);
    static const QVector<const InputReader *> &all();

    // How many first bytes tell the format: more than the longest record
    // line, with room for blank lines before it.
    static constexpr int headSize = 4096;
    // The reader for a file that starts with head; raw data when no other
    // takes it.
    static const InputReader &tell(const QByteArray &head, qint64 size);
    // Blank lines (CR and LF) before a file's first text tell nothing but
    // that it is no binary format, however many there are: a file that
    // starts with blankLead of them is told as if they were one LF, followed
    // by head, the bytes after them (size counts it so too).
    static const InputReader &tellAfterBlankLines(qint64 blankLead, const QByteArray &head, qint64 size);
    static bool isLineEnd(char c) { return c == '\n' || c == '\r'; }
    static const InputReader &raw();
    // The reader of the format of that name; null for none.
    static const InputReader *find(const QString &name);
    // Every format's name, raw data last.
    static QStringList names();
};

inline QLatin1String registryName(const InputReader &reader)
{
    return reader.name();
}

#endif // INPUTREADER_H
