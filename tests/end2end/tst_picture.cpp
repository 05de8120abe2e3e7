// --picture: the SVG read back as XML and held against the layout it draws
// (each file, field, slot, sector, break and refusal where it belongs, in
// address order and in proportion), drawn by headless Chromium where it is
// installed, and refused like the map where it would take a file the merge
// needs.

#include "CliRunner.h"
#include "Files.h"
#include "Pieces.h"
#include "Records.h"

#include <QImage>
#include <QMap>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QTest>
#include <QXmlStreamReader>

#include <algorithm>

namespace {

// One drawn element: its class, where it lies, its text.
struct Drawn
{
    QString cls;
    double y = 0;
    double height = 0;
    QString text;
    QString fill;
};

// Every element with a class, in document order; false when the file is no
// well-formed XML or holds a script or a reference to another file.
bool readPicture(const QString &name, QVector<Drawn> &drawn, QString *problem)
{
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly)) {
        *problem = QStringLiteral("no picture");
        return false;
    }
    QXmlStreamReader xml(&file);
    QVector<int> open; // indices of the elements being read, -1 for none
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            const QXmlStreamAttributes a = xml.attributes();
            if (xml.name() == QLatin1String("script") || xml.name() == QLatin1String("image")
                || xml.name() == QLatin1String("use") || a.hasAttribute(QStringLiteral("href"))
                || a.hasAttribute(QStringLiteral("http://www.w3.org/1999/xlink"), QStringLiteral("href"))) {
                *problem = QStringLiteral("a script or a reference: %1").arg(xml.name().toString());
                return false;
            }
            if (a.hasAttribute(QStringLiteral("class"))) {
                Drawn d;
                d.cls = a.value(QStringLiteral("class")).toString();
                d.y = a.value(QStringLiteral("y")).toDouble();
                if (a.hasAttribute(QStringLiteral("y1")))
                    d.y = a.value(QStringLiteral("y1")).toDouble();
                d.height = a.value(QStringLiteral("height")).toDouble();
                d.fill = a.value(QStringLiteral("fill")).toString();
                drawn.append(d);
                open.append(drawn.size() - 1);
            } else {
                open.append(-1);
            }
        } else if (xml.isCharacters()) {
            for (const int k : std::as_const(open)) {
                if (k >= 0)
                    drawn[k].text += xml.text();
            }
        } else if (xml.isEndElement()) {
            open.removeLast();
        }
    }
    if (xml.hasError()) {
        *problem = xml.errorString();
        return false;
    }
    return true;
}

// Debian's Chromium, where it is installed.
QString chromiumProgram()
{
    for (const char *name : {"chromium", "chromium-browser"}) {
        const QString found = QStandardPaths::findExecutable(QLatin1String(name));
        if (!found.isEmpty())
            return found;
    }
    return QString();
}

QVector<Drawn> ofClass(const QVector<Drawn> &drawn, const QString &cls)
{
    QVector<Drawn> out;
    for (const Drawn &d : drawn) {
        if (d.cls == cls)
            out.append(d);
    }
    return out;
}

} // namespace

class tst_Picture : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void drawsTheLayout_data();
    void drawsTheLayout();
    void inProportion();
    void labelsBelowTheBand();
    void longGapsShortened();
    void manySegmentsBounded();
    void longNamesShortened();
    void namesCutAtWholeCharacters_data();
    void namesCutAtWholeCharacters();
    void namesTurnNoTextAbout_data();
    void namesTurnNoTextAbout();
    void refusedMergeExplained();
    void refusalMarkedWhereItWentWrong_data();
    void refusalMarkedWhereItWentWrong();
    void refusedLikeTheMap_data();
    void refusedLikeTheMap();
    void drawnByABrowser();

private:
    QScopedPointer<CurrentTempDir> dir;
};

void tst_Picture::init()
{
    dir.reset(new CurrentTempDir);
    QVERIFY(dir->isValid());
}

