#ifndef FILEINFO_H
#define FILEINFO_H

#include "LoneFile.h"

#include <QVariantMap>

// What `info` tells of one file: what it is and what told it, where its
// bytes lie, their checksums (as a map gives the same file's), and what is
// particular to its format.
struct FileInfo
{
    QString name;
    QString format;
    QString toldBy;
    qint64 length = 0;    // of the file itself
    qint64 dataBytes = 0; // that it gives the image
    QVector<AddressRange> runs; // each contiguous range, ascending
    bool hasStartAddress = false;
    quint32 startAddress = 0;
    MergeDigest data;     // of its data bytes in address order
    AddressRange flat;    // from its lowest address to the end of its highest byte
    MergeDigest flatDigest; // of that range, holes filled
    QVariantMap details;
};

// Reads the file alone (see LoneFile) and tells what it holds; false when it
// cannot be read, the reason logged in one line.
bool describeFile(const QString &name, const LoneFileOptions &options, FileInfo &info, const Messages::Log &log);

#endif // FILEINFO_H
