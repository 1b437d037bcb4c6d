#pragma once

#include "checkresult.h"
#include "mailsocket.h"
#include "replyreader.h"
#include "transport.h"

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

// What the POP3 and IMAP4 clients share: the connection (a MailSocket the session owns, or a
// transport handed in by a test or fuzz target), its reply reader, and the check's report.
//
// The session counts the replies still owed: the greeting after Connect, and with every Send
// the number of replies its commands ask for; each complete reply read takes one. With
// pipelined commands a failed read leaves some owed, and then no later reply can be told
// apart from them: InStep() is false and the clients close without waiting for an answer.
//
// Threads: one check thread. Ownership: an injected transport must outlive the session.
class MailSession
{
public:
    // With `injected` null the session connects a MailSocket of its own; otherwise Connect
    // only checks that the injected transport is open (it stands for an established
    // connection, TLS included when the check asks for implicit TLS).
    explicit MailSession(Transport* injected = nullptr);
    MailSession(const MailSession&) = delete;
    MailSession& operator=(const MailSession&) = delete;

    // Connects, accepting only the certificate `pin` names when it is not empty
    // (MailSocket::SetPinnedCertificate); the greeting is then owed.
    bool Connect(const std::string& host, int port, std::chrono::milliseconds timeout,
                 bool implicitTls, const std::string& pin = {});
    // Sends commands that ask for `replies` replies. They are owed even when sending fails:
    // the server may have read a part.
    bool Send(std::string_view bytes, int replies);
    // The reader's calls (replyreader.h), each taking one owed reply when it read a complete
    // one (result 0 or 1). A continuation request leaves the command's completion owed.
    int ReadReply(Pop3ReplyParser::Kind kind, Pop3Reply& out);
    int ReadTagged(std::string_view expected, ImapReply& out);
    int ReadContinuation(std::string_view tag, ImapReply& out);
    // Upgrades to TLS; refused while a reply is owed (it would arrive through TLS unasked).
    bool StartTls();
    int Owed() const { return owed_; }
    bool InStep() const { return owed_ == 0; }
    // When the last Send went out.
    std::chrono::steady_clock::time_point LastSend() const { return lastSend_; }
    void Close();
    bool IsOpen() const { return transport_->IsOpen(); }
    std::string PeerName() const { return transport_->PeerName(); }

    ReplyReader& Reader() { return reader_; }
    CheckReport& Report() { return report_; }
    const CheckReport& Report() const { return report_; }
    const ReplyReader& Reader() const { return reader_; }

    // Records a failure from the thread's last network error; `what` says which step failed
    // ("USER failed"). Returns `result`.
    int Fail(int result, const std::string& what);
    // Records a failure the client itself detected (a policy, a malformed reply).
    int Fail(int result, NetCategory category, int code, const std::string& message);
    // A refusal, quoting the server's line as a user reads it:
    // "LOGIN failed, server replied: NO [AUTHENTICATIONFAILED] ...".
    int Refused(int result, const std::string& command, std::string_view serverLine);

private:
    std::unique_ptr<MailSocket> socket_;
    Transport* transport_;
    ReplyReader reader_;
    CheckReport report_;
    int owed_ = 0;
    std::chrono::steady_clock::time_point lastSend_{};
};

// True when a credential cannot go on a command line: CR or LF would end the command early
// and let the rest be read as a second command; NUL ends it on many servers.
bool HasLineBreak(std::string_view text);

// The first line of a server's text, bounded, with control bytes made visible, fit for a
// message a user reads.
std::string QuoteServerLine(std::string_view text);