void tst_Picture::cleanup()
{
    dir.reset();
}

void tst_Picture::drawsTheLayout_data()
{
    QTest::addColumn<QStringList>("args");        // besides the pairs of pieces
    QTest::addColumn<Pieces>("pieces");
    QTest::addColumn<QStringList>("classes");     // each drawn at least once
    QTest::addColumn<QStringList>("texts");       // each in some label

    const Pieces two{{0x1000, 0x400}, {0x1800, 0x200}};
    QTest::newRow("two files and the fill between")
        << QStringList() << two << QStringList{"file", "segment", "fill", "file-label", "tick", "heading"}
        << QStringList{"0.bin  0x00001000 \u2013 0x00001400  (1024 bytes)", "1.bin  0x00001800 \u2013 0x00001A00  (512 bytes)"};
    QTest::newRow("a field, padding, sectors and the flash")
        << QStringList{"--pad-to", "2000", "--flash", "1000,2000", "--sector-size", "400", "--field", "crc32@1C00,1000-1A00"}
        << two << QStringList{"field", "field-label", "padding", "padding-label", "sector", "flash"}
        << QStringList{"crc32 at 0x00001C00", "padding: ", "Flash 0x00001000 \u2013 0x00003000"};
    QTest::newRow("a slot and what is left of it")
        << QStringList() << Pieces{{0x1000, 0x100}} << QStringList{"slot", "slot-label"}
        << QStringList{"slot of 0.bin: 4096 bytes, 3840 left"};
    QTest::newRow("a dry run draws too") << QStringList{"--dry-run"} << two << QStringList{"file", "segment"}
                                         << QStringList{"0.bin  0x00001000"};
}

// Each element of the layout is there, labelled, and files come in address
// order down the picture.
void tst_Picture::drawsTheLayout()
{
    QFETCH(QStringList, args);
    QFETCH(Pieces, pieces);
    QFETCH(QStringList, classes);
    QFETCH(QStringList, texts);

    QStringList pairs = writePieces(pieces);
    if (QTest::currentDataTag() == QByteArray("a slot and what is left of it"))
        pairs[0] += QStringLiteral(":1000");
    const Run run = runCli(args + QStringList{"--picture", "p.svg", "-o", "out.bin"} + pairs);
    QCOMPARE(run.exitCode, 0);
    QVector<Drawn> drawn;
    QString problem;
    QVERIFY2(readPicture(QStringLiteral("p.svg"), drawn, &problem), qPrintable(problem));
    for (const QString &cls : classes)
        QVERIFY2(!ofClass(drawn, cls).isEmpty(), qPrintable(cls));
    QString all;
    for (const Drawn &d : std::as_const(drawn))
        all += d.text + QLatin1Char('\n');
    for (const QString &text : texts)
        QVERIFY2(all.contains(text), qPrintable(text + QStringLiteral(" in\n") + all));
    const QVector<Drawn> files = ofClass(drawn, QStringLiteral("segment"));
    for (int k = 1; k < files.size(); ++k)
        QVERIFY(files.at(k).y >= files.at(k - 1).y + files.at(k - 1).height - 0.1);
}

// Without a shortened gap, heights follow sizes: a file four times as long
// is drawn four times as tall, and the gap between in proportion too.
void tst_Picture::inProportion()
{
    const Pieces pieces{{0x1000, 0x400}, {0x1800, 0x100}};
    QCOMPARE(runCli(QStringList{"--picture", "p.svg", "-o", "out.bin"} + writePieces(pieces)).exitCode, 0);
    QVector<Drawn> drawn;
    QString problem;
    QVERIFY2(readPicture(QStringLiteral("p.svg"), drawn, &problem), qPrintable(problem));
    const QVector<Drawn> segments = ofClass(drawn, QStringLiteral("segment"));
    QCOMPARE(segments.size(), 2);
    QVERIFY(ofClass(drawn, QStringLiteral("break")).isEmpty());
    QVERIFY(qAbs(segments.at(0).height / segments.at(1).height - 4.0) < 0.05);
    const double gap = segments.at(1).y - (segments.at(0).y + segments.at(0).height);
    QVERIFY(qAbs(gap / segments.at(1).height - 4.0) < 0.05); // 0x400 of fill
}

