#include "FieldKind.h"

// The field kinds, in the order --help lists them: one row each, its sum in a
// file of its own.
#define MERGEFILE_FIELD_KINDS(row) \
    row(crc32Field)                \
    row(crc32Mpeg2Field)           \
    row(crc16CcittField)           \
    row(crc16XmodemField)          \
    row(sum8Field)                 \
    row(lengthField)               \
    row(sha256Field)

#define MERGEFILE_DECLARE(kind) const FieldKind &kind();
MERGEFILE_FIELD_KINDS(MERGEFILE_DECLARE)
#undef MERGEFILE_DECLARE

const QVector<const FieldKind *> &FieldKinds::all()
{
#define MERGEFILE_LIST(kind) &kind(),
    static const QVector<const FieldKind *> kinds{MERGEFILE_FIELD_KINDS(MERGEFILE_LIST)};
#undef MERGEFILE_LIST
    return kinds;
}

const FieldKind *FieldKinds::find(const QString &name)
{
    for (const FieldKind *kind : all()) {
        if (name == QLatin1String(kind->name))
            return kind;
    }
    return nullptr;
}

QStringList FieldKinds::names()
{
    QStringList list;
    for (const FieldKind *kind : all())
        list << QLatin1String(kind->name);
    return list;
}

QByteArray numberBytes(quint64 value, int size, bool bigEndian)
{
    QByteArray out(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        out[i] = char((value >> (8 * (bigEndian ? size - 1 - i : i))) & 0xFF);
    return out;
}

qint64 fieldNumber(const MergeField &field)
{
    if (!field.kind || !field.kind->isNumber())
        return -1;
    quint64 number = 0;
    const int size = field.value.size();
    for (int i = 0; i < size; ++i)
        number |= quint64(uchar(field.value.at(i))) << (8 * (field.bigEndian ? size - 1 - i : i));
    return qint64(number);
}
