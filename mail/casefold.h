#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

// Caseless comparison of UTF-8 text by full Unicode case folding (Unicode section 3.13,
// CaseFolding.txt status C and F), so "STRASSE" equals "straße" and "ÉTÉ" contains "été".
// Bytes that are not valid UTF-8 compare exactly, as themselves. Pure functions.
class CaseFold
{
public:
    // The folded code points of `text`; an invalid byte b becomes 0x110000 + b.
    static std::vector<uint32_t> Fold(std::string_view text);
    static bool Equal(std::string_view a, std::string_view b);
    // True when `needle` occurs in `haystack`; an empty needle occurs everywhere.
    static bool Contains(std::string_view haystack, std::string_view needle);
};
