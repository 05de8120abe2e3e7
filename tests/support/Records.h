#ifndef RECORDS_H
#define RECORDS_H

// Intel HEX and S-records made from the formats' definitions, their
// checksums worked out here, for tests to read and to compare with.

#include <QByteArray>

// An Intel HEX record: length, offset, type, data and the two's complement
// of their sum.
inline QByteArray hexRecord(int type, int offset, const QByteArray &data)
{
    QByteArray bytes;
    bytes += char(data.size());
    bytes += char(offset >> 8);
    bytes += char(offset);
    bytes += char(type);
    bytes += data;
    int sum = 0;
    for (const char b : bytes)
        sum += uchar(b);
    bytes += char(-sum);
    return ':' + bytes.toHex().toUpper() + '\n';
}

// An S-record of the given type and address width: the count covers the
// address, data and checksum, which is the one's complement of the sum.
inline QByteArray sRecord(int type, quint32 address, int width, const QByteArray &data)
{
    QByteArray bytes;
    bytes += char(data.size() + width + 1);
    for (int i = width - 1; i >= 0; --i)
        bytes += char(address >> (8 * i));
    bytes += data;
    int sum = 0;
    for (const char b : bytes)
        sum += uchar(b);
    bytes += char(~sum);
    return 'S' + QByteArray::number(type) + bytes.toHex().toUpper() + '\n';
}

#endif // RECORDS_H
