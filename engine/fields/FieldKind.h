#ifndef FIELDKIND_H
#define FIELDKIND_H

#include "MergeLayout.h"
#include "Registry.h"

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
// value is worked out. The kinds are a registry: a new one is a file of its
// own that registers its row (MERGEFILE_REGISTER, Registry.h).
class FieldKind
{
public:
    const char *name = "";
    int size = 0;
    std::unique_ptr<FieldSum> (*start)() = nullptr;
    // Its value is the SHA-256 of the bytes it covers: where those are the
    // flat image written so far, the output's own hash already holds it.
    bool isSha256 = false;

    // A checksum or count, shown as a number; not a digest.
    bool isNumber() const { return size <= 8; }
};

inline QLatin1String registryName(const FieldKind &kind)
{
    return QLatin1String(kind.name);
}

namespace FieldKinds {
// A kind's file registers its row with this.
void add(const FieldKind &kind);
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
