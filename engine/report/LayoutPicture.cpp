#include "LayoutPicture.h"

#include "Address.h"
#include "fields/FieldKind.h"

#include <QTextBoundaryFinder>
#include <QVector>

#include <algorithm>

namespace {

constexpr double pictureWidth = 940;
constexpr double bandLeft = 130;
constexpr double bandRight = 420;
constexpr double labelLeft = 450;
constexpr double areaTop = 64;
constexpr double areaHeight = 720;
constexpr double breakHeight = 40;
constexpr double lineGap = 15;     // between two labels
constexpr int longestName = 34;    // characters of a name shown whole
// Okabe and Ito's colours: apart for every kind of colour vision, and in grey.
const char *const palette[] = {"#0072B2", "#E69F00", "#009E73", "#CC79A7", "#56B4E9", "#D55E00", "#F0E442", "#999999"};
const char refusalColour[] = "#C00000";

QByteArray number(double value)
{
    return QByteArray::number(value, 'f', 1);
}

// The characters that open or close a stretch of text with a direction of
// its own (embeddings, overrides, isolates): in a name, shown, not obeyed, so
// that no name turns the text around it, or itself, about.
bool isBidiControl(ushort u)
{
    return (u >= 0x202A && u <= 0x202E) || (u >= 0x2066 && u <= 0x2069);
}

// Text as XML takes it; characters XML cannot hold, and the controls of
// direction, shown as escapes.
QByteArray xml(const QString &text)
{
    QString out;
    for (const QChar c : text) {
        if (isBidiControl(c.unicode()))
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        else if (c == QLatin1Char('&'))
            out += QLatin1String("&amp;");
        else if (c == QLatin1Char('<'))
            out += QLatin1String("&lt;");
        else if (c == QLatin1Char('>'))
            out += QLatin1String("&gt;");
        else if (c == QLatin1Char('"'))
            out += QLatin1String("&quot;");
        else if (c.unicode() < 0x20 || c.unicode() == 0x7F || c.unicode() == 0xFFFE || c.unicode() == 0xFFFF)
            out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out.toUtf8();
}

// A name short enough for its column: its start and end, the full name in
// the tooltip. Counted and cut in characters as a reader sees them: a
// surrogate pair, or a letter with its combining marks, stays whole.
QString shortened(const QString &name)
{
    QVector<int> starts; // where each character starts
    QTextBoundaryFinder characters(QTextBoundaryFinder::Grapheme, name);
    for (int at = 0; at >= 0 && at < name.size(); at = characters.toNextBoundary())
        starts.append(at);
    if (starts.size() <= longestName)
        return name;
    return name.left(starts.at(longestName / 2 - 1)) + QChar(0x2026) + name.mid(starts.at(starts.size() - longestName / 2));
}

// Whether text holds a character that runs right to left (Hebrew or Arabic
// letters, Arabic digits, a right-to-left mark): only such a name can move
// the text around it, its controls of direction being shown as escapes.
bool runsRightToLeft(const QString &text)
{
    for (const uint c : text.toUcs4()) {
        const QChar::Direction d = QChar::direction(c);
        if (d == QChar::DirR || d == QChar::DirAL || d == QChar::DirAN)
            return true;
    }
    return false;
}

// A name in a label, isolated from the text around it: whatever direction
// its letters take, the text after it stays as it is.
QByteArray isolated(const QString &name)
{
    return runsRightToLeft(name) ? "<tspan unicode-bidi=\"isolate\">" + xml(name) + "</tspan>" : xml(name);
}

QString hex(qint64 address)
{
    return Address::hex(address);
}

struct Span
{
    qint64 from;
    qint64 to;
    bool broken; // a gap drawn shortened
    double top;
    double bottom;
};

struct Label
{
    double at;      // where it points to on the band
    QByteArray svg; // the text element, its x and y left for the column to set: %X, %Y
    double row = 0; // its y in the column
};

class Picture
{
public:
    Picture(ByteSink &sink, const MergeLayout &layout, const PictureSettings &settings)
        : sink(sink)
        , layout(layout)
        , settings(settings)
    {
    }
    bool draw();

private:
    void put(const QByteArray &text) { ok = ok && sink.write(text.constData(), text.size()); }
    double y(qint64 address) const;
    void lay();
    void collectLabels();
    void placeLabels();
    void drawBackground();
    void drawSectors();
    void drawFiles();
    void drawMarks();
    void drawTicks();
    void drawLabels();

    ByteSink &sink;
    const MergeLayout &layout;
    const PictureSettings &settings;
    bool ok = true;
    qint64 low = 0;
    qint64 high = 0;
    qint64 refusalAt = -1;
    QVector<Span> spans;
    QVector<AddressRange> occupied;
    QVector<Label> labels;
    double bottom = areaTop;
};

// Where the axis runs, what on it holds something, and how tall each part is.
void Picture::lay()
{
    const bool flash = settings.flashSize > 0;
    low = flash ? settings.flashOrigin : layout.base;
    high = flash ? settings.flashOrigin + settings.flashSize : layout.end();
    if (settings.refusal && settings.refusal->hasAddress())
        refusalAt = settings.refusal->address;

    QVector<AddressRange> things;
    for (const MergePlacement &p : layout.placements) {
        if (p.end > p.address)
            things.append({p.address, p.end});
        if (p.slotSize > 0)
            things.append({p.address, p.address + p.slotSize});
    }
    for (const MergeField &f : layout.fields)
        things.append({f.address, f.end()});
    if (refusalAt >= 0)
        things.append({refusalAt, refusalAt + 1});
    for (const AddressRange &r : std::as_const(things)) {
        low = qMin(low, r.from);
        high = qMax(high, r.to);
    }
    high = qMax(high, low + 1);
    occupied = Address::joined(things);

    // Gaps much longer than all that is in the picture are drawn shortened,
    // so that small files stay visible beside them.
    qint64 held = 0;
    for (const AddressRange &r : std::as_const(occupied))
        held += r.to - r.from;
    qint64 at = low;
    const auto gap = [&](qint64 to) {
        if (to <= at)
            return;
        spans.append({at, to, held > 0 && to - at > 2 * held && to - at > 256, 0, 0});
        at = to;
    };
    for (const AddressRange &r : std::as_const(occupied)) {
        gap(r.from);
        spans.append({r.from, r.to, false, 0, 0});
        at = r.to;
    }
    gap(high);
    qint64 drawn = 0;
    for (const Span &s : std::as_const(spans))
        drawn += s.broken ? 0 : s.to - s.from;
    const double scale = areaHeight / double(qMax<qint64>(drawn, 1));
    double top = areaTop;
    for (Span &s : spans) {
        s.top = top;
        s.bottom = top + (s.broken ? breakHeight : double(s.to - s.from) * scale);
        top = s.bottom;
    }
    bottom = top;
}

double Picture::y(qint64 address) const
{
    auto it = std::upper_bound(spans.cbegin(), spans.cend(), address, [](qint64 a, const Span &s) { return a < s.to; });
    if (it == spans.cend())
        return spans.last().bottom; // the axis's end, however far the labels reach
    if (address <= it->from)
        return it->top;
    return it->top + (it->bottom - it->top) * double(address - it->from) / double(it->to - it->from);
}

// The image hatched as fill, the padding after the files, what lies outside
// the image (of the flash, or refused) blank; shortened gaps with their break.
void Picture::drawBackground()
{
    const qint64 imageEnd = layout.imageSize > 0 ? layout.end() : layout.base;
    const auto band = [&](qint64 from, qint64 to, const char *cls, const char *fill) {
        from = qMax(from, low);
        to = qMin(to, high);
        if (to <= from)
            return;
        put("<rect class=\"" + QByteArray(cls) + "\" x=\"" + number(bandLeft) + "\" y=\"" + number(y(from)) + "\" width=\""
            + number(bandRight - bandLeft) + "\" height=\"" + number(qMax(y(to) - y(from), 0.5)) + "\" fill=\"" + fill
            + "\" stroke=\"#555\" stroke-width=\"0.5\"/>\n");
    };
    band(low, high, "outside", "#ffffff");
    band(layout.base, layout.dataEnd(), "fill", "url(#hatch)");
    if (layout.trailingFill > 0) {
        band(layout.dataEnd(), imageEnd, "padding", "url(#dots)");
    }
    for (const Span &s : std::as_const(spans)) {
        if (!s.broken)
            continue;
        // A white strip over the band, a zig-zag at both of its edges.
        put("<g class=\"break\"><rect x=\"" + number(bandLeft - 6) + "\" y=\"" + number(s.top + 4) + "\" width=\""
            + number(bandRight - bandLeft + 12) + "\" height=\"" + number(breakHeight - 8) + "\" fill=\"#ffffff\"/>\n");
        for (const double edge : {s.top + 4, s.bottom - 4}) {
            QByteArray points;
            for (int i = 0; i <= 12; ++i)
                points += number(bandLeft - 6 + i * (bandRight - bandLeft + 12) / 12) + ',' + number(edge + (i % 2 ? 3 : -3)) + ' ';
            put("<polyline points=\"" + points.trimmed() + "\" fill=\"none\" stroke=\"#555\"/>\n");
        }
        put("<text class=\"break-label\" x=\"" + number((bandLeft + bandRight) / 2) + "\" y=\"" + number(s.top + breakHeight / 2 + 4)
            + "\" text-anchor=\"middle\">gap of " + QByteArray::number(s.to - s.from) + " bytes (0x"
            + QByteArray::number(s.to - s.from, 16).toUpper() + "), not to scale</text></g>\n");
    }
}

// Erase sector boundaries, where they lie at least two pixels apart.
void Picture::drawSectors()
{
    const qint64 size = layout.sectorSize;
    if (size <= 0)
        return;
    const qint64 origin = settings.flashSize > 0 ? settings.flashOrigin : 0;
    qint64 first = low - ((low - origin) % size + size) % size;
    if (first < low)
        first += size;
    if ((high - first) / size > 4096)
        return; // closer than any screen shows
    double last = -10;
    for (qint64 at = first; at < high; at += size) {
        const double here = y(at);
        if (here - last < 2)
            continue;
        last = here;
        put("<line class=\"sector\" x1=\"" + number(bandLeft) + "\" x2=\"" + number(bandRight) + "\" y1=\"" + number(here)
            + "\" y2=\"" + number(here) + "\" stroke=\"#888\" stroke-width=\"0.5\" stroke-dasharray=\"2,2\"/>\n");
    }
}

// Each file its colour: its extent, and its segments, those closer than a
// pixel drawn as one.
void Picture::drawFiles()
{
    for (int k = 0; k < layout.placements.size(); ++k) {
        const MergePlacement &p = layout.placements.at(k);
        const QByteArray colour = palette[k % 8];
        const QByteArray title = xml(p.fileName);
        put("<g class=\"file\" data-row=\"" + QByteArray::number(p.row) + "\"><title>" + title + "</title>\n");
        if (p.end > p.address)
            put("<rect class=\"extent\" x=\"" + number(bandLeft + 2) + "\" y=\"" + number(y(p.address)) + "\" width=\""
                + number(bandRight - bandLeft - 4) + "\" height=\"" + number(qMax(y(p.end) - y(p.address), 1.0))
                + "\" fill=\"none\" stroke=\"" + colour + "\" stroke-width=\"1\"/>\n");
        double from = -1, to = -1;
        const auto flush = [&] {
            if (from < 0)
                return;
            put("<rect class=\"segment\" x=\"" + number(bandLeft + 2) + "\" y=\"" + number(from) + "\" width=\""
                + number(bandRight - bandLeft - 4) + "\" height=\"" + number(qMax(to - from, 1.0)) + "\" fill=\"" + colour
                + "\"/>\n");
        };
        for (const MergeSegment &s : p.segments) {
            const double a = y(s.address), b = y(s.end());
            if (from >= 0 && a - to < 1) {
                to = qMax(to, b);
                continue;
            }
            flush();
            from = a;
            to = b;
        }
        flush();
        put("</g>\n");
    }
}

// Slots, fields and the refusal.
void Picture::drawMarks()
{
    for (const MergePlacement &p : layout.placements) {
        if (p.slotSize <= 0)
            continue;
        const qint64 end = p.address + p.slotSize;
        put("<rect class=\"slot\" x=\"" + number(bandLeft - 4) + "\" y=\"" + number(y(p.address)) + "\" width=\""
            + number(bandRight - bandLeft + 8) + "\" height=\"" + number(qMax(y(end) - y(p.address), 1.0))
            + "\" fill=\"none\" stroke=\"#000\" stroke-dasharray=\"6,3\"/>\n");
    }
    for (const MergeField &f : layout.fields) {
        put("<rect class=\"field\" x=\"" + number(bandRight - 14) + "\" y=\"" + number(y(f.address)) + "\" width=\"14\" height=\""
            + number(qMax(y(f.end()) - y(f.address), 2.0)) + "\" fill=\"#000\"/>\n");
    }
    if (refusalAt >= 0) {
        const double at = y(refusalAt);
        put("<line class=\"refusal\" x1=\"" + number(bandLeft - 10) + "\" x2=\"" + number(bandRight + 10) + "\" y1=\""
            + number(at) + "\" y2=\"" + number(at) + "\" stroke=\"" + refusalColour + "\" stroke-width=\"3\"/>\n");
    }
}

// What the column beside the band says: padding, each file, slot and field,
// and the refusal.
void Picture::collectLabels()
{
    if (layout.trailingFill > 0) {
        const qint64 imageEnd = layout.imageSize > 0 ? layout.end() : layout.base;
        labels.append({(y(layout.dataEnd()) + y(imageEnd)) / 2,
                       "<text class=\"padding-label\" x=\"%X\" y=\"%Y\">padding: " + QByteArray::number(layout.trailingFill)
                           + " bytes of 0x" + QByteArray::number(uchar(layout.fill), 16).toUpper().rightJustified(2, '0')
                           + "</text>\n"});
    }
    for (int k = 0; k < layout.placements.size(); ++k) {
        const MergePlacement &p = layout.placements.at(k);
        labels.append({(y(p.address) + y(qMax(p.end, p.address))) / 2,
                       "<text class=\"file-label\" x=\"%X\" y=\"%Y\"><title>" + xml(p.fileName) + "</title><tspan fill=\""
                           + palette[k % 8] + "\">\u25A0</tspan> " + isolated(shortened(p.fileName))
                           + xml(QStringLiteral("  %1 \u2013 %2  (%3 bytes)").arg(hex(p.address), hex(p.end)).arg(p.size))
                           + "</text>\n"});
        if (p.slotSize > 0)
            labels.append({y(p.address + p.slotSize),
                           "<text class=\"slot-label\" x=\"%X\" y=\"%Y\">slot of " + isolated(shortened(p.fileName))
                               + xml(QStringLiteral(": %1 bytes, %2 left").arg(p.slotSize).arg(p.slotSize - (p.end - p.address)))
                               + "</text>\n"});
    }
    for (const MergeField &f : layout.fields) {
        const qint64 n = f.isWorkedOut() ? fieldNumber(f) : -1;
        const QString value = !f.isWorkedOut() ? QStringLiteral("not worked out")
                              : n >= 0         ? hex(n)
                                               : QString::fromLatin1(f.value.toHex());
        labels.append({y(f.address),
                       "<text class=\"field-label\" x=\"%X\" y=\"%Y\">"
                           + xml(QStringLiteral("\u25AE %1 at %2: %3").arg(QLatin1String(f.kind->name), hex(f.address), value))
                           + "</text>\n"});
    }
    if (refusalAt >= 0)
        labels.append({y(refusalAt), "<text class=\"refusal-label\" x=\"%X\" y=\"%Y\" fill=\"" + QByteArray(refusalColour)
                                         + "\" font-weight=\"bold\">\u2716 refused here: " + xml(hex(refusalAt)) + "</text>\n"});
}

// The labels in address order, each at least a line below the one before;
// the picture reaches down to the last.
void Picture::placeLabels()
{
    std::stable_sort(labels.begin(), labels.end(), [](const Label &a, const Label &b) { return a.at < b.at; });
    double last = areaTop - lineGap;
    for (Label &label : labels) {
        label.row = qMax(label.at + 4, last + lineGap);
        last = label.row;
    }
    bottom = qMax(bottom, last);
}

// Addresses on the left: where the axis starts and ends, and where each run
// of things starts and ends, where there is room.
void Picture::drawTicks()
{
    QVector<qint64> at{low, high};
    for (const AddressRange &r : std::as_const(occupied))
        at << r.from << r.to;
    for (const MergePlacement &p : layout.placements)
        at << p.address << p.end;
    for (const MergeField &f : layout.fields)
        at << f.address;
    std::sort(at.begin(), at.end());
    at.erase(std::unique(at.begin(), at.end()), at.end());
    double last = -100;
    const double end = y(high); // always shown; those too near it are not
    for (const qint64 a : std::as_const(at)) {
        const double here = y(a);
        if (a != high && (here - last < 12 || end - here < 12))
            continue;
        last = here;
        put("<text class=\"tick\" x=\"" + number(bandLeft - 12) + "\" y=\"" + number(here + 4) + "\" text-anchor=\"end\">"
            + xml(hex(a)) + "</text>\n<line x1=\"" + number(bandLeft - 8) + "\" x2=\"" + number(bandLeft) + "\" y1=\""
            + number(here) + "\" y2=\"" + number(here) + "\" stroke=\"#555\"/>\n");
    }
}

// The labels in their column, a leader line to where each belongs.
void Picture::drawLabels()
{
    for (const Label &label : std::as_const(labels)) {
        put("<line class=\"leader\" x1=\"" + number(bandRight) + "\" y1=\"" + number(label.at) + "\" x2=\""
            + number(labelLeft - 4) + "\" y2=\"" + number(label.row - 4) + "\" stroke=\"#999\" stroke-width=\"0.5\"/>\n");
        QByteArray text = label.svg;
        text.replace("%X", number(labelLeft));
        text.replace("%Y", number(label.row));
        put(text);
    }
}

bool Picture::draw()
{
    lay();
    // The height comes first, and the labels may reach further down than
    // the band: they are placed before anything is written.
    collectLabels();
    placeLabels();
    const double height = bottom + 32;
    put("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + number(pictureWidth)
        + "\" height=\"" + number(height) + "\" viewBox=\"0 0 " + number(pictureWidth) + ' ' + number(height)
        + "\" font-family=\"DejaVu Sans, Verdana, sans-serif\" font-size=\"12\">\n"
          "<title>Flash image layout</title>\n"
          "<defs><pattern id=\"hatch\" width=\"6\" height=\"6\" patternUnits=\"userSpaceOnUse\" patternTransform=\"rotate(45)\">"
          "<rect width=\"6\" height=\"6\" fill=\"#f4f4f4\"/><line x1=\"0\" y1=\"0\" x2=\"0\" y2=\"6\" stroke=\"#d0d0d0\" "
          "stroke-width=\"2\"/></pattern>"
          "<pattern id=\"dots\" width=\"6\" height=\"6\" patternUnits=\"userSpaceOnUse\"><rect width=\"6\" height=\"6\" "
          "fill=\"#fafafa\"/><circle cx=\"3\" cy=\"3\" r=\"1\" fill=\"#bbb\"/></pattern></defs>\n"
          "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n");
    const QByteArray fill = QByteArray::number(uchar(layout.fill), 16).toUpper().rightJustified(2, '0');
    // A refused merge has no image: what was laid out before the refusal.
    const QString heading = !settings.refusal
                                ? QStringLiteral("Image %1 \u2013 %2 (%3 bytes), gaps filled with 0x%4")
                                      .arg(hex(layout.base), hex(layout.end()))
                                      .arg(layout.imageSize)
                                      .arg(QString::fromLatin1(fill))
                                : QStringLiteral("Refused: the layout as far as it was checked, from %1").arg(hex(layout.base));
    put("<text class=\"heading\" x=\"16\" y=\"22\" font-size=\"14\" font-weight=\"bold\">" + xml(heading) + "</text>\n");
    if (settings.refusal)
        put("<text class=\"refusal-text\" x=\"16\" y=\"42\" fill=\"" + QByteArray(refusalColour) + "\" font-weight=\"bold\">"
            + xml(settings.refusal->line()) + "</text>\n");
    else if (settings.flashSize > 0)
        put("<text class=\"flash\" x=\"16\" y=\"42\">"
            + xml(QStringLiteral("Flash %1 \u2013 %2").arg(hex(settings.flashOrigin), hex(settings.flashOrigin + settings.flashSize)))
            + "</text>\n");
    drawBackground();
    drawSectors();
    drawFiles();
    drawMarks();
    drawTicks();
    drawLabels();
    put("</svg>\n");
    return ok;
}

} // namespace

bool writeLayoutPicture(ByteSink &sink, const MergeLayout &layout, const PictureSettings &settings)
{
    Picture picture(sink, layout, settings);
    return picture.draw();
}
