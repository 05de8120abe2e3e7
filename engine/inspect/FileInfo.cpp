#include "FileInfo.h"

#include "input/InputReader.h"
#include "stream/DigestSink.h"

bool describeFile(const QString &name, const LoneFileOptions &options, FileInfo &info, const Messages::Log &log)
{
    LoneFileOptions asked = options;
    asked.details = true;
    LoneFile file(name, asked, log);
    info = FileInfo();
    info.name = name;
    if (!file.read())
        return false;
    const MergeLayout &layout = file.layout();
    const MergePlacement &placement = file.placement();
    const InputReader &reader = placement.format ? *placement.format : InputReader::raw();
    info.format = reader.name();
    info.toldBy = !options.detectFormats ? QStringLiteral("every file is read as raw data (--input-format raw)")
                  : options.format       ? QStringLiteral("the format was given")
                                         : reader.toldBy();
    info.length = file.length();
    info.hasStartAddress = placement.hasStartAddress;
    info.startAddress = placement.startAddress;
    info.details = placement.details;
    for (const MergePiece &piece : layout.pieces) {
        const qint64 start = layout.address(piece);
        const qint64 end = layout.end(piece);
        info.dataBytes += end - start;
        if (!info.runs.isEmpty() && info.runs.last().to == start)
            info.runs.last().to = end;
        else
            info.runs.append({start, end});
    }
    info.flat = {file.lowest(), file.end()};
    // One walk: the data's sums (the file's, as a map gives them) and the
    // flat image's, holes filled.
    DigestSink digests(layout);
    if (file.walk(info.flat.from, info.flat.to, {&digests}) != ImageStreamer::Done) {
        log.refuse(Refusal::failToRead(0, name));
        return false;
    }
    const MergeDigests sums = digests.result();
    info.data = sums.files.value(0);
    info.flatDigest = sums.image;
    return true;
}
