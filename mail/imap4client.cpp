#include "imap4client.h"

#include "bearersasl.h"
#include "deletingrules.h"
#include "filterrules.h"
#include "headertext.h"
#include "imapfetchresponse.h"
#include "tlspolicy.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <new>
#include <strings.h>

namespace
{

// The tags of the commands. Replies are read in the order the commands went out, each up to
// its own tag, so fixed tags cannot be mixed up even in a burst.
constexpr char kTagCapability[] = "A000";
constexpr char kTagLogin[] = "A001";
constexpr char kTagStartTls[] = "A002";
constexpr char kTagSelect[] = "A004";
constexpr char kTagFetch[] = "A007";
constexpr char kTagUids[] = "A008";
constexpr char kTagCapabilityAgain[] = "A009";
constexpr char kTagStore[] = "A012";
constexpr char kTagExpunge[] = "A013";
constexpr char kTagUidExpunge[] = "A014";
constexpr char kTagSeen[] = "A010";
constexpr char kTagMarkSeen[] = "A011";
constexpr char kTagLogout[] = "A088";

// One UID FETCH asks for as many messages as fit this many bytes by a typical header
// (4 KiB) plus the preview, at most 1 000, and its reply may take up to kFetchReplyCap: room
// for headers far longer than usual before the check fails with a clear "too large".
constexpr uint64_t kFetchBudget = 16u << 20;
constexpr uint64_t kHeaderEstimate = 4 * 1024;
constexpr std::size_t kFetchMaxUids = 1000;
constexpr std::size_t kFetchReplyCap = 64u << 20;
// At most 4 MiB of body text per message, whatever the account says.
constexpr int kMaxPreviewKilobytes = 4096;

std::chrono::milliseconds TimeoutOf(int seconds)
{
    return std::chrono::milliseconds(std::clamp(seconds, 1, 24 * 3600) * 1000LL);
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() &&
           ::strncasecmp(text.data(), prefix.data(), prefix.size()) == 0;
}

using BearerSasl::Base64;

// RFC 3501 section 9 sequence-set: ascending, runs written as "a:b".
std::string UidSet(std::vector<uint32_t> uids)
{
    std::sort(uids.begin(), uids.end());
    std::string set;
    for (std::size_t i = 0; i < uids.size();) {
        std::size_t j = i;
        while (j + 1 < uids.size() && uids[j + 1] == uids[j] + 1)
            ++j;
        if (!set.empty())
            set += ',';
        set += std::to_string(uids[i]);
        if (j > i)
            set += ':' + std::to_string(uids[j]);
        i = j + 1;
    }
    return set;
}

// The numbers of "* SEARCH" responses (RFC 3501 section 7.2.5). Only numbers count:
// anything else could never be fetched or stored safely.
std::vector<uint32_t> SearchResults(const ImapReply& search)
{
    std::vector<uint32_t> uids;
    for (const ImapResponse& response : search.responses) {
        std::string_view t = response.text;
        if (t.size() < 8 || ::strncasecmp(t.data(), "* SEARCH", 8) != 0)
            continue;
        std::size_t i = 8;
        while (i < t.size()) {
            std::size_t end = t.find(' ', i + 1);
            if (end == std::string_view::npos)
                end = t.size();
            std::string_view word = t.substr(i, end - i);
            while (!word.empty() && word.front() == ' ')
                word.remove_prefix(1);
            if (std::optional<uint32_t> uid = ParseImapNumber(word))
                uids.push_back(*uid);
            i = end;
        }
    }
    std::sort(uids.begin(), uids.end());
    uids.erase(std::unique(uids.begin(), uids.end()), uids.end());
    return uids;
}

// The mailbox's size after `reply`: `exists` moved by the reply's EXISTS and EXPUNGE responses
// (RFC 3501 section 7.4); SELECT's own size with 0, the size after the UID SEARCH with it.
uint64_t MessagesAfter(uint64_t exists, const ImapReply& reply)
{
    for (const ImapResponse& response : reply.responses) {
        const std::string& t = response.text;
        const std::size_t space = t.find(' ', 2);
        if (t.rfind("* ", 0) != 0 || space == std::string::npos)
            continue;
        const std::optional<uint32_t> n = ParseImapNumber(std::string_view(t).substr(2, space - 2));
        if (!n)
            continue;
        if (::strcasecmp(t.c_str() + space + 1, "EXISTS") == 0)
            exists = *n;
        else if (::strcasecmp(t.c_str() + space + 1, "EXPUNGE") == 0 && exists > 0)
            --exists;
    }
    return exists;
}

// "* OK [UIDVALIDITY n] ..." (RFC 3501 section 7.1); 0 when SELECT gave none.
uint32_t UidValidityOf(const ImapReply& select)
{
    constexpr std::string_view kCode = "[UIDVALIDITY ";
    for (const ImapResponse& response : select.responses) {
        const std::string_view t = response.text;
        if (!StartsWithNoCase(t, "* OK ") || !StartsWithNoCase(t.substr(5), kCode))
            continue;
        const std::string_view rest = t.substr(5 + kCode.size());
        const std::size_t end = rest.find(']');
        if (end == std::string_view::npos)
            continue;
        const std::optional<uint32_t> n = ParseImapNumber(rest.substr(0, end));
        if (n && *n != 0)
            return *n;
    }
    return 0;
}

void CapabilitiesOf(const ImapReply& reply, std::unordered_set<std::string>& caps, bool& found)
{
    for (const ImapResponse& r : reply.responses) {
        if (ParseImapCapabilities(r.text, caps))
            found = true;
    }
    if (ParseImapCapabilities(reply.statusText, caps))
        found = true;
}

} // namespace

