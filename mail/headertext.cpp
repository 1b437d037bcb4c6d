#include "headertext.h"

#include "charsetconverter.h"
#include "mimedecoding.h"

#include <vector>

namespace
{

constexpr std::string_view kCrLf = "\r\n";
constexpr std::string_view kBlankLine = "\r\n\r\n";

char Upper(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool EqualsNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Upper(a[i]) != Upper(b[i]))
            return false;
    return true;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string_view TrimLeft(std::string_view s)
{
    size_t i = 0;
    while (i < s.size() && s[i] == ' ')
        ++i;
    return s.substr(i);
}

// The value after `marker` up to the next CR LF (or the end); npos when `marker` is absent.
std::optional<std::string_view> LineAfter(std::string_view text, std::string_view marker)
{
    const size_t at = text.find(marker);
    if (at == std::string_view::npos)
        return std::nullopt;
    const std::string_view rest = text.substr(at + marker.size());
    return rest.substr(0, rest.find(kCrLf));
}

// Takes the next blank-separated word off `rest`; a word with no blank after it is empty
// unless `toEnd` allows it to run to the end.
std::string_view NextWord(std::string_view& rest, bool toEnd)
{
    rest = TrimLeft(rest);
    const size_t blank = rest.find(' ');
    if (blank == std::string_view::npos) {
        const std::string_view word = toEnd ? rest : std::string_view();
        rest = {};
        return word;
    }
    const std::string_view word = rest.substr(0, blank);
    rest = rest.substr(blank + 1);
    return word;
}

bool AllDigits(std::string_view s, size_t minLen, size_t maxLen)
{
    if (s.size() < minLen || s.size() > maxLen)
        return false;
    for (char c : s)
        if (c < '0' || c > '9')
            return false;
    return true;
}

std::string_view MonthDigits(std::string_view word)
{
    struct Month {
        std::string_view english, gbk, utf8, digits;
    };
    // The Chinese names as a Chinese mailer writes them: in GBK (code page 936) or in UTF-8.
    static constexpr Month kMonths[] = {
        {"Jan", "\xD2\xBB\xD4\xC2", "\xE4\xB8\x80\xE6\x9C\x88", "01"},
        {"Feb", "\xB6\xFE\xD4\xC2", "\xE4\xBA\x8C\xE6\x9C\x88", "02"},
        {"Mar", "\xC8\xFD\xD4\xC2", "\xE4\xB8\x89\xE6\x9C\x88", "03"},
        {"Apr", "\xCB\xC4\xD4\xC2", "\xE5\x9B\x9B\xE6\x9C\x88", "04"},
        {"May", "\xCE\xE5\xD4\xC2", "\xE4\xBA\x94\xE6\x9C\x88", "05"},
        {"Jun", "\xC1\xF9\xD4\xC2", "\xE5\x85\xAD\xE6\x9C\x88", "06"},
        {"Jul", "\xC6\xDF\xD4\xC2", "\xE4\xB8\x83\xE6\x9C\x88", "07"},
        {"Aug", "\xB0\xCB\xD4\xC2", "\xE5\x85\xAB\xE6\x9C\x88", "08"},
        {"Sep", "\xBE\xC5\xD4\xC2", "\xE4\xB9\x9D\xE6\x9C\x88", "09"},
        {"Oct", "\xCA\xAE\xD4\xC2", "\xE5\x8D\x81\xE6\x9C\x88", "10"},
        {"Nov", "\xCA\xAE\xD2\xBB\xD4\xC2", "\xE5\x8D\x81\xE4\xB8\x80\xE6\x9C\x88", "11"},
        {"Dec", "\xCA\xAE\xB6\xFE\xD4\xC2", "\xE5\x8D\x81\xE4\xBA\x8C\xE6\x9C\x88", "12"},
    };
    for (const auto& m : kMonths)
        if (word == m.english || word == m.gbk || word == m.utf8)
            return m.digits;
    return word;
}

} // namespace

namespace
{

// A server that stores a message with CR LF line ends and adds its own CR on the way out
// sends CR CR LF. Read as sent, the blank line that ends the header is not found and every
// value keeps a CR at its end, which shows as a trailing blank in the lists.
std::string WithoutStrayCrs(std::string text)
{
    size_t at = text.find("\r\r\n");
    if (at == std::string::npos)
        return text;
    size_t out = at;
    for (size_t i = at; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 2 < text.size() && text[i + 1] == '\r' && text[i + 2] == '\n')
            continue;
        text[out++] = text[i];
    }
    text.resize(out);
    return text;
}

bool IsTrailingJunk(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

void TrimEnd(std::string& value)
{
    size_t end = value.size();
    while (end > 0 && IsTrailingJunk(value[end - 1]))
        --end;
    value.erase(end);
}

} // namespace

