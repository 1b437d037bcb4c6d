#include "charsetconverter.h"

#include <array>
#include <cerrno>
#include <iconv.h>
#include <memory>
#include <vector>

namespace
{

constexpr std::string_view kReplacement = "\xEF\xBF\xBD"; // U+FFFD

// Result of looking at one UTF-8 sequence: its length, 0 when invalid, or -1 when the input
// ends inside a sequence that was valid so far.
int Utf8Sequence(std::string_view s, size_t i)
{
    const auto b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80)
        return 1;
    int need;
    unsigned char lo = 0x80, hi = 0xBF; // allowed range of the second byte (RFC 3629 section 4)
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        need = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        need = 3;
        if (b0 == 0xE0)
            lo = 0xA0; // no overlong forms
        else if (b0 == 0xED)
            hi = 0x9F; // no surrogates
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        need = 4;
        if (b0 == 0xF0)
            lo = 0x90;
        else if (b0 == 0xF4)
            hi = 0x8F; // nothing above U+10FFFF
    } else {
        return 0;
    }
    for (int k = 1; k < need; ++k) {
        if (i + k >= s.size())
            return -1;
        const auto b = static_cast<unsigned char>(s[i + k]);
        if (k == 1 ? (b < lo || b > hi) : (b < 0x80 || b > 0xBF))
            return 0;
    }
    return need;
}

void AppendCodePoint(std::string& out, uint32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// windows-1252 as the WHATWG Encoding Standard defines it (undefined bytes map to C1 controls).
constexpr std::array<uint16_t, 32> kWindows1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void Windows1252ToUtf8(std::string_view bytes, std::string& out)
{
    out.clear();
    out.reserve(bytes.size() + bytes.size() / 2);
    for (char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        if (b < 0x80)
            out += ch;
        else if (b < 0xA0)
            AppendCodePoint(out, kWindows1252High[b - 0x80]);
        else
            AppendCodePoint(out, b);
    }
}

void SanitizeUtf8(std::string_view bytes, std::string& out, CharsetConverter::Tail tail)
{
    out.clear();
    out.reserve(bytes.size());
    size_t i = 0;
    while (i < bytes.size()) {
        const int n = Utf8Sequence(bytes, i);
        if (n > 0) {
            out.append(bytes.substr(i, n));
            i += n;
        } else if (n < 0) {
            if (tail == CharsetConverter::Tail::Replace)
                out += kReplacement;
            break;
        } else {
            out += kReplacement;
            ++i;
        }
    }
}

char Lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// The iconv name for a MIME label, or empty when the label cannot be a character set name
// (RFC 2978 section 2.3 allows only these characters; a name of hundreds of bytes is junk).
std::string Canonical(std::string_view label)
{
    if (label.empty() || label.size() > 40)
        return {};
    std::string name;
    name.reserve(label.size());
    for (char c : label) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.' || c == ':' ||
                        c == '+' || c == '(' || c == ')';
        if (!ok)
            return {};
        name += Lower(c);
    }
    struct Alias {
        std::string_view label, name;
    };
    static constexpr Alias kAliases[] = {
        {"utf-8", "UTF-8"},
        {"utf8", "UTF-8"},
        {"gb2312", "GB18030"},
        {"gbk", "GB18030"},
        {"x-gbk", "GB18030"},
        {"cp936", "GB18030"},
        {"euc-cn", "GB18030"},
        {"cn-gb", "GB18030"},
        {"csgb2312", "GB18030"},
        {"gb_2312-80", "GB18030"},
        {"iso-8859-1", "WINDOWS-1252"},
        {"iso8859-1", "WINDOWS-1252"},
        {"iso_8859-1", "WINDOWS-1252"},
        {"latin1", "WINDOWS-1252"},
        {"us-ascii", "WINDOWS-1252"},
        {"ascii", "WINDOWS-1252"},
        {"646", "WINDOWS-1252"},
        {"iso646-us", "WINDOWS-1252"},
        {"windows-1252", "WINDOWS-1252"},
        {"cp1252", "WINDOWS-1252"},
        {"shift_jis", "CP932"},
        {"shift-jis", "CP932"},
        {"sjis", "CP932"},
        {"x-sjis", "CP932"},
        {"windows-31j", "CP932"},
        {"ks_c_5601-1987", "CP949"},
        {"euc-kr", "CP949"},
        {"csiso2022jp", "ISO-2022-JP"},
        {"hz-gb-2312", "HZ"},
        {"hz", "HZ"},
    };
    for (const auto& a : kAliases)
        if (a.label == name)
            return std::string(a.name);
    for (auto& c : name)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return name;
}

bool AsciiCompatible(std::string_view name)
{
    static constexpr std::string_view kPrefixes[] = {"UTF-8",       "GB18030",  "CP9",     "BIG5",
                                                     "EUC-",        "ISO-8859", "ISO8859", "KOI8",
                                                     "WINDOWS-125", "CP125"};
    for (auto p : kPrefixes)
        if (name.substr(0, p.size()) == p)
            return true;
    return false;
}

// A few open iconv descriptors per thread: opening one costs far more than a short conversion.
class DescriptorCache
{
public:
    ~DescriptorCache()
    {
        for (auto& e : entries_)
            if (e.cd != Invalid())
                iconv_close(e.cd);
    }
    static iconv_t Invalid() { return reinterpret_cast<iconv_t>(-1); }

