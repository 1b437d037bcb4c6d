#include "pop3client.h"

#include "bearersasl.h"
#include "deletingrules.h"
#include "filterrules.h"
#include "headertext.h"
#include "tlspolicy.h"
#include "uidfile.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <deque>
#include <new>
#include <optional>
#include <unordered_map>
#include <vector>

using Kind = Pop3ReplyParser::Kind;

namespace
{

// Command bytes allowed in flight when pipelining (RFC 2449 section 6.6): about 2 500 TOP
// commands, so a usual check goes out in one burst. Well below what the kernel buffers hold
// on the two sides, so the server can always take all of them while its replies wait for
// us: sending never blocks on a server that blocks on us.
constexpr std::size_t kPipelineBudget = 32 * 1024;

std::chrono::milliseconds TimeoutOf(int seconds)
{
    return std::chrono::milliseconds(std::clamp(seconds, 1, 24 * 3600) * 1000LL);
}

std::vector<std::string_view> Words(std::string_view line)
{
    std::vector<std::string_view> words;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t')
            ++i;
        if (i > start)
            words.push_back(line.substr(start, i - start));
    }
    return words;
}

// A decimal number of at most 18 digits, nothing else.
std::optional<unsigned long long> Number(std::string_view word)
{
    if (word.empty() || word.size() > 18)
        return std::nullopt;
    unsigned long long value = 0;
    for (char c : word) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    return value;
}

// RFC 1939 section 7: a unique-id is 1 to 70 characters in the range 0x21 to 0x7E. Longer
// ones are tolerated up to what UID.inf can store; anything else could not be remembered and
// would be reported at every check, so it is skipped.
bool UsableUid(std::string_view uid)
{
    if (!IsStorableUid(uid))
        return false;
    return std::all_of(uid.begin(), uid.end(), [](char c) { return c >= 0x21 && c <= 0x7e; });
}

template <class F> void ForEachLine(const std::string& body, F&& f)
{
    std::size_t start = 0;
    while (start < body.size()) {
        std::size_t end = body.find('\n', start);
        if (end == std::string::npos)
            end = body.size();
        std::string_view line(body.data() + start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        f(line);
        start = end + 1;
    }
}

} // namespace

struct Pop3Client::Listing {
    struct Entry {
        unsigned long long number; // as printed on the UIDL line (RFC 1939 section 7)
        std::string uid;
    };
    std::vector<Entry> entries;     // in the order of the UIDL reply
    std::vector<std::size_t> fresh; // indexes into entries, newest first
    std::unordered_map<unsigned long long, unsigned long long> sizes; // number -> octets
};

Pop3Client::Pop3Client() : session_(nullptr)
{
}

Pop3Client::Pop3Client(Transport& connected) : session_(&connected)
{
}

Pop3Client::~Pop3Client()
{
    Finish();
}

void Pop3Client::SetFilter(Filter filter, bool mayDelete)
{
    filter_ = std::move(filter);
    filterMayDelete_ = mayDelete;
}

void Pop3Client::RememberCapabilities(std::vector<std::string> capabilities)
{
    remembered_.clear();
    for (std::string& c : capabilities)
        remembered_.insert(std::move(c));
}

const CheckReport& Pop3Client::Report() const
{
    return session_.Report();
}

const std::string& Pop3Client::LastResponse() const
{
    return session_.Reader().LastResponse();
}

CheckReport Pop3Client::CheckPop3Account(CheckSink& sink, const CheckRequest& request)
{
    session_.Report() = CheckReport{};
    learned_.clear();
    newCount_ = 0;
    deleted_ = false;
    timeout_ = TimeoutOf(request.timeOutSeconds);
    session_.Reader().SetTimeout(timeout_);
    int result;
    try {
        mayDelete_ = filter_ ? filterMayDelete_ : AnyRuleDeletesOnServer();
        result = Run(sink, request, std::max(request.preview, 0));
        if (result == kCheckDone && deleted_)
            result = ConfirmDeletions();
    } catch (const std::bad_alloc&) {
        result = session_.Fail(kCheckNoMemory, NetCategory::Failed, neterr::kNone,
                               "not enough memory for the message record");
    }
    if (result == kCheckDone)
        session_.Report() = CheckReport{};
    // Whatever QUIT's answer says, the result stands: Finish reads it.
    SendQuit();
    session_.Report().result = result;
    session_.Report().newCount = newCount_;
    return session_.Report();
}

