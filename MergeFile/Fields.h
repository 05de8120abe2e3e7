#ifndef FIELDS_H
#define FIELDS_H

#include "MergeLayout.h"

#include <QByteArray>
#include <QString>

#include <memory>

class Crc32;
class Sha256;

// Works a field's value out of the bytes it covers, fed in address order.
class FieldSum
{
public:
    explicit FieldSum(FieldKind kind);
    ~FieldSum();
    FieldSum(FieldSum &&) noexcept;
    FieldSum &operator=(FieldSum &&) noexcept;

    void add(const char *data, qint64 size);
    // The field's bytes; numbers in the byte order asked for.
    QByteArray bytes(bool bigEndian);

private:
    FieldKind kind;
    quint32 crc = 0;
    quint64 count = 0;
    std::unique_ptr<Crc32> zlib;
    std::unique_ptr<Sha256> sha;
};

int fieldSize(FieldKind kind);
// A checksum or length as a number (its bytes read in the field's byte
// order); -1 for a SHA-256.
qint64 fieldNumber(const MergeField &field);
QString fieldKindName(FieldKind kind);

// Reads KIND@ADDR[,FROM-TO][,be] (hexadecimal addresses, TO the first
// address after the range); false with what is wrong.
bool parseField(const QString &text, MergeField *field, QString *problem);

#endif // FIELDS_H
