#ifndef UNITWRITER_H
#define UNITWRITER_H

#include "ImageWriter.h"
#include "TextBuffer.h"

// For the formats that write the image in units at their own addresses (a
// byte, a memory word, a 256-byte block) and nothing for gaps: a unit is
// written where any byte of it lies in a file or field, its other bytes the
// fill byte. Runs of units at consecutive addresses form a section (one "@"
// line of a text format). The unit writers see whole units only.
class UnitWriter : public ImageWriter
{
public:
    UnitWriter(ByteSink &output, int unitSize, char fill);

    qint64 outputSize(const MergeLayout &layout) const override;
    bool fill(qint64 address, qint64 count) override;
    bool data(qint64 address, const char *bytes, qint64 count, const MergePiece &piece) override;
    bool finish() override;

    // The units the layout's pieces touch, and in how many sections.
    struct Count
    {
        qint64 units = 0;
        qint64 sections = 0;
    };
    static Count countUnits(const MergeLayout &layout, int unitSize);

protected:
    // count units from unit number index on (its address is index *
    // unitSize); newSection: the unit before it was not written.
    virtual void units(qint64 index, const unsigned char *bytes, qint64 count, bool newSection) = 0;
    virtual void end() = 0;
    // Text lengths, so that outputSize() is exact without the bytes.
    virtual qint64 fixedSize() const = 0;                 // what is written once
    virtual qint64 sectionSize(qint64 firstIndex) const = 0; // a section's own line
    virtual qint64 unitsSize(qint64 count) const = 0;

    // Room in the output buffer; flushed to the output when it runs short.
    char *reserve(int length) { return text.reserve(length); }
    const int unitSize;

private:
    void flushUnit();
    void putUnits(qint64 index, const unsigned char *bytes, qint64 count);

    char fillByte;
    unsigned char unit[256];
    qint64 unitIndex = -1; // the unit being gathered; -1: none
    int unitUsed = 0;      // its bytes set so far, from its start
    qint64 lastIndex = -2; // the last unit written
    TextBuffer text;
};

#endif // UNITWRITER_H