int Pop3Client::Run(CheckSink& sink, const CheckRequest& request, int preview)
{
    // A line break in a credential would end USER or PASS early and send the rest as a
    // command of its own: refuse before anything goes out.
    if (HasLineBreak(request.userName) || HasLineBreak(request.password))
        return session_.Fail(kCheckLoginRefused, NetCategory::Failed, neterr::kNone,
                             "the user name or password contains a line break and cannot be "
                             "sent to the server");

    const SecurityChoice choice =
        ConnectionSecurity(request.security, !request.pin.empty(), request.port, kImplicitTlsPort);
    const bool implicitTls = UsesImplicitTls(choice, request.port, kImplicitTlsPort);
    int rc = Greet(request, implicitTls);
    if (rc != kCheckDone)
        return rc;
    bool capabilitiesKnown = false;
    rc = Secure(choice, implicitTls, capabilitiesKnown);
    if (rc != kCheckDone)
        return rc;

    // A server remembered with PIPELINING gets CAPA in the login burst; any other is asked
    // first, and its live answer decides.
    // A bearer token goes out alone (BearerAuth), so its CAPA is asked first too.
    const bool bearer = !request.saslMechanism.empty();
    const bool burstCapa = !bearer && !capabilitiesKnown && remembered_.count("PIPELINING") != 0;
    if (!capabilitiesKnown && !burstCapa && !Capabilities())
        return session_.Fail(kCheckCannotConnect, "CAPA failed");
    if (!burstCapa)
        pipelining_ = capabilities_.count("PIPELINING") != 0;
    else
        pipelining_ = true;

    Pop3Reply stat, uidl;
    unsigned long long count = 0;
    rc = LoginAndList(request, burstCapa, stat, uidl, count);
    if (rc != kCheckDone || count == 0)
        return rc;

    Listing listing;
    std::unordered_set<std::string> seen;
    ForEachLine(uidl.body, [&](std::string_view line) {
        std::vector<std::string_view> w = Words(line);
        if (w.size() < 2)
            return;
        std::optional<unsigned long long> number = Number(w[0]);
        if (!number || *number == 0 || *number > INT_MAX || !UsableUid(w[1]))
            return;
        std::string uid(w[1]);
        if (!seen.insert(uid).second)
            return; // a duplicate would be reported twice and stored twice
        listing.entries.push_back({*number, std::move(uid)});
    });

    if (request.recordExisting) {
        // One UIDL answers it all: no LIST, no TOP.
        std::vector<std::string> existing;
        for (const Listing::Entry& entry : listing.entries)
            if (request.knownUids.count(entry.uid) == 0)
                existing.push_back(entry.uid);
        request.recordExisting(std::move(existing));
        return kCheckDone;
    }

    // Newest first: the server lists in arrival order.
    for (std::size_t i = listing.entries.size(); i-- > 0;) {
        if (request.knownUids.count(listing.entries[i].uid) == 0)
            listing.fresh.push_back(i);
    }
    if (listing.fresh.empty())
        return kCheckDone;
    return Fetch(sink, listing, request.account, preview);
}

int Pop3Client::Greet(const CheckRequest& request, bool implicitTls)
{
    connected_ = false;
    quitSent_ = false;
    stlsTaken_ = false;
    capabilities_.clear();
    if (!session_.Connect(request.server, request.port, timeout_, implicitTls, request.pin))
        return session_.Fail(kCheckCannotConnect, "");
    connected_ = true;

    Pop3Reply greeting;
    int r = session_.ReadReply(Kind::SingleLine, greeting);
    if (r < 0)
        return session_.Fail(kCheckCannotConnect, ""); // the reader's text says what happened
    if (r == 0)
        return session_.Refused(kCheckCannotConnect, "connect to " + session_.PeerName(),
                                greeting.status);
    return kCheckDone;
}

