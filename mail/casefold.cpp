#include "casefold.h"

#include "casefold_p.h"

#include <algorithm>
#include <functional>

namespace
{

// Decodes one UTF-8 character at `i`; an invalid or cut byte yields 0x110000 + byte, length 1.
uint32_t NextCodePoint(std::string_view s, size_t& i)
{
    const auto b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    int need = 0;
    uint32_t cp = 0;
    uint32_t min = 0;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        need = 1;
        cp = b0 & 0x1F;
        min = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        need = 2;
        cp = b0 & 0x0F;
        min = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        need = 3;
        cp = b0 & 0x07;
        min = 0x10000;
    }
    bool ok = need > 0;
    for (int k = 1; ok && k <= need; ++k) {
        if (i + k >= s.size()) {
            ok = false;
            break;
        }
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80)
            ok = false;
        else
            cp = (cp << 6) | (b & 0x3F);
    }
    if (!ok || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++i;
        return 0x110000 + b0;
    }
    i += need + 1;
    return cp;
}

} // namespace

std::vector<uint32_t> CaseFold::Fold(std::string_view text)
{
    std::vector<uint32_t> out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const uint32_t cp = NextCodePoint(text, i);
        if (cp < 0x80) {
            out.push_back(cp >= 'A' && cp <= 'Z' ? cp + 32 : cp);
            continue;
        }
        const CaseFoldEntry* end = kCaseFoldTable + kCaseFoldTableSize;
        const CaseFoldEntry* row =
            std::lower_bound(kCaseFoldTable, end, cp, [](const CaseFoldEntry& e, uint32_t value) {
                return e.codePoint < value;
            });
        if (row == end || row->codePoint != cp) {
            out.push_back(cp);
            continue;
        }
        for (uint32_t f : row->folded)
            if (f != 0)
                out.push_back(f);
    }
    return out;
}

bool CaseFold::Equal(std::string_view a, std::string_view b)
{
    return Fold(a) == Fold(b);
}

bool CaseFold::Contains(std::string_view haystack, std::string_view needle)
{
    if (needle.empty())
        return true;
    const std::vector<uint32_t> h = Fold(haystack);
    const std::vector<uint32_t> n = Fold(needle);
    if (n.size() > h.size())
        return false;
    return std::search(h.begin(), h.end(),
                       std::boyer_moore_horspool_searcher(n.begin(), n.end())) != h.end();
}
