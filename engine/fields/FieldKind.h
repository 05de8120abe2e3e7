#ifndef FIELDKIND_H
#define FIELDKIND_H

#include "MergeLayout.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

#include <memory>

// Works a field's value out of the bytes it covers, fed in address order.
class FieldSum
{
public:
    virtual ~FieldSum() = default;
    virtual void add(const char *data, qint64 size) = 0;
    // The field's bytes; numbers in the byte order asked for.
    virtual QByteArray bytes(bool bigEndian) = 0;
};

// One kind of field: its name on the command line, its size, and how its
// value is worked out. The kinds are a registry (FieldKinds.cpp): a new one
// is a file of its own and a row there.
class FieldKind
{
public:
    const char *name;
    int size;
    std::unique_ptr<FieldSum> (*start)();

    // A checksum or count, shown as a number; not a digest.
    bool isNumber() const { return size <= 8; }
};

namespace FieldKinds {
// In the order --help lists them.
const QVector<const FieldKind *> &all();
const FieldKind *find(const QString &name);
QStringList names();
} // namespace FieldKinds

// A number's size bytes in the byte order asked for.
QByteArray numberBytes(quint64 value, int size, bool bigEndian);
// A checksum or length as a number (its bytes read in the field's byte
// order); -1 for a digest.
qint64 fieldNumber(const MergeField &field);

#endif // FIELDKIND_H
