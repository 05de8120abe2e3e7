#ifndef RECORDS_H
#define RECORDS_H

// Intel HEX and S-records, ELF files and UF2 blocks, made from the formats'
// definitions (checksums worked out here) for tests to read and compare with.

#include <QByteArray>
#include <QVector>

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

// An ELF file: header, program headers (type, offset, physical address,
// file size, memory size) and the bytes they point at, in either class and
// byte order.
struct ElfSegment
{
    quint32 type;
    quint64 offset;
    quint64 physical;
    quint64 fileSize;
    quint64 memorySize;
};

inline QByteArray elfFile(bool wide, bool bigEndian, const QVector<ElfSegment> &segments, quint64 entry, int fileSize)
{
    QByteArray file(fileSize, '\0');
    const auto put = [&](int at, quint64 value, int width) {
        for (int i = 0; i < width; ++i)
            file[at + i] = char(value >> (8 * (bigEndian ? width - 1 - i : i)));
    };
    file.replace(0, 4, "\x7f" "ELF");
    file[4] = char(wide ? 2 : 1);
    file[5] = char(bigEndian ? 2 : 1);
    file[6] = 1;
    const int word = wide ? 8 : 4;
    const int tableAt = wide ? 64 : 52;
    const int entrySize = wide ? 56 : 32;
    put(16, 2, 2); // an executable
    put(24, entry, word);
    put(wide ? 32 : 28, quint64(tableAt), word);
    put(wide ? 54 : 42, quint64(entrySize), 2);
    put(wide ? 56 : 44, quint64(segments.size()), 2);
    for (int k = 0; k < segments.size(); ++k) {
        const int at = tableAt + k * entrySize;
        const ElfSegment &s = segments.at(k);
        put(at, s.type, 4);
        put(at + (wide ? 8 : 4), s.offset, word);
        put(at + (wide ? 16 : 8), s.physical + 0x1000000, word); // where it runs: not what is merged
        put(at + (wide ? 24 : 12), s.physical, word);
        put(at + (wide ? 32 : 16), s.fileSize, word);
        put(at + (wide ? 40 : 20), s.memorySize, word);
    }
    // The bytes segments point at: from 512 on, or past a longer table.
    for (int i = qMax(512, tableAt + int(segments.size()) * entrySize); i < fileSize; ++i)
        file[i] = char(i * 7);
    return file;
}

// One UF2 block as the format's description lays it out.
inline QByteArray uf2Block(quint32 number, quint32 count, quint32 flags, quint32 address, const QByteArray &payload,
                           quint32 family = 0, quint32 payloadSize = 0)
{
    QByteArray block;
    const auto put = [&block](quint32 v) {
        for (int i = 0; i < 4; ++i)
            block += char(v >> (8 * i));
    };
    for (const quint32 v : {0x0A324655u, 0x9E5D5157u, flags, address, payloadSize ? payloadSize : quint32(payload.size()),
                            number, count, family})
        put(v);
    block += payload + QByteArray(476 - payload.size(), '\0');
    put(0x0AB16F30u);
    return block;
}

#endif // RECORDS_H
