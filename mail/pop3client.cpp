#include "pop3client.h"

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
    Quit();
}

const CheckReport& Pop3Client::Report() const
{
    return session_.Report();
}

const std::string& Pop3Client::LastResponse() const
{
    return session_.Reader().LastResponse();
}

int Pop3Client::CheckPop3Account(CheckSink& sink, const std::string& server,
                                 const std::string& user, const std::string& password, int port,
                                 const std::unordered_set<std::string>& knownUids,
                                 const std::string& accountName, int& newCount, int timeoutSeconds,
                                 int preview, std::string_view security)
{
    session_.Report() = CheckReport{};
    session_.Reader().SetTimeout(TimeoutOf(timeoutSeconds));
    int result;
    try {
        result = Run(sink, server, user, password, port, knownUids, accountName, newCount,
                     std::max(preview, 0), security);
    } catch (const std::bad_alloc&) {
        inStep_ = false;
        result = session_.Fail(kCheckNoMemory, NetCategory::Failed, neterr::kNone,
                               "not enough memory for the message record");
    }
    if (result == kCheckDone)
        session_.Report() = CheckReport{};
    Quit();
    session_.Report().result = result;
    return result;
}

int Pop3Client::Run(CheckSink& sink, const std::string& server, const std::string& user,
                    const std::string& password, int port,
                    const std::unordered_set<std::string>& known, const std::string& accountName,
                    int& newCount, int preview, std::string_view security)
{
    // A line break in a credential would end USER or PASS early and send the rest as a
    // command of its own: refuse before anything goes out.
    if (HasLineBreak(user) || HasLineBreak(password))
        return session_.Fail(kCheckLoginRefused, NetCategory::Failed, neterr::kNone,
                             "the user name or password contains a line break and cannot be "
                             "sent to the server");

    int rc = Greet(server, port, ParseSecurityChoice(security));
    if (rc != kCheckDone)
        return rc;
    rc = Login(user, password);
    if (rc != kCheckDone)
        return rc;

    // NOOP, STAT and UIDL; with PIPELINING in one burst (the UIDL reply of an empty mailbox is
    // then read and ignored), else one at a time and UIDL only when there is mail.
    const bool pipelining = capabilities_.count("PIPELINING") != 0;
    Pop3Reply noop, stat, uidl;
    if (pipelining) {
        if (!session_.Send("NOOP\r\nSTAT\r\nUIDL\r\n")) {
            inStep_ = false;
            return session_.Fail(kCheckFailed, "NOOP failed");
        }
        int r = session_.Reader().ReadReply(Kind::SingleLine, noop);
        if (r <= 0) {
            inStep_ = false;
            return r < 0 ? session_.Fail(kCheckFailed, "NOOP failed")
                         : session_.Refused(kCheckFailed, "NOOP", noop.status);
        }
        r = session_.Reader().ReadReply(Kind::SingleLine, stat);
        if (r <= 0) {
            inStep_ = false;
            return r < 0 ? session_.Fail(kCheckFailed, "STAT failed")
                         : session_.Refused(kCheckFailed, "STAT", stat.status);
        }
    } else {
        if (Command("NOOP", Kind::SingleLine, noop, "NOOP") != 1)
            return kCheckFailed;
        if (Command("STAT", Kind::SingleLine, stat, "STAT") != 1)
            return kCheckFailed;
    }
    // "+OK nn mm" (RFC 1939 section 5): the count is the first word after the status.
    std::vector<std::string_view> words = Words(stat.status);
    std::optional<unsigned long long> count =
        words.size() >= 2 ? Number(words[1]) : std::optional<unsigned long long>();
    if (!count) {
        inStep_ = inStep_ && !pipelining;
        return session_.Fail(kCheckFailed, NetCategory::Protocol, neterr::kProtocol,
                             "STAT failed: the server's reply holds no message count: " +
                                 QuoteServerLine(stat.status));
    }
    if (pipelining) {
        int r = session_.Reader().ReadReply(Kind::MultiLine, uidl);
        if (r < 0) {
            inStep_ = false;
            return session_.Fail(kCheckFailed, "UIDL failed");
        }
        if (*count == 0)
            return kCheckDone;
        if (r == 0)
            return session_.Refused(kCheckFailed, "UIDL", uidl.status);
    } else {
        if (*count == 0)
            return kCheckDone;
        if (Command("UIDL", Kind::MultiLine, uidl, "UIDL") != 1)
            return kCheckFailed;
    }

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

    // Newest first: the server lists in arrival order.
    for (std::size_t i = listing.entries.size(); i-- > 0;) {
        if (known.count(listing.entries[i].uid) == 0)
            listing.fresh.push_back(i);
    }
    if (listing.fresh.empty())
        return kCheckDone;
    return Fetch(sink, listing, accountName, newCount, preview);
}

