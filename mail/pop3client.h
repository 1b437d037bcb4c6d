#pragma once

#include "checkrequest.h"
#include "checkresult.h"
#include "checksink.h"
#include "mailsession.h"
#include "securitychoice.h"

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

class Transport;

// Checks the inbox of one POP3 account (RFC 1939, RFC 2449 CAPA and PIPELINING, RFC 2595
// STLS): logs in, lists the unique identifiers, takes those not in the known set newest
// first, fetches each one's header and first body lines with TOP, parses, decodes and
// filters it, delivers kept messages to the sink (kind 1) and deletes on the server what a
// rule says to delete. A request with `recordExisting` ends after UIDL: the unknown
// identifiers go to it and nothing is fetched, delivered or deleted.
//
// Result codes (checkresult.h): 0 no memory; 1 a failure after login (network, time-out, a
// negative reply to NOOP, STAT, UIDL, LIST, TOP or DELE, or no +OK to the QUIT that commits
// deletions); 2 USER or PASS refused, or credentials holding CR, LF or NUL (refused before
// anything is sent); 3 no connection (look-up, connect, greeting, TLS, or a required TLS the
// server does not give); 4 done, also for an empty mailbox or nothing new.
//
// Round trips: with the server's capabilities remembered from the last check and PIPELINING
// among them, CAPA, USER, PASS, STAT and UIDL go out in one burst after the greeting (after
// STLS and the handshake when TLS is started), and LIST with every TOP in the next. When no
// filter rule can delete, QUIT goes out with the last TOP and the result is final once the
// last TOP reply is read; Finish (or the destructor) then waits for QUIT's answer at most the
// rest of the time-out. When DELE was sent, the check waits for QUIT's +OK, which commits
// the deletions (RFC 1939 section 6).
//
// Remembered capabilities are never trusted for security: TLS requirements come from the
// account; a remembered STLS only saves the CAPA before it, and credentials still wait for
// the server's go-ahead and a verified handshake; an account that may use STLS but has none
// remembered asks CAPA before any credential. The live CAPA answer is checked: when it lacks
// PIPELINING the rest of the check goes one command at a time.
//
// Threads: one client serves one check of one account on the check's thread; the sink is
// called on that thread.
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
    // Finish().
    ~Pop3Client();
    Pop3Client(const Pop3Client&) = delete;
    Pop3Client& operator=(const Pop3Client&) = delete;

    // `mayDelete` false promises that `filter` never answers 1, which lets QUIT go out with
    // the last TOP. A delete verdict after that is not carried out (the message is neither
    // shown nor remembered, so the next check deletes it).
    void SetFilter(Filter filter, bool mayDelete = true);
    // The capabilities LearnedCapabilities() gave at the account's last check.
    void RememberCapabilities(std::vector<std::string> capabilities);

    // One check. The preview is the number of body lines fetched with each header (negative
    // counts as 0).
    CheckReport CheckPop3Account(CheckSink& sink, const CheckRequest& request);

    // Waits for the answer to QUIT when it is the only reply owed, at most what is left of
    // the time-out since QUIT went out; sends QUIT first when it is due; closes.
    void Finish();

    // What the server announced in this check, for RememberCapabilities next time: the CAPA
    // answer of the session that logged in, with "STLS" added when STLS was taken. Empty when
    // the server answered no CAPA.
    const std::vector<std::string>& LearnedCapabilities() const { return learned_; }
    const CheckReport& Report() const;
    // The text of the last reply that failed.
    const std::string& LastResponse() const;

private:
    struct Listing;

    int Run(CheckSink& sink, const CheckRequest& request, int preview);
    int Greet(const CheckRequest& request, bool implicitTls);
    int Secure(SecurityChoice choice, bool implicitTls, bool& capabilitiesKnown);
    bool Capabilities();
    int BearerAuth(const CheckRequest& request);
    void TakeCapabilities(const Pop3Reply& capa);
    int LoginAndList(const CheckRequest& request, bool askCapabilities, Pop3Reply& stat,
                     Pop3Reply& uidl, unsigned long long& count);
    int Command(const std::string& line, Pop3ReplyParser::Kind kind, Pop3Reply& reply,
                const char* name);
    int Fetch(CheckSink& sink, Listing& listing, const std::string& accountName, int preview);
    int ConfirmDeletions();
    bool SendQuit();

    MailSession session_;
    Filter filter_;
    bool filterMayDelete_ = true;
    bool mayDelete_ = true; // for the check in hand
    std::unordered_set<std::string> remembered_;
    std::unordered_set<std::string> capabilities_;
    std::vector<std::string> learned_;
    bool stlsTaken_ = false;
    bool pipelining_ = false;
    int newCount_ = 0;
    bool connected_ = false; // QUIT is due
    bool quitSent_ = false;
    bool deleted_ = false; // DELE went out: only QUIT's +OK commits it
    std::chrono::milliseconds timeout_{1000};
};
