#include "modifiedutf7.h"

#include "charsetconverter.h"

#include <cstdint>
#include <optional>

namespace
{

int Base64Value(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == ',')
        return 63;
    return -1;
}

void AppendUtf8(std::string& out, uint32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// The text of one shifted run (between '&' and '-'), or nothing when it is not well formed.
std::optional<std::string> DecodeRun(std::string_view run)
{
    std::string out;
    uint32_t bits = 0;
    int bitCount = 0;
    uint32_t high = 0; // a high surrogate waiting for its low half
    for (char c : run) {
        const int v = Base64Value(c);
        if (v < 0)
            return std::nullopt;
        bits = (bits << 6) | static_cast<uint32_t>(v);
        bitCount += 6;
        if (bitCount < 16)
            continue;
        bitCount -= 16;
        const uint32_t unit = (bits >> bitCount) & 0xFFFF;
        bits &= (1u << bitCount) - 1;
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (high)
                return std::nullopt;
            high = unit;
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
            if (!high)
                return std::nullopt;
            AppendUtf8(out, 0x10000 + ((high - 0xD800) << 10) + (unit - 0xDC00));
            high = 0;
        } else {
            if (high)
                return std::nullopt;
            // RFC 3501: printable ASCII must not be encoded; a name that does so is not in
            // this encoding. Control characters (a NUL, a line break) are no part of a folder
            // name that can be shown.
            if (unit < 0xA0)
                return std::nullopt;
            AppendUtf8(out, unit);
        }
    }
    // What is left must be fewer than 6 zero bits of padding, with no half of a pair open.
    if (high || bitCount >= 6 || (bits & ((1u << bitCount) - 1)) != 0 || out.empty())
        return std::nullopt;
    return out;
}

} // namespace

std::string ModifiedUtf7::Decode(std::string_view name)
{
    std::string out;
    out.reserve(name.size());
    size_t literalFrom = 0; // start of text copied as written
    size_t i = 0;
    auto flushLiteral = [&](size_t to) {
        const std::string_view raw = name.substr(literalFrom, to - literalFrom);
        if (CharsetConverter::IsAscii(raw)) {
            out.append(raw);
        } else {
            // Some tools store names in UTF-8; anything else becomes U+FFFD.
            std::string converted;
            if (!CharsetConverter::ToUtf8("UTF-8", raw, converted))
                converted = CharsetConverter::Undeclared(raw);
            out += converted;
        }
    };
    while (i < name.size()) {
        if (name[i] != '&') {
            ++i;
            continue;
        }
        const size_t end = name.find('-', i + 1);
        if (end == std::string_view::npos)
            break; // no closing '-': the rest stays as written
        if (end == i + 1) {
            flushLiteral(i);
            out += '&';
            i = end + 1;
            literalFrom = i;
            continue;
        }
        if (auto text = DecodeRun(name.substr(i + 1, end - i - 1))) {
            flushLiteral(i);
            out += *text;
            i = end + 1;
            literalFrom = i;
        } else {
            ++i; // kept as written
        }
    }
    flushLiteral(name.size());
    return out;
}