Imap4Client::Imap4Client() : session_(nullptr)
{
}

Imap4Client::Imap4Client(Transport& connected) : session_(&connected)
{
}

Imap4Client::~Imap4Client()
{
    Finish();
}

void Imap4Client::SetFilter(Filter filter, bool mayDelete)
{
    filter_ = std::move(filter);
    filterMayDelete_ = mayDelete;
}

void Imap4Client::RememberCapabilities(std::vector<std::string> capabilities)
{
    remembered_.clear();
    for (std::string& c : capabilities)
        remembered_.insert(std::move(c));
}

const CheckReport& Imap4Client::Report() const
{
    return session_.Report();
}

const std::string& Imap4Client::LastResponse() const
{
    return session_.Reader().LastResponse();
}

CheckReport Imap4Client::CheckImap4Account(CheckSink& sink, const CheckRequest& request)
{
    session_.Report() = CheckReport{};
    errorText_.clear();
    learned_.clear();
    newCount_ = 0;
    deleted_ = false;
    timeout_ = TimeoutOf(request.timeOutSeconds);
    session_.Reader().SetTimeout(timeout_);
    int result;
    try {
        mayDelete_ = filter_ ? filterMayDelete_ : AnyRuleDeletesOnServer();
        result = Run(sink, request, std::clamp(request.preview, 0, kMaxPreviewKilobytes));
        if (result == kCheckDone && deleted_ && SendLogout()) {
            // As with POP3, a check that deleted ends with the server's answer to LOGOUT.
            ImapReply reply;
            session_.ReadTagged(kTagLogout, reply);
            session_.Close();
            connected_ = false;
        }
    } catch (const std::bad_alloc&) {
        result = session_.Fail(kCheckNoMemory, NetCategory::Failed, neterr::kNone,
                               "not enough memory for the message record");
    }
    if (result == kCheckDone)
        session_.Report() = CheckReport{};
    SendLogout();
    session_.Report().result = result;
    session_.Report().newCount = newCount_;
    return session_.Report();
}

// Sends "<tag> <command>" and reads up to its completion: 1 OK, 0 NO or BAD, -1 no complete
// reply (the conversation is then out of step).
int Imap4Client::Tagged(const std::string& tag, const std::string& command, ImapReply& reply)
{
    if (!session_.Send(tag + " " + command + "\r\n", 1))
        return -1;
    return session_.ReadTagged(tag, reply);
}

int Imap4Client::Fail(int result, const std::string& command, int rc, const ImapReply& reply)
{
    if (rc < 0)
        return session_.Fail(result, command + " failed");
    return session_.Refused(
        result, command,
        reply.taggedLine.empty()
            ? std::string_view("a negative untagged response")
            : std::string_view(reply.taggedLine)
                  .substr(std::min(reply.taggedLine.size(), reply.taggedLine.find(' ') + 1)));
}