int Pop3Client::Greet(const std::string& server, int port, SecurityChoice choice)
{
    bool implicitTls = UsesImplicitTls(choice, port, kImplicitTlsPort);
    if (!session_.Connect(server, port, session_.Reader().Timeout(), implicitTls))
        return session_.Fail(kCheckCannotConnect, "");
    connected_ = true;
    inStep_ = true;

    Pop3Reply greeting;
    int r = session_.Reader().ReadReply(Kind::SingleLine, greeting);
    if (r < 0) {
        inStep_ = false;
        return session_.Fail(kCheckCannotConnect, "");
    }
    if (r == 0)
        return session_.Refused(kCheckCannotConnect, "connect to " + session_.PeerName(),
                                greeting.status);

    if (!Capabilities())
        return session_.Fail(kCheckCannotConnect, "CAPA failed");
    if (implicitTls || choice == SecurityChoice::None)
        return kCheckDone;

    if (capabilities_.count("STLS") == 0) {
        if (choice == SecurityChoice::StartTls) {
            FailStartTlsMissing(session_.PeerName(), "STLS");
            return session_.Fail(kCheckCannotConnect, "");
        }
        return kCheckDone; // an older server: plain text, as such accounts always had
    }
    Pop3Reply go;
    int g = Command("STLS", Kind::SingleLine, go, "STLS");
    if (g < 0)
        return session_.Fail(kCheckCannotConnect, "STLS failed");
    if (g == 0) {
        if (choice == SecurityChoice::StartTls) {
            FailStartTlsRefused(session_.PeerName(), "STLS", go.status);
            return session_.Fail(kCheckCannotConnect, "");
        }
        return kCheckDone;
    }
    if (!session_.Reader().StartTls()) {
        inStep_ = false;
        connected_ = false;
        return session_.Fail(kCheckCannotConnect, "");
    }
    // RFC 2595 section 4: forget what the server said before TLS, ask again.
    capabilities_.clear();
    if (!Capabilities())
        return session_.Fail(kCheckCannotConnect, "CAPA failed");
    return kCheckDone;
}

bool Pop3Client::Capabilities()
{
    capabilities_.clear();
    Pop3Reply capa;
    if (!session_.Send("CAPA\r\n")) {
        inStep_ = false;
        return false;
    }
    int r = session_.Reader().ReadReply(Kind::MultiLine, capa);
    if (r < 0) {
        inStep_ = false;
        return false;
    }
    if (r == 0)
        return true; // RFC 2449 section 5: a server without CAPA answers -ERR
    ForEachLine(capa.body, [&](std::string_view line) {
        std::vector<std::string_view> w = Words(line);
        if (w.empty())
            return;
        std::string name(w[0]);
        for (char& c : name)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        capabilities_.insert(std::move(name));
    });
    return true;
}

