#include "Verify.h"

#include "Checksums.h"
#include "Compare.h"
#include "LoneFile.h"
#include "fields/FieldKind.h"
#include "fields/FieldPlan.h"
#include "input/InputReader.h"
#include "platform/SourceFile.h"
#include "writers/ImageWriter.h"

#include <QFileInfo>

#include <algorithm>
#include <memory>

namespace {

QString hex(qint64 address)
{
    return QStringLiteral("0x%1").arg(address, 8, 16, QLatin1Char('0')).toUpper().replace(QLatin1String("0X"), QLatin1String("0x"));
}

QString range(const AddressRange &r)
{
    return QStringLiteral("%1-%2").arg(hex(r.from), hex(r.to));
}

// The file's own bytes: their length and SHA-256, read through once.
bool hashWhole(const QString &name, qint64 &length, QByteArray &sha256)
{
    SourceFile file;
    if (!file.open(name))
        return false;
    const ChunkBuffer buffer = allocateChunk();
    if (!buffer)
        return false;
    Sha256 sha;
    length = 0;
    for (;;) {
        const qint64 n = file.readAt(length, buffer.get(), chunkSize);
        if (n < 0)
            return false;
        if (n == 0)
            break;
        sha.add(buffer.get(), n);
        length += n;
    }
    sha256 = sha.result().toHex();
    return true;
}

// What one walk of the image gives the checks: the flat image's sums, each
// file's over its segments, each field's bytes and its value worked out
// again by the rule that made it.
class VerifySink : public ImageSink
{
public:
    VerifySink(const MapFile &map, MergeLayout &fields)
        : map(map)
        , fieldLayout(fields)
        , owners(map)
        , fileCrcs(size_t(map.files.size()))
        , fieldBytes(size_t(map.fields.size()))
    {
        for (int k = 0; k < map.files.size(); ++k)
            fileShas.emplace_back(new Sha256);
        for (int k = 0; k < fields.fields.size(); ++k)
            sums.push_back(fields.fields.at(k).kind ? fields.fields.at(k).kind->start() : nullptr);
    }
    bool fill(qint64 address, qint64 count) override { return run(address, nullptr, count); }
    bool data(qint64 address, const char *bytes, qint64 count, const MergePiece &) override
    {
        return run(address, bytes, count);
    }

    const MapFile &map;
    MergeLayout &fieldLayout;
    MapOwners owners;
    Crc32 imageCrc;
    Sha256 imageSha;
    std::vector<Crc32> fileCrcs;
    std::vector<std::unique_ptr<Sha256>> fileShas;
    std::vector<QByteArray> fieldBytes;
    std::vector<std::unique_ptr<FieldSum>> sums;

private:
    bool run(qint64 address, const char *bytes, qint64 count)
    {
        const char *fillBytes = fillBlock(map.fill);
        for (qint64 done = 0; done < count;) {
            const qint64 n = qMin(count - done, fillBlockSize);
            const char *at = bytes ? bytes + done : fillBytes;
            imageCrc.add(at, n);
            imageSha.add(at, n);
            owners.split(address + done, address + done + n, [&](qint64 from, qint64 to, const MapOwner &owner) {
                const char *part = at + (from - address - done);
                if (owner.kind == MapOwner::File) {
                    fileCrcs[size_t(owner.index)].add(part, to - from);
                    fileShas[size_t(owner.index)]->add(part, to - from);
                } else if (owner.kind == MapOwner::Field) {
                    fieldBytes[size_t(owner.index)].append(part, int(to - from));
                }
                const int ownerField = owner.kind == MapOwner::Field ? owner.index : -1;
                for (size_t k = 0; k < sums.size(); ++k) {
                    if (sums[k])
                        FieldPlan::feed(fieldLayout, int(k), *sums[k], from, part, to - from, ownerField);
                }
            });
            done += n;
        }
        return true;
    }
};

// Whether all it is handed is the fill byte.
struct FillOnly : ImageSink
{
    explicit FillOnly(char fill)
        : fillByte(fill)
    {
    }
    bool fill(qint64, qint64) override { return true; }
    bool data(qint64, const char *bytes, qint64 count, const MergePiece &) override
    {
        for (qint64 i = 0; i < count && only; ++i)
            only = bytes[i] == fillByte;
        return true;
    }
    char fillByte;
    bool only = true;
};

// The first address in the file's segments where the image does not hold
// the source's bytes; -1 for none found (or no source to read).
qint64 firstDifference(const MapFile &map, const MapFile::File &entry, LoneFile &image)
{
    const QString name = map.locate(entry.name);
    if (!QFileInfo(name).isFile() || entry.segments.isEmpty())
        return -1;
    LoneFileOptions options;
    options.fill = map.fill;
    if (entry.format == InputReader::raw().name()) {
        // Lined up by where its first byte lies; without that (a map of an
        // older merge), only where nothing of its start was trimmed.
        options.detectFormats = false;
        if (entry.origin >= 0)
            options.base = entry.origin;
        else
            return -1;
    } else {
        options.format = InputReader::find(entry.format);
        if (!options.format)
            return -1;
        if (entry.shift != 0) {
            // Moved as the merge moved it: its own lowest address, shifted.
            LoneFile own(name, options, [](const QString &) {});
            if (!own.read() || own.isEmpty())
                return -1;
            options.moveTo = own.lowest() + entry.shift;
        }
    }
    LoneFile source(name, options, [](const QString &) {});
    if (!source.read())
        return -1;
    qint64 first = -1;
    CompareTotals totals;
    int at = 0; // the segment the ranges have reached
    compareFiles(source, image, -1, [&](const CompareRange &r) {
        if (first >= 0 || r.kind == CompareRange::OnlyB)
            return;
        while (at < entry.segments.size() && entry.segments.at(at).to <= r.start)
            ++at;
        if (at < entry.segments.size() && entry.segments.at(at).from < r.end)
            first = qMax(r.start, entry.segments.at(at).from);
    }, totals, [](const QString &) {});
    return first;
}

} // namespace

