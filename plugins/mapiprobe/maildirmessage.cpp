#include "maildirmessage.h"

#include "charsetconverter.h"
#include "headertext.h"
#include "mimedecoding.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

constexpr size_t kChunk = 64 * 1024;
// Raw body bytes read beyond the limit: part headers, a preamble, transfer encoding.
constexpr size_t kBodySlack = 64 * 1024;
constexpr size_t kBodyCap = 8 * 1024 * 1024;
constexpr int kMaxPartDepth = 8;
constexpr size_t kMaxParts = 1000;
constexpr size_t kMaxBoundary = 200;
constexpr uint64_t kScanCap = 64ull * 1024 * 1024;

char Lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (Lower(text[i]) != Lower(prefix[i]))
            return false;
    return true;
}

bool ContainsNoCase(std::string_view text, std::string_view word)
{
    for (size_t i = 0; i + word.size() <= text.size(); ++i)
        if (StartsWithNoCase(text.substr(i), word))
            return true;
    return false;
}

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() &&
           (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
        s.remove_suffix(1);
    return s;
}

// Maildir files hold Unix line ends; the header code reads CR LF.
std::string ToCrLf(std::string_view raw)
{
    std::string out;
    out.reserve(raw.size() + raw.size() / 32);
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\n' && (i == 0 || raw[i - 1] != '\r'))
            out += '\r';
        out += raw[i];
    }
    return out;
}

// The bare media type of a Content-Type value, lower case ("text/plain").
std::string MediaType(std::string_view contentType)
{
    std::string_view bare = contentType.substr(0, contentType.find(';'));
    bare = Trim(bare);
    std::string out;
    for (char c : bare)
        out += Lower(c);
    return out;
}

struct TextPart {
    bool found = false;
    std::string_view body;
    std::string encoding;
    std::string charset;
};

// Offset of the next delimiter line "--boundary" at or after `from`, or npos.
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

// The first text/plain leaf of a multipart body (RFC 2046 section 5.1), else its first text
// leaf of another subtype; descends into nested multiparts. Bounded in depth and part count,
// so hostile nesting costs at most a few passes over the text.
void FindTextPart(std::string_view body, std::string_view boundary, int depth, size_t& parts,
                  TextPart& plain, TextPart& other)
{
    if (boundary.empty() || boundary.size() > kMaxBoundary || depth > kMaxPartDepth)
        return;
    const std::string delimiter = "--" + std::string(boundary);
    size_t pos = FindDelimiter(body, delimiter, 0);
    while (pos != std::string_view::npos && !plain.found && parts++ < kMaxParts) {
        size_t lineEnd = body.find('\n', pos);
        if (lineEnd == std::string_view::npos)
            return;
        // "--boundary--" closes the multipart.
        if (body.substr(pos + delimiter.size(), 2) == "--")
            return;
        const size_t start = lineEnd + 1;
        size_t end = FindDelimiter(body, delimiter, start);
        std::string_view part = body.substr(
            start, end == std::string_view::npos ? std::string_view::npos : end - start);
        // The line end before a delimiter belongs to the delimiter (RFC 2046 section 5.1.1).
        if (end != std::string_view::npos && part.ends_with("\r\n"))
            part.remove_suffix(2);
        const size_t blank = part.find("\r\n\r\n");
        const std::string_view header =
            blank == std::string_view::npos ? part : part.substr(0, blank + 2);
        const std::string_view content =
            blank == std::string_view::npos ? std::string_view() : part.substr(blank + 4);
        const std::string type = HeaderText::FieldOf(header, "Content-Type");
        const std::string media = MediaType(type);
        if (media.starts_with("multipart/")) {
            FindTextPart(content, HeaderText::Parameter(type, "boundary"), depth + 1, parts, plain,
                         other);
        } else if (media.empty() || media.starts_with("text/")) {
            const std::string disposition = HeaderText::FieldOf(header, "Content-Disposition");
            if (!StartsWithNoCase(Trim(disposition), "attachment")) {
                TextPart& slot = (media.empty() || media == "text/plain") ? plain : other;
                if (!slot.found) {
                    slot.found = true;
                    slot.body = content;
                    slot.encoding = HeaderText::FieldOf(header, "Content-Transfer-Encoding");
                    slot.charset = HeaderText::Parameter(type, "charset");
                }
            }
        }
        pos = end;
    }
}

