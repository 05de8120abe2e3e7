#include "InputReader.h"

const InputReader &rawInput();

void InputReader::add(const InputReader &reader)
{
    Registry<InputReader>::add(reader);
}

const QVector<const InputReader *> &InputReader::all()
{
    return Registry<InputReader>::all();
}

const QVector<FormatOption> &InputReader::options() const
{
    static const QVector<FormatOption> none;
    return none;
}

const InputReader &InputReader::raw()
{
    return rawInput();
}

// Raw data takes what none of the registered formats does.
const InputReader &InputReader::tell(const QByteArray &head, qint64 size)
{
    for (const InputReader *reader : all()) {
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
    if (const InputReader *reader = Registry<InputReader>::find(name))
        return reader;
    return name == raw().name() ? &raw() : nullptr;
}

QStringList InputReader::names()
{
    return Registry<InputReader>::names() << raw().name();
}

bool MergePlacement::isRaw() const
{
    return !format || format->isRaw();
}
