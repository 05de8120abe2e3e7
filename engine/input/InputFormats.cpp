#include "InputReader.h"

// The input formats, in the order they are told apart: one row each, its
// reader in a file of its own. Raw data takes what none of them does.
#define MERGEFILE_INPUT_FORMATS(row) \
    row(elfInput)                    \
    row(uf2Input)                    \
    row(intelHexInput)               \
    row(sRecordInput)                \
    row(tiTxtInput)

#define MERGEFILE_DECLARE(reader) const InputReader &reader();
MERGEFILE_INPUT_FORMATS(MERGEFILE_DECLARE)
#undef MERGEFILE_DECLARE
const InputReader &rawInput();

namespace {

const QVector<const InputReader *> &registry()
{
#define MERGEFILE_LIST(reader) &reader(),
    static const QVector<const InputReader *> readers{MERGEFILE_INPUT_FORMATS(MERGEFILE_LIST)};
#undef MERGEFILE_LIST
    return readers;
}

} // namespace

const InputReader &InputReader::raw()
{
    return rawInput();
}

const InputReader &InputReader::tell(const QByteArray &head, qint64 size)
{
    for (const InputReader *reader : registry()) {
        if (reader->tells(head, size))
            return *reader;
    }
    return raw();
}

const InputReader &InputReader::tellAfterBlankLines(qint64 blankLead, const QByteArray &head, qint64 size)
{
    if (blankLead == 0)
        return tell(head, size);
    return tell('\n' + head, size < 0 ? size : size - blankLead + 1);
}

const InputReader *InputReader::find(const QString &name)
{
    for (const InputReader *reader : registry()) {
        if (name == reader->name())
            return reader;
    }
    return name == raw().name() ? &raw() : nullptr;
}

QStringList InputReader::names()
{
    QStringList list;
    for (const InputReader *reader : registry())
        list << reader->name();
    return list << raw().name();
}

bool MergePlacement::isRaw() const
{
    return !format || format->isRaw();
}
