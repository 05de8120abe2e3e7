#ifndef VERIFY_H
#define VERIFY_H

#include "MapFile.h"
#include "MergeMessages.h"

#include <QString>
#include <QVector>

// One thing `verify` checks: what, whether it holds, and where it does not.
struct VerifyCheck
{
    QString what;
    bool holds = true;
    QString detail;
};

enum class VerifyOutcome { Holds, Fails, Trouble };

// Checks an image against the map of the merge that made it: the output's
// length and SHA-256; the image read in the map's format, its flat image's
// length, CRC-32 and SHA-256; every file's data at its segments; every
// field's bytes, as the map gives them and worked out again from the image.
// Trouble (an image or format that cannot be read at all) is logged.
VerifyOutcome verifyImage(const MapFile &map, const QString &image, QVector<VerifyCheck> &checks, const Messages::Log &log);

#endif // VERIFY_H