// Labels that run on below the band (many small files at the end) leave the
// band as it is: the last file is as short as its two bytes.
void tst_Picture::labelsBelowTheBand()
{
    Pieces pieces{{0x1000, 0x3F0}};
    for (int k = 0; k < 8; ++k)
        pieces.append({0x13F0 + 2 * k, 2});
    QCOMPARE(runCli(QStringList{"--picture", "p.svg", "-o", "out.bin"} + writePieces(pieces)).exitCode, 0);
    QVector<Drawn> drawn;
    QString problem;
    QVERIFY2(readPicture(QStringLiteral("p.svg"), drawn, &problem), qPrintable(problem));
    const QVector<Drawn> segments = ofClass(drawn, QStringLiteral("segment"));
    QCOMPARE(segments.size(), 9);
    QVERIFY2(segments.last().height < 3, qPrintable(QString::number(segments.last().height)));
    const QVector<Drawn> labels = ofClass(drawn, QStringLiteral("file-label"));
    QVERIFY(labels.last().y > segments.last().y + 50); // the column did run on
}

// A file at 0 and one at 0x08000000: the gap is drawn short behind a break
// mark that says how long it is, and both files stay visible.
void tst_Picture::longGapsShortened()
{
    const Pieces pieces{{0x0, 0x800}, {0x08000000, 0x7530}};
    QCOMPARE(runCli(QStringList{"--base", "0", "--picture", "p.svg", "-o", "out.hex"} + writePieces(pieces)).exitCode, 0);
    QVector<Drawn> drawn;
    QString problem;
    QVERIFY2(readPicture(QStringLiteral("p.svg"), drawn, &problem), qPrintable(problem));
    const QVector<Drawn> breaks = ofClass(drawn, QStringLiteral("break-label"));
    QCOMPARE(breaks.size(), 1);
    QVERIFY2(breaks.first().text.contains(QStringLiteral("gap of %1 bytes").arg(0x08000000 - 0x800)), qPrintable(breaks.first().text));
    const QVector<Drawn> segments = ofClass(drawn, QStringLiteral("segment"));
    QCOMPARE(segments.size(), 2);
    QVERIFY(segments.at(0).height > 20); // 2 KiB beside 128 MiB, still seen
    QVERIFY(segments.at(0).y + segments.at(0).height < breaks.first().y);
    QVERIFY(breaks.first().y < segments.at(1).y);
}

// 100,000 scattered records: segments closer than a pixel are drawn as one,
// so the picture stays small.
void tst_Picture::manySegmentsBounded()
{
    QByteArray hex;
    for (int i = 0; i < 100000; ++i) {
        const quint32 address = 0x10000 + 32 * quint32(i);
        if ((address & 0xFFFF) == 0)
            hex += hexRecord(4, 0, QByteArray(1, char(address >> 24)) + char(address >> 16));
        hex += hexRecord(0, address & 0xFFFF, QByteArray(16, char(i)));
    }
    hex += ":00000001FF\n";
    QVERIFY(writeFile(QStringLiteral("s.hex"), hex));
    const Run run = runCli({"--base", "0", "--picture", "p.svg", "-o", "out.bin", "-", "s.hex"});
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(QFileInfo(QStringLiteral("p.svg")).size() < 200000, qPrintable(QString::number(QFileInfo(QStringLiteral("p.svg")).size())));
    QVector<Drawn> drawn;
    QString problem;
    QVERIFY2(readPicture(QStringLiteral("p.svg"), drawn, &problem), qPrintable(problem));
    QVERIFY(ofClass(drawn, QStringLiteral("segment")).size() <= 1000);
}