// Makes the channel what the account asks for before any credential goes out.
// `capabilitiesKnown` tells whether the live CAPA of the channel that logs in was read.
int Pop3Client::Secure(SecurityChoice choice, bool implicitTls, bool& capabilitiesKnown)
{
    capabilitiesKnown = false;
    if (implicitTls || choice == SecurityChoice::None)
        return kCheckDone;

    if (remembered_.count("STLS") == 0) {
        if (!Capabilities())
            return session_.Fail(kCheckCannotConnect, "CAPA failed");
        capabilitiesKnown = true;
        if (capabilities_.count("STLS") == 0) {
            if (choice == SecurityChoice::StartTls) {
                FailStartTlsMissing(session_.PeerName(), "STLS");
                return session_.Fail(kCheckCannotConnect, "");
            }
            return kCheckDone; // an older server: plain text, as such accounts always had
        }
    }
    // Remembered or just offered: the go-ahead and the handshake are checked here, before
    // any credential.
    Pop3Reply go;
    int g = Command("STLS", Kind::SingleLine, go, nullptr);
    if (g < 0)
        return session_.Fail(kCheckCannotConnect, "STLS failed");
    if (g == 0) {
        if (choice == SecurityChoice::StartTls) {
            FailStartTlsRefused(session_.PeerName(), "STLS", go.status);
            return session_.Fail(kCheckCannotConnect, "");
        }
        if (!capabilitiesKnown) {
            // Remembered wrongly: forget it and go on as with an unknown server.
            remembered_.clear();
            if (!Capabilities())
                return session_.Fail(kCheckCannotConnect, "CAPA failed");
            capabilitiesKnown = true;
        }
        return kCheckDone;
    }
    if (!session_.StartTls()) {
        connected_ = false;
        return session_.Fail(kCheckCannotConnect, "");
    }
    stlsTaken_ = true;
    // RFC 2595 section 4: forget what the server said before TLS, ask again.
    capabilities_.clear();
    capabilitiesKnown = false;
    return kCheckDone;
}

// RFC 5034 AUTH with the bearer token as the initial response, one command on its own: a
// refused token is answered with a continuation ("+ " and the error in base64) that any
// pipelined command would be taken to answer.
int Pop3Client::BearerAuth(const CheckRequest& request)
{
    const std::string mechanism = BearerSasl::Canonical(request.saslMechanism);
    if (mechanism.empty())
        return session_.Fail(kCheckLoginRefused, NetCategory::Failed, neterr::kNone,
                             "unknown sign-in mechanism \"" + request.saslMechanism + "\"");
    const std::string name = "AUTH " + mechanism;
    Pop3Reply reply;
    int r = Command(name + " " +
                        BearerSasl::InitialResponse(mechanism, request.userName, request.password,
                                                    request.server, request.port),
                    Kind::SingleLine, reply, nullptr);
    if (r == 0 && reply.status.rfind('+', 0) == 0) {
        // The server's error as a continuation: acknowledge it, then read the refusal.
        if (!session_.Send(BearerSasl::AbortResponse(mechanism) + "\r\n", 1))
            return session_.Fail(kCheckFailed, name + " failed");
        r = session_.ReadReply(Kind::SingleLine, reply);
    }
    if (r < 0)
        return session_.Fail(kCheckFailed, name + " failed");
    if (r == 0)
        return session_.Refused(kCheckLoginRefused, name, reply.status);
    return kCheckDone;
}

bool Pop3Client::Capabilities()
{
    Pop3Reply capa;
    if (!session_.Send("CAPA\r\n", 1))
        return false;
    int r = session_.ReadReply(Kind::MultiLine, capa);
    if (r < 0)
        return false;
    TakeCapabilities(capa);
    return true;
}

