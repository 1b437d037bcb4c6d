#include "pushsession.h"

#include "idlelines.h"
#include "imapfetchresponse.h"
#include "mailsocket.h"
#include "securitychoice.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <strings.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <unordered_set>

namespace
{

using Clock = std::chrono::steady_clock;

constexpr int kImplicitTlsPort = 993;

bool StartsWithNoCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() &&
           ::strncasecmp(text.data(), prefix.data(), prefix.size()) == 0;
}

} // namespace

CPushSession::CPushSession(CheckRequest request, Hooks hooks, Options options)
    : request_(std::move(request)), hooks_(std::move(hooks)), options_(options)
{
    timeout_ = std::chrono::milliseconds(std::clamp(request_.timeOutSeconds, 1, 3600) * 1000LL);
    event_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

CPushSession::~CPushSession()
{
    Stop();
    if (event_ >= 0)
        ::close(event_);
}

const char* CPushSession::StateName(State state)
{
    switch (state) {
    case State::Starting:
        return "connecting";
    case State::Connected:
        return "connected";
    case State::Reconnecting:
        return "reconnecting";
    case State::Paused:
        return "waiting for the network";
    case State::NoIdle:
        return "the server offers no push; checked on schedule";
    case State::Stopped:
        return "stopped";
    }
    return "";
}

void CPushSession::Start()
{
    if (thread_.joinable() || event_ < 0)
        return;
    ended_.store(false);
    thread_ = std::thread([this] {
        Run();
        ended_.store(true);
    });
}

void CPushSession::Stop()
{
    RequestStop();
    if (thread_.joinable())
        thread_.join();
}

void CPushSession::RequestStop()
{
    stop_.store(true);
    if (event_ >= 0) {
        const uint64_t one = 1;
        ssize_t n = ::write(event_, &one, sizeof one);
        (void)n; // a full counter already wakes the poll
    }
}

std::string CPushSession::LastError() const
{
    std::lock_guard<std::mutex> guard(errorLock_);
    return lastError_;
}

void CPushSession::SetState(State state)
{
    if (state_.exchange(state) != state && hooks_.changed)
        hooks_.changed(state);
}

void CPushSession::Fail(std::string why)
{
    std::lock_guard<std::mutex> guard(errorLock_);
    lastError_ = std::move(why);
}

bool CPushSession::Sleep(Clock::time_point until)
{
    while (!Stopping()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now());
        if (left.count() <= 0)
            return true;
        pollfd p{event_, POLLIN, 0};
        ::poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 1 << 30)));
    }
    return false;
}

void CPushSession::Run()
{
    std::chrono::milliseconds backoff = options_.backoffFirst;
    while (!Stopping()) {
        if (hooks_.networkUp && !hooks_.networkUp()) {
            SetState(State::Paused);
            if (!Sleep(Clock::now() + backoff))
                break;
            backoff = std::min(backoff * 2, options_.backoffMax);
            continue;
        }
        MailSocket socket;
        const int outcome = Session(socket);
        socket.Close();
        if (outcome == 0 || Stopping())
            break;
        if (outcome == 2) {
            SetState(State::NoIdle);
            Sleep(Clock::time_point::max());
            break;
        }
        // A connection that idled for a while proves the account works: the next loss starts
        // the waits afresh. One that merely reached IDLE proves nothing.
        if (outcome == 1 && Clock::now() - idleSince_ >= options_.stable)
            backoff = options_.backoffFirst;
        SetState(State::Reconnecting);
        if (!Sleep(Clock::now() + backoff))
            break;
        backoff = std::min(backoff * 2, options_.backoffMax);
    }
    SetState(State::Stopped);
}

