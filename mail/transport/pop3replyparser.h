#pragma once

#include <cstddef>
#include <string>

// One POP3 reply (RFC 1939 section 3), parsed incrementally: Feed() takes any split of the
// input, down to single bytes, and the state says need-more, done or error.
struct Pop3Reply {
    bool positive = false; // the status line begins with "+OK", in any case
    std::string status;    // the status line without its line end
    // Multi-line replies only: the lines after the status line, each ending in CR LF, with the
    // terminating "." line removed and (by default) byte-stuffing undone.
    std::string body;

    // The reply as one text: the status line, and for a multi-line reply CR LF and the body
    // without its last CR LF. This is the form callers that scan the raw reply expect.
    std::string Text() const;
};

class Pop3ReplyParser
{
public:
    enum class Kind {
        SingleLine, // one status line
        MultiLine,  // a status line and, when positive, lines up to a line holding "."
    };
    enum class State { NeedMore, Done, Error };
    enum class Failure { None, TooLarge };

    static constexpr std::size_t kDefaultMaxBytes = 16u << 20;

    // `unstuff`: remove the leading "." that the server doubled on body lines beginning with
    // one (RFC 1939 section 3). `maxBytes` caps the bytes one reply may take.
    explicit Pop3ReplyParser(Kind kind, bool unstuff = true,
                             std::size_t maxBytes = kDefaultMaxBytes);

    // Consumes bytes up to the end of the reply and returns how many it took; bytes after the
    // reply belong to the next one and are left to the caller.
    std::size_t Feed(const char* data, std::size_t size);

    State state() const { return state_; }
    Failure failure() const { return failure_; }
    // Bytes taken so far.
    std::size_t Consumed() const { return consumed_; }
    const Pop3Reply& Reply() const { return reply_; }
    Pop3Reply TakeReply() { return std::move(reply_); }

private:
    void EndLine();

    Kind kind_;
    bool unstuff_;
    std::size_t maxBytes_;
    State state_ = State::NeedMore;
    Failure failure_ = Failure::None;
    std::size_t consumed_ = 0;
    bool haveStatus_ = false;
    std::string line_;
    Pop3Reply reply_;
};
