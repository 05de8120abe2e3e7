// MergeFileCli's commands that look at images: info, compare, verify. The
// engine finds; here its results are put into words or JSON.

#include "Commands.h"

#include "LayoutReport.h"
#include "Terminal.h"
#include "inspect/Compare.h"
#include "inspect/FileInfo.h"
#include "inspect/MapFile.h"
#include "inspect/Verify.h"
#include "mcuboot/McubootImage.h"
#include "report/JsonWriter.h"
#include "writers/ImageWriter.h"

#include <QFileInfo>

namespace {

enum ExitCode { Holds = 0, DoesNot = 1, Trouble = 2 };

QString hex(qint64 address)
{
    return QStringLiteral("0x%1").arg(QString::number(address, 16).toUpper().rightJustified(8, QLatin1Char('0')));
}

// "1 byte", "2 bytes".
QString counted(qint64 count, const char *one, const char *many)
{
    return QStringLiteral("%1 %2").arg(count).arg(QLatin1String(count == 1 ? one : many));
}

QString span(qint64 start, qint64 end)
{
    return QStringLiteral("%1-%2 (%3)").arg(hex(start), hex(end), counted(end - start, "byte", "bytes"));
}

// JSON goes to standard output as it is made.
class StandardOutput : public ByteSink
{
public:
    bool write(const char *data, qint64 size) override
    {
        Terminal::write(stdout, QByteArray::fromRawData(data, int(size)));
        return !Terminal::outputBroken();
    }
};

// Lines of the engine's log: to standard error where JSON takes standard
// output.
Messages::Log logTo(bool json)
{
    return [json](const QString &line) { Terminal::print(json ? stderr : stdout, line); };
}

LoneFileOptions lookOptions(const CliOptions &options)
{
    LoneFileOptions look;
    look.base = options.merge.base;
    look.fill = options.merge.fill;
    look.detectFormats = options.inputFormat != QLatin1String("raw");
    if (options.inputFormat != QLatin1String("auto") && !options.inputFormat.isEmpty() && look.detectFormats)
        look.format = InputReader::find(options.inputFormat);
    return look;
}

// A format's details in a line each: "recordTypes: 00 12, 01 1".
QString detailText(const QVariant &value)
{
    if (value.userType() == QMetaType::QVariantMap) {
        QStringList parts;
        const QVariantMap map = value.toMap();
        for (auto it = map.cbegin(); it != map.cend(); ++it)
            parts << it.key() + QLatin1Char(' ') + detailText(it.value());
        return QLatin1Char('{') + parts.join(QLatin1String(", ")) + QLatin1Char('}');
    }
    if (value.userType() == QMetaType::QVariantList) {
        QStringList parts;
        for (const QVariant &item : value.toList())
            parts << detailText(item);
        return QLatin1Char('[') + parts.join(QLatin1String(", ")) + QLatin1Char(']');
    }
    return value.toString();
}

// A file's flat bytes over a range, its holes filled, gathered in memory.
class FlatBytes : public ImageSink
{
public:
    explicit FlatBytes(char fill)
        : fillByte(fill)
    {
    }
    bool fill(qint64, qint64 count) override
    {
        bytes.append(QByteArray(int(count), fillByte));
        return true;
    }
    bool data(qint64, const char *data, qint64 count, const MergePiece &) override
    {
        if (!data)
            return false;
        bytes.append(data, int(count));
        return true;
    }
    QByteArray bytes;

private:
    char fillByte;
};

// What a range of a file holds as an MCUboot image: not one (no magic, or
// past the largest image looked at), one (its bytes), or trouble reading it.
enum class Magic { None, Image, Trouble };
Magic mcubootBytes(LoneFile &file, qint64 from, qint64 to, char fill, QByteArray *bytes)
{
    if (to - from < Mcuboot::headerBytes || to - from > Mcuboot::largestWithoutSlot)
        return Magic::None;
    QByteArray head;
    if (!readFlat(file, from, from + 4, fill, &head))
        return Magic::Trouble;
    quint32 magic = 0;
    for (int i = 3; i >= 0; --i)
        magic = magic << 8 | quint8(head.at(i));
    if (magic != Mcuboot::imageMagic)
        return Magic::None;
    return readFlat(file, from, to, fill, bytes) ? Magic::Image : Magic::Trouble;
}

// What info tells of a file that is an MCUboot image from its lowest
// address: its header and TLVs, and whether its hash holds; or why it is not
// a whole image.
struct McubootInfo
{
    bool found = false;
    QString problem;
    QVariantMap details;
    bool hashHolds = false;
};

McubootInfo mcubootInfo(const QString &name, const LoneFileOptions &look)
{
    McubootInfo found;
    LoneFile file(name, look, [](const QString &) {});
    QByteArray bytes;
    if (!file.read() || file.isEmpty() || mcubootBytes(file, file.lowest(), file.end(), look.fill, &bytes) != Magic::Image)
        return found;
    found.found = true;
    Mcuboot::ImageInfo image;
    if (!Mcuboot::readImage(bytes, &image, &found.problem))
        return found;
    found.details = image.details();
    QVector<Mcuboot::Check> checks;
    found.hashHolds = Mcuboot::checkImage(bytes, name, image, nullptr, &checks, [](const QString &) {});
    return found;
}

void printInfo(const FileInfo &info, char fill, const McubootInfo &image)
{
    const auto line = [](const QString &text) { Terminal::print(stdout, text); };
    line(QStringLiteral("%1: %2 (%3)").arg(info.name, info.format, info.toldBy));
    line(QStringLiteral("  length %1 bytes; %2 data bytes in %3 runs").arg(info.length).arg(info.dataBytes).arg(info.runs.size()));
    for (int k = 0; k < info.runs.size(); ++k) {
        const AddressRange &r = info.runs.at(k);
        if (k > 0)
            line(QStringLiteral("  hole %1").arg(span(info.runs.at(k - 1).to, r.from)));
        line(QStringLiteral("  run  %1").arg(span(r.from, r.to)));
    }
    if (!info.runs.isEmpty())
        line(QStringLiteral("  lowest address %1, highest %2").arg(hex(info.flat.from), hex(info.flat.to - 1)));
    line(info.hasStartAddress ? QStringLiteral("  start address %1").arg(hex(info.startAddress))
                              : QStringLiteral("  no start address"));
    line(QStringLiteral("  data: CRC-32 %1, SHA-256 %2")
             .arg(QString::fromLatin1(info.data.crc32), QString::fromLatin1(info.data.sha256)));
    line(QStringLiteral("  flat image %1, holes 0x%2: CRC-32 %3, SHA-256 %4")
             .arg(span(info.flat.from, info.flat.to))
             .arg(QString::number(quint8(fill), 16).toUpper().rightJustified(2, QLatin1Char('0')))
             .arg(QString::fromLatin1(info.flatDigest.crc32), QString::fromLatin1(info.flatDigest.sha256)));
    for (auto it = info.details.cbegin(); it != info.details.cend(); ++it)
        line(QStringLiteral("  %1: %2").arg(it.key(), detailText(it.value())));
    if (!image.found)
        return;
    if (!image.problem.isEmpty()) {
        line(QStringLiteral("  MCUboot magic, but not a whole image: %1").arg(image.problem));
        return;
    }
    for (const QString &text : mcubootLines(image.details, info.flat.from, QStringLiteral("  ")))
        line(text);
    line(image.hashHolds ? QStringLiteral("  MCUboot hash holds") : QStringLiteral("  MCUboot hash does not hold"));
}

void writeInfo(JsonWriter &json, const FileInfo &info, const McubootInfo &image)
{
    json.beginObject();
    json.member("crc32", QString::fromLatin1(info.data.crc32));
    json.member("dataBytes", info.dataBytes);
    json.member("details", QVariant(info.details));
    json.beginObject("flat");
    json.member("crc32", QString::fromLatin1(info.flatDigest.crc32));
    json.member("end", info.flat.to);
    json.member("sha256", QString::fromLatin1(info.flatDigest.sha256));
    json.member("start", info.flat.from);
    json.endObject();
    json.member("format", info.format);
    json.member("length", info.length);
    if (image.found) {
        QVariantMap mcuboot = image.details;
        if (image.problem.isEmpty())
            mcuboot.insert(QStringLiteral("hashHolds"), image.hashHolds);
        else
            mcuboot.insert(QStringLiteral("problem"), image.problem);
        json.member("mcuboot", QVariant(mcuboot));
    }
    json.member("name", info.name);
    json.beginArray("runs");
    for (const AddressRange &r : info.runs) {
        json.beginObject();
        json.member("end", r.to);
        json.member("size", r.to - r.from);
        json.member("start", r.from);
        json.endObject();
    }
    json.endArray();
    json.member("sha256", QString::fromLatin1(info.data.sha256));
    if (info.hasStartAddress)
        json.member("startAddress", qint64(info.startAddress));
    else
        json.nullMember("startAddress");
    json.member("toldBy", info.toldBy);
    json.endObject();
}

int info(const CliOptions &options)
{
    StandardOutput out;
    JsonWriter json(out);
    if (options.json)
        json.beginArray(nullptr);
    int status = Holds;
    for (const QString &name : options.files) {
        FileInfo described;
        if (!describeFile(name, lookOptions(options), described, logTo(options.json))) {
            status = DoesNot; // the line said why; the other files are still shown
            continue;
        }
        // Read once more only where an image could be: its flat bytes at least
        // a header, at most the largest image looked at.
        const qint64 flat = described.flat.to - described.flat.from;
        const McubootInfo image = flat >= Mcuboot::headerBytes && flat <= Mcuboot::largestWithoutSlot
                                      ? mcubootInfo(name, lookOptions(options))
                                      : McubootInfo();
        if (options.json)
            writeInfo(json, described, image);
        else
            printInfo(described, options.merge.fill, image);
    }
    if (options.json) {
        json.endArray();
        json.finish();
    }
    return status;
}

QString kindName(CompareRange::Kind kind)
{
    switch (kind) {
    case CompareRange::Differ:
        return QStringLiteral("differ");
    case CompareRange::OnlyA:
        return QStringLiteral("onlyA");
    case CompareRange::OnlyB:
        return QStringLiteral("onlyB");
    }
    return QString();
}

QString ownerText(const MapFile &map, const MapOwner &owner)
{
    switch (owner.kind) {
    case MapOwner::File:
        return QStringLiteral("file%1 %2").arg(map.files.at(owner.index).row).arg(map.files.at(owner.index).name);
    case MapOwner::Field:
        return QStringLiteral("field %1").arg(map.fields.at(owner.index).text);
    case MapOwner::Fill:
        break;
    }
    return QStringLiteral("fill");
}

int compare(const CliOptions &options)
{
    MapFile map;
    if (options.wantMap) {
        QString problem;
        if (!map.read(options.map, &problem)) {
            Terminal::print(options.json ? stderr : stdout, Refusal::cannotReadMap(options.mapAsGiven, problem).line());
            return Trouble;
        }
    }
    const MapOwners owners(map);
    LoneFile a(options.files.at(0), lookOptions(options), logTo(options.json));
    LoneFile b(options.files.at(1), lookOptions(options), logTo(options.json));
    if (!a.read() || !b.read())
        return Trouble;

    StandardOutput out;
    JsonWriter json(out);
    if (options.json) {
        json.beginObject();
        json.beginArray("ranges");
    }
    const QString kindText[] = {QStringLiteral("differ"), QStringLiteral("only in A"), QStringLiteral("only in B")};
    const auto each = [&](qint64 start, qint64 end, CompareRange::Kind kind, const MapOwner *owner) {
        if (options.json) {
            json.beginObject();
            json.member("end", end);
            if (owner && owner->kind == MapOwner::Field)
                json.member("field", map.fields.at(owner->index).text);
            if (owner && owner->kind == MapOwner::File) {
                json.member("file", map.files.at(owner->index).name);
                json.member("row", qint64(map.files.at(owner->index).row));
            }
            if (owner && owner->kind == MapOwner::Fill)
                json.member("fill", true);
            json.member("kind", kindName(kind));
            json.member("start", start);
            json.endObject();
        } else {
            Terminal::print(stdout, QStringLiteral("%1 %2%3")
                                        .arg(kindText[kind], span(start, end),
                                             owner ? QStringLiteral(": ") + ownerText(map, *owner) : QString()));
        }
    };
    CompareTotals totals;
    const bool done = compareFiles(a, b, options.fillGiven ? int(quint8(options.merge.fill)) : -1,
                                   [&](const CompareRange &r) {
                                       if (!options.wantMap)
                                           return each(r.start, r.end, r.kind, nullptr);
                                       owners.split(r.start, r.end, [&](qint64 from, qint64 to, const MapOwner &owner) {
                                           each(from, to, r.kind, &owner);
                                       });
                                   },
                                   totals, logTo(options.json));
    if (!done)
        return Trouble;
    const MergePlacement &pa = a.placement();
    const MergePlacement &pb = b.placement();
    const auto start = [](const MergePlacement &p) { return p.hasStartAddress ? hex(p.startAddress) : QStringLiteral("none"); };
    const bool same = totals.ranges == 0 && !totals.startAddressDiffers;
    if (options.json) {
        json.endArray();
        json.member("same", same);
        json.beginObject("startAddress");
        if (pa.hasStartAddress)
            json.member("a", qint64(pa.startAddress));
        else
            json.nullMember("a");
        if (pb.hasStartAddress)
            json.member("b", qint64(pb.startAddress));
        else
            json.nullMember("b");
        json.member("differs", totals.startAddressDiffers);
        json.endObject();
        json.beginObject("totals");
        json.member("differ", totals.bytes[CompareRange::Differ]);
        json.member("onlyA", totals.bytes[CompareRange::OnlyA]);
        json.member("onlyB", totals.bytes[CompareRange::OnlyB]);
        json.member("ranges", totals.ranges);
        json.endObject();
        json.endObject();
        json.finish();
    } else {
        if (totals.startAddressDiffers)
            Terminal::print(stdout, QStringLiteral("start address: A %1, B %2").arg(start(pa), start(pb)));
        Terminal::print(stdout, same ? QStringLiteral("A and B hold the same bytes at the same addresses.")
                                     : QStringLiteral("A and B differ: %1; %2 differ, %3 only in A, %4 only in B.")
                                           .arg(counted(totals.ranges, "range", "ranges"),
                                                counted(totals.bytes[CompareRange::Differ], "byte", "bytes"))
                                           .arg(totals.bytes[CompareRange::OnlyA])
                                           .arg(totals.bytes[CompareRange::OnlyB]));
    }
    return same ? Holds : DoesNot;
}

// An MCUboot image's checks with the key, as verify lists them: what is
// checked is named after the image (and its row, in a merged one).
void checkMcuboot(const QByteArray &bytes, const QString &name, const QString &label, const Mcuboot::Key &key,
                  QVector<VerifyCheck> &checks)
{
    const QString prefix = label.isEmpty() ? QStringLiteral("MCUboot ") : label + QStringLiteral(" MCUboot ");
    Mcuboot::ImageInfo image;
    QString problem;
    if (!Mcuboot::readImage(bytes, &image, &problem)) {
        checks.append({prefix + QStringLiteral("image"), false, problem});
        return;
    }
    QVector<Mcuboot::Check> found;
    Mcuboot::checkImage(bytes, name, image, &key, &found, [](const QString &) {});
    for (const Mcuboot::Check &c : std::as_const(found))
        checks.append({prefix + c.what, c.holds, c.holds ? QString() : c.detail});
}

// The MCUboot images a map's files make in the image, each checked with the
// key: those whose bytes begin with MCUboot's magic.
bool checkMapImages(const MapFile &map, const QString &imageName, const Mcuboot::Key &key, QVector<VerifyCheck> &checks,
                    const Messages::Log &log)
{
    const OutputFormatInfo *written = OutputFormats::find(map.format);
    const bool flat = written && written->isTheImage;
    LoneFileOptions look;
    look.fill = map.fill;
    look.base = map.imageStart;
    look.detectFormats = !flat;
    look.format = flat ? nullptr : InputReader::find(map.format);
    LoneFile image(imageName, look, [](const QString &) {});
    if (!image.read())
        return true; // the map's own checks said so
    for (const MapFile::File &f : map.files) {
        if (f.segments.isEmpty())
            continue;
        QByteArray bytes;
        switch (mcubootBytes(image, f.segments.first().from, f.segments.last().to, map.fill, &bytes)) {
        case Magic::None:
            continue;
        case Magic::Trouble:
            return log.refuse(Refusal::failToRead(0, imageName));
        case Magic::Image:
            checkMcuboot(bytes, imageName, QStringLiteral("file%1 %2").arg(f.row).arg(f.name), key, checks);
            break;
        }
    }
    return true;
}

// verify --key without a map: the image is an MCUboot image, in any format,
// its bytes from its lowest address.
VerifyOutcome verifyMcuboot(const QString &imageName, const Mcuboot::Key &key, QVector<VerifyCheck> &checks,
                            const Messages::Log &log)
{
    LoneFileOptions look;
    look.base = 0;
    LoneFile file(imageName, look, log);
    if (!file.read())
        return VerifyOutcome::Trouble;
    QByteArray bytes;
    switch (file.isEmpty() ? Magic::None : mcubootBytes(file, file.lowest(), file.end(), look.fill, &bytes)) {
    case Magic::Trouble:
        log.refuse(Refusal::failToRead(0, imageName));
        return VerifyOutcome::Trouble;
    case Magic::None:
        checks.append({QStringLiteral("MCUboot image"), false,
                       QStringLiteral("its bytes do not begin with MCUboot's magic 0x96F3B83D")});
        return VerifyOutcome::Fails;
    case Magic::Image:
        checkMcuboot(bytes, imageName, QString(), key, checks);
        break;
    }
    return VerifyOutcome::Holds;
}

int verify(const CliOptions &options)
{
    const Messages::Log log = logTo(options.json);
    Mcuboot::Key key;
    if (!options.verifyKey.isEmpty() && !key.loadPublic(options.verifyKey, log))
        return Trouble;
    MapFile map;
    QString problem;
    if (options.wantMap && !map.read(options.map, &problem)) {
        Terminal::print(options.json ? stderr : stdout, Refusal::cannotReadMap(options.mapAsGiven, problem).line());
        return Trouble;
    }
    if (options.wantMap && options.files.isEmpty() && !map.hasOutput) {
        Terminal::print(options.json ? stderr : stdout, Refusal::mapNamesNoOutput(options.mapAsGiven).line());
        return Trouble;
    }
    const QString image = options.files.isEmpty() ? map.locate(map.outputName) : options.files.first();
    QVector<VerifyCheck> checks;
    if (options.wantMap) {
        if (verifyImage(map, image, checks, log) == VerifyOutcome::Trouble)
            return Trouble;
        if (!options.verifyKey.isEmpty() && !checkMapImages(map, image, key, checks, log))
            return Trouble;
    } else if (verifyMcuboot(image, key, checks, log) == VerifyOutcome::Trouble) {
        return Trouble;
    }
    const QString against = options.wantMap ? options.mapAsGiven : options.verifyKey;
    int failed = 0;
    for (const VerifyCheck &c : std::as_const(checks))
        failed += c.holds ? 0 : 1;
    if (options.json) {
        StandardOutput out;
        JsonWriter json(out);
        json.beginObject();
        json.beginArray("checks");
        for (const VerifyCheck &c : std::as_const(checks)) {
            json.beginObject();
            json.member("detail", c.detail);
            json.member("holds", c.holds);
            json.member("what", c.what);
            json.endObject();
        }
        json.endArray();
        json.member("holds", failed == 0);
        json.member("image", image);
        json.endObject();
        json.finish();
    } else {
        for (const VerifyCheck &c : std::as_const(checks)) {
            if (!c.holds)
                Terminal::print(stdout, QStringLiteral("Does not hold: %1: %2").arg(c.what, c.detail));
        }
        Terminal::print(stdout, failed == 0 ? QStringLiteral("%1 holds all %2 checks of %3.")
                                                  .arg(image).arg(checks.size()).arg(against)
                                            : QStringLiteral("%1: %2 of %3 checks do not hold.")
                                                  .arg(image).arg(failed).arg(checks.size()));
    }
    return failed == 0 ? Holds : DoesNot;
}

} // namespace

bool readFlat(LoneFile &file, qint64 from, qint64 to, char fill, QByteArray *bytes)
{
    FlatBytes sink(fill);
    if (file.walk(from, to, {&sink}) != ImageStreamer::Done)
        return false;
    *bytes = sink.bytes;
    return true;
}

int runCommand(const CliOptions &options)
{
    switch (options.command) {
    case CliOptions::Command::Info:
        return info(options);
    case CliOptions::Command::Compare:
        return compare(options);
    case CliOptions::Command::Verify:
        return verify(options);
    case CliOptions::Command::Merge:
    case CliOptions::Command::Sign:
        break;
    }
    return Trouble;
}
