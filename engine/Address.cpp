#include "Address.h"

#include <QStringList>

#include <algorithm>

namespace Address {

qint32 fromWindowText(const QString &text, bool *ok)
{
    return text.toInt(ok, 16);
}

MergeRow windowRow(bool enabled, const QString &fileName, const QString &addressText)
{
    MergeRow row;
    row.enabled = enabled;
    row.fileName = fileName;
    if (!addressText.isEmpty())
        row.address = MergeAddress::at(fromWindowText(addressText));
    return row;
}

bool fromPairText(const QString &text, MergeAddress *address)
{
    if (text == QLatin1String("-")) {
        *address = MergeAddress::own();
        return true;
    }
    // A minus sign is no part of an address here (the window's rule reads
    // -10 as a number below its base).
    if (text.trimmed().startsWith(QLatin1Char('-')))
        return false;
    qint64 value = 0;
    if (!hexNumber(text, addressSpaceEnd - 1, &value))
        return false;
    *address = MergeAddress::at(value);
    return true;
}

bool hexNumber(const QString &text, qint64 most, qint64 *value)
{
    bool ok = false;
    *value = text.toLongLong(&ok, 16);
    return ok && *value >= 0 && *value <= most;
}

bool range(const QString &text, AddressRange *range)
{
    const QStringList ends = text.split(QLatin1Char('-'));
    return ends.size() == 2 && hexNumber(ends.at(0), addressSpaceEnd, &range->from)
           && hexNumber(ends.at(1), addressSpaceEnd, &range->to) && range->to > range->from;
}

QVector<AddressRange> joined(QVector<AddressRange> ranges)
{
    std::sort(ranges.begin(), ranges.end(), [](const AddressRange &a, const AddressRange &b) { return a.from < b.from; });
    QVector<AddressRange> out;
    for (const AddressRange &r : std::as_const(ranges)) {
        if (r.from >= r.to)
            continue;
        if (!out.isEmpty() && r.from <= out.last().to)
            out.last().to = qMax(out.last().to, r.to);
        else
            out.append(r);
    }
    return out;
}

QString hex(qint64 address)
{
    return QStringLiteral("0x") + QString::number(address, 16).toUpper().rightJustified(8, QLatin1Char('0'));
}

} // namespace Address
