#pragma once

#include "memorytransport.h"

#include <cstddef>
#include <cstdint>
#include <string>

// The shared input layout of the client fuzz targets: data[0] holds the options (bits 0-1
// the security choice, bit 2 a known identifier, bits 3-7 the transport's chunk size, whose
// bit 3 also says the server's capabilities are remembered and bit 4 that no rule deletes), the
// rest is the server's bytes, with 0xFF separating its segments (what arrives before and
// after a TLS upgrade). Call only with size > 0.
inline void LoadServerSegments(MemoryTransport& transport, const uint8_t* data, size_t size)
{
    transport.SetChunk(data[0] >> 3);
    std::string segment;
    for (size_t i = 1; i < size; ++i) {
        if (data[i] == 0xff) {
            transport.Add(std::move(segment));
            segment.clear();
        } else {
            segment += static_cast<char>(data[i]);
        }
    }
    transport.Add(std::move(segment));
}

// The account's "Security=" text chosen by the options' bits 0-1.
inline const char* SecurityOption(uint8_t options)
{
    static const char* const kSecurity[] = {"", "None", "STARTTLS", "TLS"};
    return kSecurity[options & 3];
}

// Bit 3: the client starts from remembered capabilities (the burst paths).
inline bool RememberedOption(uint8_t options)
{
    return (options & 8) != 0;
}

// Bit 4: the filter promises never to delete (QUIT / LOGOUT with the last fetch).
inline bool NeverDeletesOption(uint8_t options)
{
    return (options & 16) != 0;
}
