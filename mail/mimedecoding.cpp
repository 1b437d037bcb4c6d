#include "mimedecoding.h"

#include "asciitext.h"
#include "base64decoder.h"
#include "charsetconverter.h"
#include "headertext.h"
#include "quotedprintabledecoder.h"

namespace
{

constexpr std::string_view kBlankLine = "\r\n\r\n";

// RFC 2046 section 5.1.1 allows 70 characters; a longer boundary is refused so that the
// delimiter search stays cheap on hostile input.
constexpr size_t kMaxBoundary = 200;
// Nesting deeper than this gives no part (each level costs a scan of the text).
constexpr int kMaxDepth = 64;

char Upper(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool ContainsNoCase(std::string_view text, std::string_view word)
{
    if (word.size() > text.size())
        return false;
    for (size_t i = 0; i + word.size() <= text.size(); ++i) {
        size_t k = 0;
        while (k < word.size() && Upper(text[i + k]) == word[k])
            ++k;
        if (k == word.size())
            return true;
    }
    return false;
}

bool IsCharsetChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == '.' || c == ':' || c == '+' || c == '(' || c == ')' || c == '*';
}

bool IsLinearWhite(std::string_view s)
{
    for (char c : s)
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n')
            return false;
    return true;
}

// The "Q" encoding of RFC 2047 section 4.2: "_" is a blank, "=XX" a byte.
void DecodeQWord(std::string_view text, std::string& out)
{
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '_') {
            out += ' ';
        } else if (c == '=' && i + 2 < text.size() && HexDigitValue(text[i + 1]) >= 0 &&
                   HexDigitValue(text[i + 2]) >= 0) {
            out += static_cast<char>(HexDigitValue(text[i + 1]) * 16 + HexDigitValue(text[i + 2]));
            i += 2;
        } else {
            out += c;
        }
    }
}

// One encoded word "=?charset?E?text?=" found at a position of the text.
struct EncodedWord {
    std::string_view charset; // without an RFC 2231 language suffix
    bool base64 = false;
    std::string_view payload;
    size_t end = 0; // offset just after "?="
};

// Parses the word that starts at `at` ("=?"). `nextTerm` caches the offset of the next "?="
// so that many unterminated words cost one scan; npos there means none is left.
bool ParseWord(std::string_view text, size_t at, size_t& nextTerm, bool& noTerm, EncodedWord& w)
{
    size_t i = at + 2;
    const size_t limit = std::min(text.size(), i + 64);
    while (i < limit && IsCharsetChar(text[i]))
        ++i;
    if (i == at + 2 || i >= text.size() || text[i] != '?')
        return false;
    std::string_view charset = text.substr(at + 2, i - at - 2);
    charset = charset.substr(0, charset.find('*'));
    if (charset.empty() || i + 2 >= text.size() || text[i + 2] != '?')
        return false;
    const char e = Upper(text[i + 1]);
    if (e != 'B' && e != 'Q')
        return false;
    const size_t payloadStart = i + 3;
    if (nextTerm == std::string_view::npos || nextTerm < payloadStart) {
        nextTerm = text.find("?=", payloadStart);
        if (nextTerm == std::string_view::npos) {
            noTerm = true;
            return false;
        }
    }
    w.charset = charset;
    w.base64 = e == 'B';
    w.payload = text.substr(payloadStart, nextTerm - payloadStart);
    w.end = nextTerm + 2;
    return true;
}

bool SameCharset(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Upper(a[i]) != Upper(b[i]))
            return false;
    return true;
}

// Finds `delimiter` at the start of a line (RFC 2046 section 5.1.1), from `from` on.
size_t FindDelimiter(std::string_view text, std::string_view delimiter, size_t from)
{
    size_t pos = from;
    while (pos < text.size()) {
        if ((pos == 0 || text[pos - 1] == '\n') && text.substr(pos, delimiter.size()) == delimiter)
            return pos;
        const size_t lf = text.find('\n', pos);
        if (lf == std::string_view::npos)
            break;
        pos = lf + 1;
    }
    return std::string_view::npos;
}

// Text outside encoded words names no character set (RFC 6532 allows UTF-8 there).
std::string AsText(std::string_view raw)
{
    return CharsetConverter::IsAscii(raw) ? std::string(raw) : CharsetConverter::Undeclared(raw);
}

} // namespace

std::string DecodeBase64(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size() / 4 * 3 + 3);
    Base64Decoder decoder;
    decoder.Feed(bytes, out);
    return out;
}

std::string DecodeQuotedPrintable(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size());
    QuotedPrintableDecoder decoder;
    decoder.Feed(bytes, out);
    decoder.Finish();
    return out;
}