int CPushSession::Session(MailSocket& socket)
{
    lines_.Clear();
    exists_.reset();
    ++attempts_;
    const SecurityChoice choice = ConnectionSecurity(request_.security, !request_.pin.empty(),
                                                     request_.port, kImplicitTlsPort);
    const bool implicitTls = UsesImplicitTls(choice, request_.port, kImplicitTlsPort);
    socket.SetPinnedCertificate(request_.pin);
    // Stop() ends a connect or handshake that a server stalls, not only the idling.
    socket.SetInterrupt(event_);
    if (!socket.Connect(request_.server, request_.port, timeout_,
                        implicitTls ? MailSocket::Security::ImplicitTls
                                    : MailSocket::Security::Plain)) {
        Fail(LastNetError().message);
        return -1;
    }
    std::string line;
    if (ReadLine(socket, line, Clock::now() + timeout_) != 1 || !StartsWithNoCase(line, "* OK")) {
        // PREAUTH is refused too: a push connection always logs in as the check does.
        Fail("no greeting from " + socket.PeerName());
        return Stopping() ? 0 : -1;
    }
    if (!implicitTls && choice != SecurityChoice::None) {
        std::string caps;
        if (!Command(socket, "P1", "CAPABILITY", &caps))
            return Stopping() ? 0 : -1;
        std::unordered_set<std::string> set;
        ParseImapCapabilities(caps, set);
        if (set.count("STARTTLS") != 0) {
            // Bytes the server sent behind its go-ahead would be read as if they came
            // through TLS (RFC 2595 section 3.1: the client must discard them): refused.
            if (!Command(socket, "P2", "STARTTLS") || !lines_.Empty()) {
                Fail("STARTTLS failed at " + socket.PeerName());
                return Stopping() ? 0 : -1;
            }
            // The handshake's own words: a refused certificate names itself.
            if (!socket.StartTls()) {
                Fail(LastNetError().message);
                return Stopping() ? 0 : -1;
            }
        } else if (choice == SecurityChoice::StartTls) {
            Fail(socket.PeerName() + " offers no STARTTLS");
            return -1;
        }
    }
    if (!Login(socket))
        return Stopping() ? 0 : -1;
    std::string caps;
    if (!Command(socket, "P4", "CAPABILITY", &caps))
        return Stopping() ? 0 : -1;
    std::unordered_set<std::string> set;
    ParseImapCapabilities(caps, set);
    if (set.count("IDLE") == 0) {
        Command(socket, "P9", "LOGOUT");
        return 2;
    }
    if (!Command(socket, "P5", "SELECT INBOX"))
        return Stopping() ? 0 : -1;
    return Idle(socket);
}

bool CPushSession::Login(MailSocket& socket)
{
    // RFC 3501 section 9: quoted strings; a credential that cannot be quoted (8-bit, CR LF)
    // is left to the regular check, which knows literals.
    std::optional<std::string> user = ImapQuoted(request_.userName);
    std::optional<std::string> pass = ImapQuoted(request_.password);
    if (!user || !pass) {
        Fail("the user name or password cannot be sent on a push connection");
        return false;
    }
    if (!Command(socket, "P3", "LOGIN " + *user + " " + *pass)) {
        Fail("LOGIN refused by " + socket.PeerName());
        return false;
    }
    return true;
}

