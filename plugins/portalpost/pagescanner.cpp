#include "pagescanner.h"

#include "htmlentities.h"

#include <algorithm>
#include <unordered_set>

namespace
{

constexpr std::string_view kLetterPrefix = "/ym/ShowLetter?MsgId=";
constexpr std::string_view kTocPrefixes[] = {"/ym/ShowLetter?toc=1&MsgId=",
                                             "/ym/ShowLetter?toc=1&amp;MsgId="};
constexpr std::string_view kAttachmentMark = "#attachments";
constexpr size_t kCountWindow = 512;

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f';
}

char Lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string LowerCopy(std::string_view text)
{
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), Lower);
    return out;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return Lower(x) == Lower(y); });
}

// The next occurrence of a needle at or after positions that only grow: each stretch of
// the text is searched once however often it is asked, which keeps whole-page loops linear.
class NextOf
{
public:
    NextOf(std::string_view text, std::string_view needle) : text_(text), needle_(needle) {}
    size_t From(size_t pos)
    {
        if (!known_ || (at_ != std::string_view::npos && at_ < pos)) {
            at_ = text_.find(needle_, pos);
            known_ = true;
        }
        return at_;
    }

private:
    std::string_view text_;
    std::string_view needle_;
    size_t at_ = std::string_view::npos;
    bool known_ = false;
};

bool HasClass(std::string_view classes, std::string_view wanted)
{
    size_t i = 0;
    while (i < classes.size()) {
        while (i < classes.size() && IsSpace(classes[i]))
            ++i;
        size_t end = i;
        while (end < classes.size() && !IsSpace(classes[end]))
            ++end;
        if (classes.substr(i, end - i) == wanted)
            return true;
        i = end;
    }
    return false;
}

bool StartsWithBlank(std::string_view s, size_t& length)
{
    for (std::string_view blank : {"&nbsp;", "&#160;", "\xC2\xA0", " "}) {
        if (s.substr(0, blank.size()) == blank) {
            length = blank.size();
            return true;
        }
    }
    return false;
}

bool EndsWithBlank(std::string_view s, size_t& length)
{
    for (std::string_view blank : {"&nbsp;", "&#160;", "\xC2\xA0", " "}) {
        if (s.size() >= blank.size() && s.substr(s.size() - blank.size()) == blank) {
            length = blank.size();
            return true;
        }
    }
    return false;
}