bool Imap4Client::Capability()
{
    ImapReply reply;
    if (Tagged(kTagCapability, "CAPABILITY", reply) != 1)
        return false;
    bool found = false;
    capabilities_.clear();
    CapabilitiesOf(reply, capabilities_, found);
    Learn();
    return true;
}

void Imap4Client::Learn()
{
    learned_.assign(capabilities_.begin(), capabilities_.end());
    if (startTlsTaken_ && capabilities_.count("STARTTLS") == 0)
        learned_.push_back("STARTTLS");
    std::sort(learned_.begin(), learned_.end());
}

int Imap4Client::Run(CheckSink& sink, const CheckRequest& request, int preview)
{
    if (HasLineBreak(request.userName) || HasLineBreak(request.password))
        return session_.Fail(kCheckLoginRefused, NetCategory::Failed, neterr::kNone,
                             "the user name or password contains a line break and cannot be "
                             "sent to the server");

    const SecurityChoice choice =
        ConnectionSecurity(request.security, !request.pin.empty(), request.port, kImplicitTlsPort);
    bool capabilitiesKnown = false;
    int rc = Greet(request, choice, UsesImplicitTls(choice, request.port, kImplicitTlsPort),
                   capabilitiesKnown);
    if (rc != kCheckDone)
        return rc;

    // The message count comes from SELECT's EXISTS: RFC 3501 section 6.3.10 advises against
    // STATUS on the selected mailbox. The UID list is asked for in the same burst; UID SEARCH
    // is valid on an empty mailbox too, where "FETCH 1:*" is an error.
    ImapReply reply;
    ImapReply search;
    int r = -1;
    int s = -1;
    bool listed = false;
    const bool bearer = !request.saslMechanism.empty();
    if (!preauth_ && !bearer && !remembered_.empty() && LoginCommand(request)) {
        rc = LoginBurst(request, !capabilitiesKnown, reply, r, search, s);
        if (rc == kCheckDone)
            listed = true;
        else if (rc != -1)
            return rc;
        capabilitiesKnown = true; // the burst asked, or the greeting told
    }
    if (!listed) {
        if (!preauth_) {
            if (!capabilitiesKnown && !Capability())
                return Fail(kCheckFailed, "CAPABILITY", -1, ImapReply{});
            rc = bearer ? BearerLogin(request) : Login(request.userName, request.password);
            if (rc != kCheckDone)
                return rc;
        }
        session_.Send(
            std::string(kTagSelect) + " SELECT INBOX\r\n" + kTagUids + " UID SEARCH ALL\r\n", 2);
        r = session_.ReadTagged(kTagSelect, reply);
        s = r < 0 ? -1 : session_.ReadTagged(kTagUids, search);
    }
    if (r != 1)
        return Fail(kCheckFailed, "SELECT", r, reply);
    const uint64_t exists = MessagesAfter(0, reply);
    // A mailbox renumbered since the last check (RFC 3501 section 2.3.1.1): the UIDs known
    // here now name other messages. Reporting them all as new would store every message a
    // second time, and following read state by them would mark or remove the wrong ones, so
    // what is on the server is taken as seen, as for "only mail from now on".
    const uint32_t validity = UidValidityOf(reply);
    const bool renumbered =
        request.uidValidity != 0 && validity != 0 && validity != request.uidValidity;
    if (validity != 0 && request.uidValidityFound)
        request.uidValidityFound(validity);
    if (exists == 0 && (request.storedUids.empty() || renumbered))
        return kCheckDone;
    if (s != 1)
        return Fail(kCheckFailed, "UID SEARCH", s, search);

    // UIDs grow with arrival (RFC 3501 section 2.3.1.1), so ascending UID order is arrival
    // order.
    const std::vector<uint32_t> uids = SearchResults(search);
    if (!request.storedUids.empty() && !renumbered) {
        // A list shorter than the count the server itself gave (an empty SEARCH from a mailbox
        // that EXISTS says is full, seen on servers rebuilding their index) is no proof that
        // the stored messages are gone: removing them here would lose them for good.
        const bool listWhole = uids.size() >= MessagesAfter(exists, search);
        rc = FollowServer(sink, request, uids, listWhole);
        if (rc != kCheckDone)
            return rc;
    }
    if (request.recordExisting || renumbered) {
        // UID SEARCH ALL answered it all: no header is fetched. A renumbered mailbox's list
        // replaces the known one, whose UIDs name other messages now: so all of it, known or not.
        const bool all = renumbered && request.recordRenumbered;
        const auto& record = all ? request.recordRenumbered : request.recordExisting;
        if (!record)
            return kCheckDone;
        std::vector<std::string> existing;
        for (uint32_t uid : uids)
            if (all || request.knownUids.count(std::to_string(uid)) == 0)
                existing.push_back(std::to_string(uid));
        record(std::move(existing));
        return kCheckDone;
    }
    std::vector<uint32_t> fresh;
    for (auto it = uids.rbegin(); it != uids.rend(); ++it) {
        if (request.knownUids.count(std::to_string(*it)) == 0)
            fresh.push_back(*it);
    }
    if (fresh.empty())
        return kCheckDone;
    return Fetch(sink, fresh, request.account, preview);
}

