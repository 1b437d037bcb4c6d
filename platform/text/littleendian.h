#pragma once

#include <cstdint>

// The 4-byte little-endian integers of the stored files (Account.cfg, Message.box), read and
// written byte by byte so that neither the host's byte order nor alignment matters.
inline uint32_t LoadLe32(const char* p)
{
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    return uint32_t(u[0]) | uint32_t(u[1]) << 8 | uint32_t(u[2]) << 16 | uint32_t(u[3]) << 24;
}

inline void StoreLe32(char* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<char>(v >> (8 * i));
}
