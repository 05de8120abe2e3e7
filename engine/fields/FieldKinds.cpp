#include "FieldKind.h"

void FieldKinds::add(const FieldKind &kind)
{
    Registry<FieldKind>::add(kind);
}

const QVector<const FieldKind *> &FieldKinds::all()
{
    return Registry<FieldKind>::all();
}

const FieldKind *FieldKinds::find(const QString &name)
{
    return Registry<FieldKind>::find(name);
}

QStringList FieldKinds::names()
{
    return Registry<FieldKind>::names();
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