int Imap4Client::Greet(const CheckRequest& request, SecurityChoice choice, bool implicitTls,
                       bool& capabilitiesKnown)
{
    connected_ = false;
    logoutSent_ = false;
    startTlsTaken_ = false;
    capabilities_.clear();
    if (!session_.Connect(request.server, request.port, timeout_, implicitTls, request.pin))
        return session_.Fail(kCheckCannotConnect, "");
    connected_ = true;

    // RFC 3501 section 7.1: the greeting is one untagged OK, PREAUTH or BYE.
    Pop3Reply greeting;
    if (session_.ReadReply(Pop3ReplyParser::Kind::SingleLine, greeting) < 0)
        return session_.Fail(kCheckCannotConnect, ""); // the reader's text says what happened
    const std::string& line = greeting.status;
    preauth_ = StartsWithNoCase(line, "* PREAUTH");
    if (!preauth_ && !StartsWithNoCase(line, "* OK"))
        return session_.Refused(kCheckCannotConnect, "connect to " + session_.PeerName(), line);
    if (preauth_ && choice == SecurityChoice::StartTls && !implicitTls) {
        // RFC 2595 section 3.1 allows STARTTLS only before authentication: a server that
        // logs us in at once leaves no way to TLS. Its answer to LOGOUT is not waited for.
        SendLogout();
        session_.Close();
        connected_ = false;
        FailLoginWithoutTls(session_.PeerName());
        return session_.Fail(kCheckCannotConnect, "");
    }
    capabilitiesKnown = ParseImapCapabilities(line, capabilities_);
    if (capabilitiesKnown)
        Learn();
    if (implicitTls || preauth_ || choice == SecurityChoice::None)
        return kCheckDone;

    // A remembered STARTTLS saves asking; a live list (in the greeting) always decides.
    if (!capabilitiesKnown && remembered_.count("STARTTLS") == 0) {
        if (!Capability())
            return Fail(kCheckFailed, "CAPABILITY", -1, ImapReply{});
        capabilitiesKnown = true;
    }
    if (capabilitiesKnown && capabilities_.count("STARTTLS") == 0) {
        if (choice == SecurityChoice::StartTls) {
            FailStartTlsMissing(session_.PeerName(), "STARTTLS");
            return session_.Fail(kCheckCannotConnect, "");
        }
        return kCheckDone;
    }
    ImapReply reply;
    int r = Tagged(kTagStartTls, "STARTTLS", reply);
    if (r < 0)
        return session_.Fail(kCheckCannotConnect, "STARTTLS failed");
    if (r == 0) {
        if (choice == SecurityChoice::StartTls) {
            FailStartTlsRefused(session_.PeerName(), "STARTTLS", reply.taggedLine);
            return session_.Fail(kCheckCannotConnect, "");
        }
        if (!capabilitiesKnown) {
            // Remembered wrongly: forget it and go on as with an unknown server.
            remembered_.clear();
            if (!Capability())
                return Fail(kCheckFailed, "CAPABILITY", -1, ImapReply{});
            capabilitiesKnown = true;
        }
        return kCheckDone;
    }
    if (!session_.StartTls()) {
        connected_ = false;
        return session_.Fail(kCheckCannotConnect, "");
    }
    startTlsTaken_ = true;
    // RFC 3501 section 6.2.1: capabilities (and anything else) learned before TLS are
    // discarded and asked again.
    capabilities_.clear();
    capabilitiesKnown = false;
    return kCheckDone;
}

