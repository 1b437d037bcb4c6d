#pragma once

#include "checkresult.h"
#include "checksink.h"
#include "mailsession.h"
#include "securitychoice.h"

#include <cstdint>
#include <functional>
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
// the server lacks UIDPLUS).
//
// Result codes (checkresult.h): 0 no memory; 1 a failure after connecting (CAPABILITY,
// SELECT, FETCH, STORE, EXPUNGE, network or time-out); 2 LOGIN / AUTHENTICATE refused, or
// credentials holding CR, LF or NUL (refused before anything is sent); 3 no connection
// (look-up, connect, greeting, TLS, a required TLS the server does not give, PREAUTH while
// TLS is required); 4 done, also for an empty inbox or nothing new. Report() adds the
// category and a message.
//
// Threads: one client serves one check on the check's thread; the sink is called on that
// thread. The destructor sends LOGOUT while the connection is open.
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

    void SetFilter(Filter filter) { filter_ = std::move(filter); }

    // One check. `preview` is kilobytes of body text fetched with each header (account key
    // "Priview="; 0 or negative: the header only). Other arguments as for
    // Pop3Client::CheckPop3Account.
    int CheckImap4Account(CheckSink& sink, const std::string& server, const std::string& user,
                          const std::string& password, int port,
                          const std::unordered_set<std::string>& knownUids,
                          const std::string& accountName, int& newCount, int timeoutSeconds,
                          int preview, std::string_view security = {});

    const CheckReport& Report() const;
    const std::string& LastResponse() const;
    // "Error occured during Retreiving mail header" (or "... body") after a fetch the server
    // refused; empty otherwise.
    const std::string& ErrorText() const { return errorText_; }

private:
    int Run(CheckSink& sink, const std::string& server, const std::string& user,
            const std::string& password, int port, const std::unordered_set<std::string>& known,
            const std::string& accountName, int& newCount, int preview, std::string_view security);
    int Greet(const std::string& server, int port, SecurityChoice choice);
    int Login(const std::string& user, const std::string& password);
    int Tagged(const std::string& tag, const std::string& command, ImapReply& reply);
    int Fail(int result, const std::string& command, int rc, const ImapReply& reply);
    bool Capability();
    int Fetch(CheckSink& sink, const std::vector<uint32_t>& fresh, const std::string& accountName,
              int& newCount, int preview);
    int Delete(uint32_t uid);
    void Logout();

    MailSession session_;
    Filter filter_;
    std::string errorText_;
    std::unordered_set<std::string> capabilities_;
    bool capabilitiesAfterLogin_ = false;
    bool preauth_ = false;
    bool connected_ = false;
    bool inStep_ = false;
};
