#ifndef CRCTABLES_H
#define CRCTABLES_H

#include <array>

// The table of a CRC that shifts the most significant bit out first.
template <typename Value>
std::array<Value, 256> msbFirstTable(Value polynomial)
{
    constexpr int width = int(sizeof(Value)) * 8;
    std::array<Value, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        Value c = Value(Value(i) << (width - 8));
        for (int k = 0; k < 8; ++k)
            c = (c >> (width - 1)) & 1 ? Value((c << 1) ^ polynomial) : Value(c << 1);
        table[i] = c;
    }
    return table;
}

#endif // CRCTABLES_H