bool AllDigits(std::string_view s)
{
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace

PageScanner::PageScanner(std::string_view text) : text_(text), lower_(LowerCopy(text))
{
}

size_t PageScanner::FindTag(std::string_view lowerName, size_t from, size_t end) const
{
    const std::string_view lower(lower_);
    end = std::min(end, lower.size());
    while (from < end) {
        const size_t at = lower.substr(0, end).find(lowerName, from);
        if (at == std::string_view::npos)
            return std::string_view::npos;
        const size_t after = at + lowerName.size();
        // "<b" must not find "<br" or "<body": the name ends at a blank, ">" or "/".
        if (after < lower.size() &&
            (IsSpace(lower[after]) || lower[after] == '>' || lower[after] == '/'))
            return at;
        from = at + 1;
    }
    return std::string_view::npos;
}

std::optional<std::string_view> PageScanner::StartTag(std::string_view element)
{
    const size_t gt = element.substr(0, kMaxTag).find('>');
    if (gt == std::string_view::npos)
        return std::nullopt;
    return element.substr(0, gt + 1);
}

std::optional<std::string> PageScanner::Attribute(std::string_view tag, std::string_view name)
{
    size_t i = 1; // past "<"
    while (i < tag.size() && !IsSpace(tag[i]) && tag[i] != '>')
        ++i; // the tag's own name
    while (i < tag.size()) {
        while (i < tag.size() && (IsSpace(tag[i]) || tag[i] == '/'))
            ++i;
        if (i >= tag.size() || tag[i] == '>')
            break;
        const size_t nameStart = i;
        while (i < tag.size() && !IsSpace(tag[i]) && tag[i] != '=' && tag[i] != '>')
            ++i;
        const std::string_view attribute = tag.substr(nameStart, i - nameStart);
        while (i < tag.size() && IsSpace(tag[i]))
            ++i;
        std::string value;
        if (i < tag.size() && tag[i] == '=') {
            ++i;
            while (i < tag.size() && IsSpace(tag[i]))
                ++i;
            if (i < tag.size() && (tag[i] == '"' || tag[i] == '\'')) {
                const size_t close = tag.find(tag[i], i + 1);
                if (close == std::string_view::npos)
                    return std::nullopt; // an unclosed quote: nothing after it can be trusted
                value = tag.substr(i + 1, close - i - 1);
                i = close + 1;
            } else {
                const size_t start = i;
                while (i < tag.size() && !IsSpace(tag[i]) && tag[i] != '>')
                    ++i;
                value = tag.substr(start, i - start);
            }
        }
        if (EqualsIgnoringCase(attribute, name))
            return value;
    }
    return std::nullopt;
}

std::optional<std::string_view> PageScanner::Form(std::string_view name) const
{
    NextOf gt(text_, ">");
    size_t pos = 0;
    while (true) {
        const size_t at = FindTag("<form", pos, text_.size());
        if (at == std::string_view::npos)
            return std::nullopt;
        const size_t end = gt.From(at);
        if (end == std::string_view::npos)
            return std::nullopt;
        pos = end + 1;
        if (end - at >= kMaxTag)
            continue;
        if (Attribute(text_.substr(at, end - at + 1), "name") != name)
            continue;
        const size_t close = std::string_view(lower_).find("</form>", pos);
        if (close == std::string_view::npos)
            return std::nullopt;
        return text_.substr(at, close + 7 - at);
    }
}

std::optional<std::string_view> PageScanner::NextInput(size_t& pos, std::string_view name) const
{
    NextOf gt(text_, ">");
    while (pos < text_.size()) {
        const size_t at = FindTag("<input", pos, text_.size());
        const size_t end = at == std::string_view::npos ? at : gt.From(at);
        if (end == std::string_view::npos)
            break;
        pos = end + 1;
        if (end - at >= kMaxTag)
            continue;
        const std::string_view tag = text_.substr(at, end - at + 1);
        if (Attribute(tag, "name") == name)
            return tag;
    }
    pos = text_.size();
    return std::nullopt;
}

std::optional<std::string_view> PageScanner::NextLink(size_t& pos, std::string_view prefix) const
{
    while (pos < text_.size()) {
        const size_t at = text_.find(prefix, pos);
        if (at == std::string_view::npos)
            break;
        const std::string_view window = text_.substr(at, kMaxLink);
        const size_t end = window.find_first_of("\"' \t\r\n<>");
        if (end == std::string_view::npos) {
            // No end within bounds: not a link we take, nor any that starts inside it.
            pos = at + window.size();
            continue;
        }
        pos = at + end;
        return window.substr(0, end);
    }
    pos = text_.size();
    return std::nullopt;
}

std::vector<std::string> PageScanner::DistinctLinks(std::string_view prefix) const
{
    std::vector<std::string> links;
    std::unordered_set<std::string> seen; // lower-case forms
    size_t pos = 0;
    while (links.size() < kMaxDistinctLinks) {
        const auto link = NextLink(pos, prefix);
        if (!link)
            break;
        if (seen.insert(LowerCopy(*link)).second)
            links.emplace_back(*link);
    }
    return links;
}

bool PageScanner::CountFollows(std::string_view link, std::string_view prefix) const
{
    if (link.empty())
        return false;
    // The link's first occurrence as a whole link, not as the start of a longer one.
    size_t first = text_.find(link);
    while (first != std::string_view::npos && first + link.size() < text_.size() &&
           std::string_view("\"' \t\r\n<>").find(text_[first + link.size()]) ==
               std::string_view::npos)
        first = text_.find(link, first + 1);
    if (first == std::string_view::npos)
        return false;
    const size_t after = first + link.size();
    std::string_view window = text_.substr(after, kCountWindow);
    if (!prefix.empty())
        window = window.substr(0, window.find(prefix));
    const size_t open = window.find('(');
    if (open == std::string_view::npos)
        return false;
    const size_t close = window.find(')', open);
    if (close == std::string_view::npos)
        return false;
    return AllDigits(CellText(window.substr(open + 1, close - open - 1)));
}

std::string PageScanner::CellText(std::string_view html)
{
    std::string text;
    text.reserve(html.size());
    for (size_t i = 0; i < html.size(); ++i) {
        if (html[i] == '<') {
            const size_t gt = html.find('>', i);
            if (gt == std::string_view::npos)
                break; // a tag cut off: the rest is markup, not text
            i = gt;
            continue;
        }
        text += (html[i] == '\r' || html[i] == '\n' || html[i] == '\t') ? ' ' : html[i];
    }
    std::string_view trimmed(text);
    size_t n = 0;
    while (!trimmed.empty() && StartsWithBlank(trimmed, n))
        trimmed.remove_prefix(n);
    while (!trimmed.empty() && EndsWithBlank(trimmed, n))
        trimmed.remove_suffix(n);
    return trimmed.empty() ? std::string(" ") : std::string(trimmed);
}

std::vector<ListedMessage> PageScanner::RowMessages() const
{
    std::vector<ListedMessage> messages;
    NextOf closeRow(lower_, "</tr>");
    NextOf gt(text_, ">");
    size_t at = FindTag("<tr", 0, text_.size());
    while (at != std::string_view::npos) {
        const size_t tagEnd = gt.From(at);
        if (tagEnd == std::string_view::npos)
            break;
        const size_t next = FindTag("<tr", tagEnd, text_.size());
        const bool unread =
            tagEnd - at < kMaxTag &&
            HasClass(Attribute(text_.substr(at, tagEnd - at + 1), "class").value_or(""), "msgnew");
        if (unread) {
            // The row runs to its "</tr>", or to the next row when that is missing.
            const size_t rowEnd = std::min({closeRow.From(tagEnd), next, text_.size()});
            const std::string_view rowText = text_.substr(tagEnd + 1, rowEnd - tagEnd - 1);
            const PageScanner row(rowText);
            size_t pos = 0;
            const auto mid = row.NextInput(pos, "Mid");
            const auto id = mid ? Attribute(*mid, "value") : std::nullopt;
            if (id && !id->empty()) {
                ListedMessage m;
                m.id = *id;
                pos = 0;
                if (const auto link = row.NextLink(pos, kLetterPrefix)) {
                    std::string_view l = *link;
                    const size_t mark = l.find(kAttachmentMark);
                    if (mark != std::string_view::npos) {
                        m.attachment = true;
                        l = l.substr(0, mark);
                        for (std::string_view tail : {"&amp;", "&"})
                            if (l.size() >= tail.size() && l.substr(l.size() - tail.size()) == tail)
                                l.remove_suffix(tail.size());
                    }
                    m.link = l;
                }
                std::string* cells[] = {&m.sender, &m.subject, &m.date, &m.size};
                size_t cellPos = 0;
                for (std::string* cell : cells) {
                    const size_t b = row.FindTag("<b", cellPos, rowText.size());
                    const size_t open = b == std::string_view::npos ? b : rowText.find('>', b);
                    if (open == std::string_view::npos)
                        break;
                    const size_t close = std::string_view(row.lower_).find("</b>", open);
                    if (close == std::string_view::npos)
                        break;
                    *cell = CellText(rowText.substr(open + 1, close - open - 1));
                    cellPos = close + 4;
                }
                m.date = DecodeHtmlEntities(m.date);
                m.size = DecodeHtmlEntities(m.size);
                messages.push_back(std::move(m));
            }
        }
        at = next;
    }
    return messages;
}

std::vector<ListedMessage> PageScanner::TableMessages() const
{
    // The identifiers that have a table-of-contents link (a message with attachments).
    std::unordered_set<std::string> withAttachment;
    for (std::string_view prefix : kTocPrefixes) {
        size_t pos = 0;
        while (const auto link = NextLink(pos, prefix)) {
            std::string_view id = link->substr(prefix.size());
            id = id.substr(0, id.find_first_of("&#"));
            withAttachment.emplace(id);
        }
    }

    // Each message's stretch: from the end of its "Mid" input to the next one.
    struct Stretch {
        std::string id;
        size_t begin;
        size_t end;
    };
    std::vector<Stretch> stretches;
    size_t pos = 0;
    while (const auto input = NextInput(pos, "Mid")) {
        const size_t begin = static_cast<size_t>(input->data() - text_.data());
        if (!stretches.empty())
            stretches.back().end = begin;
        stretches.push_back({Attribute(*input, "value").value_or(""), pos, text_.size()});
    }

    std::vector<ListedMessage> messages;
    for (const Stretch& s : stretches) {
        if (s.id.empty())
            continue;
        ListedMessage m;
        m.id = s.id;
        m.attachment = withAttachment.count(s.id) != 0;
        std::string_view cells[4];
        size_t found = 0;
        size_t cur = s.begin;
        while (found < 4) {
            const size_t b = FindTag("<b", cur, s.end);
            const size_t open =
                b == std::string_view::npos ? b : text_.substr(0, s.end).find('>', b);
            const size_t close = open == std::string_view::npos
                                     ? open
                                     : std::string_view(lower_).substr(0, s.end).find("</td", open);
            if (close == std::string_view::npos)
                break; // a missing cell ends the reading; the rest stays empty
            cells[found++] = text_.substr(open + 1, close - open - 1);
            cur = close;
        }
        if (found > 0)
            m.sender = CellText(cells[0]);
        if (found > 1)
            m.date = DecodeHtmlEntities(CellText(cells[1]));
        if (found > 2)
            m.size = DecodeHtmlEntities(CellText(cells[2]));
        if (found > 3) {
            m.subject = CellText(cells[3]);
            size_t linkPos = 0;
            if (const auto link = PageScanner(cells[3]).NextLink(linkPos, kLetterPrefix))
                m.link = *link;
        }
        messages.push_back(std::move(m));
    }
    return messages;
}