// The login as one line, from the live capabilities when known, else the remembered ones;
// nothing when it needs the server's continuation (a synchronising literal, AUTHENTICATE
// without SASL-IR).
std::optional<std::string> Imap4Client::LoginCommand(const CheckRequest& request) const
{
    const std::unordered_set<std::string>& caps =
        capabilities_.empty() ? remembered_ : capabilities_;
    if (caps.count("LOGINDISABLED") != 0) {
        if (caps.count("SASL-IR") == 0)
            return std::nullopt;
        return "AUTHENTICATE PLAIN " +
               Base64(std::string(1, '\0') + request.userName + '\0' + request.password);
    }
    std::string command = "LOGIN";
    for (const std::string* value : {&request.userName, &request.password}) {
        if (std::optional<std::string> quoted = ImapQuoted(*value))
            command += " " + *quoted;
        else if (caps.count("LITERAL+") != 0)
            command += " {" + std::to_string(value->size()) + "+}\r\n" + *value;
        else
            return std::nullopt;
    }
    return command;
}

// [CAPABILITY,] LOGIN, SELECT and UID SEARCH in one burst. Answers -1 when the login was
// refused while the live capabilities ask for another way to log in than the remembered
// ones: the caller then logs in one step at a time.
int Imap4Client::LoginBurst(const CheckRequest& request, bool askCapabilities, ImapReply& select,
                            int& selected, ImapReply& search, int& searched)
{
    const std::optional<std::string> remembered = LoginCommand(request);
    const std::string command = remembered->rfind("AUTH", 0) == 0 ? "AUTHENTICATE" : "LOGIN";
    std::string bytes;
    int replies = 3;
    if (askCapabilities) {
        bytes += std::string(kTagCapability) + " CAPABILITY\r\n";
        ++replies;
    }
    bytes += std::string(kTagLogin) + " " + *remembered + "\r\n" + kTagSelect +
             " SELECT INBOX\r\n" + kTagUids + " UID SEARCH ALL\r\n";
    session_.Send(bytes, replies);

    if (askCapabilities) {
        ImapReply caps;
        int c = session_.ReadTagged(kTagCapability, caps);
        if (c < 0)
            return Fail(kCheckFailed, "CAPABILITY", -1, caps);
        bool found = false;
        capabilities_.clear();
        CapabilitiesOf(caps, capabilities_, found);
        Learn();
    }
    ImapReply login;
    int l = session_.ReadTagged(kTagLogin, login);
    selected = l < 0 ? -1 : session_.ReadTagged(kTagSelect, select);
    searched = selected < 0 ? -1 : session_.ReadTagged(kTagUids, search);
    if (l == 1 && login.status == ImapStatus::Ok)
        return TakeLogin(command, l, login);
    if (l >= 0 && searched >= 0 && LoginCommand(request) != remembered) {
        remembered_.clear();
        return -1;
    }
    return TakeLogin(command, l, login);
}

int Imap4Client::TakeLogin(const std::string& command, int r, const ImapReply& reply)
{
    if (r < 0)
        return session_.Fail(kCheckFailed, command + " failed");
    if (r == 0 || reply.status != ImapStatus::Ok)
        return Fail(kCheckLoginRefused, command, 0, reply);
    capabilitiesAfterLogin_ = false;
    std::unordered_set<std::string> caps;
    CapabilitiesOf(reply, caps, capabilitiesAfterLogin_);
    if (capabilitiesAfterLogin_)
        capabilities_ = std::move(caps);
    return kCheckDone;
}