HeaderText::HeaderText(std::string text)
    : text_(WithoutStrayCrs(std::move(text))), headerEnd_(text_.find(kBlankLine))
{
}

std::string_view HeaderText::HeaderPart() const
{
    return std::string_view(text_).substr(0, headerEnd_);
}

std::string_view HeaderText::BodyPart() const
{
    if (headerEnd_ == std::string::npos)
        return {};
    return std::string_view(text_).substr(headerEnd_ + kBlankLine.size());
}

namespace
{

// The unfolded value that starts at `valueStart`: it runs to the first line end that is not
// followed by a blank or a tab (RFC 5322 section 2.2.3).
std::string UnfoldedValue(std::string_view header, size_t valueStart)
{
    size_t end = valueStart;
    for (;;) {
        end = header.find(kCrLf, end);
        if (end == std::string_view::npos) {
            end = header.size();
            break;
        }
        if (end + 2 >= header.size() || !IsBlank(header[end + 2]))
            break;
        end += 2;
    }
    std::string value;
    value.reserve(end - valueStart);
    for (size_t i = valueStart; i < end; ++i) {
        if (header[i] == '\r' && i + 1 < end && header[i + 1] == '\n') {
            ++i;
            continue;
        }
        // A CR without its LF is no text of the value (RFC 5322 section 2.2 allows neither
        // alone); a stray one at a line end would show as a trailing blank.
        if (header[i] == '\r')
            continue;
        value += header[i] == '\t' ? ' ' : header[i];
    }
    const size_t first = value.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    value.erase(value.find_last_not_of(' ') + 1);
    value.erase(0, first);
    return value;
}

bool NameAt(std::string_view line, std::string_view name)
{
    return line.size() > name.size() && line[name.size()] == ':' &&
           EqualsNoCase(line.substr(0, name.size()), name);
}

// Calls `visit(lineStart)` for every line start of `header`, the first line too (as if a CR LF
// stood before it), until it returns true.
template <typename Visit> void ForEachLine(std::string_view header, Visit visit)
{
    size_t lineStart = 0;
    for (;;) {
        if (visit(lineStart))
            return;
        const size_t next = header.find(kCrLf, lineStart);
        if (next == std::string_view::npos)
            return;
        lineStart = next + kCrLf.size();
    }
}

} // namespace

std::string HeaderText::FieldOf(std::string_view header, std::string_view name, int occurrence)
{
    if (name.empty() || occurrence < 0)
        return {};
    size_t valueStart = std::string_view::npos;
    ForEachLine(header, [&](size_t lineStart) {
        if (NameAt(header.substr(lineStart), name) && occurrence-- == 0) {
            valueStart = lineStart + name.size() + 1;
            return true;
        }
        return false;
    });
    return valueStart == std::string_view::npos ? std::string() : UnfoldedValue(header, valueStart);
}

void HeaderText::FieldsOf(std::string_view header, const std::string_view* names, size_t count,
                          std::string* values)
{
    size_t missing = 0;
    for (size_t k = 0; k < count; ++k) {
        values[k].clear();
        missing += names[k].empty() ? 0 : 1;
    }
    std::vector<bool> found(count, false);
    ForEachLine(header, [&](size_t lineStart) {
        const std::string_view line = header.substr(lineStart);
        for (size_t k = 0; k < count; ++k) {
            if (found[k] || names[k].empty() || !NameAt(line, names[k]))
                continue;
            found[k] = true;
            values[k] = UnfoldedValue(header, lineStart + names[k].size() + 1);
            --missing;
            break;
        }
        return missing == 0;
    });
}

std::string HeaderText::Parameter(std::string_view value, std::string_view name)
{
    // Walk the ";" that stand outside quoted strings; each may start the parameter wanted.
    bool quoted = false;
    for (size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (quoted) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                quoted = false;
            continue;
        }
        if (c == '"') {
            quoted = true;
            continue;
        }
        if (c != ';')
            continue;
        std::string_view rest = TrimLeft(value.substr(i + 1));
        if (!StartsWithNoCase(rest, name))
            continue;
        rest = TrimLeft(rest.substr(name.size()));
        if (rest.empty() || rest[0] != '=')
            continue;
        rest = TrimLeft(rest.substr(1));
        std::string result;
        if (!rest.empty() && rest[0] == '"') {
            for (size_t k = 1; k < rest.size() && rest[k] != '"'; ++k) {
                if (rest[k] == '\\' && k + 1 < rest.size())
                    ++k;
                result += rest[k];
            }
        } else {
            const size_t stop = rest.find_first_of("; \t");
            result = std::string(rest.substr(0, stop));
        }
        return result;
    }
    return {};
}