void Pop3Client::TakeCapabilities(const Pop3Reply& capa)
{
    capabilities_.clear();
    learned_.clear();
    if (!capa.positive)
        return; // RFC 2449 section 5: a server without CAPA answers -ERR
    ForEachLine(capa.body, [&](std::string_view line) {
        std::vector<std::string_view> w = Words(line);
        if (w.empty())
            return;
        std::string name(w[0]);
        for (char& c : name)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        capabilities_.insert(std::move(name));
    });
    learned_.assign(capabilities_.begin(), capabilities_.end());
    if (stlsTaken_ && capabilities_.count("STLS") == 0)
        learned_.push_back("STLS");
    std::sort(learned_.begin(), learned_.end());
}

// USER, PASS, NOOP (or CAPA first instead), STAT and UIDL: in one burst with pipelining, else
// one at a time and UIDL only when there is mail. Every reply of a burst is read before the
// first failure is reported, so that the conversation stays in step for QUIT.
int Pop3Client::LoginAndList(const CheckRequest& request, bool askCapabilities, Pop3Reply& stat,
                             Pop3Reply& uidl, unsigned long long& count)
{
    enum Step { Capa, User, Pass, Noop, Stat, Uidl };
    struct Exchange {
        Step step;
        std::string line;
        Pop3Reply reply;
        int r = -1;
    };
    std::vector<Exchange> steps;
    if (!request.saslMechanism.empty()) {
        const int rc = BearerAuth(request);
        if (rc != kCheckDone)
            return rc;
    } else {
        if (askCapabilities)
            steps.push_back({Capa, "CAPA\r\n", {}});
        steps.push_back({User, "USER " + request.userName + "\r\n", {}});
        steps.push_back({Pass, "PASS " + request.password + "\r\n", {}});
        if (!askCapabilities)
            steps.push_back({Noop, "NOOP\r\n", {}});
    }
    steps.push_back({Stat, "STAT\r\n", {}});
    steps.push_back({Uidl, "UIDL\r\n", {}});
    static const char* const kNames[] = {"CAPA", "USER", "PASS", "NOOP", "STAT", "UIDL"};

    const bool burst = pipelining_;
    if (burst) {
        std::string bytes;
        for (const Exchange& e : steps)
            bytes += e.line;
        // A failed send is found by the first read.
        session_.Send(bytes, static_cast<int>(steps.size()));
    }
    auto readRest = [&](std::size_t from) {
        for (std::size_t j = from; burst && j < steps.size(); ++j) {
            Pop3Reply ignored;
            if (session_.ReadReply(steps[j].step == Uidl ? Kind::MultiLine : Kind::SingleLine,
                                   ignored) < 0)
                break;
        }
    };

    for (std::size_t i = 0; i < steps.size(); ++i) {
        Exchange& e = steps[i];
        const std::string name = kNames[e.step];
        if (!burst && !session_.Send(e.line, 1))
            return session_.Fail(e.step == Capa ? kCheckCannotConnect : kCheckFailed,
                                 name + " failed");
        const bool multi = e.step == Capa || e.step == Uidl;
        e.r = session_.ReadReply(multi ? Kind::MultiLine : Kind::SingleLine, e.reply);
        if (e.r < 0)
            return session_.Fail(e.step == Capa ? kCheckCannotConnect : kCheckFailed,
                                 name + " failed");
        switch (e.step) {
        case Capa:
            TakeCapabilities(e.reply);
            if (capabilities_.count("PIPELINING") == 0) {
                // The server no longer announces it: what is in flight is read, the rest
                // goes one command at a time, and the next check starts afresh.
                pipelining_ = false;
                remembered_.clear();
            }
            break;
        case User:
        case Pass:
            if (e.r == 0) {
                readRest(i + 1);
                return session_.Refused(kCheckLoginRefused, name, e.reply.status);
            }
            break;
        case Noop:
            if (e.r == 0) {
                readRest(i + 1);
                return session_.Refused(kCheckFailed, name, e.reply.status);
            }
            break;
        case Stat: {
            if (e.r == 0) {
                readRest(i + 1);
                return session_.Refused(kCheckFailed, name, e.reply.status);
            }
            // "+OK nn mm" (RFC 1939 section 5): the count is the first word after the status.
            std::vector<std::string_view> words = Words(e.reply.status);
            std::optional<unsigned long long> n =
                words.size() >= 2 ? Number(words[1]) : std::optional<unsigned long long>();
            if (!n) {
                readRest(i + 1);
                return session_.Fail(kCheckFailed, NetCategory::Protocol, neterr::kProtocol,
                                     "STAT failed: the server's reply holds no message count: " +
                                         QuoteServerLine(e.reply.status));
            }
            count = *n;
            stat = std::move(e.reply);
            if (count == 0 && !burst)
                return kCheckDone; // no UIDL for an empty mailbox
            break;
        }
        case Uidl:
            if (count == 0)
                return kCheckDone;
            if (e.r == 0)
                return session_.Refused(kCheckFailed, name, e.reply.status);
            uidl = std::move(e.reply);
            break;
        }
    }
    return kCheckDone;
}