// A long name is shortened in its middle in the label; the whole name is the
// tooltip. A name with a character XML cannot hold still makes a picture.
void tst_Picture::longNamesShortened()
{
    const QString name = QStringLiteral("firmware-for-the-main-controller-board-rev-c-release-build.bin");
    QVERIFY(writeFile(name, QByteArray(64, 'f')));
#ifdef Q_OS_UNIX
    const QString odd = QStringLiteral("a\x01<b>&.bin");
#else
    const QString odd = QStringLiteral("a<b>&.bin").remove(QLatin1Char('<')).remove(QLatin1Char('>'));
#endif
    QVERIFY(writeFile(odd, QByteArray(8, 'o')));
    QCOMPARE(runCli({"--picture", "p.svg", "-o", "out.bin", "1000", name, "1100", odd}).exitCode, 0);
    QVector<Drawn> drawn;
    QString problem;
    QVERIFY2(readPicture(QStringLiteral("p.svg"), drawn, &problem), qPrintable(problem));
    const QVector<Drawn> labels = ofClass(drawn, QStringLiteral("file-label"));
    QCOMPARE(labels.size(), 2);
    QVERIFY2(labels.first().text.startsWith(name), qPrintable(labels.first().text)); // the tooltip
    QVERIFY2(labels.first().text.contains(name.left(16) + QChar(0x2026) + name.right(17)), qPrintable(labels.first().text));
}

void tst_Picture::namesCutAtWholeCharacters_data()
{
    QTest::addColumn<QString>("unit"); // one character as a reader sees it
    QTest::addColumn<int>("count");

    QTest::newRow("letters with a combining accent") << QStringLiteral("e\u0301") << 40;
    QTest::newRow("letters with two combining marks") << QStringLiteral("a\u0323\u0302") << 36;
    QTest::newRow("characters past 16 bits (surrogate pairs)") << QStringLiteral("\U0001F600") << 40;
    QTest::newRow("odd and even halves") << QStringLiteral("x\U0001D49C") << 21; // 42 characters, 63 UTF-16 units
}

// A long name is cut between characters: the first 16 and the last 17 (the
// ending) are kept whole, never half a surrogate pair or a mark without the
// letter it belongs to.
void tst_Picture::namesCutAtWholeCharacters()
{
    QFETCH(QString, unit);
    QFETCH(int, count);

    QStringList characters;
    for (int i = 0; i < count; ++i) {
        if (unit.startsWith(QLatin1Char('x')) && unit.size() > 1) // alternating: x, then the other
            characters << QStringLiteral("x") << unit.mid(1);
        else
            characters << unit;
    }
    const QString name = characters.join(QString()) + QStringLiteral(".bin");
    characters << QStringLiteral(".") << QStringLiteral("b") << QStringLiteral("i") << QStringLiteral("n");
    QVERIFY(writeFile(name, "1234"));
    QCOMPARE(runCli({"--picture", "p.svg", "-o", "out.bin", "1000", name}).exitCode, 0);
    QVector<Drawn> drawn;
    QString problem;
    QVERIFY2(readPicture(QStringLiteral("p.svg"), drawn, &problem), qPrintable(problem));
    const QVector<Drawn> labels = ofClass(drawn, QStringLiteral("file-label"));
    QCOMPARE(labels.size(), 1);
    const QString shown = characters.mid(0, 16).join(QString()) + QChar(0x2026)
                          + characters.mid(characters.size() - 17).join(QString());
    QVERIFY2(labels.first().text.contains(shown + QStringLiteral("  0x00001000")), qPrintable(labels.first().text));
    QVERIFY(labels.first().text.startsWith(name)); // the tooltip
    QVERIFY(!readFile(QStringLiteral("p.svg")).contains("\xef\xbf\xbd")); // no character lost in the writing
}

