// Push benchmark: (1) latency from the server accepting a message (the tagged OK of an IMAP
// APPEND from another session) to its record at the engine's sink, over 200 deliveries to
// one push account, with the whole engine (push wake-up, requested check, fetch, merge);
// (2) 50 accounts idling on the same Dovecot: resident memory they add and how often their
// threads wake while nothing arrives.
//
//   bench_push [deliveries=200] [idle seconds=10]

#include "accountmanager.h"
#include "capabilitymemory.h"
#include "checkengine.h"
#include "enginestate.h"
#include "mailsocket.h"
#include "mergethreadsink.h"
#include "newaccount.h"
#include "newmailmerge.h"
#include "protocolcheck.h"
#include "pushscheduler.h"
#include "pushsession.h"
#include "support/dovecotfixture.h"
#include "support/tempdir.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace
{

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Notes the time of each record at the sink, then lets the real merge store it.
class TimingSink final : public CEngineSink
{
public:
    explicit TimingSink(CEngineSink& merge) : merge_(merge) {}
    int SendNewMessage(uint32_t kind, const MessageRecord& r) override
    {
        {
            std::lock_guard<std::mutex> g(lock_);
            arrivals_.push_back(Clock::now());
        }
        changed_.notify_all();
        return merge_.SendNewMessage(kind, r);
    }
    int SendExchangeMessage(const ExchangeMessageRecord& r) override
    {
        return merge_.SendExchangeMessage(r);
    }
    int SendWebMailMessage(const WebMailMessageRecord& r) override
    {
        return merge_.SendWebMailMessage(r);
    }
    int SendSummary(const CheckResultRecord& r) override { return merge_.SendSummary(r); }
    int SendText(const CheckResultRecord& r) override { return merge_.SendText(r); }
    int SendServerState(const ServerStateRecord& r) override { return merge_.SendServerState(r); }
    int SendMailboxRenumbered(const std::string& a) override
    {
        return merge_.SendMailboxRenumbered(a);
    }
    int SendCheckAnimation(bool on) override { return merge_.SendCheckAnimation(on); }
    void PostClose() override {}

    bool WaitFor(std::size_t count, Clock::time_point& at)
    {
        std::unique_lock<std::mutex> g(lock_);
        if (!changed_.wait_for(g, 10s, [&] { return arrivals_.size() >= count; }))
            return false;
        at = arrivals_[count - 1];
        return true;
    }

private:
    CEngineSink& merge_;
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<Clock::time_point> arrivals_;
};

// One IMAP session that appends messages (RFC 7888 LITERAL+: no continuation to wait for).
class Appender
{
public:
    bool Open(int port, const std::string& user, const std::string& password)
    {
        if (!socket_.Connect("127.0.0.1", port, 5s))
            return false;
        return ReadTagged("") && Command("LOGIN " + user + " \"" + password + "\"");
    }
    bool Append(const std::string& message)
    {
        return Command("APPEND INBOX {" + std::to_string(message.size()) + "+}\r\n" + message);
    }

private:
    bool Command(const std::string& command)
    {
        const std::string tag = "B" + std::to_string(++n_);
        return socket_.Send(tag + " " + command + "\r\n") && ReadTagged(tag);
    }
    // Reads up to the line of `tag` (empty: the greeting line); true when it is OK.
    bool ReadTagged(const std::string& tag)
    {
        char buffer[4096];
        for (;;) {
            std::size_t end;
            while ((end = buffer_.find("\r\n")) != std::string::npos) {
                std::string line = buffer_.substr(0, end);
                buffer_.erase(0, end + 2);
                if (tag.empty())
                    return line.rfind("* OK", 0) == 0;
                if (line.rfind(tag + " ", 0) == 0)
                    return line.compare(tag.size() + 1, 2, "OK") == 0;
            }
            Transport::RecvResult r = socket_.Receive(buffer, sizeof buffer, 10s);
            if (r.status != Transport::RecvStatus::Data)
                return false;
            buffer_.append(buffer, r.count);
        }
    }
    MailSocket socket_;
    std::string buffer_;
    int n_ = 0;
};

long ResidentKb()
{
    std::ifstream in("/proc/self/status");
    std::string key;
    long value = 0;
    while (in >> key) {
        if (key == "VmRSS:") {
            in >> value;
            return value;
        }
        in.ignore(1 << 20, '\n');
    }
    return 0;
}

// Voluntary and involuntary context switches of every thread of the process: each is a
// wake-up of some thread.
long ContextSwitches()
{
    long total = 0;
    DIR* dir = ::opendir("/proc/self/task");
    if (!dir)
        return 0;
    while (dirent* e = ::readdir(dir)) {
        if (e->d_name[0] == '.')
            continue;
        std::ifstream in(std::string("/proc/self/task/") + e->d_name + "/status");
        std::string key;
        while (in >> key) {
            if (key == "voluntary_ctxt_switches:" || key == "nonvoluntary_ctxt_switches:") {
                long v = 0;
                in >> v;
                total += v;
            } else {
                in.ignore(1 << 20, '\n');
            }
        }
    }
    ::closedir(dir);
    return total;
}

std::string Mail(int i)
{
    return "From: Bob <bob@example.org>\r\nTo: u0@example.org\r\nSubject: push " +
           std::to_string(i) + "\r\nDate: Mon, 7 Dec 2026 09:30:00 +0000\r\n\r\nbody\r\n";
}

double Percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    const std::size_t i =
        std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size())));
    return v[i];
}

} // namespace

