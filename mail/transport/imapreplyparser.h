#pragma once

#include <cstddef>
#include <string>
#include <vector>

// The responses to one tagged IMAP command (RFC 3501 sections 2.2 and 7), up to and including
// its tagged completion, parsed incrementally: Feed() takes any split of the input, down to
// single bytes, and the state says need-more, done or error.
//
// Literals ("{n}" or the non-synchronising "{n+}" of RFC 7888 at the end of a line) are read
// by their length, so bytes inside a literal are never taken for a line: a fetched message
// that holds "A007 NO" does not end the fetch. The tagged completion is recognised only at
// the start of a response, outside any literal.
struct ImapResponse {
    // The response without its line ends, literals left out and their "{n}" markers kept:
    // `* 1 FETCH (UID 7 RFC822.HEADER {342})`.
    std::string text;
    // The literal bytes, in order of their markers in `text`.
    std::vector<std::string> literals;
};

enum class ImapStatus { None, Ok, No, Bad };

struct ImapReply {
    std::vector<ImapResponse> responses; // untagged ("* "), continuation ("+ ") and others
    ImapStatus status = ImapStatus::None;
    std::string statusText;    // after "<tag> OK " etc.
    std::string taggedLine;    // the whole tagged completion line
    bool continuation = false; // ended at a continuation request (when asked to)
};

class ImapReplyParser
{
public:
    enum class State { NeedMore, Done, Error };
    enum class Failure { None, TooLarge, Malformed };

    static constexpr std::size_t kDefaultMaxBytes = 16u << 20;

    // `tag` is the command's tag ("A007"). With `stopAtContinuation`, a continuation request
    // ("+ ...") also ends the reply (the client must then send its literal or data).
    explicit ImapReplyParser(std::string tag, bool stopAtContinuation = false,
                             std::size_t maxBytes = kDefaultMaxBytes);

    // Consumes bytes up to the end of the reply and returns how many it took.
    std::size_t Feed(const char* data, std::size_t size);

    State state() const { return state_; }
    Failure failure() const { return failure_; }
    std::size_t Consumed() const { return consumed_; }
    const ImapReply& Reply() const { return reply_; }
    ImapReply TakeReply() { return std::move(reply_); }

private:
    void EndLine();
    void EndResponse();
    void Fail(Failure failure);

    std::string tag_;
    bool stopAtContinuation_;
    std::size_t maxBytes_;
    State state_ = State::NeedMore;
    Failure failure_ = Failure::None;
    std::size_t consumed_ = 0;
    std::size_t literalLeft_ = 0;
    bool inLiteral_ = false;
    std::string line_;
    ImapResponse current_;
    ImapReply reply_;
};