std::string DecodeWords(std::string_view text)
{
    if (text.find("=?") == std::string_view::npos)
        return AsText(text);
    std::string out;
    out.reserve(text.size());

    // Adjacent words of one character set gather here before conversion.
    struct Group {
        std::string_view charset;
        std::string bytes;
        size_t start = 0, end = 0;  // the words as written
        std::string_view separator; // white space before the group when it follows a word
    } group;
    bool haveGroup = false;
    bool lastDecoded = false;

    auto flush = [&]() {
        if (!haveGroup)
            return;
        std::string converted;
        const bool decoded = CharsetConverter::ToUtf8(group.charset, group.bytes, converted);
        // White space between two encoded words goes only when both were decoded.
        if (!decoded || !lastDecoded)
            out.append(group.separator);
        if (decoded)
            out += converted;
        else
            out += AsText(text.substr(group.start, group.end - group.start));
        lastDecoded = decoded;
        haveGroup = false;
    };

    size_t literalStart = 0;
    size_t nextTerm = std::string_view::npos;
    bool noTerm = false;
    size_t at = text.find("=?");
    while (at != std::string_view::npos && !noTerm) {
        EncodedWord word;
        if (!ParseWord(text, at, nextTerm, noTerm, word)) {
            at = text.find("=?", at + 1);
            continue;
        }
        const std::string_view between = text.substr(literalStart, at - literalStart);
        const bool adjacent = haveGroup && IsLinearWhite(between);
        if (adjacent && SameCharset(group.charset, word.charset)) {
            group.end = word.end;
        } else {
            flush();
            if (!adjacent) {
                out += AsText(between);
                lastDecoded = false;
            }
            group = Group{word.charset, {}, at, word.end, adjacent ? between : std::string_view()};
            haveGroup = true;
        }
        if (word.base64) {
            Base64Decoder decoder;
            decoder.Feed(word.payload, group.bytes);
        } else {
            DecodeQWord(word.payload, group.bytes);
        }
        literalStart = word.end;
        at = text.find("=?", word.end);
    }
    flush();
    const std::string_view tail = text.substr(literalStart);
    out += AsText(tail);
    return out;
}

FirstPartResult FirstPart(std::string_view body, std::string_view boundary)
{
    FirstPartResult result;
    if (boundary.empty() || boundary.size() > kMaxBoundary)
        return result;
    std::string delimiter = "--" + std::string(boundary);
    size_t pos = FindDelimiter(body, delimiter, 0);
    if (pos == std::string_view::npos)
        return result;
    pos += delimiter.size();
    std::string partHeader;
    for (int depth = 0;; ++depth) {
        // The part's header runs from the end of the delimiter line to its blank line.
        const size_t headerEnd = body.find(kBlankLine, pos);
        const std::string_view header = body.substr(
            pos, headerEnd == std::string_view::npos ? std::string_view::npos : headerEnd - pos);
        const std::string type = HeaderText::FieldOf(header, "Content-Type");
        const std::string nested = HeaderText::Parameter(type, "boundary");
        if (nested.empty()) {
            result.transferEncoding = HeaderText::FieldOf(header, "Content-Transfer-Encoding");
            result.charset = HeaderText::Parameter(type, "charset");
            break;
        }
        if (nested.size() > kMaxBoundary || depth >= kMaxDepth)
            return result;
        delimiter = "--" + nested;
        const size_t from = headerEnd == std::string_view::npos ? body.size() : headerEnd;
        const size_t next = FindDelimiter(body, delimiter, from);
        if (next == std::string_view::npos)
            return result;
        pos = next + delimiter.size();
    }
    size_t end = FindDelimiter(body, delimiter, pos);
    if (end != std::string_view::npos) {
        // The line end before a delimiter belongs to the delimiter (RFC 2046 section 5.1.1).
        if (end >= pos + 2 && body.substr(end - 2, 2) == "\r\n")
            end -= 2;
        else if (end >= pos + 1 && body[end - 1] == '\n')
            end -= 1;
    }
    const std::string_view part = body.substr(pos, end == std::string_view::npos ? end : end - pos);
    result.found = true;
    const size_t blank = part.find(kBlankLine);
    if (blank != std::string_view::npos)
        result.body = std::string(part.substr(blank + kBlankLine.size()));
    return result;
}

void DecodeRecord(MessageRecord& record, std::string_view transferEncoding,
                  std::string_view contentType, std::string_view boundary, std::string_view charset)
{
    record.subject = DecodeWords(record.subject);
    record.sender = DecodeWords(record.sender);
    if (record.preview.empty())
        return;
    std::string encoding(transferEncoding);
    std::string set(charset);
    if (ContainsNoCase(contentType, "MULTIPART")) {
        FirstPartResult part = FirstPart(record.preview, boundary);
        record.preview = std::move(part.body);
        encoding = std::move(part.transferEncoding);
        set = std::move(part.charset);
    }
    if (ContainsNoCase(encoding, "BASE64"))
        record.preview = DecodeBase64(record.preview);
    else if (ContainsNoCase(encoding, "QUOTED-PRINTABLE"))
        record.preview = DecodeQuotedPrintable(record.preview);
    // The preview is cut short by the fetch: a character split at its end is dropped.
    std::string converted;
    if (set.empty() ||
        !CharsetConverter::ToUtf8(set, record.preview, converted, CharsetConverter::Tail::Drop))
        converted = CharsetConverter::Undeclared(record.preview, CharsetConverter::Tail::Drop);
    record.preview = std::move(converted);
}