// Looks past the window for a part marked as an attachment, a chunk at a time. A message
// so big that kScanCap bytes hold no answer is a multipart/mixed one of that size: it has
// attachments.
bool ScanForAttachment(int fd)
{
    uint64_t scanned = 0;
    static constexpr std::string_view kField = "content-disposition:";
    std::string carry;
    char buffer[kChunk];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        scanned += static_cast<uint64_t>(n);
        if (scanned > kScanCap)
            return true;
        std::string text = carry;
        for (ssize_t i = 0; i < n; ++i)
            text += Lower(buffer[i]);
        size_t at = 0;
        while ((at = text.find(kField, at)) != std::string::npos) {
            std::string_view rest = std::string_view(text).substr(at + kField.size());
            rest = Trim(rest.substr(0, 40));
            if (rest.size() < 10 && text.size() - at < kField.size() + 40)
                break; // the value may go on in the next chunk
            if (rest.starts_with("attachment") || rest.starts_with("inline"))
                return true;
            at += kField.size();
        }
        // Keep enough to see a field split between two chunks.
        const size_t keep = kField.size() + 40;
        carry = text.size() > keep ? text.substr(text.size() - keep) : text;
    }
}

int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

std::string_view NextToken(std::string_view& rest)
{
    size_t i = 0;
    while (i < rest.size() && (rest[i] == ' ' || rest[i] == '\t' || rest[i] == '\r' ||
                               rest[i] == '\n' || rest[i] == ','))
        ++i;
    size_t j = i;
    while (j < rest.size() && rest[j] != ' ' && rest[j] != '\t' && rest[j] != '\r' &&
           rest[j] != '\n' && rest[j] != ',')
        ++j;
    const std::string_view token = rest.substr(i, j - i);
    rest.remove_prefix(j);
    return token;
}

bool Number(std::string_view digits, size_t maxLen, int& value)
{
    if (digits.empty() || digits.size() > maxLen)
        return false;
    value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

} // namespace

std::time_t MaildirMessage::ParseDate(std::string_view value)
{
    static constexpr std::string_view kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                                   "jul", "aug", "sep", "oct", "nov", "dec"};
    std::string_view rest = value;
    // A comment such as "(CET)" after the zone carries nothing we need.
    rest = rest.substr(0, rest.find('('));
    std::string_view token = NextToken(rest);
    if (!token.empty() && (token[0] < '0' || token[0] > '9'))
        token = NextToken(rest); // the day of the week
    int day = 0, year = 0, hour = 0, minute = 0, second = 0;
    if (!Number(token, 2, day) || day < 1 || day > 31)
        return 0;
    token = NextToken(rest);
    unsigned month = 0;
    for (unsigned i = 0; i < 12; ++i)
        if (token.size() >= 3 && StartsWithNoCase(token, kMonths[i]))
            month = i + 1;
    if (month == 0)
        return 0;
    token = NextToken(rest);
    if (!Number(token, 4, year))
        return 0;
    // RFC 5322 section 4.3: two digits below 50 are 20xx, others and three digits add 1900.
    if (token.size() == 2)
        year += year < 50 ? 2000 : 1900;
    else if (token.size() == 3)
        year += 1900;
    if (year < 1970)
        return 0;
    token = NextToken(rest);
    const size_t c1 = token.find(':');
    if (c1 == std::string_view::npos || !Number(token.substr(0, c1), 2, hour))
        return 0;
    std::string_view mmss = token.substr(c1 + 1);
    const size_t c2 = mmss.find(':');
    if (!Number(mmss.substr(0, c2), 2, minute))
        return 0;
    if (c2 != std::string_view::npos && !Number(mmss.substr(c2 + 1), 2, second))
        return 0;
    if (hour > 23 || minute > 59 || second > 60)
        return 0;
    int offset = 0; // minutes east of UTC
    token = NextToken(rest);
    if (token.size() == 5 && (token[0] == '+' || token[0] == '-')) {
        int hhmm = 0;
        if (Number(token.substr(1), 4, hhmm))
            offset = (hhmm / 100 * 60 + hhmm % 100) * (token[0] == '-' ? -1 : 1);
    } else {
        static constexpr struct {
            std::string_view name;
            int hours;
        } kZones[] = {{"EDT", -4}, {"EST", -5}, {"CDT", -5}, {"CST", -6},
                      {"MDT", -6}, {"MST", -7}, {"PDT", -7}, {"PST", -8}};
        for (const auto& zone : kZones)
            if (token.size() == zone.name.size() && StartsWithNoCase(token, zone.name))
                offset = zone.hours * 60;
    }
    const int64_t days = DaysFromCivil(year, month, static_cast<unsigned>(day));
    const int64_t seconds = days * 86400 + hour * 3600 + minute * 60 + second - offset * 60;
    return seconds > 0 ? static_cast<std::time_t>(seconds) : 0;
}