int Imap4Client::Login(const std::string& user, const std::string& password)
{
    ImapReply reply;
    int r;
    std::string command;
    if (capabilities_.count("LOGINDISABLED") != 0) {
        // RFC 3501 section 6.2.3: LOGIN is off; SASL PLAIN (RFC 4616) carries the same
        // credentials, base64-encoded, so any byte is fine.
        command = "AUTHENTICATE";
        std::string response = Base64(std::string(1, '\0') + user + '\0' + password);
        if (capabilities_.count("SASL-IR") != 0) {
            r = Tagged(kTagLogin, "AUTHENTICATE PLAIN " + response, reply);
        } else if (!session_.Send(std::string(kTagLogin) + " AUTHENTICATE PLAIN\r\n", 1)) {
            r = -1;
        } else {
            r = session_.ReadContinuation(kTagLogin, reply);
            if (r == 1 && reply.continuation)
                r = session_.Send(response + "\r\n", 0) ? session_.ReadTagged(kTagLogin, reply)
                                                        : -1;
        }
    } else {
        // RFC 3501 section 9: astrings. Printable ASCII goes quoted; anything else as a
        // literal, non-synchronising where the server has LITERAL+ (RFC 7888).
        command = "LOGIN";
        bool literalPlus = capabilities_.count("LITERAL+") != 0;
        std::vector<std::string> pieces{std::string(kTagLogin) + " LOGIN"};
        for (const std::string* value : {&user, &password}) {
            if (std::optional<std::string> quoted = ImapQuoted(*value)) {
                pieces.back() += " " + *quoted;
            } else {
                pieces.back() +=
                    " {" + std::to_string(value->size()) + (literalPlus ? "+}\r\n" : "}\r\n");
                if (literalPlus)
                    pieces.back() += *value;
                else
                    pieces.push_back(*value);
            }
        }
        pieces.back() += "\r\n";
        r = 1;
        for (std::size_t i = 0; i < pieces.size() && r == 1; ++i) {
            // The command's completion is owed once, whichever piece it answers.
            if (!session_.Send(pieces[i], i == 0 ? 1 : 0)) {
                r = -1;
                break;
            }
            r = i + 1 < pieces.size() ? session_.ReadContinuation(kTagLogin, reply)
                                      : session_.ReadTagged(kTagLogin, reply);
            if (r == 1 && i + 1 < pieces.size() && !reply.continuation)
                break; // completed without asking for the literal
        }
    }
    return TakeLogin(command, r, reply);
}

// AUTHENTICATE with an OAuth 2.0 bearer token, never in a burst: a refused token is answered
// with a continuation (RFC 7628 section 3.2.2) that the next line would be taken to answer.
int Imap4Client::BearerLogin(const CheckRequest& request)
{
    const std::string mechanism = BearerSasl::Canonical(request.saslMechanism);
    if (mechanism.empty())
        return session_.Fail(kCheckLoginRefused, NetCategory::Failed, neterr::kNone,
                             "unknown sign-in mechanism \"" + request.saslMechanism + "\"");
    const std::string response = BearerSasl::InitialResponse(
        mechanism, request.userName, request.password, request.server, request.port);
    const std::string command = "AUTHENTICATE " + mechanism;
    ImapReply reply;
    int r;
    // RFC 4959: with SASL-IR the initial response goes with the command.
    if (capabilities_.count("SASL-IR") != 0) {
        r = session_.Send(std::string(kTagLogin) + " " + command + " " + response + "\r\n", 1)
                ? session_.ReadContinuation(kTagLogin, reply)
                : -1;
    } else {
        r = session_.Send(std::string(kTagLogin) + " " + command + "\r\n", 1)
                ? session_.ReadContinuation(kTagLogin, reply)
                : -1;
        if (r == 1 && reply.continuation)
            r = session_.Send(response + "\r\n", 0) ? session_.ReadContinuation(kTagLogin, reply)
                                                    : -1;
    }
    // A continuation now carries the server's error (JSON, base64): acknowledge it and read
    // the refusal.
    if (r == 1 && reply.continuation) {
        r = session_.Send(BearerSasl::AbortResponse(mechanism) + "\r\n", 0)
                ? session_.ReadTagged(kTagLogin, reply)
                : -1;
    }
    return TakeLogin(command, r, reply);
}

