// Many accounts checked side by side by one `postwatch --check-now`, against one private
// Dovecot; then how often the idle worker wakes up.
//
//   bench_engine [accounts=50] [messages=200] [new=20] [idle-seconds=10]
#include "accountcheck.h"
#include "accountfile.h"
#include "accountmanager.h"
#include "apppaths.h"
#include "checkengine.h"
#include "enginesink.h"
#include "enginestate.h"
#include "protocolcheck.h"
#include "support/dovecotfixture.h"
#include "support/tempdir.h"
#include "systemclock.h"
#include "uidfile.h"
#include "wakesignal.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <vector>

extern char** environ;

namespace
{

using Clock = std::chrono::steady_clock;

struct Child {
    int status = -1;
    double seconds = 0;
    long maxRssKb = 0;
};

// Runs postwatch with `args`, standard input from `input` (a file path or empty), output to
// /dev/null, and measures it.
Child Run(const std::vector<std::string>& args, const std::string& input = "")
{
    std::vector<char*> argv;
    std::string program = POSTWATCH_BINARY;
    argv.push_back(program.data());
    std::vector<std::string> copy = args;
    for (std::string& a : copy)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, input.empty() ? "/dev/null" : input.c_str(),
                                     O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    Child c;
    const auto start = Clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return c;
    }
    posix_spawn_file_actions_destroy(&actions);
    rusage usage{};
    wait4(pid, &c.status, 0, &usage);
    c.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    c.maxRssKb = usage.ru_maxrss;
    return c;
}

std::string Message(int user, int n)
{
    return "From: Sender " + std::to_string(n) + " <s" + std::to_string(n) +
           "@example.org>\r\nTo: u" + std::to_string(user) +
           "@example.org\r\nSubject: =?UTF-8?Q?Bench_message_" + std::to_string(n) +
           "_f=C3=BCr_you?=\r\nDate: Mon, 7 Dec 2026 09:30:00 +0000\r\n\r\n" +
           std::string(600, 'x') + "\r\nsecond line\r\n";
}

// Counts the worker's sleeps (each is one wake-up of the scan).
class CountingClock final : public EngineClock
{
public:
    std::chrono::milliseconds Elapsed() override { return real_.Elapsed(); }
    int LocalSecondsOfDay() override { return real_.LocalSecondsOfDay(); }
    void Sleep(std::chrono::milliseconds d, CWakeSignal& wake) override
    {
        ++sleeps;
        real_.Sleep(d, wake);
    }
    std::atomic<int> sleeps{0};

private:
    CSystemClock real_;
};

class NullSink final : public CEngineSink
{
public:
    int SendNewMessage(uint32_t, const MessageRecord&) override { return 1; }
    int SendExchangeMessage(const ExchangeMessageRecord&) override { return 1; }
    int SendWebMailMessage(const WebMailMessageRecord&) override { return 1; }
    int SendSummary(const CheckResultRecord&) override { return 1; }
    int SendText(const CheckResultRecord&) override { return 1; }
    int SendCheckAnimation(bool) override { return 1; }
    void PostClose() override {}
};

// Matches a server list against the known identifiers, as a client does.
class MatchingCheck final : public ProtocolCheck
{
public:
    explicit MatchingCheck(int serverCount) : serverCount_(serverCount) {}
    int Run(const CheckRequest& p, CEngineSink&, int32_t& newCount, CCheckCancel&, Closing&,
            std::string&, PeerCertificate&) override
    {
        for (int i = 0; i < serverCount_; ++i)
            if (!p.knownUids.count("uid-" + std::to_string(i) + "-0123456789abcdef"))
                ++newCount;
        return 4;
    }

private:
    int serverCount_;
};

