#pragma once
// Zip records store their numbers little-endian, whatever the machine.

#include <cstdint>

// The unsigned number in the `bytes` bytes (at most 8) at p.
inline std::uint64_t LittleEndian(const unsigned char* p, int bytes)
{
    std::uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = value << 8 | p[i];
    return value;
}
