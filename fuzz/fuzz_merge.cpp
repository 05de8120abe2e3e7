// A layout drawn from the fuzzer's bytes (files, gaps and pads of sizes
// around the program's buffers, raw and record files, fields, overlap
// policies, crops and excludes) merged in one of the output formats: the
// merge refuses what the tests' model refuses, with one line, and writes
// nothing; otherwise the output, read back by the tests' readers of each
// format, holds exactly the model's bytes.

#include "FuzzSupport.h"
#include "FormatReaders.h"
#include "Layouts.h"
#include "MergeJob.h"
#include "fields/FieldSpec.h"
#include "input/Uf2Family.h"
#include "writers/ImageWriter.h"

#include <QDir>
#include <QFile>

namespace {

// Numbers from the input's bytes, then zeros once they run out.
class Choices
{
public:
    Choices(const uint8_t *data, size_t size)
        : data(data)
        , size(size)
    {
    }
    qint64 operator()(qint64 n)
    {
        if (n <= 1)
            return 0;
        quint32 value = 0;
        for (int i = 0; i < (n > 256 ? 4 : 1); ++i)
            value = value << 8 | (at < size ? data[at++] : 0);
        return qint64(value % quint64(n));
    }

private:
    const uint8_t *data;
    size_t size;
    size_t at = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzProcess &process = fuzzProcess();
    Choices choices(data, size);
    const Layouts::Pick pick = [&choices](qint64 n) { return choices(n); };
    Layouts::Shape shape;
    shape.files = 5;
    shape.largest = (qint64(1) << 20) + 1;
    shape.budget = qint64(3) << 20;
    const Model::Merge merge = Layouts::randomMerge(pick, shape);
    const QStringList formats = OutputFormats::names();
    const QString format = formats.at(int(pick(formats.size())));
    const int wordBits = 8 << pick(4);
    const int recordSize = 1 + int(pick(250));
    const bool padded = merge.padTo > 0 && OutputFormats::find(format)->writesGaps;

    const QDir folder(process.folder.path());
    for (const QString &name : folder.entryList(QDir::Files))
        QFile::remove(folder.filePath(name));
    const QVector<Layouts::Input> inputs = Layouts::writeInputs(merge, folder.path());
    if (inputs.size() != merge.files.size())
        fault("cannot write the inputs");
    // Two rows that give one address are refused before anything is read,
    // as the window always has; the model is a picture of the image and
    // does not know rows: such a layout tells nothing here.
    QVector<qint64> given;
    for (const Layouts::Input &input : inputs) {
        if (!input.own) {
            if (given.contains(input.address))
                return 0;
            given.append(input.address);
        }
    }
    QVector<MergeRow> rows;
    for (const Layouts::Input &input : inputs) {
        MergeRow row;
        row.enabled = true;
        row.fileName = input.name;
        row.address = input.own ? MergeAddress::own() : MergeAddress::at(input.address);
        rows.append(row);
    }
    MergeOptions options;
    options.detectInputs = true;
    options.base = merge.base;
    options.fill = merge.fill;
    options.format = OutputFormats::find(format);
    options.recordSize = qMin(recordSize, qMax(1, options.format->maxRecordSize));
    QString ignored;
    if (const FormatOption *bits = options.format->option(QStringLiteral("word-bits")))
        bits->parse(QString::number(wordBits), options.formatSettings, &ignored);
    if (pick(2))
        options.formatSettings.set<Uf2Family>().id = 0xE48BFF56;
    options.padTo = padded ? merge.padTo : 0;
    options.overlap = merge.overlap == Model::Overlap::Later     ? OverlapPolicy::LaterWins
                      : merge.overlap == Model::Overlap::Earlier ? OverlapPolicy::EarlierWins
                                                                 : OverlapPolicy::Refuse;
    for (const Model::Range &r : merge.crop)
        options.crop.append({r.from, r.to});
    for (const Model::Range &r : merge.exclude)
        options.exclude.append({r.from, r.to});
    for (const Model::Field &f : merge.fields) {
        MergeField field;
        QString problem;
        if (!parseField(f.option(), &field, &problem))
            fault("a field the model makes cannot be read");
        options.fields.append(field);
    }
    options.computeDigests = pick(2) != 0;
    options.hashOutput = pick(2) != 0;

    Model::Merge asWritten = merge;
    if (!padded)
        asWritten.padTo = 0;
    const Model::Image image = Model::image(asWritten);
    const QString output = folder.filePath(QStringLiteral("out"));
    QStringList log;
    MergeJob job(rows, output, [&log](const QString &line) { log << line; }, options);
    const bool merged = job.run();
    if (image.refused) {
        if (merged || log.size() != 2 || !log.last().startsWith(QLatin1String("Error!!!")) || QFile::exists(output))
            fault("a layout the model refuses is not refused with one line");
        return 0;
    }
    if (!merged) {
        for (const QString &line : log)
            std::fprintf(stderr, "%s\n", qPrintable(line));
        fault("a layout the model takes is refused");
    }
    QFile file(output);
    if (!file.open(QIODevice::ReadOnly))
        fault("no output");
    const QByteArray written = file.readAll();
    Readback::Runs got;
    QString error;
    if (!Readback::read(format, written, merge.base, wordBits, QStringLiteral("mergefile_image"), got, error)) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(format), qPrintable(error));
        fault("the output cannot be read back");
    }
    const QString wrong = Readback::difference(got, Readback::expected(image, format, wordBits, merge.fill));
    if (!wrong.isEmpty()) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(format), qPrintable(wrong));
        fault("the output is not the model's image");
    }
    if (job.outputSize() != written.size())
        fault("the output's length is not the one promised");
    return 0;
}