    iconv_t Get(const std::string& name)
    {
        for (auto& e : entries_)
            if (e.name == name) {
                if (e.cd != Invalid())
                    iconv(e.cd, nullptr, nullptr, nullptr, nullptr); // back to the initial state
                return e.cd;
            }
        if (entries_.size() >= kMax) {
            if (entries_.front().cd != Invalid())
                iconv_close(entries_.front().cd);
            entries_.erase(entries_.begin());
        }
        entries_.push_back({name, iconv_open("UTF-8", name.c_str())});
        return entries_.back().cd;
    }

private:
    static constexpr size_t kMax = 12;
    struct Entry {
        std::string name;
        iconv_t cd;
    };
    std::vector<Entry> entries_;
};

DescriptorCache& Cache()
{
    thread_local DescriptorCache cache;
    return cache;
}

void IconvToUtf8(iconv_t cd, std::string_view bytes, std::string& out, CharsetConverter::Tail tail)
{
    out.clear();
    out.reserve(bytes.size() * 2 + 16);
    char buffer[1024];
    char* in = const_cast<char*>(bytes.data());
    size_t inLeft = bytes.size();
    bool flushed = false;
    while (!flushed) {
        char* o = buffer;
        size_t oLeft = sizeof buffer;
        size_t r;
        if (inLeft > 0) {
            r = iconv(cd, &in, &inLeft, &o, &oLeft);
        } else {
            r = iconv(cd, nullptr, nullptr, &o, &oLeft); // stateful sets write their reset
            flushed = true;
        }
        out.append(buffer, o - buffer);
        if (r != static_cast<size_t>(-1))
            continue;
        if (errno == E2BIG) {
            flushed = false;
        } else if (errno == EILSEQ) {
            out += kReplacement;
            ++in;
            --inLeft;
        } else { // EINVAL: the input ends inside a character
            if (tail == CharsetConverter::Tail::Replace)
                out += kReplacement;
            inLeft = 0;
        }
    }
}

// HZ (RFC 1843): "~{" ... "~}" brackets GB 2312 in 7-bit pairs; "~~" is "~"; "~" LF joins lines.
std::string HzToEucCn(std::string_view s)
{
    std::string out;
    out.reserve(s.size());
    bool gb = false;
    for (size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '~' && i + 1 < s.size()) {
            const char n = s[i + 1];
            if (!gb && n == '~') {
                out += '~';
                ++i;
                continue;
            }
            if (!gb && n == '{') {
                gb = true;
                ++i;
                continue;
            }
            if (gb && n == '}') {
                gb = false;
                ++i;
                continue;
            }
            if (!gb && n == '\n') {
                ++i;
                continue;
            }
        }
        const auto b = static_cast<unsigned char>(c);
        if (gb && b >= 0x21 && b <= 0x7E)
            out += static_cast<char>(b | 0x80);
        else
            out += c;
    }
    return out;
}

} // namespace

bool CharsetConverter::IsAscii(std::string_view bytes)
{
    for (char c : bytes)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

size_t CharsetConverter::ValidUtf8Prefix(std::string_view bytes)
{
    size_t i = 0;
    while (i < bytes.size()) {
        const int n = Utf8Sequence(bytes, i);
        if (n <= 0)
            break;
        i += n;
    }
    return i;
}

bool CharsetConverter::IsKnown(std::string_view charset)
{
    const std::string name = Canonical(charset);
    if (name.empty())
        return false;
    if (name == "UTF-8" || name == "WINDOWS-1252" || name == "HZ")
        return true;
    return Cache().Get(name) != DescriptorCache::Invalid();
}

bool CharsetConverter::ToUtf8(std::string_view charset, std::string_view bytes, std::string& out,
                              Tail tail)
{
    const std::string name = Canonical(charset);
    if (name.empty())
        return false;
    if (name == "UTF-8") {
        SanitizeUtf8(bytes, out, tail);
        return true;
    }
    if (name == "WINDOWS-1252") {
        Windows1252ToUtf8(bytes, out);
        return true;
    }
    if (name == "HZ") {
        const std::string gb = HzToEucCn(bytes);
        return ToUtf8("GB18030", gb, out, tail);
    }
    iconv_t cd = Cache().Get(name);
    if (cd == DescriptorCache::Invalid())
        return false;
    if (AsciiCompatible(name) && IsAscii(bytes)) {
        out.assign(bytes);
        return true;
    }
    IconvToUtf8(cd, bytes, out, tail);
    // iconv's own UTF-8 passes code points above U+10FFFF through (a label it reads as UTF-8,
    // such as "utf)8", comes here): what leaves this function is always valid UTF-8.
    if (ValidUtf8Prefix(out) != out.size()) {
        const std::string raw = std::move(out);
        SanitizeUtf8(raw, out, Tail::Replace);
    }
    return true;
}

std::string CharsetConverter::Undeclared(std::string_view bytes, Tail tail)
{
    std::string out;
    const size_t valid = ValidUtf8Prefix(bytes);
    // A character cut at the end counts as UTF-8 only when complete UTF-8 characters come
    // before it; a lone high byte at the end of ASCII text is more likely windows-1252.
    const bool cutUtf8 = Utf8Sequence(bytes, valid) < 0 && !IsAscii(bytes.substr(0, valid));
    if (valid == bytes.size() || cutUtf8)
        SanitizeUtf8(bytes, out, tail);
    else
        Windows1252ToUtf8(bytes, out);
    return out;
}
