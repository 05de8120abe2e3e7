#ifndef MAPFILE_H
#define MAPFILE_H

#include "MergeLayout.h"

#include <QByteArray>
#include <QString>
#include <QVector>

// A map that a merge wrote (--map), read back: what a merge's output must
// hold, for `verify` to check and `compare` to name.
struct MapFile
{
    struct File
    {
        int row = 0;
        QString name;
        QString format;
        qint64 shift = 0;
        qint64 origin = -1; // a raw file's first byte; -1: not given
        QVector<AddressRange> segments; // ascending
        QByteArray crc32;
        QByteArray sha256;
    };
    struct Field
    {
        QString text; // as given
        QString kind;
        qint64 address = 0;
        int size = 0;
        qint64 from = 0;
        qint64 to = 0;
        bool bigEndian = false;
        QByteArray bytes; // hexadecimal
    };

    QString path;   // of the map itself
    QString format; // of the output
    qint64 imageStart = 0;
    qint64 imageLength = 0;
    char fill = imageFillByte;
    QByteArray imageCrc32;
    QByteArray imageSha256;
    bool hasOutput = false; // a dry run's map has none
    QString outputName;
    qint64 outputLength = 0;
    QByteArray outputSha256;
    QVector<File> files;
    QVector<Field> fields;

    // Reads it; false with what is wrong.
    bool read(const QString &path, QString *problem);
    // A name the map gives (the output's, a file's) as a file here: as it
    // is where it is absolute or found, else beside the map.
    QString locate(const QString &name) const;
};

// What a byte of a merged image is, by its map: a file's (its index in
// files), a field's, or fill.
struct MapOwner
{
    enum Kind { Fill, File, Field };
    Kind kind = Fill;
    int index = -1;
};

// The owners of the image's addresses, looked up in address order.
class MapOwners
{
public:
    explicit MapOwners(const MapFile &map);
    // Splits from..to at the boundaries of what owns it; calls part(start,
    // end, owner) for each part, in order.
    template <typename Part>
    void split(qint64 from, qint64 to, Part part) const
    {
        while (from < to) {
            const Span *span = find(from);
            if (span && span->start <= from) {
                const qint64 end = qMin(to, span->end);
                part(from, end, span->owner);
                from = end;
            } else {
                const qint64 end = span ? qMin(to, span->start) : to;
                part(from, end, MapOwner());
                from = end;
            }
        }
    }

private:
    struct Span
    {
        qint64 start;
        qint64 end;
        MapOwner owner;
    };
    // The first span that ends after address; null for none.
    const Span *find(qint64 address) const;
    QVector<Span> spans; // ascending
};

#endif // MAPFILE_H