void MaildirMessage::SplitSender(std::string_view from, std::string& name, std::string& email)
{
    name.clear();
    email.clear();
    // The first mailbox of the list: up to a comma outside quotes, angle brackets and
    // comments (RFC 5322 section 3.4).
    std::string display;
    std::string comment;
    std::string address;
    bool quoted = false, inAngle = false, sawAngle = false;
    int paren = 0;
    std::string bare;
    for (size_t i = 0; i < from.size(); ++i) {
        const char c = from[i];
        if (quoted) {
            if (c == '\\' && i + 1 < from.size())
                display += from[++i];
            else if (c == '"')
                quoted = false;
            else
                display += c;
            continue;
        }
        if (paren > 0) {
            if (c == '(')
                ++paren;
            else if (c == ')')
                --paren;
            else if (c == '\\' && i + 1 < from.size())
                comment += from[++i];
            else if (paren == 1 || c != ')')
                comment += c;
            continue;
        }
        if (inAngle) {
            if (c == '>')
                inAngle = false;
            else
                address += c;
            continue;
        }
        if (c == '"') {
            quoted = true;
        } else if (c == '(') {
            paren = 1;
        } else if (c == '<') {
            inAngle = true;
            sawAngle = true;
        } else if (c == ',') {
            break;
        } else {
            display += c;
            bare += c;
        }
    }
    if (sawAngle) {
        email = std::string(Trim(address));
    } else {
        // "ann@example.org (Ann Example)": the address is what stands outside the comment.
        email = std::string(Trim(bare));
        display = comment;
    }
    // An address with 8-bit bytes (RFC 6532, or a broken mailer) is shown like other text.
    if (CharsetConverter::ValidUtf8Prefix(email) != email.size())
        email = CharsetConverter::Undeclared(email);
    std::string decoded = DecodeWords(Trim(display));
    name = std::string(Trim(decoded));
    if (name.empty())
        name = email;
}

std::string MaildirMessage::CutUtf8(std::string text, size_t limit)
{
    if (text.size() <= limit)
        return text;
    text.resize(limit);
    text.resize(CharsetConverter::ValidUtf8Prefix(text));
    return text;
}

void MaildirMessage::Parse(std::string_view raw, bool cut, uint32_t bodyLimit,
                           ProviderMessageDetails& details)
{
    const HeaderText text(ToCrLf(raw));
    static constexpr std::string_view kNames[] = {"From", "Subject", "Date", "Content-Type",
                                                  "Content-Transfer-Encoding"};
    std::string fields[5];
    HeaderText::FieldsOf(text.HeaderPart(), kNames, 5, fields);

    std::string subject = DecodeWords(fields[1]);
    details.subject = std::string(Trim(subject));
    SplitSender(fields[0], details.senderName, details.senderEmail);
    details.deliveryTime = ParseDate(fields[2]);
    details.hasAttachment = text.AttachmentFlag() == "Yes";

    // The first text part: the body itself for a text message, a leaf of a multipart one.
    TextPart part;
    const std::string media = MediaType(fields[3]);
    if (media.starts_with("multipart/")) {
        TextPart plain, other;
        size_t parts = 0;
        FindTextPart(text.BodyPart(), HeaderText::Parameter(fields[3], "boundary"), 0, parts, plain,
                     other);
        part = plain.found ? plain : other;
    } else if (media.empty() || media.starts_with("text/")) {
        part.found = true;
        part.body = text.BodyPart();
        part.encoding = fields[4];
        part.charset = HeaderText::Parameter(fields[3], "charset");
    }
    details.hasBody = part.found;
    details.body.clear();
    if (!part.found)
        return;
    std::string bytes;
    if (ContainsNoCase(part.encoding, "base64"))
        bytes = DecodeBase64(part.body);
    else if (ContainsNoCase(part.encoding, "quoted-printable"))
        bytes = DecodeQuotedPrintable(part.body);
    else
        bytes = std::string(part.body);
    const auto tail = cut ? CharsetConverter::Tail::Drop : CharsetConverter::Tail::Replace;
    std::string converted;
    if (part.charset.empty() || !CharsetConverter::ToUtf8(part.charset, bytes, converted, tail))
        converted = CharsetConverter::Undeclared(bytes, tail);
    details.body = CutUtf8(std::move(converted), bodyLimit);
}

