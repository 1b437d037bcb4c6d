#include "idlelines.h"

#include "imapfetchresponse.h"

#include <strings.h>
#include <utility>

namespace
{

bool StartsWithNoCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() &&
           ::strncasecmp(text.data(), prefix.data(), prefix.size()) == 0;
}

} // namespace

int IdleLines::Next(std::string& line)
{
    const std::size_t end = buffer_.find("\r\n");
    // A line of kMaxLine bytes may wait for the LF behind its CR: whatever the pieces, the
    // same lines are too long.
    if (end == std::string::npos)
        return buffer_.size() > kMaxLine + 1 ? -1 : 0;
    if (end > kMaxLine)
        return -1;
    line.assign(buffer_, 0, end);
    buffer_.erase(0, end + 2);
    return 1;
}

bool IdleLines::IsMailboxChange(std::string_view line)
{
    return Classify(line) != Change::None;
}

IdleLines::Change IdleLines::Classify(std::string_view line, std::uint32_t* number)
{
    if (!StartsWithNoCase(line, "* "))
        return Change::None;
    const std::size_t space = line.find(' ', 2);
    if (space == std::string_view::npos)
        return Change::None;
    const std::optional<uint32_t> n = ParseImapNumber(line.substr(2, space - 2));
    if (!n)
        return Change::None;
    const std::string_view word = line.substr(space + 1);
    static constexpr std::pair<std::string_view, Change> kKinds[] = {
        {"EXISTS", Change::Exists},
        {"RECENT", Change::Recent},
        {"EXPUNGE", Change::Expunge},
        {"FETCH", Change::Fetch},
    };
    for (const auto& [kind, change] : kKinds) {
        if (StartsWithNoCase(word, kind) &&
            (word.size() == kind.size() || word[kind.size()] == ' ')) {
            if (number)
                *number = *n;
            return change;
        }
    }
    return Change::None;
}