// Sends one command and reads its reply. With a `name`, a failure is recorded as result 1
// under that name; without, the caller records it.
int Pop3Client::Command(const std::string& line, Kind kind, Pop3Reply& reply, const char* name)
{
    if (!session_.Send(line + "\r\n", 1)) {
        if (name != nullptr)
            session_.Fail(kCheckFailed, std::string(name) + " failed");
        return -1;
    }
    int r = session_.ReadReply(kind, reply);
    if (r < 0 && name != nullptr)
        session_.Fail(kCheckFailed, std::string(name) + " failed");
    if (r == 0 && name != nullptr)
        session_.Refused(kCheckFailed, name, reply.status);
    return r;
}

int Pop3Client::Fetch(CheckSink& sink, Listing& listing, const std::string& accountName,
                      int preview)
{
    struct Cmd {
        enum Kind { List, Top, Dele } kind;
        std::size_t entry = 0; // index into listing.entries
        std::string line;
    };
    auto format = [&](Cmd& c) {
        const auto& e = listing.entries[c.entry];
        if (c.kind == Cmd::List)
            c.line = "LIST\r\n";
        else if (c.kind == Cmd::Top)
            c.line = "TOP " + std::to_string(e.number) + " " + std::to_string(preview) + "\r\n";
        else
            c.line = "DELE " + std::to_string(e.number) + "\r\n";
    };

    std::deque<Cmd> toSend;
    toSend.push_back({Cmd::List, 0, {}});
    for (std::size_t index : listing.fresh)
        toSend.push_back({Cmd::Top, index, {}});

    // Without PIPELINING one command at a time, in the order of the dialogue; with it, the
    // same commands in the same order, refilled whenever half the budget has been answered.
    std::deque<Cmd> inFlight;
    std::size_t inFlightBytes = 0;
    MessageRecord record;

    while (!toSend.empty() || !inFlight.empty()) {
        bool refill = pipelining_ ? inFlightBytes <= kPipelineBudget / 2 : inFlight.empty();
        if (refill && !toSend.empty()) {
            std::string burst;
            int replies = 0;
            while (!toSend.empty() &&
                   (pipelining_ ? inFlightBytes + burst.size() < kPipelineBudget : burst.empty())) {
                Cmd c = std::move(toSend.front());
                toSend.pop_front();
                format(c);
                burst += c.line;
                ++replies;
                inFlight.push_back(std::move(c));
            }
            // QUIT rides along when nothing after this burst can be needed: no rule deletes
            // (with the last TOP), or every verdict is in (with the last DELE).
            const bool quitNow = pipelining_ && toSend.empty() &&
                                 ((!mayDelete_ && !deleted_) ||
                                  std::none_of(inFlight.begin(), inFlight.end(),
                                               [](const Cmd& c) { return c.kind == Cmd::Top; }));
            if (quitNow) {
                burst += "QUIT\r\n";
                ++replies;
                quitSent_ = true;
            }
            if (!session_.Send(burst, replies))
                return session_.Fail(kCheckFailed,
                                     "sending " + inFlight.back().line.substr(0, 4) + " failed");
            inFlightBytes += burst.size();
            if (quitNow)
                inFlightBytes -= 6;
        }

        Cmd c = std::move(inFlight.front());
        inFlight.pop_front();
        inFlightBytes -= c.line.size();
        std::string name = c.line.substr(0, c.line.size() - 2);
        Pop3Reply reply;
        int r = session_.ReadReply(c.kind == Cmd::Dele ? Kind::SingleLine : Kind::MultiLine, reply);
        if (r < 0)
            return session_.Fail(kCheckFailed, name + " failed");
        if (r == 0)
            return session_.Refused(kCheckFailed, name, reply.status);

        if (c.kind == Cmd::List) {
            ForEachLine(reply.body, [&](std::string_view line) {
                std::vector<std::string_view> w = Words(line);
                std::optional<unsigned long long> number, size;
                if (w.size() >= 2 && (number = Number(w[0])) && (size = Number(w[1])))
                    listing.sizes.emplace(*number, *size);
            });
            continue;
        }
        if (c.kind == Cmd::Dele)
            continue;

        const Listing::Entry& entry = listing.entries[c.entry];
        record = MessageRecord{};
        record.account = accountName;
        std::optional<uint64_t> size;
        if (auto it = listing.sizes.find(entry.number); it != listing.sizes.end())
            size = it->second;
        HeaderText(std::move(reply.body)).Fill(record, size);
        record.uid = entry.uid;
        int verdict = filter_ ? filter_(record.subject, record.sender)
                              : EvaluateFilters(record.subject, record.sender);
        if (verdict == kFilterKeep) {
            sink.DeliverMessage(kRecordPop3, record);
            ++newCount_;
        } else if (verdict == kFilterDelete && !quitSent_) {
            // Ahead of the TOPs not yet sent, so that without pipelining the order is that of
            // the dialogue: TOP, verdict, DELE, next TOP.
            toSend.push_front({Cmd::Dele, c.entry, {}});
            deleted_ = true;
        }
        // A delete verdict after QUIT went out (a rule added during the check) is left to
        // the next check: the message is neither shown nor remembered.
    }
    return kCheckDone;
}

