#include "MergeMap.h"

#include "JsonWriter.h"
#include "fields/FieldKind.h"
#include "input/InputReader.h"
#include "writers/ImageWriter.h"

namespace {

// Each object's members by the order of their keys, as the map has always
// had them.
void writeFile(JsonWriter &json, const MergePlacement &p, const MergeDigest &digest)
{
    json.beginObject();
    json.member("crc32", QString::fromLatin1(digest.crc32));
    json.member("end", p.end);
    json.member("fillAfter", p.fillAfter);
    json.member("format", QString(p.format ? p.format->name() : InputReader::raw().name()));
    json.member("name", p.fileName);
    // Where a raw file's first byte lies, whatever trimming kept of it: what
    // a check that reads the file again lines it up by.
    if (p.isRaw() && !p.segments.isEmpty() && !p.segments.first().inStore)
        json.member("origin", p.segments.first().address - p.segments.first().dataOffset);
    json.member("row", qint64(p.row));
    json.beginArray("segments");
    for (MergeRanges range(p); range.next();) {
        json.beginObject();
        json.member("end", range.end);
        json.member("size", range.end - range.start);
        json.member("start", range.start);
        json.endObject();
    }
    json.endArray();
    json.member("sha256", QString::fromLatin1(digest.sha256));
    json.member("shift", p.shift);
    json.member("size", p.size);
    if (p.slotSize > 0) {
        json.beginObject("slot");
        json.member("left", p.slotSize - (p.end - p.address));
        json.member("size", p.slotSize);
        json.endObject();
    }
    json.member("start", p.address);
    if (p.hasStartAddress)
        json.member("startAddress", qint64(p.startAddress));
    json.endObject();
}

void writeField(JsonWriter &json, const MergeField &f)
{
    json.beginObject();
    json.member("address", f.address);
    json.member("bigEndian", f.bigEndian);
    json.member("bytes", QString::fromLatin1(f.value.toHex()));
    json.member("field", f.text);
    json.member("from", f.from);
    json.member("kind", QString::fromLatin1(f.kind->name));
    json.member("size", qint64(f.size));
    json.member("to", f.to);
    if (fieldNumber(f) >= 0)
        json.member("value", fieldNumber(f));
    json.member("wholeImage", f.wholeImage);
    json.endObject();
}

void writeRanges(JsonWriter &json, const char *name, const QVector<AddressRange> &ranges)
{
    if (ranges.isEmpty())
        return;
    json.beginArray(name);
    for (const AddressRange &r : ranges) {
        json.beginObject();
        json.member("from", r.from);
        json.member("to", r.to);
        json.endObject();
    }
    json.endArray();
}

} // namespace

bool writeMergeMap(ByteSink &sink, const OutputFormatInfo &format, const MergeLayout &layout,
                   const MergeDigests &digests, const MergeMapOutput &output)
{
    JsonWriter json(sink);
    json.beginObject();
    writeRanges(json, "crop", layout.crop);
    writeRanges(json, "exclude", layout.exclude);
    if (!layout.fields.isEmpty()) {
        json.beginArray("fields");
        for (const MergeField &f : layout.fields)
            writeField(json, f);
        json.endArray();
    }
    json.beginArray("files");
    for (int k = 0; k < layout.placements.size(); ++k)
        writeFile(json, layout.placements.at(k), k < digests.files.size() ? digests.files.at(k) : MergeDigest());
    json.endArray();
    json.member("format", QString::fromLatin1(format.name));
    json.beginObject("image");
    json.member("crc32", QString::fromLatin1(digests.image.crc32));
    json.member("fill", qint64(quint8(layout.fill)));
    json.member("leadingFill", layout.leadingFill);
    json.member("length", layout.imageSize);
    if (layout.sectorSize > 0) {
        json.member("sectorSize", layout.sectorSize);
        json.member("sectorsTouched", layout.sectorsTouched);
    }
    json.member("sha256", QString::fromLatin1(digests.image.sha256));
    json.member("start", layout.base);
    json.member("trailingFill", layout.trailingFill);
    json.endObject();
    if (output.length >= 0) {
        json.beginObject("output");
        json.member("length", output.length);
        json.member("name", output.name);
        if (!output.sha256.isEmpty())
            json.member("sha256", QString::fromLatin1(output.sha256));
        json.endObject();
    }
    // Where the overlap policy gave one file's addresses to another.
    if (!layout.overrides.isEmpty()) {
        json.beginArray("overrides");
        for (const MergeOverride &o : layout.overrides) {
            const MergePlacement &lost = layout.placementOf(o.lost), &kept = layout.placementOf(o.kept);
            json.beginObject();
            json.member("from", o.range.from);
            json.member("keptBy", kept.fileName);
            json.member("keptByRow", qint64(kept.row));
            json.member("lostBy", lost.fileName);
            json.member("lostByRow", qint64(lost.row));
            json.member("to", o.range.to);
            json.endObject();
        }
        json.endArray();
    }
    json.endObject();
    return json.finish();
}
