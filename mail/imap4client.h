#pragma once

#include "checkrequest.h"
#include "checkresult.h"
#include "checksink.h"
#include "mailsession.h"
#include "securitychoice.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

class Transport;
struct ImapReply;

// Checks the INBOX of one IMAP4 account (RFC 3501; RFC 2595 STARTTLS; RFC 4315 UIDPLUS;
// RFC 7888 LITERAL+; RFC 4959 SASL-IR): logs in, lists the UIDs, takes those not in the
// known set newest first, fetches size, header and the start of the body text of many of
// them in one UID FETCH (BODY.PEEK, so the seen flag stays as it was), parses, decodes and
// filters each, delivers kept messages to the sink (kind 2), and deletes on the server what
// a rule says to delete (UID STORE, then UID EXPUNGE of exactly that UID, or EXPUNGE when
// the server lacks UIDPLUS). With stored messages in the request it also follows the
// server's read state: UID SEARCH SEEN, the changes to the sink (ServerState), and with
// the account's option UID STORE +FLAGS.SILENT (\Seen) for messages read here. A request
// with `recordExisting` ends after UID SEARCH ALL: the unknown UIDs go to it and nothing is
// fetched, delivered or deleted. So does a check whose SELECT gives another UIDVALIDITY than
// the request's (the mailbox was renumbered): it follows no read state, and every UID on the
// server goes to `recordRenumbered`.
//
// Result codes (checkresult.h): 0 no memory; 1 a failure after connecting (CAPABILITY,
// SELECT, FETCH, STORE, EXPUNGE, network or time-out); 2 LOGIN / AUTHENTICATE refused, or
// credentials holding CR, LF or NUL (refused before anything is sent); 3 no connection
// (look-up, connect, greeting, TLS, a required TLS the server does not give, PREAUTH while
// TLS is required); 4 done, also for an empty inbox or nothing new.
//
// Round trips: on a server whose capabilities are remembered from the last check, LOGIN (or
// AUTHENTICATE PLAIN with an initial response), SELECT and UID SEARCH go out in one burst
// (RFC 3501 section 5.5), with CAPABILITY ahead of them when the greeting did not carry the
// capabilities; on an unknown server LOGIN is answered first. When no filter rule can delete,
// LOGOUT goes out with the last UID FETCH and the result is final once that fetch is read;
// Finish (or the destructor) then waits for LOGOUT's answer at most the rest of the time-out.
//
// Remembered capabilities are never trusted for security: TLS requirements come from the
// account; a remembered STARTTLS only saves asking CAPABILITY before it, and credentials
// still wait for the go-ahead and a verified handshake. The live capabilities are checked:
// when LOGIN was refused while they differ from the remembered ones on how to log in, the
// login is tried again one step at a time.
//
// Threads: one client serves one check on the check's thread; the sink is called on that
// thread.
class Imap4Client
{
public:
    using Filter = std::function<int(const std::string& subject, const std::string& sender)>;

    static constexpr int kImplicitTlsPort = 993;

    Imap4Client();
    // Over an already open transport (tests, fuzzing); it must outlive the client.
    explicit Imap4Client(Transport& connected);
    ~Imap4Client();
    Imap4Client(const Imap4Client&) = delete;
    Imap4Client& operator=(const Imap4Client&) = delete;

    // As Pop3Client::SetFilter: `mayDelete` false lets LOGOUT go out with the last fetch.
    void SetFilter(Filter filter, bool mayDelete = true);
    // The capabilities LearnedCapabilities() gave at the account's last check.
    void RememberCapabilities(std::vector<std::string> capabilities);

    // One check. The preview is kilobytes of body text fetched with each header.
    CheckReport CheckImap4Account(CheckSink& sink, const CheckRequest& request);

    // Waits for the answer to LOGOUT when it is the only reply owed, at most what is left of
    // the time-out since it went out; sends LOGOUT first when it is due; closes.
    void Finish();

    // What the server announced before login in this check (after TLS when TLS was started,
    // with "STARTTLS" added then), for RememberCapabilities next time; empty when unknown.
    const std::vector<std::string>& LearnedCapabilities() const { return learned_; }
    const CheckReport& Report() const;
    const std::string& LastResponse() const;
    // "Error occured during Retreiving mail header" (or "... body") after a fetch the server
    // refused; empty otherwise.
    const std::string& ErrorText() const { return errorText_; }

private:
    int Run(CheckSink& sink, const CheckRequest& request, int preview);
    int Greet(const CheckRequest& request, SecurityChoice choice, bool implicitTls,
              bool& capabilitiesKnown);
    int LoginBurst(const CheckRequest& request, bool askCapabilities, ImapReply& select,
                   int& selected, ImapReply& search, int& searched);
    std::optional<std::string> LoginCommand(const CheckRequest& request) const;
    int Login(const std::string& user, const std::string& password);
    int BearerLogin(const CheckRequest& request);
    int TakeLogin(const std::string& command, int r, const ImapReply& reply);
    int Tagged(const std::string& tag, const std::string& command, ImapReply& reply);
    int Fail(int result, const std::string& command, int rc, const ImapReply& reply);
    bool Capability();
    void Learn();
    int Fetch(CheckSink& sink, const std::vector<uint32_t>& fresh, const std::string& accountName,
              int preview);
    int Delete(uint32_t uid);
    int FollowServer(CheckSink& sink, const CheckRequest& request,
                     const std::vector<uint32_t>& onServer, bool listWhole);
    bool SendLogout();

    MailSession session_;
    Filter filter_;
    bool filterMayDelete_ = true;
    bool mayDelete_ = true;
    std::string errorText_;
    std::unordered_set<std::string> remembered_;
    std::unordered_set<std::string> capabilities_;
    std::vector<std::string> learned_;
    bool startTlsTaken_ = false;
    bool capabilitiesAfterLogin_ = false;
    bool preauth_ = false;
    int newCount_ = 0;
    bool connected_ = false;
    bool logoutSent_ = false;
    bool deleted_ = false;
    std::chrono::milliseconds timeout_{1000};
};
