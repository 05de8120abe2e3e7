#include "LayoutReport.h"

#include "fields/FieldKind.h"
#include "input/InputReader.h"
#include "report/MergeMap.h"

namespace {

QString hex(qint64 value)
{
    return QStringLiteral("0x%1").arg(value, 8, 16, QLatin1Char('0'));
}

} // namespace

QStringList mcubootLines(const QVariantMap &details, qint64 address, const QString &indent)
{
    if (details.isEmpty())
        return {};
    const QVariantMap header = details.value(QStringLiteral("header")).toMap();
    const QStringList flags = header.value(QStringLiteral("flagNames")).toStringList();
    QStringList lines;
    lines << indent + QStringLiteral("MCUboot image, version %1, load address %2, flags %3%4")
                          .arg(header.value(QStringLiteral("version")).toString(),
                               header.value(QStringLiteral("loadAddress")).toString(),
                               header.value(QStringLiteral("flags")).toString(),
                               flags.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(flags.join(QLatin1String(", "))));
    const qint64 headerSize = header.value(QStringLiteral("headerSize")).toLongLong();
    const qint64 imageSize = header.value(QStringLiteral("imageSize")).toLongLong();
    const qint64 protectedSize = header.value(QStringLiteral("protectedTlvSize")).toLongLong();
    const qint64 end = details.value(QStringLiteral("end")).toLongLong();
    const auto part = [&](const QString &what, qint64 from, qint64 to) {
        lines << indent + QStringLiteral("  %1 %2 - %3 (%4 bytes)").arg(what, hex(address + from), hex(address + to)).arg(to - from);
    };
    part(QStringLiteral("header     "), 0, headerSize);
    part(QStringLiteral("application"), headerSize, headerSize + imageSize);
    if (protectedSize > 0)
        part(QStringLiteral("protected  "), headerSize + imageSize, headerSize + imageSize + protectedSize);
    part(QStringLiteral("TLV area   "), headerSize + imageSize + protectedSize, end);
    for (const QVariant &item : details.value(QStringLiteral("tlvs")).toList()) {
        const QVariantMap tlv = item.toMap();
        lines << indent + QStringLiteral("  TLV %1 %2, %3 bytes at %4%5")
                              .arg(tlv.value(QStringLiteral("type")).toString(), tlv.value(QStringLiteral("name")).toString())
                              .arg(tlv.value(QStringLiteral("length")).toLongLong())
                              .arg(hex(address + tlv.value(QStringLiteral("offset")).toLongLong()))
                              .arg(tlv.value(QStringLiteral("protected")).toBool() ? QStringLiteral(", protected") : QString());
    }
    const QVariantMap trailer = details.value(QStringLiteral("trailer")).toMap();
    if (!trailer.isEmpty())
        lines << indent + QStringLiteral("  trailer: max-align %1, image-ok %2, copy-done %3, swap-info %4")
                              .arg(trailer.value(QStringLiteral("maxAlign")).toInt())
                              .arg(trailer.value(QStringLiteral("imageOk")).toString(),
                                   trailer.value(QStringLiteral("copyDone")).toString(),
                                   trailer.value(QStringLiteral("swapInfo")).toString());
    return lines;
}

void layoutReport(const MergeLayout &layout, const std::function<void(const QString &)> &line)
{
    line(QStringLiteral("file       start      offset        size         end  fill after"));
    for (const MergePlacement &p : layout.placements) {
        line(QStringLiteral("%1  %2  %3  %4  %5  %6")
                     .arg(p.row, 4)
                     .arg(hex(p.address), hex(p.offset), hex(p.size), hex(p.end), hex(p.fillAfter)));
        // A row made an MCUboot image: where its header, application and TLVs lie.
        const QVariantMap image = p.details.value(QStringLiteral("mcuboot")).toMap();
        for (const QString &text : mcubootLines(image, p.address, QStringLiteral("      ")))
            line(text);
        if (p.isRaw()) {
            // Trimmed, a raw file may keep several runs.
            if (layout.isTrimmed())
                for (MergeRanges range(p); range.next();)
                    line(QStringLiteral("      kept %1 - %2 (%3 bytes)")
                                 .arg(hex(range.start), hex(range.end))
                                 .arg(range.end - range.start));
            continue;
        }
        // Where its pieces came from: its own addresses, moved by the shift.
        QString origin = QStringLiteral("      %1").arg(p.format->name());
        origin += p.shift == 0 ? QStringLiteral(", at its own addresses")
                               : QStringLiteral(", moved by %1%2").arg(p.shift < 0 ? QLatin1Char('-') : QLatin1Char('+'))
                                                                   .arg(hex(qAbs(p.shift)));
        if (p.hasStartAddress)
            origin += QStringLiteral(", start address %1").arg(hex(p.startAddress));
        line(origin);
        for (MergeRanges range(p); range.next();)
            line(QStringLiteral("      segment %1 - %2 (%3 bytes)")
                         .arg(hex(range.start), hex(range.end))
                         .arg(range.end - range.start));
    }
    for (const AddressRange &r : layout.crop)
        line(QStringLiteral("cropped to %1 - %2").arg(hex(r.from), hex(r.to)));
    for (const AddressRange &r : layout.exclude)
        line(QStringLiteral("excluded %1 - %2").arg(hex(r.from), hex(r.to)));
    for (const MergeOverride &o : layout.overrides)
        line(QStringLiteral("overridden %1 - %2 (%3 bytes): file %4's bytes, file %5 kept them")
                     .arg(hex(o.range.from), hex(o.range.to))
                     .arg(o.range.to - o.range.from)
                     .arg(layout.placementOf(o.lost).row)
                     .arg(layout.placementOf(o.kept).row));
    for (const MergePlacement &p : layout.placements) {
        if (p.slotSize > 0)
            line(QStringLiteral("slot of file %1: %2 bytes at %3, %4 bytes left")
                         .arg(p.row)
                         .arg(p.slotSize)
                         .arg(hex(p.address))
                         .arg(p.slotSize - (p.end - p.address)));
    }
    for (const MergeField &f : layout.fields) {
        const qint64 number = fieldNumber(f);
        line(QStringLiteral("field %1: %2 at %3 - %4, over %5 - %6%7, %8")
                     .arg(f.text, QLatin1String(f.kind->name), hex(f.address), hex(f.end()), hex(f.from), hex(f.to),
                          f.wholeImage ? QStringLiteral(" without itself") : QString(),
                          number >= 0 ? QStringLiteral("value %1 (bytes %2)")
                                            .arg(hex(number), QString::fromLatin1(f.value.toHex(' ')))
                                      : QStringLiteral("value %1").arg(QString::fromLatin1(f.value.toHex()))));
    }
    if (layout.sectorSize > 0)
        line(QStringLiteral("erase sectors of %1 bytes touched: %2").arg(layout.sectorSize).arg(layout.sectorsTouched));
    line(QStringLiteral("image length %1 (%2 bytes)").arg(hex(layout.imageSize)).arg(layout.imageSize));
    if (layout.base != defaultImageBase)
        line(QStringLiteral("image base %1").arg(hex(layout.base)));
}