VerifyOutcome verifyImage(const MapFile &map, const QString &imageName, QVector<VerifyCheck> &checks,
                          const Messages::Log &log)
{
    checks.clear();
    if (!QFileInfo(imageName).isFile()) {
        log.refuse(Refusal::cannotOpen(0, imageName));
        return VerifyOutcome::Trouble;
    }
    const OutputFormatInfo *written = OutputFormats::find(map.format);
    const bool flat = written && written->isTheImage;
    const InputReader *reader = flat ? &InputReader::raw() : InputReader::find(map.format);
    if (!reader) {
        QStringList readable{QLatin1String(OutputFormats::flat().name)};
        for (const QString &name : InputReader::names()) {
            if (name != InputReader::raw().name())
                readable << name;
        }
        log.refuse(Refusal::cannotReadBack(imageName, map.format, readable.join(QLatin1String(", "))));
        return VerifyOutcome::Trouble;
    }
    const auto check = [&checks](const QString &what, bool holds, const QString &detail = QString()) {
        checks.append({what, holds, holds ? QString() : detail});
        return holds;
    };

    // The output as a file: what sha256sum says of it.
    if (map.hasOutput) {
        qint64 length = 0;
        QByteArray sha;
        if (!hashWhole(imageName, length, sha)) {
            log.refuse(Refusal::failToRead(0, imageName));
            return VerifyOutcome::Trouble;
        }
        check(QStringLiteral("output length"), length == map.outputLength,
              QStringLiteral("%1 bytes, the map says %2").arg(length).arg(map.outputLength));
        if (!map.outputSha256.isEmpty())
            check(QStringLiteral("output SHA-256"), sha == map.outputSha256,
                  QStringLiteral("%1, the map says %2").arg(QString::fromLatin1(sha), QString::fromLatin1(map.outputSha256)));
    }

    // The image as its format holds it.
    LoneFileOptions options;
    options.fill = map.fill;
    options.base = map.imageStart;
    options.detectFormats = !flat;
    options.format = flat ? nullptr : reader;
    QString refusal;
    LoneFile image(imageName, options, [&refusal](const QString &line) { refusal = line; });
    if (!check(QStringLiteral("image read as %1").arg(map.format), image.read(), refusal))
        return VerifyOutcome::Fails;
    // Bytes outside the image are only the fill of whole units (a UF2
    // block, a memory word) that it shares.
    const qint64 imageEnd = map.imageStart + map.imageLength;
    FillOnly outside(map.fill);
    if (!image.isEmpty()) {
        const qint64 lowest = image.lowest(), end = image.end();
        if ((lowest < map.imageStart && image.walk(lowest, map.imageStart, {&outside}) != ImageStreamer::Done)
            || (end > imageEnd && image.walk(qMax(imageEnd, lowest), end, {&outside}) != ImageStreamer::Done)) {
            log.refuse(Refusal::failToRead(0, imageName));
            return VerifyOutcome::Trouble;
        }
    }
    check(QStringLiteral("image extent"), outside.only && (!flat || image.end() == imageEnd),
          QStringLiteral("its bytes lie at %1, the map's image at %2")
              .arg(range({image.lowest(), image.end()}), range({map.imageStart, imageEnd})));

    MergeLayout fieldLayout;
    fieldLayout.fill = map.fill;
    for (const MapFile::Field &f : map.fields) {
        MergeField field;
        field.kind = FieldKinds::find(f.kind);
        if (!field.kind) {
            // Its value could not be worked out again: not a check that holds.
            log.refuse(Refusal::cannotReadMap(map.path, QStringLiteral("field %1 is of a kind this program does not know (%2)")
                                                            .arg(f.text, f.kind)));
            return VerifyOutcome::Trouble;
        }
        field.size = f.size;
        field.address = f.address;
        field.from = f.from;
        field.to = f.to;
        field.bigEndian = f.bigEndian;
        fieldLayout.fields.append(field);
    }
    VerifySink sink(map, fieldLayout);
    if (image.walk(map.imageStart, imageEnd, {&sink}) != ImageStreamer::Done) {
        log.refuse(Refusal::failToRead(0, imageName));
        return VerifyOutcome::Trouble;
    }
    check(QStringLiteral("image CRC-32"), sink.imageCrc.hex() == map.imageCrc32,
          QStringLiteral("%1, the map says %2").arg(QString::fromLatin1(sink.imageCrc.hex()), QString::fromLatin1(map.imageCrc32)));
    const QByteArray imageSha = sink.imageSha.result().toHex();
    check(QStringLiteral("image SHA-256"), imageSha == map.imageSha256,
          QStringLiteral("%1, the map says %2").arg(QString::fromLatin1(imageSha), QString::fromLatin1(map.imageSha256)));

    for (int k = 0; k < map.files.size(); ++k) {
        const MapFile::File &f = map.files.at(k);
        const QByteArray crc = sink.fileCrcs[size_t(k)].hex();
        const QByteArray sha = sink.fileShas[size_t(k)]->result().toHex();
        const bool holds = crc == f.crc32 && sha == f.sha256;
        QString where;
        if (!holds) {
            const qint64 first = firstDifference(map, f, image);
            QStringList segments;
            for (const AddressRange &r : f.segments.mid(0, 4))
                segments << range(r);
            if (f.segments.size() > 4)
                segments << QStringLiteral("%1 more").arg(f.segments.size() - 4);
            where = QStringLiteral("in its segments %1").arg(segments.join(QLatin1String(", ")));
            if (first >= 0)
                where += QStringLiteral("; the first byte that is not the file's is at %1").arg(hex(first));
            where += QStringLiteral(" (CRC-32 %1, the map says %2)").arg(QString::fromLatin1(crc), QString::fromLatin1(f.crc32));
        }
        check(QStringLiteral("file%1 %2").arg(f.row).arg(f.name), holds, where);
    }
    for (int k = 0; k < map.fields.size(); ++k) {
        const MapFile::Field &f = map.fields.at(k);
        const QByteArray bytes = sink.fieldBytes[size_t(k)].toHex();
        check(QStringLiteral("field %1 bytes").arg(f.text), bytes == f.bytes,
              QStringLiteral("at %1: %2, the map says %3").arg(hex(f.address), QString::fromLatin1(bytes), QString::fromLatin1(f.bytes)));
        if (sink.sums[size_t(k)]) {
            const QByteArray worked = sink.sums[size_t(k)]->bytes(f.bigEndian).toHex();
            check(QStringLiteral("field %1 value").arg(f.text), worked == f.bytes,
                  QStringLiteral("worked out again over %1: %2, the map says %3")
                      .arg(range({f.from, f.to}), QString::fromLatin1(worked), QString::fromLatin1(f.bytes)));
        }
    }
    for (const VerifyCheck &c : std::as_const(checks)) {
        if (!c.holds)
            return VerifyOutcome::Fails;
    }
    return VerifyOutcome::Holds;
}
