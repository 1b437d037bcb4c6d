#include "iniobjectvalue.h"

#include "asciitext.h"

#include <string>
#include <vector>

namespace
{

int OctDigit(char c)
{
    return c >= '0' && c <= '7' ? c - '0' : -1;
}

// The texts a value stands for, unescaped as QSettings reads an INI value: blanks skipped
// at the start and after each ',', quotes toggling, ',' outside quotes starting the next
// element, backslash escapes ("\x40" and "\100" are '@'; a number escape is 16 bits wide).
// Only ASCII matters for the test, so other bytes are kept as they are.
std::vector<std::u16string> Elements(std::string_view value)
{
    std::vector<std::u16string> out(1);
    bool quoted = false;
    size_t i = 0;
    auto skipBlanks = [&] {
        while (i < value.size() && (value[i] == ' ' || value[i] == '\t'))
            ++i;
    };
    skipBlanks();
    while (i < value.size()) {
        const char c = value[i++];
        if (c == '"') {
            quoted = !quoted;
            if (!quoted)
                skipBlanks();
        } else if (c == ',' && !quoted) {
            out.emplace_back();
            skipBlanks();
        } else if (c != '\\') {
            out.back() += static_cast<char16_t>(static_cast<unsigned char>(c));
        } else if (i < value.size()) {
            const char e = value[i++];
            char16_t code = 0;
            if (e == 'x') {
                // "\x" without a digit stands for nothing.
                if (i < value.size() && HexDigitValue(value[i]) >= 0) {
                    for (; i < value.size() && HexDigitValue(value[i]) >= 0; ++i)
                        code = static_cast<char16_t>((code << 4) + HexDigitValue(value[i]));
                    out.back() += code;
                }
            } else if (OctDigit(e) >= 0) {
                code = static_cast<char16_t>(OctDigit(e));
                for (; i < value.size() && OctDigit(value[i]) >= 0; ++i)
                    code = static_cast<char16_t>((code << 3) + OctDigit(value[i]));
                out.back() += code;
            } else if (std::string_view("abfnrtv\"?'\\").find(e) != std::string_view::npos) {
                out.back() += u' '; // one character, never '@'
            }
            // Any other character after a backslash is dropped, as QSettings drops it.
        }
    }
    return out;
}

bool StartsWith(const std::u16string& text, std::u16string_view prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

// Whether a line of the file, split at its first '=', holds such a value.
bool LinesHoldObjectValue(std::string_view text)
{
    size_t from = 0;
    while (from < text.size()) {
        size_t end = text.find_first_of("\r\n", from);
        if (end == std::string_view::npos)
            end = text.size();
        const std::string_view line = text.substr(from, end - from);
        from = end + 1;
        const size_t eq = line.find('=');
        if (eq == std::string_view::npos)
            continue;
        for (const std::u16string& element : Elements(line.substr(eq + 1)))
            if (StartsWith(element, u"@Variant(") || StartsWith(element, u"@DateTime("))
                return true;
    }
    return false;
}

} // namespace

bool IniHoldsObjectValue(std::string_view bytes)
{
    // A backslash at a line's end joins the next line to the value; the lines are looked
    // at both ways, so a reading that splits them otherwise finds nothing either.
    std::string joined;
    joined.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size(); ++i) {
        const bool escape = bytes[i] == '\\' && i + 1 < bytes.size();
        if (escape && (bytes[i + 1] == '\n' || bytes[i + 1] == '\r')) {
            ++i;
            if (i + 1 < bytes.size() && (bytes[i + 1] == '\n' || bytes[i + 1] == '\r') &&
                bytes[i + 1] != bytes[i])
                ++i;
            continue;
        }
        joined += bytes[i];
        if (escape)
            joined += bytes[++i];
    }
    return LinesHoldObjectValue(bytes) || LinesHoldObjectValue(joined);
}