void tst_Picture::namesTurnNoTextAbout_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("shown"); // in the label

    QTest::newRow("Hebrew letters last") << QStringLiteral("\u05E7\u05D5\u05E9\u05D7\u05D4") << QStringLiteral("\u05E7\u05D5\u05E9\u05D7\u05D4");
    QTest::newRow("Arabic letters last") << QStringLiteral("boot-\u0645\u0644\u0641") << QStringLiteral("boot-\u0645\u0644\u0641");
    QTest::newRow("Arabic digits last") << QStringLiteral("fw-\u0661\u0662") << QStringLiteral("fw-\u0661\u0662");
    QTest::newRow("a right-to-left mark last") << QStringLiteral("fw\u200F") << QStringLiteral("fw\u200F");
    QTest::newRow("a right-to-left override")
        << QStringLiteral("invoice\u202Efdp.exe") << QStringLiteral("invoice\\u202efdp.exe");
    QTest::newRow("a right-to-left isolate that is never closed")
        << QStringLiteral("a\u2067b\u05D0") << QStringLiteral("a\\u2067b\u05D0");
    QTest::newRow("an isolate closed that was never opened, then an override")
        << QStringLiteral("x\u2069\u202Ey\u05D0") << QStringLiteral("x\\u2069\\u202ey\u05D0");
    QTest::newRow("an embedding without its end") << QStringLiteral("\u202B\u05D0z") << QStringLiteral("\\u202b\u05D0z");
}

// Whatever a name holds, the text after it in its label reads on as it
// should: the controls of direction are shown, not obeyed, and the name is
// isolated, so right-to-left letters keep to themselves. Chromium lays the
// label out and says where each character went.
void tst_Picture::namesTurnNoTextAbout()
{
    QFETCH(QString, name);
    QFETCH(QString, shown);

    QVERIFY(writeFile(name, "1234"));
    QCOMPARE(runCli({"--picture", "p.svg", "-o", "out.bin", "1000:100", name}).exitCode, 0);
    const QByteArray svg = readFile(QStringLiteral("p.svg"));
    for (const ushort control : {0x202A, 0x202B, 0x202C, 0x202D, 0x202E, 0x2066, 0x2067, 0x2068, 0x2069})
        QVERIFY(!QString::fromUtf8(svg).contains(QChar(control)));
    QVector<Drawn> drawn;
    QString problem;
    QVERIFY2(readPicture(QStringLiteral("p.svg"), drawn, &problem), qPrintable(problem));
    const QVector<Drawn> labels = ofClass(drawn, QStringLiteral("file-label"));
    QCOMPARE(labels.size(), 1);
    QVERIFY2(labels.first().text.endsWith(shown + QStringLiteral("  0x00001000 \u2013 0x00001004  (4 bytes)")),
             qPrintable(labels.first().text));
    QVERIFY(ofClass(drawn, QStringLiteral("slot-label")).first().text.startsWith(QStringLiteral("slot of ") + shown + ": "));

    const QString chromium = chromiumProgram();
    if (chromium.isEmpty())
        QSKIP("Chromium (Debian's chromium) is not installed");
    // The picture in a page whose script writes, for each label, the text
    // drawn and where each of its characters starts.
    QByteArray page = "<!DOCTYPE html><html><head><meta charset=\"utf-8\"></head><body>" + svg.mid(svg.indexOf("<svg"))
                      + "<script>const out = [];\n"
                        "for (const t of document.querySelectorAll('text.file-label, text.slot-label')) {\n"
                        "  let drawn = '';\n"
                        "  for (const n of t.childNodes) if (n.nodeName !== 'title') drawn += n.textContent;\n"
                        "  const xs = [];\n"
                        "  for (let i = 0; i < t.getNumberOfChars(); i++) xs.push(t.getStartPositionOfChar(i).x.toFixed(2));\n"
                        "  out.push(encodeURIComponent(drawn) + ' ' + xs.join(','));\n"
                        "}\n"
                        "const pre = document.createElement('pre'); pre.id = 'laid'; pre.textContent = '\\n' + out.join('\\n') + '\\n';\n"
                        "document.body.appendChild(pre);</script></body></html>\n";
    QVERIFY(writeFile(QStringLiteral("page.html"), page));
    QProcess browser;
    browser.start(chromium, {"--headless", "--no-sandbox", "--disable-gpu", "--dump-dom",
                             QUrl::fromLocalFile(QDir::current().absoluteFilePath(QStringLiteral("page.html"))).toString()});
    QVERIFY(browser.waitForFinished(120000));
    QCOMPARE(browser.exitCode(), 0);
    const QString dom = QString::fromUtf8(browser.readAllStandardOutput());
    const int from = dom.indexOf(QLatin1String("<pre id=\"laid\">"));
    QVERIFY2(from >= 0, qPrintable(dom.right(2000)));
    const QStringList lines = dom.mid(from, dom.indexOf(QLatin1String("</pre>"), from) - from).split(QLatin1Char('\n')).mid(1, 2);
    QCOMPARE(lines.size(), 2);
    for (const QString &line : lines) {
        // As SVG draws text: runs of blanks as one.
        const QString drawnText = QUrl::fromPercentEncoding(line.section(QLatin1Char(' '), 0, 0).toUtf8())
                                      .replace(QRegularExpression(QStringLiteral(" +")), QStringLiteral(" "));
        const QStringList xs = line.section(QLatin1Char(' '), 1).split(QLatin1Char(','));
        QCOMPARE(xs.size(), drawnText.size());
        const int nameStart = drawnText.indexOf(shown);
        QVERIFY2(nameStart >= 0, qPrintable(drawnText));
        const int after = nameStart + shown.size();
        double rightmost = 0;
        for (int i = nameStart; i < after; ++i)
            rightmost = qMax(rightmost, xs.at(i).toDouble());
        // What follows the name starts right of all of it and runs on to the
        // right, a character at a time.
        QVERIFY2(xs.at(after).toDouble() >= rightmost - 0.5, qPrintable(line));
        for (int i = after + 1; i < xs.size(); ++i)
            QVERIFY2(xs.at(i).toDouble() > xs.at(i - 1).toDouble(), qPrintable(QStringLiteral("%1 at %2").arg(drawnText).arg(i)));
    }
}

