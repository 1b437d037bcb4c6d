#pragma once

#include "checkresult.h"
#include "checksink.h"
#include "mailsession.h"
#include "securitychoice.h"

#include <functional>
#include <string>
#include <string_view>
#include <unordered_set>

class Transport;

// Checks the inbox of one POP3 account (RFC 1939, RFC 2449 CAPA and PIPELINING, RFC 2595
// STLS): logs in, lists the unique identifiers, takes those not in the known set newest
// first, fetches each one's header and first body lines with TOP, parses, decodes and
// filters it, delivers kept messages to the sink (kind 1) and deletes on the server what a
// rule says to delete.
//
// Result codes (checkresult.h): 0 no memory; 1 a failure after login (network, time-out, a
// negative reply to NOOP, STAT, UIDL, LIST, TOP or DELE); 2 USER or PASS refused, or
// credentials holding CR, LF or NUL (refused before anything is sent); 3 no connection
// (look-up, connect, greeting, TLS, or a required TLS the server does not give); 4 done,
// also for an empty mailbox or nothing new. Report() adds the category and a message.
//
// Threads: one client serves one check of one account on the check's thread; the sink is
// called on that thread. The destructor sends QUIT while the connection is open, so the
// server always gets one.
class Pop3Client
{
public:
    // A filter: the verdict for a decoded subject and sender (filterrules.h: 0 keep,
    // 1 delete on the server, 2 hide). The default is EvaluateFilters.
    using Filter = std::function<int(const std::string& subject, const std::string& sender)>;

    static constexpr int kImplicitTlsPort = 995;

    Pop3Client();
    // Over an already open transport (tests, fuzzing); it must outlive the client.
    explicit Pop3Client(Transport& connected);
    ~Pop3Client();
    Pop3Client(const Pop3Client&) = delete;
    Pop3Client& operator=(const Pop3Client&) = delete;

    void SetFilter(Filter filter) { filter_ = std::move(filter); }

    // One check. `preview` is the number of body lines fetched with each header (account key
    // "Priview="; negative counts as 0). `newCount` is incremented for each delivered message.
    // `security` is the account's "Security=" text ("", "None", "STARTTLS", "TLS").
    int CheckPop3Account(CheckSink& sink, const std::string& server, const std::string& user,
                         const std::string& password, int port,
                         const std::unordered_set<std::string>& knownUids,
                         const std::string& accountName, int& newCount, int timeoutSeconds,
                         int preview, std::string_view security = {});

    const CheckReport& Report() const;
    // The text of the last reply that failed.
    const std::string& LastResponse() const;

private:
    struct Listing;

    int Run(CheckSink& sink, const std::string& server, const std::string& user,
            const std::string& password, int port, const std::unordered_set<std::string>& known,
            const std::string& accountName, int& newCount, int preview, std::string_view security);
    int Greet(const std::string& server, int port, SecurityChoice choice);
    bool Capabilities();
    int Login(const std::string& user, const std::string& password);
    int Command(const std::string& line, Pop3ReplyParser::Kind kind, Pop3Reply& reply,
                const char* name);
    int Fetch(CheckSink& sink, Listing& listing, const std::string& accountName, int& newCount,
              int preview);
    void Quit();

    MailSession session_;
    Filter filter_;
    std::unordered_set<std::string> capabilities_;
    bool connected_ = false; // QUIT is due
    bool inStep_ = false;    // every reply sent for has been read
};
