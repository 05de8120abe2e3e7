#include "Fields.h"

#include "Checksums.h"

#include <QStringList>

#include <array>

namespace {

struct KindName
{
    FieldKind kind;
    const char *name;
    int size;
};

const KindName kinds[] = {
    {FieldKind::Crc32, "crc32", 4},        {FieldKind::Crc32Mpeg2, "crc32-mpeg2", 4},
    {FieldKind::Crc16Ccitt, "crc16-ccitt", 2}, {FieldKind::Crc16Xmodem, "crc16-xmodem", 2},
    {FieldKind::Sum8, "sum8", 1},          {FieldKind::Length, "length", 4},
    {FieldKind::Sha256, "sha256", 32},
};

// Table-driven CRCs that shift the most significant bit out first.
template <typename Value>
std::array<Value, 256> msbFirstTable(Value polynomial)
{
    constexpr int width = int(sizeof(Value)) * 8;
    std::array<Value, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        Value c = Value(Value(i) << (width - 8));
        for (int k = 0; k < 8; ++k)
            c = (c >> (width - 1)) & 1 ? Value((c << 1) ^ polynomial) : Value(c << 1);
        table[i] = c;
    }
    return table;
}

const std::array<quint32, 256> &mpeg2Table()
{
    static const std::array<quint32, 256> table = msbFirstTable<quint32>(0x04C11DB7u);
    return table;
}

const std::array<quint16, 256> &ccittTable()
{
    static const std::array<quint16, 256> table = msbFirstTable<quint16>(0x1021);
    return table;
}

} // namespace

int fieldSize(FieldKind kind)
{
    for (const KindName &k : kinds) {
        if (k.kind == kind)
            return k.size;
    }
    return 0;
}

qint64 fieldNumber(const MergeField &field)
{
    if (field.kind == FieldKind::Sha256)
        return -1;
    quint64 number = 0;
    const int size = field.value.size();
    for (int i = 0; i < size; ++i)
        number |= quint64(uchar(field.value.at(i))) << (8 * (field.bigEndian ? size - 1 - i : i));
    return qint64(number);
}

int MergeField::size() const
{
    return fieldSize(kind);
}

QString fieldKindName(FieldKind kind)
{
    for (const KindName &k : kinds) {
        if (k.kind == kind)
            return QLatin1String(k.name);
    }
    return QString();
}

FieldSum::FieldSum(FieldKind kind)
    : kind(kind)
{
    switch (kind) {
    case FieldKind::Crc32:
        zlib.reset(new Crc32);
        break;
    case FieldKind::Crc32Mpeg2:
        crc = 0xFFFFFFFFu;
        break;
    case FieldKind::Crc16Ccitt:
        crc = 0xFFFF;
        break;
    case FieldKind::Sha256:
        sha.reset(new Sha256);
        break;
    default:
        break;
    }
}

FieldSum::~FieldSum() = default;
FieldSum::FieldSum(FieldSum &&) noexcept = default;
FieldSum &FieldSum::operator=(FieldSum &&) noexcept = default;

void FieldSum::add(const char *data, qint64 size)
{
    const auto *p = reinterpret_cast<const unsigned char *>(data);
    count += quint64(size);
    switch (kind) {
    case FieldKind::Crc32:
        zlib->add(data, size);
        break;
    case FieldKind::Crc32Mpeg2: {
        const std::array<quint32, 256> &t = mpeg2Table();
        quint32 c = crc;
        for (qint64 i = 0; i < size; ++i)
            c = (c << 8) ^ t[((c >> 24) ^ p[i]) & 0xFF];
        crc = c;
        break;
    }
    case FieldKind::Crc16Ccitt:
    case FieldKind::Crc16Xmodem: {
        const std::array<quint16, 256> &t = ccittTable();
        quint16 c = quint16(crc);
        for (qint64 i = 0; i < size; ++i)
            c = quint16((c << 8) ^ t[((c >> 8) ^ p[i]) & 0xFF]);
        crc = c;
        break;
    }
    case FieldKind::Sum8:
        for (qint64 i = 0; i < size; ++i)
            crc += p[i];
        break;
    case FieldKind::Sha256:
        sha->add(data, size);
        break;
    case FieldKind::Length:
        break;
    }
}

QByteArray FieldSum::bytes(bool bigEndian)
{
    quint32 value = crc;
    switch (kind) {
    case FieldKind::Sha256:
        return sha->result();
    case FieldKind::Crc32:
        value = zlib->result();
        break;
    case FieldKind::Length:
        value = quint32(count);
        break;
    default:
        break;
    }
    const int size = fieldSize(kind);
    QByteArray out(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i) {
        const int shift = 8 * (bigEndian ? size - 1 - i : i);
        out[i] = char((value >> shift) & 0xFF);
    }
    return out;
}

bool parseField(const QString &text, MergeField *field, QString *problem)
{
    *field = MergeField();
    field->text = text;
    const int at = text.indexOf(QLatin1Char('@'));
    if (at <= 0) {
        *problem = QStringLiteral("give KIND@ADDR[,FROM-TO][,be]");
        return false;
    }
    const QString kind = text.left(at);
    bool known = false;
    for (const KindName &k : kinds) {
        if (kind == QLatin1String(k.name)) {
            field->kind = k.kind;
            known = true;
        }
    }
    if (!known) {
        *problem = QStringLiteral("unknown kind %1: crc32, crc32-mpeg2, crc16-ccitt, crc16-xmodem, sum8, length or sha256")
                       .arg(kind);
        return false;
    }
    QStringList parts = text.mid(at + 1).split(QLatin1Char(','));
    if (parts.size() > 1 && parts.last() == QLatin1String("be")) {
        field->bigEndian = true;
        parts.removeLast();
    }
    bool ok = false;
    field->address = parts.value(0).toLongLong(&ok, 16);
    if (!ok || field->address < 0 || field->end() > addressSpaceEnd) {
        *problem = QStringLiteral("%1 is not a hexadecimal address where %2 bytes fit below 100000000")
                       .arg(parts.value(0))
                       .arg(field->size());
        return false;
    }
    if (parts.size() == 2) {
        field->wholeImage = false;
        const QStringList range = parts.at(1).split(QLatin1Char('-'));
        bool fromOk = false, toOk = false;
        if (range.size() == 2) {
            field->from = range.at(0).toLongLong(&fromOk, 16);
            field->to = range.at(1).toLongLong(&toOk, 16);
        }
        if (!fromOk || !toOk || field->from < 0 || field->to <= field->from || field->to > addressSpaceEnd) {
            *problem = QStringLiteral("%1 is not a range FROM-TO of hexadecimal addresses, FROM below TO")
                           .arg(parts.at(1));
            return false;
        }
    } else if (parts.size() > 2) {
        *problem = QStringLiteral("give KIND@ADDR[,FROM-TO][,be]");
        return false;
    }
    return true;
}
