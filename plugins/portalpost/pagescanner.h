#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// One unread message as a message-list page shows it, before any bookkeeping.
struct ListedMessage {
    std::string id;     // the value of the row's "Mid" input, as the page wrote it
    std::string link;   // the letter link ("/ym/ShowLetter?MsgId=..."), empty when the row has none
    std::string sender; // cell text without markup, trimmed; HTML entities still encoded
    std::string subject; // the same
    std::string date;    // cell text without markup, entities decoded, trimmed
    std::string size;    // the same
    bool attachment = false;
};

// The text searches the page-reading web client makes on the provider's pages. They read
// HTML the way a careful scraper does, not as a parser would: the markup they look for is
// found by plain searches, tag names without regard to case, attribute names without regard
// to case, attribute values quoted ('...' or "...") or not, everything else case-sensitive.
//
// Every search is bounded: a start tag is read over at most kMaxTag bytes, a link over at
// most kMaxLink, a message's cells only within that message's stretch of the page, and
// repeated searches move forward only, so a whole page costs time linear in its size. What
// runs past a bound counts as not found. Pages are untrusted: nothing here throws, and
// every result is a copy or a view into the scanned text.
class PageScanner
{
public:
    static constexpr size_t kMaxTag = 8192;
    static constexpr size_t kMaxLink = 4096;
    static constexpr size_t kMaxDistinctLinks = 10;

    // The scanner views `text`, which must outlive it.
    explicit PageScanner(std::string_view text);

    // The first form whose start tag has the attribute name=`name`: the text from its "<form"
    // through the next "</form>" inclusive. None when there is no such form or it is never
    // closed.
    std::optional<std::string_view> Form(std::string_view name) const;

    // The first input tag at or after *pos whose name attribute is `name`; *pos moves past
    // its ">". None (and *pos at the end) when there is none.
    std::optional<std::string_view> NextInput(size_t& pos, std::string_view name) const;

    // The first link at or after *pos that begins with `prefix`: from the prefix through the
    // character before the next quote, blank or ">". *pos moves to where the link ends.
    std::optional<std::string_view> NextLink(size_t& pos, std::string_view prefix) const;

    // The distinct links beginning with `prefix`, in page order, at most kMaxDistinctLinks;
    // links that differ only in case count as one.
    std::vector<std::string> DistinctLinks(std::string_view prefix) const;

    // Whether the first occurrence of `link` is followed by a number in parentheses ("(3)",
    // markup allowed around the digits) before the next link beginning with `prefix` and
    // within 512 bytes: the page shows that folder's unread count.
    bool CountFollows(std::string_view link, std::string_view prefix) const;

    // The unread messages of a message-list form (the text Form returned) in the row layout:
    // each row whose class is "msgnew", with its "Mid" input, its letter link (a link ending
    // in "#attachments" marks an attachment and loses that mark) and the texts of its first
    // four bold elements: sender, subject, date, size. A row without a "Mid" input is passed
    // over; a missing cell leaves its field empty.
    std::vector<ListedMessage> RowMessages() const;

    // The same in the table layout: each "Mid" input starts a message whose first four
    // cells (each from its first "<b>" to its "</td>") are sender, date, size and the subject
    // cell with the letter link. A message has an attachment when the form holds a link
    // "/ym/ShowLetter?toc=1&MsgId=" followed by its identifier.
    std::vector<ListedMessage> TableMessages() const;

    // The value of attribute `name` in a start tag (the text from "<" through ">"); entities
    // are not decoded. None when the tag lacks it or its quoted value is never closed.
    static std::optional<std::string> Attribute(std::string_view tag, std::string_view name);

    // The start tag at the beginning of `element`: through its first ">" (within kMaxTag).
    static std::optional<std::string_view> StartTag(std::string_view element);

    // Markup removed, CR, LF and tab made blanks, blanks (also "&nbsp;", "&#160;" and U+00A0)
    // trimmed from both ends; a text that was only blanks becomes a single blank.
    static std::string CellText(std::string_view html);

private:
    size_t FindTag(std::string_view lowerName, size_t from, size_t end) const;

    std::string_view text_;
    std::string lower_; // text_ in ASCII lower case, for tag names
};
