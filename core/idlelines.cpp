#include "idlelines.h"

#include "imapfetchresponse.h"

#include <strings.h>

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
    if (!StartsWithNoCase(line, "* "))
        return false;
    const std::size_t space = line.find(' ', 2);
    if (space == std::string_view::npos || !ParseImapNumber(line.substr(2, space - 2)))
        return false;
    const std::string_view word = line.substr(space + 1);
    for (std::string_view kind : {"EXISTS", "RECENT", "EXPUNGE", "FETCH"}) {
        if (StartsWithNoCase(word, kind) &&
            (word.size() == kind.size() || word[kind.size()] == ' '))
            return true;
    }
    return false;
}
