#ifndef PIECES_H
#define PIECES_H

// Layouts made up for a test: where each file lies and how long it is; its
// bytes follow from its index, so a test can make them again to compare.

#include "Files.h"

#include <QByteArray>
#include <QStringList>
#include <QMap>
#include <QMetaType>
#include <QVector>

struct Piece
{
    qint64 address;
    int size;
};
using Pieces = QVector<Piece>;
Q_DECLARE_METATYPE(Pieces)

inline QByteArray pieceContent(int index, int size)
{
    QByteArray content(size, Qt::Uninitialized);
    quint32 x = 2654435761u * quint32(index + 1);
    for (int i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        content[i] = char(x >> 24);
    }
    return content;
}

// The flat image built the plain way, all in memory, filled with 0xFF up to
// padTo bytes.
inline QByteArray referenceImage(const Pieces &pieces, qint64 padTo = 0)
{
    QMap<qint64, QByteArray> byAddress;
    for (int i = 0; i < pieces.size(); ++i)
        byAddress.insert(pieces[i].address, pieceContent(i, pieces[i].size));
    QByteArray image("");
    for (auto it = byAddress.cbegin(); it != byAddress.cend(); ++it) {
        image += QByteArray(int(it.key() - 0x1000 - image.size()), char(0xFF));
        image += it.value();
    }
    return image + QByteArray(int(qMax<qint64>(0, padTo - image.size())), char(0xFF));
}

// Writes piece k as "k.bin" in the current folder and gives the ADDR FILE
// pairs that place them.
inline QStringList writePieces(const Pieces &pieces)
{
    QStringList pairs;
    for (int k = 0; k < pieces.size(); ++k) {
        const QString name = QStringLiteral("%1.bin").arg(k);
        writeFile(name, pieceContent(k, pieces[k].size));
        pairs << QString::number(pieces[k].address, 16) << name;
    }
    return pairs;
}

#endif // PIECES_H
