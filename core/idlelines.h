#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The lines a server sends on an idling IMAP connection (RFC 2177), cut at CR LF as they
// arrive in pieces of any size, and which of them tell of a change to the mailbox.
//
// Bounded: a line longer than kMaxLine is no status line this program acts on; Next then
// answers -1 and the caller drops the connection rather than buffer without end.
//
// Threads: one object per connection, used by its thread.
class IdleLines
{
public:
    static constexpr std::size_t kMaxLine = 64 * 1024;

    void Feed(std::string_view bytes) { buffer_.append(bytes); }
    // 1: `line` holds the next line without its CR LF; 0: no whole line yet; -1: the line
    // being received is longer than kMaxLine.
    int Next(std::string& line);
    void Clear() { buffer_.clear(); }
    // Nothing received is left unread (before STARTTLS: bytes behind the go-ahead would
    // otherwise be read as if they had come through TLS).
    bool Empty() const { return buffer_.empty(); }

    // "* 12 EXISTS", "* 3 RECENT", "* 4 EXPUNGE", "* 5 FETCH (FLAGS (\Seen))": new mail,
    // mail removed, flags changed (RFC 3501 sections 7.3.1, 7.3.2, 7.4.1, 7.4.2). The
    // keyword compares without case; the number must be a valid message number.
    static bool IsMailboxChange(std::string_view line);

    // What a line of the above says; `number` gets its message number (for EXISTS, the
    // mailbox's size).
    enum class Change { None, Exists, Recent, Expunge, Fetch };
    static Change Classify(std::string_view line, std::uint32_t* number = nullptr);

private:
    std::string buffer_;
};