int CPushSession::Idle(MailSocket& socket)
{
    bool reached = false;
    // A wake-up the engine could not take yet. Mail that came while an earlier connection
    // was down told nobody: a connection made again owes a check from the start.
    bool owed = attempts_.load() > 1;
    for (int round = 0; !Stopping(); ++round) {
        const std::string tag = "I" + std::to_string(round % 1000);
        if (!socket.Send(tag + " IDLE\r\n"))
            return reached ? 1 : -1;
        std::string line;
        // RFC 2177 section 3: the server answers with a continuation before it idles. One
        // time-out for the whole answer: a server that talks without ever giving the
        // continuation (or, below, the completion of DONE) is dropped like a silent one.
        const Clock::time_point answerBy = Clock::now() + timeout_;
        for (;;) {
            if (ReadLine(socket, line, answerBy) != 1)
                return Stopping() ? 0 : (reached ? 1 : -1);
            if (line.rfind("+", 0) == 0)
                break;
            if (StartsWithNoCase(line, tag + " "))
                return reached ? 1 : -1; // refused
            owed = MailboxChanged(line) || owed;
        }
        if (!reached) {
            idleSince_ = Clock::now();
            SetState(State::Connected);
        }
        reached = true;
        const Clock::time_point renewal = Clock::now() + options_.renew;
        for (;;) {
            if (owed) {
                if (hooks_.wake && hooks_.wake()) {
                    ++wakeUps_;
                    owed = false;
                }
            }
            const Clock::time_point until =
                owed ? std::min(renewal, Clock::now() + options_.retry) : renewal;
            const int r = ReadLine(socket, line, until);
            if (r < 0)
                return Stopping() ? 0 : 1;
            if (r == 0) {
                if (Clock::now() >= renewal)
                    break;
                continue;
            }
            // A server that ends the IDLE on its own (a tagged completion without our DONE)
            // would otherwise be taken to idle until the renewal, telling nothing meanwhile:
            // connected again, with the wait and the check a reconnect brings.
            if (StartsWithNoCase(line, "* BYE") || StartsWithNoCase(line, tag + " "))
                return 1;
            if (MailboxChanged(line)) {
                lastChange_.store(Clock::now().time_since_epoch().count());
                owed = true;
            }
        }
        // Renewal: DONE ends this IDLE (RFC 2177 section 3), the tagged OK follows.
        if (!socket.Send("DONE\r\n"))
            return 1;
        const Clock::time_point doneBy = Clock::now() + timeout_;
        for (;;) {
            if (ReadLine(socket, line, doneBy) != 1)
                return Stopping() ? 0 : 1;
            if (StartsWithNoCase(line, tag + " "))
                break;
            owed = MailboxChanged(line) || owed;
        }
    }
    return 0;
}

bool CPushSession::Command(MailSocket& socket, const std::string& tag, const std::string& command,
                           std::string* untagged)
{
    if (!socket.Send(tag + " " + command + "\r\n"))
        return false;
    std::string line;
    const Clock::time_point deadline = Clock::now() + timeout_;
    for (;;) {
        if (ReadLine(socket, line, deadline) != 1)
            return false;
        if (StartsWithNoCase(line, tag + " "))
            return StartsWithNoCase(std::string_view(line).substr(tag.size() + 1), "OK");
        if (untagged && StartsWithNoCase(line, "* CAPABILITY"))
            *untagged += line + " ";
        MailboxChanged(line); // SELECT's EXISTS: the size that later ones compare with
    }
}

bool CPushSession::MailboxChanged(std::string_view line)
{
    std::uint32_t number = 0;
    switch (IdleLines::Classify(line, &number)) {
    case IdleLines::Change::None:
        return false;
    case IdleLines::Change::Exists: {
        const bool same = exists_ && *exists_ == number;
        exists_ = number;
        return !same;
    }
    case IdleLines::Change::Expunge:
        exists_.reset(); // the next EXISTS is news whatever its number
        return true;
    case IdleLines::Change::Recent:
    case IdleLines::Change::Fetch:
        return true;
    }
    return true;
}

int CPushSession::ReadLine(MailSocket& socket, std::string& line, Clock::time_point deadline)
{
    for (;;) {
        const int next = lines_.Next(line);
        if (next > 0)
            return 1;
        if (next < 0) {
            Fail(socket.PeerName() + " sent a line longer than " +
                 std::to_string(IdleLines::kMaxLine) + " bytes");
            return -1;
        }
        if (Stopping())
            return -1;
        char chunk[4096];
        // Bytes already decrypted and buffered by TLS are not seen by poll(): read first.
        Transport::RecvResult r = socket.Receive(chunk, sizeof chunk, std::chrono::milliseconds(0));
        if (r.status == Transport::RecvStatus::Data) {
            lines_.Feed(std::string_view(chunk, r.count));
            continue;
        }
        if (r.status != Transport::RecvStatus::TimedOut) {
            Fail(socket.PeerName() + " closed the connection");
            return -1;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return 0;
        pollfd p[2] = {{socket.Descriptor(), POLLIN, 0}, {event_, POLLIN, 0}};
        const int n = ::poll(p, 2, static_cast<int>(std::min<long long>(left.count(), 1 << 30)));
        ++polls_;
        if (n < 0 && errno != EINTR)
            return -1;
    }
}
