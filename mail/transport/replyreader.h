#pragma once

#include "imapreplyparser.h"
#include "neterror.h"
#include "pop3replyparser.h"
#include "transferdeadline.h"
#include "transport.h"

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

// Reads whole replies from a Transport for the POP3 and IMAP4 clients.
//
// Every read is bounded (transferdeadline.h): silence longer than the time-out ends it, a
// single-line POP3 reply (greeting, status line) must come whole within the time-out, and a
// multi-line POP3 reply or the responses to an IMAP command must keep up 1 KiB per time-out
// period from the start of the read. A server that drips its bytes is cut off with the
// category TooSlow ("the server is too slow: ..."); a silent one with TimedOut, or with
// NoGreeting ("no greeting within 30 s") when it has not sent a byte since the connection was
// made. A server that closes the connection ends the read at once. A reply is not limited by a
// fixed buffer; a cap per reply (16 MiB by default) ends a runaway reply with a clear error.
//
// Bytes received after the end of a reply stay buffered here for the next read, so
// pipelined replies are not lost. Before a STARTTLS / STLS upgrade, call StartTls() here
// (not on the transport): it refuses when any byte is buffered after the go-ahead.
//
// Results, as the clients expect them: 1 positive reply, 0 negative reply (error 10043,
// LastResponse set), -1 no complete reply (time-out, too slow or no greeting 10060, closed
// 10054, too large 10040, malformed 20004, or the transport's own error; LastResponse holds
// what was received).
// After -1 the conversation is out of step: close the transport.
//
// Threads: one thread at a time. The reader keeps a reference to the transport, which must
// outlive it.
class ReplyReader
{
public:
    explicit ReplyReader(Transport& transport,
                         std::chrono::milliseconds timeout = std::chrono::seconds(30));

    void SetTimeout(std::chrono::milliseconds timeout) { timeout_ = timeout; }
    std::chrono::milliseconds Timeout() const { return timeout_; }
    void SetMaxReplyBytes(std::size_t bytes) { maxBytes_ = bytes; }

    // A POP3 reply. `unstuff` undoes byte-stuffing of multi-line bodies (RFC 1939 section 3).
    int ReadReply(Pop3ReplyParser::Kind kind, Pop3Reply& out, bool unstuff = true);

    // The responses to the IMAP command tagged as in `expected` ("A007 OK" or just "A007"),
    // up to its tagged completion: 1 for OK, 0 for NO or BAD. A successful completion that
    // came with both an untagged "* BAD" and an untagged "* NO" response also answers 0.
    int ReadTagged(std::string_view expected, ImapReply& out);

    // Like ReadTagged, but a continuation request ("+ ...") also ends the read with 1 and
    // out.continuation set, for commands that send a literal or an authentication exchange.
    int ReadContinuation(std::string_view tag, ImapReply& out);

    // Upgrades the transport to TLS after the server's go-ahead has been read. Refuses, and
    // closes the transport, when bytes after the go-ahead are already buffered (STARTTLS
    // response injection, CVE-2020-15953 class).
    bool StartTls();

    // Text received by the last read that failed (at most 64 KiB of it).
    const std::string& LastResponse() const { return lastResponse_; }
    // Bytes received but not yet parsed.
    std::size_t Buffered() const { return pending_.size() - pendingPos_; }
    // Forgets buffered bytes and what the server sent so far, for a transport that was
    // (re)connected.
    void Reset();

private:
    template <class Parser> int Run(Parser& parser, TransferDeadline::Rule rule);
    int TimedOut(const TransferDeadline& deadline, std::chrono::steady_clock::time_point now);
    void DropPending();
    int Tagged(std::string_view expected, ImapReply& out, bool stopAtContinuation);
    void Capture(const char* data, std::size_t size);
    int Fail(int code, NetCategory category, const std::string& why);

    Transport& transport_;
    std::chrono::milliseconds timeout_;
    std::size_t maxBytes_ = Pop3ReplyParser::kDefaultMaxBytes;
    std::vector<char> receiveBuffer_;
    std::string pending_;
    std::size_t pendingPos_ = 0;
    std::string capture_;
    std::string lastResponse_;
    bool heardFromServer_ = false; // a byte came since Reset(): no more greeting to wait for
};