int main(int argc, char** argv)
{
    const int deliveries = argc > 1 ? std::atoi(argv[1]) : 200;
    const int idleSeconds = argc > 2 ? std::atoi(argv[2]) : 10;
    constexpr int kIdlers = 50;

    std::vector<DovecotFixture::User> users;
    for (int i = 0; i <= kIdlers; ++i)
        users.push_back({"u" + std::to_string(i), "pw" + std::to_string(i)});
    DovecotFixture dovecot;
    if (!dovecot.Start(users)) {
        std::fprintf(stderr, "Dovecot: %s\n", dovecot.Error().c_str());
        return 1;
    }

    // (0) The server's own part: APPEND accepted -> the untagged EXISTS on the idling
    // connection (a session alone, no engine).
    {
        std::mutex lock;
        std::condition_variable woke;
        int wakes = 0;
        Clock::time_point at;
        CheckRequest r;
        r.server = "127.0.0.1";
        r.port = dovecot.ImapPort();
        r.security = "None";
        r.userName = "u50";
        r.password = "pw50";
        r.timeOutSeconds = 10;
        CPushSession::Hooks hooks;
        hooks.wake = [&] {
            std::lock_guard<std::mutex> g(lock);
            ++wakes;
            at = Clock::now();
            woke.notify_all();
            return true;
        };
        CPushSession session(r, hooks, CPushSession::Options{});
        session.Start();
        const auto until = Clock::now() + 10s;
        while (Clock::now() < until && session.CurrentState() != CPushSession::State::Connected)
            std::this_thread::sleep_for(1ms);
        Appender appender;
        if (!appender.Open(dovecot.ImapPort(), "u50", "pw50"))
            return 1;
        std::vector<double> ms;
        for (int i = 1; i <= 20; ++i) {
            if (!appender.Append(Mail(i)))
                return 1;
            const Clock::time_point accepted = Clock::now();
            std::unique_lock<std::mutex> g(lock);
            if (!woke.wait_for(g, 10s, [&] { return wakes >= i; }))
                return 1;
            ms.push_back(std::chrono::duration<double, std::milli>(at - accepted).count());
        }
        std::printf("server notice (APPEND -> EXISTS) median %.1f ms, max %.1f ms\n",
                    Percentile(ms, 0.5), Percentile(ms, 1.0));
    }

    // (1) Latency through the engine.
    {
        TempDir dir;
        ::setenv("POSTWATCH_HOME", dir.Path().c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", dir.File("config").c_str(), 1);
        auto accounts = std::make_shared<CAccountManager>();
        NewAccountRequest request;
        request.name = "Push";
        request.kind = "IMAP4";
        request.server = "127.0.0.1";
        request.port = std::to_string(dovecot.ImapPort());
        request.security = "None";
        request.userName = "u0";
        request.password = "pw0";
        request.push = true;
        if (!CreateNewAccount(request, accounts.get()).Ok())
            return 1;
        auto state = std::make_shared<CEngineState>();
        CNewMailMerge merge(*state, nullptr, nullptr, nullptr);
        TimingSink timing(merge);
        auto sink = std::make_shared<CMergeThreadSink>(timing);
        auto push = std::make_shared<CPushScheduler>(
            CPushScheduler::Parts{accounts, state, {}, {}, [] { return 10; }, {}});
        CCheckEngine::Parts parts;
        parts.accounts = accounts;
        parts.sink = sink;
        parts.state = state;
        parts.imap4 = std::make_shared<CProtocolCheck>(
            CProtocolCheck::Protocol::Imap4,
            std::make_shared<CCapabilityMemory>(CCapabilityMemory::Keep::InMemory));
        parts.readTimeOut = [] { return 10; };
        parts.loadAll = [] {};
        parts.push = push;
        {
            CCheckEngine engine(std::move(parts));
            engine.Start();
            engine.WaitLoaded(10s);
            const auto until = Clock::now() + 10s;
            while (Clock::now() < until && state->PushState("Push") != "connected")
                std::this_thread::sleep_for(1ms);
            // Another client of the same user appends (the server accepts at its tagged OK).
            Appender own;
            if (!own.Open(dovecot.ImapPort(), "u0", "pw0")) {
                std::fprintf(stderr, "cannot append\n");
                return 1;
            }
            std::vector<double> ms;
            std::vector<double> ours;
            for (int i = 1; i <= deliveries; ++i) {
                if (!own.Append(Mail(i)))
                    return 1;
                const Clock::time_point accepted = Clock::now();
                Clock::time_point arrived;
                if (!timing.WaitFor(static_cast<std::size_t>(i), arrived)) {
                    std::fprintf(stderr, "delivery %d never reached the sink\n", i);
                    return 1;
                }
                ms.push_back(std::chrono::duration<double, std::milli>(arrived - accepted).count());
                ours.push_back(std::chrono::duration<double, std::milli>(
                                   arrived - push->SessionOf("Push")->LastChange())
                                   .count());
            }
            std::printf("deliveries                      %d\n", deliveries);
            std::printf("latency median                  %.1f ms\n", Percentile(ms, 0.5));
            std::printf("latency p99                     %.1f ms\n", Percentile(ms, 0.99));
            std::printf("latency max                     %.1f ms\n", Percentile(ms, 1.0));
            std::printf(
                "of which ours (EXISTS -> sink)  median %.1f ms, p99 %.1f ms, max %.1f ms\n",
                Percentile(ours, 0.5), Percentile(ours, 0.99), Percentile(ours, 1.0));
            engine.RequestExit();
            engine.WaitEnded(10s);
        }
        sink->Stop();
    }

    // (2) 50 idling accounts.
    {
        const long before = ResidentKb();
        std::vector<std::unique_ptr<CPushSession>> sessions;
        for (int i = 1; i <= kIdlers; ++i) {
            CheckRequest r;
            r.server = "127.0.0.1";
            r.port = dovecot.ImapPort();
            r.security = "None";
            r.userName = "u" + std::to_string(i);
            r.password = "pw" + std::to_string(i);
            r.account = r.userName;
            r.timeOutSeconds = 10;
            CPushSession::Hooks hooks;
            hooks.wake = [] { return true; };
            sessions.push_back(std::make_unique<CPushSession>(r, hooks, CPushSession::Options{}));
            sessions.back()->Start();
        }
        const auto until = Clock::now() + 20s;
        for (auto& s : sessions)
            while (Clock::now() < until && s->CurrentState() != CPushSession::State::Connected)
                std::this_thread::sleep_for(5ms);
        int connected = 0;
        for (auto& s : sessions)
            connected += s->CurrentState() == CPushSession::State::Connected ? 1 : 0;
        std::this_thread::sleep_for(500ms); // let the last IDLE answers settle
        const long added = ResidentKb() - before;
        long polls = 0;
        for (auto& s : sessions)
            polls += s->Polls();
        const long switches = ContextSwitches();
        std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
        long pollsAfter = 0;
        for (auto& s : sessions)
            pollsAfter += s->Polls();
        // The measuring thread's own sleep is one switch; the rest are the sessions'.
        const long switchesAfter = ContextSwitches();
        std::printf("idling accounts                 %d of %d connected\n", connected, kIdlers);
        std::printf("resident memory added          %ld KiB (%.1f KiB per account)\n", added,
                    static_cast<double>(added) / kIdlers);
        std::printf("session wake-ups while idle     %.2f per second (%d s)\n",
                    static_cast<double>(pollsAfter - polls) / idleSeconds, idleSeconds);
        std::printf("thread switches while idle      %.2f per second (all threads)\n",
                    static_cast<double>(switchesAfter - switches) / idleSeconds);
        for (auto& s : sessions)
            s->RequestStop();
        const Clock::time_point stopAt = Clock::now();
        sessions.clear();
        std::printf("stop of all 50                  %.1f ms\n",
                    std::chrono::duration<double, std::milli>(Clock::now() - stopAt).count());
    }
    return 0;
}