int Imap4Client::Fetch(CheckSink& sink, const std::vector<uint32_t>& fresh,
                       const std::string& accountName, int preview)
{
    const uint64_t previewBytes = static_cast<uint64_t>(preview) * 1024;
    const std::size_t perFetch = static_cast<std::size_t>(
        std::clamp<uint64_t>(kFetchBudget / (kHeaderEstimate + previewBytes), 1, kFetchMaxUids));
    // The whole header and the first bytes of the body text: a preview cut from the start of
    // the whole message would lose the Subject and From of a long header.
    std::string items = "(UID RFC822.SIZE BODY.PEEK[HEADER]";
    if (previewBytes > 0)
        items += " BODY.PEEK[TEXT]<0." + std::to_string(previewBytes) + ">";
    items += ")";

    MessageRecord record;
    for (std::size_t first = 0; first < fresh.size(); first += perFetch) {
        std::vector<uint32_t> chunk(
            fresh.begin() + static_cast<std::ptrdiff_t>(first),
            fresh.begin() + static_cast<std::ptrdiff_t>(std::min(fresh.size(), first + perFetch)));
        const std::string fetch =
            std::string(kTagFetch) + " UID FETCH " + UidSet(chunk) + " " + items + "\r\n";
        // Nothing after the last fetch can be needed when no rule deletes: LOGOUT rides along.
        const bool logoutNow = first + perFetch >= fresh.size() && !mayDelete_ && !deleted_;
        ImapReply reply;
        session_.Reader().SetMaxReplyBytes(kFetchReplyCap);
        int r = -1;
        if (session_.Send(logoutNow ? fetch + kTagLogout + " LOGOUT\r\n" : fetch,
                          logoutNow ? 2 : 1))
            r = session_.ReadTagged(kTagFetch, reply);
        logoutSent_ = logoutSent_ || logoutNow;
        session_.Reader().SetMaxReplyBytes(ImapReplyParser::kDefaultMaxBytes);
        if (r != 1) {
            errorText_ = previewBytes > 0 ? "Error occured during Retreiving mail body"
                                          : "Error occured during Retreiving mail header";
            return Fail(kCheckFailed, "UID FETCH", r, reply);
        }
        // A server may split one message's items over several responses (RFC 3501 section
        // 7.4.2); they are joined by UID.
        std::map<uint32_t, ImapFetchResponse> byUid;
        for (ImapResponse& response : reply.responses) {
            ImapFetchResponse parsed;
            if (!ImapFetchResponse::Parse(response, parsed) || !parsed.uid)
                continue;
            ImapFetchResponse& into = byUid[*parsed.uid];
            into.uid = parsed.uid;
            if (parsed.size)
                into.size = parsed.size;
            if (parsed.header)
                into.header = std::move(parsed.header);
            if (parsed.text)
                into.text = std::move(parsed.text);
        }
        reply = ImapReply{};

        for (uint32_t uid : chunk) {
            auto it = byUid.find(uid);
            if (it == byUid.end() || !it->second.header)
                continue; // expunged by another client meanwhile
            std::string text = std::move(*it->second.header);
            if (text.size() < 4 || text.compare(text.size() - 4, 4, "\r\n\r\n") != 0) {
                if (text.size() < 2 || text.compare(text.size() - 2, 2, "\r\n") != 0)
                    text += "\r\n";
                text += "\r\n";
            }
            if (it->second.text)
                text += *it->second.text;
            std::optional<uint64_t> size = it->second.size;
            byUid.erase(it);

            record = MessageRecord{};
            record.account = accountName;
            HeaderText(std::move(text)).Fill(record, size);
            record.uid = std::to_string(uid);
            int verdict = filter_ ? filter_(record.subject, record.sender)
                                  : EvaluateFilters(record.subject, record.sender);
            if (verdict == kFilterKeep) {
                sink.DeliverMessage(kRecordImap4, record);
                ++newCount_;
            } else if (verdict == kFilterDelete && !logoutSent_) {
                int rc = Delete(uid);
                if (rc != kCheckDone)
                    return rc;
            }
            // A delete verdict after LOGOUT went out (a rule added during the check) is left
            // to the next check: the message is neither shown nor remembered.
        }
    }
    return kCheckDone;
}