int Pop3Client::Login(const std::string& user, const std::string& password)
{
    Pop3Reply reply;
    if (capabilities_.count("PIPELINING") != 0) {
        // RFC 2449 section 6.6: USER and PASS in one burst. Both replies are read, so a
        // refused USER leaves the conversation in step for QUIT.
        if (!session_.Send("USER " + user + "\r\nPASS " + password + "\r\n")) {
            inStep_ = false;
            return session_.Fail(kCheckFailed, "USER failed");
        }
        int u = session_.Reader().ReadReply(Kind::SingleLine, reply);
        if (u < 0) {
            inStep_ = false;
            return session_.Fail(kCheckFailed, "USER failed");
        }
        Pop3Reply pass;
        int p = session_.Reader().ReadReply(Kind::SingleLine, pass);
        if (p < 0)
            inStep_ = false;
        if (u == 0)
            return session_.Refused(kCheckLoginRefused, "USER", reply.status);
        if (p < 0)
            return session_.Fail(kCheckFailed, "PASS failed");
        if (p == 0)
            return session_.Refused(kCheckLoginRefused, "PASS", pass.status);
        return kCheckDone;
    }
    int r = Command("USER " + user, Kind::SingleLine, reply, nullptr);
    if (r < 0)
        return session_.Fail(kCheckFailed, "USER failed");
    if (r == 0)
        return session_.Refused(kCheckLoginRefused, "USER", reply.status);
    r = Command("PASS " + password, Kind::SingleLine, reply, nullptr);
    if (r < 0)
        return session_.Fail(kCheckFailed, "PASS failed");
    if (r == 0)
        return session_.Refused(kCheckLoginRefused, "PASS", reply.status);
    return kCheckDone;
}

// Sends one command and reads its reply. With a `name`, a failure is recorded as result 1
// under that name; without, the caller records it.
int Pop3Client::Command(const std::string& line, Kind kind, Pop3Reply& reply, const char* name)
{
    if (!session_.Send(line + "\r\n")) {
        inStep_ = false;
        if (name != nullptr)
            session_.Fail(kCheckFailed, std::string(name) + " failed");
        return -1;
    }
    int r = session_.Reader().ReadReply(kind, reply);
    if (r < 0)
        inStep_ = false;
    if (r < 0 && name != nullptr)
        session_.Fail(kCheckFailed, std::string(name) + " failed");
    if (r == 0 && name != nullptr)
        session_.Refused(kCheckFailed, name, reply.status);
    return r;
}

int Pop3Client::Fetch(CheckSink& sink, Listing& listing, const std::string& accountName,
                      int& newCount, int preview)
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
    const bool pipelining = capabilities_.count("PIPELINING") != 0;
    std::deque<Cmd> inFlight;
    std::size_t inFlightBytes = 0;
    MessageRecord record;

    while (!toSend.empty() || !inFlight.empty()) {
        bool refill = pipelining ? inFlightBytes <= kPipelineBudget / 2 : inFlight.empty();
        if (refill && !toSend.empty()) {
            std::string burst;
            while (!toSend.empty() &&
                   (pipelining ? inFlightBytes + burst.size() < kPipelineBudget : burst.empty())) {
                Cmd c = std::move(toSend.front());
                toSend.pop_front();
                format(c);
                burst += c.line;
                inFlight.push_back(std::move(c));
            }
            if (!session_.Send(burst)) {
                inStep_ = false;
                return session_.Fail(kCheckFailed,
                                     "sending " + inFlight.back().line.substr(0, 4) + " failed");
            }
            inFlightBytes += burst.size();
        }

        Cmd c = std::move(inFlight.front());
        inFlight.pop_front();
        inFlightBytes -= c.line.size();
        std::string name = c.line.substr(0, c.line.size() - 2);
        Pop3Reply reply;
        int r = session_.Reader().ReadReply(
            c.kind == Cmd::Dele ? Kind::SingleLine : Kind::MultiLine, reply);
        if (r < 0) {
            inStep_ = false;
            return session_.Fail(kCheckFailed, name + " failed");
        }
        if (r == 0) {
            inStep_ = inFlight.empty();
            return session_.Refused(kCheckFailed, name, reply.status);
        }

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
            ++newCount;
        } else if (verdict == kFilterDelete) {
            // Ahead of the TOPs not yet sent, so that without pipelining the order is that of
            // the dialogue: TOP, verdict, DELE, next TOP.
            toSend.push_front({Cmd::Dele, c.entry, {}});
        }
    }
    return kCheckDone;
}

void Pop3Client::Quit()
{
    if (connected_ && session_.IsOpen()) {
        // Out of step (a reply not read), the QUIT reply could not be told from the others:
        // send it and go.
        if (session_.Send("QUIT\r\n") && inStep_) {
            Pop3Reply reply;
            session_.Reader().ReadReply(Kind::SingleLine, reply);
        }
    }
    if (connected_)
        session_.Close();
    connected_ = false;
    inStep_ = false;
}
