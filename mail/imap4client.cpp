#include "imap4client.h"

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

// The tags of the commands. Each command is answered before the next is sent, so fixed tags
// cannot be mixed up.
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

std::string Base64(std::string_view bytes)
{
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16 |
                     static_cast<unsigned char>(bytes[i + 1]) << 8 |
                     static_cast<unsigned char>(bytes[i + 2]);
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kAlphabet[v & 63];
    }
    if (i < bytes.size()) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size())
            v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += i + 1 < bytes.size() ? kAlphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

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
    Logout();
}

const CheckReport& Imap4Client::Report() const
{
    return session_.Report();
}

const std::string& Imap4Client::LastResponse() const
{
    return session_.Reader().LastResponse();
}

int Imap4Client::CheckImap4Account(CheckSink& sink, const std::string& server,
                                   const std::string& user, const std::string& password, int port,
                                   const std::unordered_set<std::string>& knownUids,
                                   const std::string& accountName, int& newCount,
                                   int timeoutSeconds, int preview, std::string_view security)
{
    session_.Report() = CheckReport{};
    errorText_.clear();
    session_.Reader().SetTimeout(TimeoutOf(timeoutSeconds));
    int result;
    try {
        result = Run(sink, server, user, password, port, knownUids, accountName, newCount,
                     std::clamp(preview, 0, kMaxPreviewKilobytes), security);
    } catch (const std::bad_alloc&) {
        inStep_ = false;
        result = session_.Fail(kCheckNoMemory, NetCategory::Failed, neterr::kNone,
                               "not enough memory for the message record");
    }
    if (result == kCheckDone)
        session_.Report() = CheckReport{};
    Logout();
    session_.Report().result = result;
    return result;
}

// Sends "<tag> <command>" and reads up to its completion: 1 OK, 0 NO or BAD, -1 no complete
// reply (the conversation is then out of step).
int Imap4Client::Tagged(const std::string& tag, const std::string& command, ImapReply& reply)
{
    if (!session_.Send(tag + " " + command + "\r\n")) {
        inStep_ = false;
        return -1;
    }
    int r = session_.Reader().ReadTagged(tag, reply);
    if (r < 0)
        inStep_ = false;
    return r;
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
    return true;
}

int Imap4Client::Run(CheckSink& sink, const std::string& server, const std::string& user,
                     const std::string& password, int port,
                     const std::unordered_set<std::string>& known, const std::string& accountName,
                     int& newCount, int preview, std::string_view security)
{
    if (HasLineBreak(user) || HasLineBreak(password))
        return session_.Fail(kCheckLoginRefused, NetCategory::Failed, neterr::kNone,
                             "the user name or password contains a line break and cannot be "
                             "sent to the server");

    int rc = Greet(server, port, ParseSecurityChoice(security));
    if (rc != kCheckDone)
        return rc;
    if (!preauth_) {
        rc = Login(user, password);
        if (rc != kCheckDone)
            return rc;
    }

    // The message count comes from SELECT's EXISTS: RFC 3501 section 6.3.10 advises against
    // STATUS on the selected mailbox. The UID list is asked for in the same burst; UID SEARCH
    // is valid on an empty mailbox too, where "FETCH 1:*" is an error.
    if (!session_.Send(std::string(kTagSelect) + " SELECT INBOX\r\n" + kTagUids +
                       " UID SEARCH ALL\r\n")) {
        inStep_ = false;
        return session_.Fail(kCheckFailed, "SELECT failed");
    }
    ImapReply reply;
    ImapReply search;
    int r = session_.Reader().ReadTagged(kTagSelect, reply);
    int s = r < 0 ? -1 : session_.Reader().ReadTagged(kTagUids, search);
    if (r < 0 || s < 0)
        inStep_ = false;
    if (r != 1)
        return Fail(kCheckFailed, "SELECT", r, reply);
    uint64_t exists = 0;
    for (const ImapResponse& response : reply.responses) {
        const std::string& t = response.text;
        std::size_t space = t.find(' ', 2);
        if (t.rfind("* ", 0) == 0 && space != std::string::npos &&
            ::strcasecmp(t.c_str() + space + 1, "EXISTS") == 0) {
            std::optional<uint32_t> n = ParseImapNumber(std::string_view(t).substr(2, space - 2));
            exists = n ? *n : 0;
        }
    }
    if (exists == 0)
        return kCheckDone;
    if (s != 1)
        return Fail(kCheckFailed, "UID SEARCH", s, search);

    // UIDs grow with arrival (RFC 3501 section 2.3.1.1), so ascending UID order is arrival
    // order. Only numbers count: anything else could never be fetched or stored safely.
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
    std::vector<uint32_t> fresh;
    for (auto it = uids.rbegin(); it != uids.rend(); ++it) {
        if (known.count(std::to_string(*it)) == 0)
            fresh.push_back(*it);
    }
    if (fresh.empty())
        return kCheckDone;
    return Fetch(sink, fresh, accountName, newCount, preview);
}

