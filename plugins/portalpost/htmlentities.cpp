#include "htmlentities.h"

#include <array>
#include <cstdint>

namespace
{

// The longest name we know is 6 letters; anything longer before the ";" is not ours, so a
// reference is looked for over a bounded stretch and decoding stays linear.
constexpr size_t kLongestReference = 12;

// ISO 8859-1's upper half as HTML 4 names it: entry i is U+00A0 + i.
constexpr std::array<const char*, 96> kLatin1Names = {
    "nbsp",   "iexcl",  "cent",   "pound",  "curren", "yen",    "brvbar", "sect",   "uml",
    "copy",   "ordf",   "laquo",  "not",    "shy",    "reg",    "macr",   "deg",    "plusmn",
    "sup2",   "sup3",   "acute",  "micro",  "para",   "middot", "cedil",  "sup1",   "ordm",
    "raquo",  "frac14", "frac12", "frac34", "iquest", "Agrave", "Aacute", "Acirc",  "Atilde",
    "Auml",   "Aring",  "AElig",  "Ccedil", "Egrave", "Eacute", "Ecirc",  "Euml",   "Igrave",
    "Iacute", "Icirc",  "Iuml",   "ETH",    "Ntilde", "Ograve", "Oacute", "Ocirc",  "Otilde",
    "Ouml",   "times",  "Oslash", "Ugrave", "Uacute", "Ucirc",  "Uuml",   "Yacute", "THORN",
    "szlig",  "agrave", "aacute", "acirc",  "atilde", "auml",   "aring",  "aelig",  "ccedil",
    "egrave", "eacute", "ecirc",  "euml",   "igrave", "iacute", "icirc",  "iuml",   "eth",
    "ntilde", "ograve", "oacute", "ocirc",  "otilde", "ouml",   "divide", "oslash", "ugrave",
    "uacute", "ucirc",  "uuml",   "yacute", "thorn",  "yuml"};

struct Named {
    const char* name;
    char32_t code;
};

// The other names mail pages use: markup characters, typographic punctuation, currency.
constexpr Named kOtherNames[] = {
    {"quot", 0x22},     {"amp", 0x26},      {"apos", 0x27},    {"lt", 0x3C},
    {"gt", 0x3E},       {"OElig", 0x152},   {"oelig", 0x153},  {"Scaron", 0x160},
    {"scaron", 0x161},  {"Yuml", 0x178},    {"fnof", 0x192},   {"circ", 0x2C6},
    {"tilde", 0x2DC},   {"ensp", 0x2002},   {"emsp", 0x2003},  {"thinsp", 0x2009},
    {"zwnj", 0x200C},   {"zwj", 0x200D},    {"lrm", 0x200E},   {"rlm", 0x200F},
    {"ndash", 0x2013},  {"mdash", 0x2014},  {"lsquo", 0x2018}, {"rsquo", 0x2019},
    {"sbquo", 0x201A},  {"ldquo", 0x201C},  {"rdquo", 0x201D}, {"bdquo", 0x201E},
    {"dagger", 0x2020}, {"Dagger", 0x2021}, {"bull", 0x2022},  {"hellip", 0x2026},
    {"permil", 0x2030}, {"prime", 0x2032},  {"Prime", 0x2033}, {"lsaquo", 0x2039},
    {"rsaquo", 0x203A}, {"oline", 0x203E},  {"frasl", 0x2044}, {"euro", 0x20AC},
    {"trade", 0x2122},  {"larr", 0x2190},   {"uarr", 0x2191},  {"rarr", 0x2192},
    {"darr", 0x2193},   {"harr", 0x2194}};

// 0 when the name is not one we know (names are case-sensitive: "&Auml;" is not "&auml;").
char32_t LookUpName(std::string_view name)
{
    for (size_t i = 0; i < kLatin1Names.size(); ++i)
        if (name == kLatin1Names[i])
            return static_cast<char32_t>(0xA0 + i);
    for (const Named& n : kOtherNames)
        if (name == n.name)
            return n.code;
    return 0;
}

int DigitValue(char c, bool hex)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (hex && c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (hex && c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// "#39" or "#x2019" (without "&" and ";"). 0 for anything else, and for U+0000, which would
// cut the text short wherever it is handed on as a C string.
char32_t LookUpNumber(std::string_view body)
{
    const bool hex = body.size() > 1 && (body[1] == 'x' || body[1] == 'X');
    const std::string_view digits = body.substr(hex ? 2 : 1);
    if (digits.empty())
        return 0;
    uint32_t value = 0;
    for (char c : digits) {
        const int d = DigitValue(c, hex);
        if (d < 0)
            return 0;
        value = value * (hex ? 16 : 10) + static_cast<uint32_t>(d);
        if (value > 0x10FFFF)
            return 0; // also keeps the sum from wrapping
    }
    if (value >= 0xD800 && value <= 0xDFFF)
        return 0; // surrogates are no scalar values
    return value;
}

void AppendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

} // namespace

std::string DecodeHtmlEntities(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const size_t amp = text.find('&', i);
        if (amp == std::string_view::npos) {
            out.append(text.substr(i));
            break;
        }
        out.append(text.substr(i, amp - i));
        const std::string_view window = text.substr(amp + 1, kLongestReference);
        const size_t semi = window.find(';');
        char32_t code = 0;
        if (semi != std::string_view::npos && semi > 0) {
            const std::string_view body = window.substr(0, semi);
            code = body[0] == '#' ? LookUpNumber(body) : LookUpName(body);
        }
        if (code == 0) {
            // Not a reference we decode: the "&" stays, and the scan goes on right after it
            // (the text behind it may hold a reference of its own, as in "&&amp;").
            out += '&';
            i = amp + 1;
            continue;
        }
        AppendUtf8(out, code);
        i = amp + 1 + semi + 1; // past the ";": what the reference produced is never rescanned
    }
    return out;
}