// A dry run that is refused still draws what it laid out, the refusal in red
// at the address it names, and says the line.
void tst_Picture::refusedMergeExplained()
{
    QVERIFY(writeFile(QStringLiteral("in.txt"), "@1010\n01 02 03\nq\n"));
    QVERIFY(writeFile(QStringLiteral("a.bin"), QByteArray(40, 'a')));
    const Run run = runCli({"--dry-run", "--picture", "p.svg", "-o", "out.bin", "-", "in.txt", "1000", "a.bin"});
    QCOMPARE(run.exitCode, 1);
    QVector<Drawn> drawn;
    QString problem;
    QVERIFY2(readPicture(QStringLiteral("p.svg"), drawn, &problem), qPrintable(problem));
    const QVector<Drawn> text = ofClass(drawn, QStringLiteral("refusal-text"));
    QCOMPARE(text.size(), 1);
    QCOMPARE(text.first().text, QStringLiteral("Error!!!a.bin and in.txt overlap at 0x00001010!"));
    const QVector<Drawn> mark = ofClass(drawn, QStringLiteral("refusal"));
    QCOMPARE(mark.size(), 1);
    // At 0x1010: where in.txt's segment starts.
    const QVector<Drawn> segments = ofClass(drawn, QStringLiteral("segment"));
    bool atTheSegment = false;
    for (const Drawn &s : segments)
        atTheSegment = atTheSegment || qAbs(s.y - mark.first().y) < 0.2;
    QVERIFY(atTheSegment);
    QVERIFY(!QFile::exists(QStringLiteral("out.bin")));
}

