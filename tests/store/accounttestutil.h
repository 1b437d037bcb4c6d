#pragma once

#include "passcipher.h"

#include <cstdint>
#include <string>

// Expected bytes built from the documented layouts, independently of the writers.
namespace accounttest
{

inline std::string Protected(const std::string& plain, const char* container, const char* pass)
{
    std::string bytes = plain;
    CPassCipher(container, pass).Protect(bytes.data(), bytes.size());
    return bytes;
}

inline std::string Unprotected(const std::string& stored, const char* container, const char* pass)
{
    std::string bytes = stored;
    CPassCipher(container, pass).Unprotect(bytes.data(), bytes.size());
    return bytes;
}

inline std::string Le32(uint32_t v)
{
    std::string out;
    for (int i = 0; i < 4; ++i)
        out += static_cast<char>((v >> (8 * i)) & 0xff);
    return out;
}

// A 64-byte Account.cfg slot: length, data, zero fill.
inline std::string CfgSlot(const std::string& data)
{
    std::string slot = Le32(static_cast<uint32_t>(data.size())) + data;
    slot.resize(64, '\0');
    return slot;
}

inline std::string CfgRecord(const std::string& name, const std::string& access,
                             const std::string& copy)
{
    return CfgSlot(name) + CfgSlot(Protected(access, kAccountCfgContainer, kAccountCfgPass)) +
           CfgSlot(Protected(copy, kAccountCfgContainer, kAccountCfgPass));
}

inline std::string CfgHeader(uint32_t count)
{
    std::string header = "KORAVELPIGEONPOST";
    header.resize(1024, '\0');
    header += Le32(count);
    header.resize(2048, '\0');
    return header;
}

} // namespace accounttest
