#include "InputReader.h"

const InputReader &InputReader::raw()
{
    static const RawReader reader;
    return reader;
}

const InputReader &InputReader::forHead(const QByteArray &head)
{
    static const ElfReader elf;
    static const IntelHexReader hex;
    static const SRecordReader srec;
    for (const InputReader *reader : {static_cast<const InputReader *>(&elf), static_cast<const InputReader *>(&hex),
                                      static_cast<const InputReader *>(&srec)}) {
        if (reader->mayBe(head))
            return *reader;
    }
    return raw();
}

QString inputFormatName(InputFormat format)
{
    switch (format) {
    case InputFormat::IntelHex:
        return QStringLiteral("hex");
    case InputFormat::SRecord:
        return QStringLiteral("srec");
    case InputFormat::Elf:
        return QStringLiteral("elf");
    case InputFormat::Raw:
        break;
    }
    return QStringLiteral("raw");
}