void tst_Picture::refusalMarkedWhereItWentWrong_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("line");
    QTest::addColumn<qint64>("address"); // of the mark; -1: none
    QTest::addColumn<QString>("cls");    // the mark lies on the index-th element of this class ("tick": the
                                         // address's own on the axis)...
    QTest::addColumn<int>("index");
    QTest::addColumn<double>("fraction"); // ...this far down it

    // a.bin: 0x20 bytes, b.bin: 0x10.
    QTest::newRow("a slot too small, at the slot")
        << QStringList{"1000", "b.bin", "2000:1F", "a.bin"}
        << "Error!!!a.bin (32 bytes) does not fit its slot of 31 bytes at 0x00002000!" << qint64(0x2000) << "slot" << 0 << 0.0;
    QTest::newRow("a field on a file, at the field")
        << QStringList{"--field", "crc32@1010", "1000", "a.bin"} << "Error!!!Field crc32@1010 lies on the data of a.bin!"
        << qint64(0x1010) << "field" << 0 << 0.0;
    // The line's first address is where the range starts; the field is
    // what was refused.
    QTest::newRow("a field's range outside the image, at the field")
        << QStringList{"--field", "crc32@2000,1000-3000", "1000", "a.bin"}
        << "Error!!!Field crc32@2000,1000-3000 covers 0x00001000 to 0x00003000, outside the image (0x00001000 to 0x00002004)!"
        << qint64(0x2000) << "field" << 0 << 0.0;
    // At the sector's start on the axis, before either file.
    QTest::newRow("two files in one sector, at the sector")
        << QStringList{"--sector-size", "1000", "2400", "a.bin", "2800", "b.bin"}
        << "Error!!!a.bin and b.bin share the erase sector at 0x00002000!" << qint64(0x2000) << "tick" << 0 << 0.0;
    // Where it leaves the flash, half way down the file; the line names
    // where the file ends first.
    QTest::newRow("a file past the flash, where it leaves the flash")
        << QStringList{"--flash", "1000,110", "1000", "b.bin", "1100", "a.bin"}
        << "Error!!!a.bin ends at 0x00001120, past the end of the flash at 0x00001110!" << qint64(0x1110) << "segment" << 1
        << 0.5;
    QTest::newRow("a file that is not there, nowhere")
        << QStringList{"1000", "a.bin", "2000", "none.bin"} << "Error!!!Cannot open filenone.bin!" << qint64(-1) << "" << 0
        << 0.0;
}

// The red mark lies at the refusal's address, taken from the refusal, not
// from its line; one without an address gets the line and no mark.
void tst_Picture::refusalMarkedWhereItWentWrong()
{
    QFETCH(QStringList, args);
    QFETCH(QString, line);
    QFETCH(qint64, address);
    QFETCH(QString, cls);
    QFETCH(int, index);
    QFETCH(double, fraction);

    QVERIFY(writeFile(QStringLiteral("a.bin"), QByteArray(0x20, 'a')));
    QVERIFY(writeFile(QStringLiteral("b.bin"), QByteArray(0x10, 'b')));
    const Run run = runCli(QStringList{"--dry-run", "--picture", "p.svg", "-o", "out.bin"} + args);
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.out.contains(line), qPrintable(run.out.join(QLatin1Char('\n'))));
    QVector<Drawn> drawn;
    QString problem;
    QVERIFY2(readPicture(QStringLiteral("p.svg"), drawn, &problem), qPrintable(problem));
    const QVector<Drawn> text = ofClass(drawn, QStringLiteral("refusal-text"));
    QCOMPARE(text.size(), 1);
    QCOMPARE(text.first().text, line);
    const QVector<Drawn> mark = ofClass(drawn, QStringLiteral("refusal"));
    const QVector<Drawn> label = ofClass(drawn, QStringLiteral("refusal-label"));
    if (address < 0) {
        QVERIFY(mark.isEmpty());
        QVERIFY(label.isEmpty());
        return;
    }
    QCOMPARE(mark.size(), 1);
    QCOMPARE(label.size(), 1);
    const QString shown = QStringLiteral("refused here: 0x") + QString::number(address, 16).toUpper().rightJustified(8, QLatin1Char('0'));
    QVERIFY2(label.first().text.endsWith(shown), qPrintable(label.first().text));
    QVector<Drawn> on = ofClass(drawn, cls);
    if (cls == QLatin1String("tick")) {
        // A tick's text stands 4 below its address.
        on.erase(std::remove_if(on.begin(), on.end(), [&](const Drawn &d) { return !shown.endsWith(d.text); }), on.end());
        for (Drawn &d : on)
            d.y -= 4;
    }
    QVERIFY2(on.size() > index, qPrintable(cls));
    const double expected = on.at(index).y + on.at(index).height * fraction;
    QVERIFY2(qAbs(mark.first().y - expected) < 0.2, qPrintable(QStringLiteral("%1 against %2").arg(mark.first().y).arg(expected)));
}

