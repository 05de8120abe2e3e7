#include "Address.h"

#include <QStringList>

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

QString hex(qint64 address)
{
    return QStringLiteral("0x") + QString::number(address, 16).toUpper().rightJustified(8, QLatin1Char('0'));
}

} // namespace Address