// RFC 1939 section 6: the server removes the messages marked by DELE only when it answers
// QUIT with +OK, so the check is done only then. QUIT may have gone out with the last DELE.
int Pop3Client::ConfirmDeletions()
{
    if (!SendQuit())
        return session_.Fail(kCheckFailed, "QUIT failed");
    Pop3Reply reply;
    int r = session_.ReadReply(Kind::SingleLine, reply);
    if (r < 0)
        return session_.Fail(kCheckFailed, "QUIT failed");
    session_.Close();
    connected_ = false;
    if (r == 0)
        return session_.Refused(kCheckFailed, "QUIT", reply.status);
    return kCheckDone;
}

bool Pop3Client::SendQuit()
{
    if (!connected_ || !session_.IsOpen())
        return false;
    if (quitSent_)
        return true;
    quitSent_ = true;
    return session_.Send("QUIT\r\n", 1);
}

void Pop3Client::Finish()
{
    if (!connected_)
        return;
    SendQuit();
    // Out of step (a reply not read), the QUIT reply could not be told from the others.
    if (session_.IsOpen() && session_.Owed() == 1) {
        const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - session_.LastSend());
        if (spent < timeout_) {
            session_.Reader().SetTimeout(timeout_ - spent);
            Pop3Reply reply;
            session_.ReadReply(Kind::SingleLine, reply);
            session_.Reader().SetTimeout(timeout_);
        }
    }
    session_.Close();
    connected_ = false;
}