std::string HeaderText::GetField(std::string_view name, int occurrence) const
{
    return FieldOf(HeaderPart(), name, occurrence);
}

std::string HeaderText::Sender() const
{
    return GetField("From");
}

std::string HeaderText::Subject() const
{
    return GetField("Subject");
}

std::string HeaderText::FormatDate(std::string_view value)
{
    if (value.empty())
        return {};
    const size_t comma = value.find(',');
    std::string_view rest = comma == std::string_view::npos ? value : value.substr(comma + 1);
    const std::string_view day = NextWord(rest, false);
    const std::string_view month = NextWord(rest, false);
    const std::string_view year = NextWord(rest, false);
    // A date without a zone still shows its time (RFC 5322 section 4.3 obsolete forms).
    const std::string_view time = NextWord(rest, true);
    // A day or year that is not a number of sensible length is no date at all.
    if (!AllDigits(day, 1, 2) || !AllDigits(year, 1, 4))
        return {};
    std::string result;
    result.reserve(32);
    result.append(year);
    result += '-';
    result.append(MonthDigits(month));
    result += '-';
    if (day.size() == 1)
        result += '0';
    result.append(day);
    result += ' ';
    result.append(time);
    if (!CharsetConverter::IsAscii(result))
        return CharsetConverter::Undeclared(result);
    return result;
}

std::string HeaderText::DateText() const
{
    return FormatDate(GetField("Date"));
}

std::string HeaderText::SizeText(uint64_t octets)
{
    std::string digits = std::to_string(octets);
    std::string number;
    if (digits.size() == 1)
        number = "0.00" + digits;
    else if (digits.size() == 2)
        number = "0.0" + digits;
    else if (digits.size() == 3)
        number = "0." + digits;
    else
        number = digits.substr(0, digits.size() - 3) + "." + digits.substr(digits.size() - 3);
    number.erase(number.find('.') + 3); // two decimals, truncated
    return number + " K";
}

std::string HeaderText::Preview() const
{
    if (headerEnd_ == std::string::npos ||
        HeaderPart().find("Content-Disposition: ") != std::string_view::npos)
        return {};
    return std::string(BodyPart());
}

std::string HeaderText::AttachmentFlag() const
{
    const auto value = LineAfter(text_, "Content-Disposition: ");
    if (value && (StartsWithNoCase(*value, "attachment") || StartsWithNoCase(*value, "inline")))
        return "Yes";
    return "No";
}

std::string HeaderText::TransferEncoding() const
{
    // The header's own field first, in any spelling; else the first such line anywhere, which
    // is the first body part's when the header has none.
    std::string value = GetField("Content-Transfer-Encoding");
    if (!value.empty())
        return value;
    const auto line = LineAfter(text_, "Content-Transfer-Encoding: ");
    return line ? std::string(*line) : std::string();
}

std::string HeaderText::ContentType() const
{
    const std::string value = GetField("Content-Type");
    const size_t semicolon = value.find(';');
    if (semicolon == std::string::npos)
        return {};
    return value.substr(0, semicolon);
}

std::string HeaderText::Boundary() const
{
    return Parameter(GetField("Content-Type"), "boundary");
}

std::string HeaderText::Charset() const
{
    return Parameter(GetField("Content-Type"), "charset");
}

void HeaderText::Fill(MessageRecord& record, std::optional<uint64_t> pop3Size) const
{
    // One pass over the header finds every field the record needs.
    static constexpr std::string_view kNames[] = {"From", "Subject", "Date", "Content-Type",
                                                  "Content-Transfer-Encoding"};
    std::string fields[5];
    FieldsOf(HeaderPart(), kNames, 5, fields);
    record.sender = std::move(fields[0]);
    record.subject = std::move(fields[1]);
    record.date = FormatDate(fields[2]);
    if (pop3Size)
        record.size = SizeText(*pop3Size);
    record.preview = Preview();
    record.attachment = AttachmentFlag();
    std::string encoding = std::move(fields[4]);
    if (encoding.empty())
        encoding = TransferEncoding();
    const std::string& type = fields[3];
    const std::string boundary = Parameter(type, "boundary");
    const size_t semicolon = type.find(';');
    const std::string_view bareType = semicolon == std::string::npos
                                          ? std::string_view()
                                          : std::string_view(type).substr(0, semicolon);
    DecodeRecord(record, encoding, bareType, boundary, Parameter(type, "charset"));
    // An encoded word may end in a blank or an encoded CR; the lists would show it as a
    // trailing blank.
    TrimEnd(record.sender);
    TrimEnd(record.subject);
}
