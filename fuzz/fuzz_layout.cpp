// Any bytes as a file of a merge, told by the one rule, read and laid out at
// its own addresses and moved to 1000, beside a raw file at 10: the check
// passes or refuses with one line, and what it passes holds together (files
// in address order, pieces that never overlap and lie in the image, nothing at
// or past FFFFFFFF), and a small image can be walked to the end.

#include "FuzzSupport.h"
#include "MergeJob.h"

#include <QFile>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzProcess &process = fuzzProcess();
    const QString input = process.folder.filePath(QStringLiteral("input"));
    const QString raw = process.folder.filePath(QStringLiteral("raw.bin"));
    {
        QFile file(input);
        if (!file.open(QIODevice::WriteOnly) || file.write(reinterpret_cast<const char *>(data), qint64(size)) != qint64(size))
            fault("cannot write the input");
        QFile second(raw);
        if (!second.open(QIODevice::WriteOnly) || second.write("raw") != 3)
            fault("cannot write the raw file");
    }
    for (const bool own : {true, false}) {
        MergeRow row;
        row.enabled = true;
        row.fileName = input;
        row.address = own ? MergeAddress::own() : MergeAddress::at(0x1000);
        MergeRow second;
        second.enabled = true;
        second.fileName = raw;
        second.address = MergeAddress::at(0x10);
        MergeOptions options;
        options.detectInputs = true;
        options.base = 0;
        options.computeDigests = true;
        int lines = 0;
        MergeJob job({row, second}, QStringLiteral("out.bin"), [&lines](const QString &) { ++lines; }, options);
        if (!job.check()) {
            if (lines != 2) // "Begin to merge..." and the one refusal
                fault("a refusal without exactly one line");
            continue;
        }
        const MergeLayout &layout = job.layout();
        if (layout.end() > addressSpaceEnd || layout.imageSize < 0)
            fault("an image past 32-bit addresses");
        qint64 previous = layout.base;
        for (const MergePiece &piece : layout.pieces) {
            if (layout.size(piece) <= 0 || layout.address(piece) < previous || layout.end(piece) > layout.end())
                fault("pieces out of order, overlapping or outside the image");
            previous = layout.end(piece);
        }
        for (int k = 1; k < layout.placements.size(); ++k) {
            if (layout.placements.at(k).address < layout.placements.at(k - 1).address)
                fault("files out of address order");
        }
        // Walked to its end where that takes no more than a moment.
        if (layout.imageSize <= (qint64(1) << 20) && !job.measure())
            fault("a checked image that cannot be walked");
    }
    return 0;
}
