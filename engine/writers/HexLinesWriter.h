#ifndef HEXLINESWRITER_H
#define HEXLINESWRITER_H

#include "UnitWriter.h"

// The "@ADDR" text formats (TI-TXT, Verilog's $readmemh): a line "@" and the
// unit number in hexadecimal where data starts after a gap, then the units as
// hexadecimal digits (their bytes in address order), separated by spaces,
// 16 bytes to a line; a trailer at the end.
class HexLinesWriter : public UnitWriter
{
public:
    HexLinesWriter(ByteSink &output, int unitSize, char fill, int minAddressDigits, const char *trailer);

protected:
    void units(qint64 index, const unsigned char *bytes, qint64 count, bool newSection) override;
    void end() override;
    qint64 fixedSize() const override;
    qint64 sectionSize(qint64 firstIndex) const override;
    qint64 unitsSize(qint64 count) const override { return (2 * unitSize + 1) * count; }

private:
    int addressDigits(qint64 index) const;

    const int unitsPerLine;
    const int minAddressDigits;
    const char *trailer;
    int onLine = 0; // units on the line being written
};

#endif // HEXLINESWRITER_H
