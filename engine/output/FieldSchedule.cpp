#include "FieldSchedule.h"

#include "Checksums.h"
#include "OutputFile.h"
#include "stream/FieldValues.h"
#include "stream/ImageStreamer.h"
#include "writers/ImageWriter.h"

#include <vector>

void FieldSchedule::decide(MergeLayout &layout, bool valuesFirst, bool recordOutput, bool imageDigests)
{
    bool coversAnother = false;
    for (const MergeField &f : std::as_const(layout.fields)) {
        for (const MergeField &other : std::as_const(layout.fields))
            coversAnother = coversAnother || (&other != &f && other.address < f.to && f.from < other.end());
    }
    for (MergeField &f : layout.fields) {
        if (valuesFirst || coversAnother)
            f.timing = FieldTiming::BeforeWriting;
        else if (f.to <= f.end()) // all it covers goes out before it
            f.timing = FieldTiming::AsWritten;
        else if (recordOutput && !imageDigests)
            f.timing = FieldTiming::AfterTheData;
        else
            f.timing = FieldTiming::BeforeWriting;
    }
}

FieldSchedule::FieldSchedule(MergeLayout &layout, SourceSet &sources)
    : layout(layout)
    , sources(sources)
{
}

bool FieldSchedule::workOutFirst(const Messages::Log &log)
{
    ImageStreamer streamer(layout, sources);
    for (int k = 0; k < layout.fields.size(); ++k) {
        if (layout.fields.at(k).timing != FieldTiming::BeforeWriting)
            continue;
        FieldSink sink(layout, k, k + 1);
        switch (streamer.walk(layout.fields.at(k).from, layout.fields.at(k).to, {&sink}, false)) {
        case ImageStreamer::Done:
            break;
        case ImageStreamer::NoMemory:
            return log.refuse(Refusal::notEnoughMemory());
        case ImageStreamer::ReadFailed:
        case ImageStreamer::SinkFailed:
            return log.refuse(readFailure(layout, streamer));
        }
        layout.fields[k].value = sink.value(k);
    }
    return true;
}

bool FieldSchedule::isDigestOfAllBefore(int k) const
{
    const MergeField &f = layout.fields.at(k);
    return f.timing == FieldTiming::AsWritten && f.kind->isSha256 && f.from == layout.base && f.to >= f.address;
}

// Every field is summed as the image goes: those worked out before once
// more, so that a file that changed since the check cannot leave a field
// that does not match; the others for the first and only time. A SHA-256 of
// all the flat image before it is the output's own hash so far: not worked
// out twice.
bool FieldSchedule::writeImage(ImageWriter *writer, std::initializer_list<ImageSink *> others, OutputFile *file,
                               bool outputIsTheImage, const QString &output, const Messages::Log &log)
{
    FieldSink fields(layout, 0, layout.fields.size());
    std::vector<bool> fromOutput(size_t(layout.fields.size()), false);
    const bool outputHashesTheImage = file && file->isHashing() && outputIsTheImage && Sha256::givesResultSoFar();
    for (int k = 0; outputHashesTheImage && k < layout.fields.size(); ++k) {
        if (isDigestOfAllBefore(k)) {
            fromOutput[size_t(k)] = true;
            fields.leaveOut(k);
        }
    }
    std::vector<ImageSink *> sinks{writer};
    sinks.insert(sinks.end(), others);
    sinks.push_back(&fields);
    ImageStreamer streamer(layout, sources);
    streamer.begin(layout.base, layout.end(), std::move(sinks), true);
    bool lost = false; // a value the output's hash could not give
    for (int k = streamer.toNextField(); k >= 0; k = streamer.toNextField()) {
        // All it covers went out before it; a field after the data goes on
        // without its bytes.
        MergeField &field = layout.fields[k];
        if (field.timing != FieldTiming::AsWritten)
            continue;
        field.value = fromOutput[size_t(k)] ? file->sha256SoFar() : fields.value(k);
        if (field.value.size() != field.size) {
            lost = true; // the merge fails below; the bytes only fill the place
            field.value = QByteArray(field.size, layout.fill);
        }
    }
    switch (streamer.result()) {
    case ImageStreamer::Done:
        break;
    case ImageStreamer::NoMemory:
        return log.refuse(Refusal::notEnoughMemory());
    case ImageStreamer::ReadFailed:
        return log.refuse(readFailure(layout, streamer));
    case ImageStreamer::SinkFailed:
        return log.refuse(Refusal::failToWriteOutput(output));
    }
    if (lost)
        return log.refuse(Refusal::notEnoughMemory());
    for (const MergePiece &piece : std::as_const(layout.pieces)) {
        MergeField *field = piece.field() >= 0 ? &layout.fields[piece.field()] : nullptr;
        if (!field || field->timing != FieldTiming::AfterTheData)
            continue;
        field->value = fields.value(piece.field());
        if (writer
            && (!writer->fill(field->address, 0) || !writer->data(field->address, field->value.constData(), field->size, piece)))
            return log.refuse(Refusal::failToWriteOutput(output));
    }
    for (int k = 0; k < layout.fields.size(); ++k) {
        const MergeField &field = layout.fields.at(k);
        if (field.timing == FieldTiming::BeforeWriting && fields.value(k) != field.value)
            return log.refuse(Refusal::fieldChanged(field.text, field.address, field.from, field.to));
    }
    return true;
}