void tst_Picture::refusedLikeTheMap_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("line");

    QTest::newRow("the output") << QStringList{"--picture", "out.bin", "-o", "out.bin", "1000", "0.bin"}
                                << "MergeFileCli: --picture out.bin is the output file";
    QTest::newRow("a source") << QStringList{"--picture", "0.bin", "-o", "out.bin", "1000", "0.bin"}
                              << "MergeFileCli: --picture 0.bin is file1, one of the files to merge";
    QTest::newRow("the map") << QStringList{"--map", "m.json", "--picture", "m.json", "-o", "out.bin", "1000", "0.bin"}
                             << "MergeFileCli: --picture m.json is the map file";
    QTest::newRow("standard output") << QStringList{"--picture", "-", "-o", "out.bin", "1000", "0.bin"}
                                     << "MergeFileCli: --picture needs a file name";
}

// Found before anything is read: a usage error, and the file untouched.
void tst_Picture::refusedLikeTheMap()
{
    QFETCH(QStringList, args);
    QFETCH(QString, line);

    writePieces({{0x1000, 16}});
    const QByteArray before = readFile(QStringLiteral("0.bin"));
    const Run run = runCli(args);
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.err.contains(line), qPrintable(run.err));
    QCOMPARE(readFile(QStringLiteral("0.bin")), before);
    QVERIFY(!QFile::exists(QStringLiteral("out.bin")));
}

// Chromium draws it without complaint into a picture that is not blank: the
// files' colours are there.
void tst_Picture::drawnByABrowser()
{
    const QString chromium = chromiumProgram();
    if (chromium.isEmpty())
        QSKIP("Chromium (Debian's chromium) is not installed");
    const Pieces pieces{{0x1000, 0x400}, {0x1800, 0x200}};
    QCOMPARE(runCli(QStringList{"--field", "crc32@2000", "--picture", "p.svg", "-o", "out.bin"} + writePieces(pieces)).exitCode, 0);
    QProcess browser;
    browser.start(chromium, {"--headless", "--no-sandbox", "--disable-gpu", "--hide-scrollbars", "--window-size=940,860",
                             "--screenshot=" + QDir::current().absoluteFilePath(QStringLiteral("p.png")),
                             QUrl::fromLocalFile(QDir::current().absoluteFilePath(QStringLiteral("p.svg"))).toString()});
    QVERIFY(browser.waitForFinished(120000));
    QCOMPARE(browser.exitStatus(), QProcess::NormalExit);
    QCOMPARE(browser.exitCode(), 0);
    const QImage png(QStringLiteral("p.png"));
    QVERIFY(!png.isNull());
    QSet<QRgb> colours;
    for (int y = 0; y < png.height(); y += 4) {
        for (int x = 0; x < png.width(); x += 4)
            colours.insert(png.pixel(x, y) & 0xFFFFFF);
    }
    QVERIFY2(colours.size() > 4, qPrintable(QString::number(colours.size())));
    QVERIFY(colours.contains(0x0072B2)); // the first file's colour
    QVERIFY(colours.contains(0xE69F00)); // the second's
}

QTEST_MAIN(tst_Picture)
#include "tst_picture.moc"
