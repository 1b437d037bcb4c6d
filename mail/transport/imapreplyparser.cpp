#include "imapreplyparser.h"

#include <algorithm>
#include <cstring>
#include <strings.h>

namespace
{

// The length of a literal announced at the end of `line` ("... {123}" or "... {123+}"),
// or -1 when the line does not end in a literal marker. Values above `limit` come back as
// limit + 1 so that a huge announced size is refused without being trusted.
long long LiteralLength(const std::string& line, std::size_t limit)
{
    if (line.empty() || line.back() != '}')
        return -1;
    std::size_t open = line.rfind('{');
    if (open == std::string::npos)
        return -1;
    std::size_t end = line.size() - 1;
    if (end > open + 1 && line[end - 1] == '+')
        --end;
    if (end == open + 1)
        return -1;
    unsigned long long value = 0;
    for (std::size_t i = open + 1; i < end; ++i) {
        if (line[i] < '0' || line[i] > '9')
            return -1;
        if (value <= limit)
            value = value * 10 + static_cast<unsigned>(line[i] - '0');
    }
    return value > limit ? static_cast<long long>(limit) + 1 : static_cast<long long>(value);
}

} // namespace

ImapReplyParser::ImapReplyParser(std::string tag, bool stopAtContinuation, std::size_t maxBytes)
    : tag_(std::move(tag)), stopAtContinuation_(stopAtContinuation),
      // Bounded so that the digit arithmetic of LiteralLength cannot overflow.
      maxBytes_(std::min<std::size_t>(maxBytes, std::size_t{1} << 40))
{
}

void ImapReplyParser::Fail(Failure failure)
{
    state_ = State::Error;
    failure_ = failure;
}

std::size_t ImapReplyParser::Feed(const char* data, std::size_t size)
{
    std::size_t used = 0;
    while (used < size && state_ == State::NeedMore) {
        const char* start = data + used;
        if (inLiteral_) {
            std::size_t take = std::min(literalLeft_, size - used);
            current_.literals.back().append(start, take);
            literalLeft_ -= take;
            used += take;
            consumed_ += take;
            if (literalLeft_ == 0)
                inLiteral_ = false; // the response goes on with the rest of the line
            continue;
        }
        const char* nl = static_cast<const char*>(std::memchr(start, '\n', size - used));
        std::size_t take = nl != nullptr ? static_cast<std::size_t>(nl - start) + 1 : size - used;
        if (take > maxBytes_ - consumed_) {
            Fail(Failure::TooLarge);
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

void ImapReplyParser::EndLine()
{
    if (!line_.empty() && line_.back() == '\r')
        line_.pop_back();
    long long literal = LiteralLength(line_, maxBytes_);
    current_.text += line_;
    line_.clear();
    if (literal < 0) {
        EndResponse();
        return;
    }
    // The announced size is checked against what is left of the cap before anything is
    // stored, so "{4294967295}" costs nothing.
    if (static_cast<unsigned long long>(literal) > maxBytes_ - consumed_) {
        Fail(Failure::TooLarge);
        return;
    }
    current_.literals.emplace_back();
    literalLeft_ = static_cast<std::size_t>(literal);
    inLiteral_ = literalLeft_ > 0;
}

void ImapReplyParser::EndResponse()
{
    const std::string& text = current_.text;
    if (text.size() > tag_.size() && text.compare(0, tag_.size(), tag_) == 0 &&
        text[tag_.size()] == ' ') {
        // RFC 3501 section 7.1: tagged completion is "<tag> OK|NO|BAD [resp-text]".
        std::size_t word = tag_.size() + 1;
        std::size_t space = text.find(' ', word);
        std::string status =
            text.substr(word, space == std::string::npos ? std::string::npos : space - word);
        if (::strcasecmp(status.c_str(), "OK") == 0)
            reply_.status = ImapStatus::Ok;
        else if (::strcasecmp(status.c_str(), "NO") == 0)
            reply_.status = ImapStatus::No;
        else if (::strcasecmp(status.c_str(), "BAD") == 0)
            reply_.status = ImapStatus::Bad;
        else {
            Fail(Failure::Malformed);
            return;
        }
        reply_.statusText = space == std::string::npos ? std::string() : text.substr(space + 1);
        reply_.taggedLine = std::move(current_.text);
        current_ = ImapResponse{};
        state_ = State::Done;
        return;
    }
    bool continuation = !text.empty() && text[0] == '+';
    reply_.responses.push_back(std::move(current_));
    current_ = ImapResponse{};
    if (continuation && stopAtContinuation_) {
        reply_.continuation = true;
        state_ = State::Done;
    }
}
