#include "FieldSpec.h"

#include "Address.h"
#include "FieldKind.h"

#include <QStringList>

namespace {

// "a, b or c"
QString alternatives(const QStringList &names)
{
    if (names.size() < 2)
        return names.join(QString());
    return names.mid(0, names.size() - 1).join(QLatin1String(", ")) + QLatin1String(" or ") + names.last();
}

} // namespace

bool parseField(const QString &text, MergeField *field, QString *problem)
{
    *field = MergeField();
    field->text = text;
    const QString usage = QStringLiteral("give KIND@ADDR[,FROM-TO][,be]");
    const int at = text.indexOf(QLatin1Char('@'));
    if (at <= 0) {
        *problem = usage;
        return false;
    }
    const QString kind = text.left(at);
    field->kind = FieldKinds::find(kind);
    if (!field->kind) {
        *problem = QStringLiteral("unknown kind %1: %2").arg(kind, alternatives(FieldKinds::names()));
        return false;
    }
    field->size = field->kind->size;
    QStringList parts = text.mid(at + 1).split(QLatin1Char(','));
    if (parts.size() > 1 && parts.last() == QLatin1String("be")) {
        field->bigEndian = true;
        parts.removeLast();
    }
    if (!Address::hexNumber(parts.value(0), addressSpaceEnd - field->size, &field->address)) {
        *problem = QStringLiteral("%1 is not a hexadecimal address where %2 bytes fit below 100000000")
                       .arg(parts.value(0))
                       .arg(field->size);
        return false;
    }
    if (parts.size() > 2) {
        *problem = usage;
        return false;
    }
    if (parts.size() == 2) {
        field->wholeImage = false;
        AddressRange range;
        const bool ok = Address::range(parts.at(1), &range);
        field->from = range.from;
        field->to = range.to;
        if (!ok) {
            *problem = QStringLiteral("%1 is not a range FROM-TO of hexadecimal addresses, FROM below TO").arg(parts.at(1));
            return false;
        }
    }
    return true;
}
