#include "pop3replyparser.h"

#include <cstring>
#include <strings.h>

std::string Pop3Reply::Text() const
{
    if (body.empty())
        return status;
    std::string text = status;
    text += "\r\n";
    text.append(body, 0, body.size() - 2);
    return text;
}

Pop3ReplyParser::Pop3ReplyParser(Kind kind, bool unstuff, std::size_t maxBytes)
    : kind_(kind), unstuff_(unstuff), maxBytes_(maxBytes)
{
}

std::size_t Pop3ReplyParser::Feed(const char* data, std::size_t size)
{
    std::size_t used = 0;
    while (used < size && state_ == State::NeedMore) {
        const char* start = data + used;
        const char* nl = static_cast<const char*>(std::memchr(start, '\n', size - used));
        std::size_t take = nl != nullptr ? static_cast<std::size_t>(nl - start) + 1 : size - used;
        if (take > maxBytes_ - consumed_) {
            // Refuse before storing, so that memory stays bounded by the cap.
            state_ = State::Error;
            failure_ = Failure::TooLarge;
            break;
        }
        line_.append(start, nl != nullptr ? take - 1 : take);
        used += take;
        consumed_ += take;
        if (nl != nullptr)
            EndLine();
    }
    return used;
}

void Pop3ReplyParser::EndLine()
{
    // Lines end in CR LF; a bare LF is accepted as well, from servers that get it wrong.
    if (!line_.empty() && line_.back() == '\r')
        line_.pop_back();
    if (!haveStatus_) {
        haveStatus_ = true;
        reply_.positive = line_.size() >= 3 && ::strncasecmp(line_.c_str(), "+OK", 3) == 0;
        reply_.status = std::move(line_);
        // RFC 1939 section 3: a negative reply is one line even for a multi-line command.
        if (kind_ == Kind::SingleLine || !reply_.positive)
            state_ = State::Done;
    } else if (line_ == ".") {
        state_ = State::Done;
    } else {
        bool stuffed = unstuff_ && !line_.empty() && line_[0] == '.';
        reply_.body.append(line_, stuffed ? 1 : 0);
        reply_.body += "\r\n";
    }
    line_.clear();
}
