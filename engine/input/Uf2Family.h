#ifndef UF2FAMILY_H
#define UF2FAMILY_H

#include <QtGlobal>

// The UF2 family a merge asks for (--uf2-family): the only family read from
// UF2 inputs, and the one written into every UF2 block. UF2's one setting,
// which its reader and its writer share.
struct Uf2Family
{
    qint64 id = -1; // -1: none asked for
};

#endif // UF2FAMILY_H