// StartCheck of an account with `known` identifiers in UID.inf, and a server list of as
// many: reading UID.inf, building the set and matching, without the network.
double KnownIdentifierSeconds(int known)
{
    const std::string name = "Big";
    AppPaths::MakeDirs(AppPaths::AccountDir(name));
    AccountRecord record;
    record.name = name;
    record.mailType = "POP3";
    CAccountFile::WriteAccountFile(AppPaths::AccountFile(name), record);
    std::string uids;
    for (int i = 0; i < known; ++i)
        uids += "uid-" + std::to_string(i) + "-0123456789abcdef\\";
    WriteWholeFile(AppPaths::UidFile(name), uids);
    auto table = std::make_shared<CAccountManager>();
    CheckServices services;
    services.accounts = table;
    services.state = std::make_shared<CEngineState>();
    services.sink = std::make_shared<NullSink>();
    services.pop3 = std::make_shared<MatchingCheck>(known);
    services.readTimeOut = [] { return std::optional<int>(30); };
    CAccountCheck checks(services);
    const auto start = Clock::now();
    checks.StartCheck(name);
    checks.WaitAll(std::chrono::seconds(60));
    return std::chrono::duration<double>(Clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv)
{
    const int accounts = argc > 1 ? std::atoi(argv[1]) : 50;
    const int messages = argc > 2 ? std::atoi(argv[2]) : 200;
    const int fresh = argc > 3 ? std::atoi(argv[3]) : 20;
    const int idleSeconds = argc > 4 ? std::atoi(argv[4]) : 10;

    TempDir dir;
    setenv("POSTWATCH_HOME", dir.File("data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", dir.File("config").c_str(), 1);
    setenv("XDG_DATA_HOME", dir.File("share").c_str(), 1);

    std::vector<DovecotFixture::User> users;
    for (int i = 0; i < accounts; ++i)
        users.push_back({"u" + std::to_string(i), "pw" + std::to_string(i)});
    DovecotFixture dovecot;
    if (!dovecot.Start(users)) {
        std::fprintf(stderr, "dovecot: %s\n", dovecot.Error().c_str());
        return 1;
    }
    auto deliver = [&](int user, int from, int to) {
        for (int n = from; n < to; ++n)
            if (dovecot.Deliver(users[user].name, Message(user, n)).empty())
                return false;
        return true;
    };
    for (int i = 0; i < accounts; ++i) {
        if (!deliver(i, 0, messages - fresh))
            return 1;
        const std::string pass = dir.File("pass" + std::to_string(i));
        WriteWholeFile(pass, users[i].password + "\n");
        Child add = Run({"--add-account", "Acct" + std::to_string(i), "--kind",
                         i % 2 ? "IMAP4" : "POP3", "--server", "127.0.0.1", "--user", users[i].name,
                         "--port", std::to_string(i % 2 ? dovecot.ImapPort() : dovecot.Pop3Port()),
                         "--security", "none"},
                        pass);
        if (add.status != 0) {
            std::fprintf(stderr, "--add-account failed\n");
            return 1;
        }
    }
    // The old mail is stored by a first check, so that only `fresh` are new afterwards.
    Child prime = Run({"--check-now"});
    for (int i = 0; i < accounts; ++i)
        deliver(i, messages - fresh, messages);

    Child all = Run({"--check-now"});
    // One account alone, with as many new messages, for comparison.
    deliver(0, messages, messages + fresh);
    Child one = Run({"--check-now", "Acct0"});

    std::printf("accounts                       %d (POP3 and IMAP4 alternating)\n", accounts);
    std::printf("messages per account           %d, of which %d new\n", messages, fresh);
    std::printf("first check (%d stored each)   %.2f s, exit %d\n", messages - fresh, prime.seconds,
                WEXITSTATUS(prime.status));
    std::printf("--check-now, all accounts      %.2f s, exit %d, peak memory %ld KB\n", all.seconds,
                WEXITSTATUS(all.status), all.maxRssKb);
    std::printf("--check-now, one account       %.2f s, exit %d, peak memory %ld KB\n", one.seconds,
                WEXITSTATUS(one.status), one.maxRssKb);

    std::printf("50 000 known identifiers       %.1f ms (UID.inf read, set built, 50 000 "
                "server identifiers matched)\n",
                KnownIdentifierSeconds(50000) * 1000);

    // Idle: an engine with no account, on the real clock.
    {
        auto table = std::make_shared<CAccountManager>();
        auto clock = std::make_shared<CountingClock>();
        CCheckEngine::Parts parts;
        parts.accounts = table;
        parts.sink = std::make_shared<NullSink>();
        parts.clock = clock;
        parts.loadAll = [] {};
        CCheckEngine engine(std::move(parts));
        engine.Start();
        engine.WaitLoaded(std::chrono::seconds(5));
        rusage before{}, after{};
        getrusage(RUSAGE_SELF, &before);
        const int sleepsBefore = clock->sleeps;
        std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
        const int sleepsAfter = clock->sleeps;
        getrusage(RUSAGE_SELF, &after);
        engine.RequestExit();
        engine.WaitEnded(std::chrono::seconds(5));
        std::printf("idle worker wake-ups           %.2f per second (%d s)\n",
                    double(sleepsAfter - sleepsBefore) / idleSeconds, idleSeconds);
        std::printf("idle context switches (all)    %.2f per second\n",
                    double(after.ru_nvcsw - before.ru_nvcsw) / idleSeconds);
    }
    return 0;
}