int Imap4Client::Greet(const std::string& server, int port, SecurityChoice choice)
{
    bool implicitTls = UsesImplicitTls(choice, port, kImplicitTlsPort);
    if (!session_.Connect(server, port, session_.Reader().Timeout(), implicitTls))
        return session_.Fail(kCheckCannotConnect, "");
    connected_ = true;
    inStep_ = true;

    // RFC 3501 section 7.1: the greeting is one untagged OK, PREAUTH or BYE.
    Pop3Reply greeting;
    if (session_.Reader().ReadReply(Pop3ReplyParser::Kind::SingleLine, greeting) < 0) {
        inStep_ = false;
        return session_.Fail(kCheckCannotConnect, "");
    }
    const std::string& line = greeting.status;
    preauth_ = StartsWithNoCase(line, "* PREAUTH");
    if (!preauth_ && !StartsWithNoCase(line, "* OK"))
        return session_.Refused(kCheckCannotConnect, "connect to " + session_.PeerName(), line);
    if (preauth_ && choice == SecurityChoice::StartTls && !implicitTls) {
        // RFC 2595 section 3.1 allows STARTTLS only before authentication: a server that
        // logs us in at once leaves no way to TLS.
        inStep_ = false;
        FailLoginWithoutTls(session_.PeerName());
        return session_.Fail(kCheckCannotConnect, "");
    }
    capabilities_.clear();
    bool found = ParseImapCapabilities(line, capabilities_);
    if (!found && !Capability())
        return Fail(kCheckFailed, "CAPABILITY", -1, ImapReply{});
    if (implicitTls || preauth_ || choice == SecurityChoice::None)
        return kCheckDone;

    if (capabilities_.count("STARTTLS") == 0) {
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
        return kCheckDone;
    }
    if (!session_.Reader().StartTls()) {
        inStep_ = false;
        connected_ = false;
        return session_.Fail(kCheckCannotConnect, "");
    }
    // RFC 3501 section 6.2.1: capabilities (and anything else) learned before TLS are
    // discarded and asked again.
    if (!Capability())
        return Fail(kCheckFailed, "CAPABILITY", -1, ImapReply{});
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
        } else {
            if (!session_.Send(std::string(kTagLogin) + " AUTHENTICATE PLAIN\r\n")) {
                inStep_ = false;
                r = -1;
            } else {
                r = session_.Reader().ReadContinuation(kTagLogin, reply);
                if (r < 0)
                    inStep_ = false;
                if (r == 1 && reply.continuation) {
                    if (!session_.Send(response + "\r\n")) {
                        inStep_ = false;
                        r = -1;
                    } else {
                        r = session_.Reader().ReadTagged(kTagLogin, reply);
                        if (r < 0)
                            inStep_ = false;
                    }
                }
            }
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
            if (!session_.Send(pieces[i])) {
                inStep_ = false;
                r = -1;
                break;
            }
            r = i + 1 < pieces.size() ? session_.Reader().ReadContinuation(kTagLogin, reply)
                                      : session_.Reader().ReadTagged(kTagLogin, reply);
            if (r < 0)
                inStep_ = false;
            if (r == 1 && i + 1 < pieces.size() && !reply.continuation)
                break; // completed without asking for the literal
        }
    }
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

int Imap4Client::Fetch(CheckSink& sink, const std::vector<uint32_t>& fresh,
                       const std::string& accountName, int& newCount, int preview)
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
        ImapReply reply;
        session_.Reader().SetMaxReplyBytes(kFetchReplyCap);
        int r = Tagged(kTagFetch, "UID FETCH " + UidSet(chunk) + " " + items, reply);
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
            ImapFetchResponse fetch;
            if (!ImapFetchResponse::Parse(response, fetch) || !fetch.uid)
                continue;
            ImapFetchResponse& into = byUid[*fetch.uid];
            into.uid = fetch.uid;
            if (fetch.size)
                into.size = fetch.size;
            if (fetch.header)
                into.header = std::move(fetch.header);
            if (fetch.text)
                into.text = std::move(fetch.text);
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
                ++newCount;
            } else if (verdict == kFilterDelete) {
                int rc = Delete(uid);
                if (rc != kCheckDone)
                    return rc;
            }
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

void Imap4Client::Logout()
{
    if (connected_ && session_.IsOpen()) {
        if (session_.Send(std::string(kTagLogout) + " LOGOUT\r\n") && inStep_) {
            ImapReply reply;
            session_.Reader().ReadTagged(kTagLogout, reply);
        }
    }
    if (connected_)
        session_.Close();
    connected_ = false;
    inStep_ = false;
}
