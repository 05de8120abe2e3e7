#include "Bytes.h"

#include <cstring>

const char *fillBlock(char byte)
{
    // One block per fill byte in use, made when first asked for.
    static std::unique_ptr<char[]> blocks[256];
    std::unique_ptr<char[]> &block = blocks[static_cast<unsigned char>(byte)];
    if (!block) {
        block.reset(new char[size_t(fillBlockSize)]);
        std::memset(block.get(), byte, size_t(fillBlockSize));
    }
    return block.get();
}
