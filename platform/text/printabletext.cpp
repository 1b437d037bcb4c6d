#include "printabletext.h"

#include <algorithm>

namespace
{

constexpr char kReplacement[] = "\xEF\xBF\xBD";

bool IsContinuation(unsigned char c)
{
    return (c & 0xC0) == 0x80;
}

bool IsControl(char32_t c)
{
    return (c < 0x20 && c != '\t') || (c >= 0x7F && c <= 0x9F);
}

// The length of the well-formed sequence that starts at `at`, or 0; `ill` gets how many
// bytes the ill-formed part covers then (at least 1). The bounds of the second byte keep
// out overlong forms, surrogates and values beyond U+10FFFF (Unicode, table 3-7).
size_t SequenceLength(std::string_view s, size_t at, char32_t& code, size_t& ill)
{
    const unsigned char lead = static_cast<unsigned char>(s[at]);
    size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead < 0x80) {
        code = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0F;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        ill = 1;
        return 0;
    }
    size_t i = 1;
    for (; i < length && at + i < s.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(s[at + i]);
        const bool fits = i == 1 ? (c >= low && c <= high) : IsContinuation(c);
        if (!fits)
            break;
        code = (code << 6) | (c & 0x3F);
    }
    if (i == length)
        return length;
    ill = i;
    return 0;
}

} // namespace

std::string PrintableText(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    size_t at = 0;
    while (at < text.size()) {
        char32_t code = 0;
        size_t ill = 0;
        const size_t length = SequenceLength(text, at, code, ill);
        if (length == 0) {
            out += kReplacement;
            at += ill;
            continue;
        }
        if (IsControl(code))
            out += kReplacement;
        else
            out.append(text.substr(at, length));
        at += length;
    }
    return out;
}

std::string BoundedPrintableText(std::string_view text, size_t maxBytes)
{
    // No input byte yields less than one output byte, so a byte beyond the bound is enough to
    // know the text must be cut, however long it is.
    std::string out = PrintableText(text.substr(0, std::min(text.size(), maxBytes + 1)));
    if (out.size() <= maxBytes)
        return out;
    constexpr std::string_view kCut = "...";
    if (maxBytes < kCut.size())
        return std::string();
    size_t end = std::min(out.size(), maxBytes - kCut.size());
    while (end > 0 && IsContinuation(static_cast<unsigned char>(out[end])))
        --end;
    out.resize(end);
    out += kCut;
    return out;
}