bool MaildirMessage::Read(const std::string& path, uint64_t expectedSize, uint32_t bodyLimit,
                          ProviderMessageDetails& details, std::string* why)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        const int err = errno;
        if (why)
            *why = path + ": " + std::strerror(err);
        struct stat st {
        };
        if (err == ENOENT || err == ENOTDIR || ::stat(path.c_str(), &st) != 0 ||
            !S_ISREG(st.st_mode))
            return false;
        // There but not readable (permission denied): reported with what is known of it,
        // so it is not taken for gone and passed over in silence.
        details = ProviderMessageDetails();
        details.size = static_cast<uint64_t>(st.st_size);
        details.deliveryTime = st.st_mtime;
        details.readProblem = std::string("the file cannot be read: ") + std::strerror(err);
        return true;
    }
    struct stat st {
    };
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (why)
            *why = path + ": not a message file";
        ::close(fd);
        return false;
    }
    details = ProviderMessageDetails();
    details.size = static_cast<uint64_t>(st.st_size);

    // The header first, then as much of the body as the limit can need.
    std::string raw;
    size_t headerEnd = std::string::npos;
    size_t want = kHeaderCap;
    int readError = 0;
    bool atEnd = false;
    char buffer[kChunk];
    while (raw.size() < want) {
        const size_t ask = std::min(sizeof buffer, want - raw.size());
        const ssize_t n = ::read(fd, buffer, ask);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            readError = errno;
            break;
        }
        if (n == 0) {
            atEnd = true;
            break;
        }
        const size_t searchFrom = raw.size() > 3 ? raw.size() - 3 : 0;
        raw.append(buffer, static_cast<size_t>(n));
        if (headerEnd == std::string::npos) {
            const size_t lf = raw.find("\n\n", searchFrom);
            const size_t crlf = raw.find("\n\r\n", searchFrom);
            headerEnd = std::min(lf, crlf);
            if (headerEnd != std::string::npos)
                want = std::min<uint64_t>(headerEnd + kBodySlack + 2ull * bodyLimit,
                                          headerEnd + kBodyCap);
        }
    }
    if (!atEnd && !readError && raw.size() >= static_cast<uint64_t>(st.st_size)) {
        char probe;
        const ssize_t n = ::read(fd, &probe, 1);
        if (n == 0)
            atEnd = true;
        else if (n < 0)
            readError = errno;
        else
            ::lseek(fd, -1, SEEK_CUR);
    }

    if (readError) {
        details.readProblem = "reading stopped after " + std::to_string(raw.size()) +
                              " bytes: " + std::strerror(readError);
    } else if (headerEnd == std::string::npos && !atEnd) {
        details.readProblem = "the header is longer than " + std::to_string(kHeaderCap / 1024) +
                              " KiB; only its start was read";
    } else if (atEnd && raw.size() < static_cast<uint64_t>(st.st_size)) {
        details.readProblem = "the file ended after " + std::to_string(raw.size()) + " of " +
                              std::to_string(st.st_size) + " bytes";
    } else if (expectedSize && static_cast<uint64_t>(st.st_size) < expectedSize) {
        details.readProblem = "the file holds " + std::to_string(st.st_size) +
                              " bytes, its name says " + std::to_string(expectedSize);
    }
    Parse(raw, !atEnd, bodyLimit, details);
    if (!details.hasAttachment && !atEnd && !readError) {
        const std::string header = ToCrLf(std::string_view(raw).substr(0, headerEnd));
        if (MediaType(HeaderText::FieldOf(header, "Content-Type")).starts_with("multipart/"))
            details.hasAttachment = ScanForAttachment(fd);
    }
    if (details.deliveryTime == 0)
        details.deliveryTime = st.st_mtime;
    ::close(fd);
    return true;
}