int Imap4Client::Delete(uint32_t uid)
{
    if (!capabilitiesAfterLogin_) {
        // UIDPLUS is often announced only after login (RFC 3501 section 6.1.1).
        ImapReply caps;
        int r = Tagged(kTagCapabilityAgain, "CAPABILITY", caps);
        if (r != 1)
            return Fail(kCheckFailed, "CAPABILITY", r, caps);
        capabilities_.clear();
        CapabilitiesOf(caps, capabilities_, capabilitiesAfterLogin_);
        capabilitiesAfterLogin_ = true;
    }
    deleted_ = true;
    // The UID is a number by construction (ImapFetchResponse), never a set such as "1:*".
    std::string id = std::to_string(uid);
    ImapReply reply;
    int r = Tagged(kTagStore, "UID STORE " + id + " +FLAGS (\\Deleted)", reply);
    if (r != 1)
        return Fail(kCheckFailed, "UID STORE", r, reply);
    // RFC 4315 section 2.1: UID EXPUNGE removes only this message; plain EXPUNGE would also
    // remove what another client marked deleted.
    if (capabilities_.count("UIDPLUS") != 0)
        r = Tagged(kTagUidExpunge, "UID EXPUNGE " + id, reply);
    else
        r = Tagged(kTagExpunge, "EXPUNGE", reply);
    if (r != 1)
        return Fail(kCheckFailed, "EXPUNGE", r, reply);
    return kCheckDone;
}

bool Imap4Client::SendLogout()
{
    if (!connected_ || !session_.IsOpen())
        return false;
    if (logoutSent_)
        return true;
    logoutSent_ = true;
    return session_.Send(std::string(kTagLogout) + " LOGOUT\r\n", 1);
}

void Imap4Client::Finish()
{
    if (!connected_)
        return;
    SendLogout();
    // Out of step (a reply not read), LOGOUT's completion might never be told apart.
    if (session_.IsOpen() && session_.Owed() == 1) {
        const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - session_.LastSend());
        if (spent < timeout_) {
            session_.Reader().SetTimeout(timeout_ - spent);
            ImapReply reply;
            session_.ReadTagged(kTagLogout, reply);
            session_.Reader().SetTimeout(timeout_);
        }
    }
    session_.Close();
    connected_ = false;
}

// Read state that follows the server: one UID SEARCH SEEN lists what the server has marked
// read, so an unchanged mailbox costs one short command. Stored messages the server no
// longer lists are gone (deleted or moved elsewhere); with the account's option, messages
// read here and unseen there get \Seen (RFC 3501 section 6.4.6, +FLAGS.SILENT: no FETCH
// back). A refused STORE is left for the next check: it loses nothing.
int Imap4Client::FollowServer(CheckSink& sink, const CheckRequest& request,
                              const std::vector<uint32_t>& onServer, bool listWhole)
{
    ImapReply reply;
    int r = Tagged(kTagSeen, "UID SEARCH SEEN", reply);
    if (r < 0)
        return Fail(kCheckFailed, "UID SEARCH SEEN", r, reply);
    if (r == 0)
        return kCheckDone; // no read state to follow; the rest of the check goes on
    const std::vector<uint32_t> seenList = SearchResults(reply);
    const std::unordered_set<uint32_t> seen(seenList.begin(), seenList.end());
    const std::unordered_set<uint32_t> present(onServer.begin(), onServer.end());
    std::vector<std::string> nowSeen;
    std::vector<std::string> gone;
    std::vector<uint32_t> markSeen;
    for (const std::string& stored : request.storedUids) {
        std::optional<uint32_t> uid = ParseImapNumber(stored);
        if (!uid || std::to_string(*uid) != stored)
            continue; // not a UID this client stored
        const bool readHere = request.readUids.count(stored) != 0;
        if (present.count(*uid) == 0) {
            if (listWhole)
                gone.push_back(stored);
        } else if (seen.count(*uid) != 0 && !readHere)
            nowSeen.push_back(stored);
        else if (seen.count(*uid) == 0 && readHere && request.markReadOnServer)
            markSeen.push_back(*uid);
    }
    std::sort(nowSeen.begin(), nowSeen.end());
    std::sort(gone.begin(), gone.end());
    if (!nowSeen.empty() || !gone.empty())
        sink.ServerState(request.account, nowSeen, gone);
    if (!markSeen.empty()) {
        r = Tagged(kTagMarkSeen, "UID STORE " + UidSet(markSeen) + " +FLAGS.SILENT (\\Seen)",
                   reply);
        if (r < 0)
            return Fail(kCheckFailed, "UID STORE", r, reply);
    }
    return kCheckDone;
}
