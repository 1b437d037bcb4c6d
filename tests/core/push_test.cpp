// Push connections (IMAP IDLE): against the private Dovecot through the whole engine (mail
// delivered while idling is stored and reported once, a server restart is survived, exit
// ends the connection within the drain), and against scripted servers for what Dovecot will
// not do (no IDLE, refusals, hang-ups in a row).

#include "accountfile.h"
#include "accountmanager.h"
#include "apppaths.h"
#include "checkengine.h"
#include "dovecotenvironment.h"
#include "enginestate.h"
#include "mailboxfile.h"
#include "mergethreadsink.h"
#include "newaccount.h"
#include "newmailmerge.h"
#include "protocolcheck.h"
#include "pushscheduler.h"
#include "pushsession.h"
#include "scriptedserver.h"
#include "support/tablerow.h"
#include "support/tempdir.h"

#include <arpa/inet.h>
#include <atomic>
#include <condition_variable>
#include <gtest/gtest.h>
#include <map>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace
{

::testing::Environment* const g_dovecot =
    ::testing::AddGlobalTestEnvironment(new DovecotEnvironment);

using namespace std::chrono_literals;

template <class Pred> bool WaitUntil(Pred pred, std::chrono::milliseconds limit = 20s)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

std::string Mail(const std::string& subject)
{
    return "From: Bob <bob@example.org>\r\nTo: alice@example.org\r\nSubject: " + subject +
           "\r\nDate: Mon, 7 Dec 2026 09:30:00 +0000\r\n\r\nbody\r\n";
}

// Counts what reaches the front, then lets the real merge store it.
class CountingSink final : public CEngineSink
{
public:
    explicit CountingSink(CEngineSink& merge) : merge_(merge) {}
    int SendNewMessage(uint32_t kind, const MessageRecord& r) override
    {
        ++messages;
        std::lock_guard<std::mutex> g(lock);
        subjects.push_back(r.subject);
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
    int SendSummary(const CheckResultRecord& r) override
    {
        ++summaries;
        return merge_.SendSummary(r);
    }
    int SendText(const CheckResultRecord& r) override { return merge_.SendText(r); }
    int SendServerState(const ServerStateRecord& r) override { return merge_.SendServerState(r); }
    int SendCheckAnimation(bool on) override { return merge_.SendCheckAnimation(on); }
    void PostClose() override {}

    std::atomic<int> messages{0};
    std::atomic<int> summaries{0};
    std::mutex lock;
    std::vector<std::string> subjects;

private:
    CEngineSink& merge_;
};

// The engine of a front with one push account on the fixture's plain IMAP port.
struct Rig {
    explicit Rig(DovecotFixture& d, CPushSession::Options options = {})
        : home("POSTWATCH_HOME", dir.Path()), config("XDG_CONFIG_HOME", dir.File("config"))
    {
        accounts = std::make_shared<CAccountManager>();
        NewAccountRequest request;
        request.name = "Push";
        request.kind = "IMAP4";
        request.server = "127.0.0.1";
        request.port = std::to_string(d.ImapPort());
        request.security = "None";
        request.userName = "alice";
        request.password = "alice-pass";
        request.push = true;
        created = CreateNewAccount(request, accounts.get()).Ok();
        merge = std::make_unique<CNewMailMerge>(*state, nullptr, nullptr, nullptr);
        counting = std::make_unique<CountingSink>(*merge);
        sink = std::make_shared<CMergeThreadSink>(*counting);
        push = std::make_shared<CPushScheduler>(
            CPushScheduler::Parts{accounts, state, {}, {}, [] { return 10; }, options});
        CCheckEngine::Parts parts;
        parts.accounts = accounts;
        parts.sink = sink;
        parts.state = state;
        parts.imap4 = std::make_shared<CProtocolCheck>(CProtocolCheck::Protocol::Imap4, nullptr);
        parts.readTimeOut = [] { return 10; };
        parts.loadAll = [] {};
        parts.push = push;
        parts.worker.drainLimit = 3s;
        parts.worker.cancelGrace = 2s;
        engine = std::make_unique<CCheckEngine>(std::move(parts));
    }
    ~Rig()
    {
        engine.reset();
        sink->Stop();
    }
    std::shared_ptr<CPushSession> Session() const { return push->SessionOf("Push"); }
    bool Connected() const
    {
        auto s = Session();
        return s && s->CurrentState() == CPushSession::State::Connected;
    }

    TempDir dir;
    ScopedEnv home;
    ScopedEnv config;
    bool created = false;
    std::shared_ptr<CEngineState> state = std::make_shared<CEngineState>();
    std::shared_ptr<CAccountManager> accounts;
    std::unique_ptr<CNewMailMerge> merge;
    std::unique_ptr<CountingSink> counting;
    std::shared_ptr<CMergeThreadSink> sink;
    std::shared_ptr<CPushScheduler> push;
    std::unique_ptr<CCheckEngine> engine;
};

TEST(PushDovecot, WakeUpRestartAndExit)
{
    DovecotFixture* dovecot = DovecotEnvironment::Get();
    if (dovecot == nullptr)
        GTEST_SKIP() << MissingComponent("Dovecot", DovecotEnvironment::Why());
    ASSERT_TRUE(dovecot->ClearMailbox("alice"));
    CPushSession::Options options;
    options.backoffFirst = 100ms;
    options.backoffMax = 400ms;
    Rig rig(*dovecot, options);
    ASSERT_TRUE(rig.created);
    rig.engine->Start();
    ASSERT_TRUE(rig.engine->WaitLoaded(10s));
    ASSERT_TRUE(WaitUntil([&] { return rig.Connected(); })) << "the push connection idles";
    EXPECT_EQ(rig.state->PushState("Push"), "connected");
    // The first check, asked for by nothing but the push: there is no schedule.
    ASSERT_EQ(rig.counting->messages.load(), 0);

    // Mail delivered while idling is stored and reported once: a second delivery brings the
    // count to two, not three.
    ASSERT_FALSE(dovecot->Deliver("alice", Mail("first")).empty());
    ASSERT_TRUE(WaitUntil([&] { return rig.counting->messages.load() == 1; }));
    ASSERT_FALSE(dovecot->Deliver("alice", Mail("second")).empty());
    ASSERT_TRUE(WaitUntil([&] { return rig.counting->messages.load() >= 2; }));
    ASSERT_TRUE(WaitUntil([&] { return rig.accounts->Snapshot()[0].IsIdle(); }));
    EXPECT_EQ(rig.counting->messages.load(), 2);
    {
        std::lock_guard<std::mutex> g(rig.counting->lock);
        EXPECT_EQ(rig.counting->subjects, (std::vector<std::string>{"first", "second"}));
    }

    // A restart drops the connection; the session comes back on its own with a few
    // attempts (waits of 100, 200, 400 ms), never a busy loop.
    const int before = rig.Session()->Attempts();
    ASSERT_TRUE(dovecot->Restart()) << dovecot->Error();
    ASSERT_TRUE(WaitUntil([&] { return rig.Connected() && rig.Session()->Attempts() > before; }))
        << rig.Session()->LastError();
    EXPECT_LE(rig.Session()->Attempts() - before, 5);
    ASSERT_FALSE(dovecot->Deliver("alice", Mail("third")).empty());
    ASSERT_TRUE(WaitUntil([&] { return rig.counting->messages.load() == 3; }));

    // Exit ends the idling connection within the drain.
    std::shared_ptr<CPushSession> session = rig.Session();
    rig.engine->RequestExit();
    EXPECT_TRUE(rig.engine->WaitEnded(5s));
    EXPECT_TRUE(WaitUntil([&] { return session->Ended(); }, 5s));
    EXPECT_EQ(rig.state->PushState("Push"), "");
}

// Read, by subject, as Message.box holds it.
std::map<std::string, std::string> Stored(const std::string& account)
{
    std::map<std::string, std::string> out;
    CMailBoxFile box;
    if (box.Open(AppPaths::MailBoxFile(account)) != 1)
        return out;
    StoredMessage m;
    while (box.Next() == 1 && box.ReadCurrent(m, true, false) == 1)
        out[m.subject] = m.read;
    return out;
}

// Read state follows the server both ways: a message another client marked \Seen becomes
// read here and one it expunged goes at the next check; with the account's option, a
// message marked read here gets \Seen on the server in the next session.
TEST(PushDovecot, ReadStateFollowsTheServer)
{
    DovecotFixture* dovecot = DovecotEnvironment::Get();
    if (dovecot == nullptr)
        GTEST_SKIP() << MissingComponent("Dovecot", DovecotEnvironment::Why());
    ASSERT_TRUE(dovecot->ClearMailbox("alice"));
    Rig rig(*dovecot);
    ASSERT_TRUE(rig.created);
    // Checks on request only: this test is about what a check brings.
    AccountRecord record;
    record.name = "Push";
    ASSERT_EQ(CAccountFile::ReadAccountFile(AppPaths::AccountFile("Push"), record), 1);
    record.push.clear();
    ASSERT_EQ(CAccountFile::WriteAccountFile(AppPaths::AccountFile("Push"), record), 1);
    rig.engine->Start();
    ASSERT_TRUE(rig.engine->WaitLoaded(10s));
    auto check = [&] {
        const int before = rig.counting->summaries.load();
        rig.accounts->EnterOrRequest("Push", 0, nullptr, nullptr, 0);
        rig.engine->Wake();
        return WaitUntil([&] { return rig.counting->summaries.load() > before; }) &&
               WaitUntil([&] { return rig.accounts->Snapshot()[0].IsIdle(); });
    };
    for (const char* subject : {"one", "two", "three", "four"})
        ASSERT_FALSE(dovecot->Deliver("alice", Mail(subject)).empty());
    ASSERT_TRUE(check());
    using Map = std::map<std::string, std::string>;
    ASSERT_EQ(Stored("Push"), (Map{{"one", "No"}, {"two", "No"}, {"three", "No"}, {"four", "No"}}));

    struct Row {
        const char* name;
        std::vector<std::string> elsewhere; // what the other client does first
        std::function<void()> here;         // what is done here first
        Map expected;
    } rows[] = {
        {"seen-elsewhere-becomes-read",
         {"UID STORE 1 +FLAGS (\\Seen)"},
         nullptr,
         Map{{"one", "Yes"}, {"two", "No"}, {"three", "No"}, {"four", "No"}}},
        {"expunged-elsewhere-goes",
         {"UID STORE 2 +FLAGS (\\Deleted)", "EXPUNGE"},
         nullptr,
         Map{{"one", "Yes"}, {"three", "No"}, {"four", "No"}}},
        // Marked read here without the option: the server is not told, nothing changes.
        {"read-here-stays-local",
         {},
         [] {
             CMailBoxFile box;
             ASSERT_EQ(box.Open(AppPaths::MailBoxFile("Push")), 1);
             StoredMessage m;
             while (box.Next() == 1 && box.ReadCurrent(m, true, false) == 1)
                 if (m.subject == "three")
                     ASSERT_EQ(box.SetRead(m.messageId, "Yes"), 1);
         },
         Map{{"one", "Yes"}, {"three", "Yes"}, {"four", "No"}}},
    };
    for (const Row& r : rows) {
        if (!r.elsewhere.empty())
            dovecot->ImapSession("alice", r.elsewhere);
        if (r.here)
            r.here();
        ASSERT_TRUE(check()) << r.name;
        EXPECT_EQ(Stored("Push"), r.expected) << r.name;
    }
    EXPECT_EQ(dovecot->ImapSession("alice", {"UID SEARCH SEEN"}).find("* SEARCH 1 3\r\n"),
              std::string::npos)
        << "without the option, reading here stays local";

    record.markReadOnServer = "Yes";
    ASSERT_EQ(CAccountFile::WriteAccountFile(AppPaths::AccountFile("Push"), record), 1);
    ASSERT_TRUE(check());
    const std::string seen = dovecot->ImapSession("alice", {"UID SEARCH SEEN"});
    EXPECT_NE(seen.find("* SEARCH 1 3\r\n"), std::string::npos) << seen;
    EXPECT_EQ(rig.counting->messages.load(), 4) << "nothing was reported twice";
}

// A listener on 127.0.0.1 that accepts and at once closes every connection, counting them:
// a server that keeps hanging up.
class HangUpServer
{
public:
    // `afterIdle`: each connection logs in, selects and gets the IDLE's continuation first.
    explicit HangUpServer(bool afterIdle = false)
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        ::bind(fd_, reinterpret_cast<sockaddr*>(&a), len);
        ::listen(fd_, 16);
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this, afterIdle] {
            for (;;) {
                int c = ::accept(fd_, nullptr, nullptr);
                if (c < 0)
                    return;
                ++accepted;
                if (afterIdle)
                    PlayUntilIdle(c);
                ::close(c);
            }
        });
    }
    ~HangUpServer()
    {
        ::shutdown(fd_, SHUT_RDWR);
        ::close(fd_);
        thread_.join();
    }
    int Port() const { return port_; }
    std::atomic<int> accepted{0};

private:
    static void PlayUntilIdle(int c)
    {
        timeval wait{2, 0};
        ::setsockopt(c, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        auto say = [c](const std::string& text) {
            return ::send(c, text.data(), text.size(), MSG_NOSIGNAL) ==
                   static_cast<ssize_t>(text.size());
        };
        say("* OK ready\r\n");
        std::string in;
        char buffer[512];
        for (;;) {
            const std::size_t end = in.find("\r\n");
            if (end == std::string::npos) {
                const ssize_t n = ::recv(c, buffer, sizeof buffer, 0);
                if (n <= 0)
                    return;
                in.append(buffer, static_cast<std::size_t>(n));
                continue;
            }
            const std::string line = in.substr(0, end);
            in.erase(0, end + 2);
            const std::string tag = line.substr(0, line.find(' '));
            if (line.find(" IDLE") != std::string::npos) {
                say("+ idling\r\n");
                return;
            }
            say((line.find(" CAPABILITY") != std::string::npos ? "* CAPABILITY IMAP4rev1 IDLE\r\n"
                                                               : std::string()) +
                tag + " OK\r\n");
        }
    }

    int fd_ = -1;
    int port_ = 0;
    std::thread thread_;
};

CheckRequest RequestFor(int port)
{
    CheckRequest r;
    r.server = "127.0.0.1";
    r.port = port;
    r.security = "None";
    r.userName = "alice";
    r.password = "alice-pass";
    r.account = "Push";
    r.timeOutSeconds = 5;
    return r;
}

struct ScriptRow {
    const char* name;
    std::function<void(ScriptedServer&)> script;
    CPushSession::State state; // where the session settles
    int wakeUps;               // wake-ups passed on before it settles
};
POSTWATCH_ROW_PRINTS_NAME(ScriptRow)

class PushScripted : public testing::TestWithParam<ScriptRow>
{
};

const std::string kGreeting = "* OK ready\r\n";
const std::string kNoIdle = "* CAPABILITY IMAP4rev1 LITERAL+\r\n";
const std::string kIdle = "* CAPABILITY IMAP4rev1 IDLE\r\n";

TEST_P(PushScripted, Settles)
{
    const ScriptRow& row = GetParam();
    ScriptedServer server;
    row.script(server);
    ASSERT_TRUE(server.Start());
    std::atomic<int> wakes{0};
    CPushSession::Hooks hooks;
    hooks.wake = [&] {
        ++wakes;
        return true;
    };
    CPushSession::Options options;
    options.backoffFirst = 1h; // one connection only: the scripted server takes one
    CPushSession session(RequestFor(server.Port()), hooks, options);
    session.Start();
    EXPECT_TRUE(WaitUntil([&] {
        return session.CurrentState() == row.state && wakes.load() == row.wakeUps;
    })) << CPushSession::StateName(session.CurrentState())
        << " " << wakes.load();
    session.Stop();
    EXPECT_EQ(session.Attempts(), 1);
    EXPECT_EQ(session.CurrentState(), CPushSession::State::Stopped);
}

INSTANTIATE_TEST_SUITE_P(
    Servers, PushScripted,
    testing::Values(
        // Without IDLE the account is left to its schedule: no reconnecting.
        ScriptRow{"no-idle-falls-back-to-polling",
                  [](ScriptedServer& s) {
                      s.Send(kGreeting)
                          .Expect("P3 LOGIN")
                          .Send("P3 OK\r\n")
                          .Expect("P4 CAPABILITY")
                          .Send(kNoIdle + "P4 OK\r\n")
                          .Expect("P9 LOGOUT")
                          .Send("* BYE\r\nP9 OK\r\n");
                  },
                  CPushSession::State::NoIdle, 0},
        ScriptRow{"login-refused-waits-to-try-again",
                  [](ScriptedServer& s) {
                      s.Send(kGreeting).Expect("P3 LOGIN").Send("P3 NO [AUTHENTICATIONFAILED]\r\n");
                  },
                  CPushSession::State::Reconnecting, 0},
        ScriptRow{"preauth-is-not-taken-for-a-greeting",
                  [](ScriptedServer& s) { s.Send("* PREAUTH hi\r\n"); },
                  CPushSession::State::Reconnecting, 0},
        // Changes split at odd places, several at once, and ones that are no change.
        ScriptRow{"exists-recent-expunge-fetch-wake",
                  [](ScriptedServer& s) {
                      s.Send(kGreeting)
                          .Expect("P3 LOGIN")
                          .Send("P3 OK\r\n")
                          .Expect("P4 CAPABILITY")
                          .Send(kIdle + "P4 OK\r\n")
                          .Expect("P5 SELECT")
                          .Send("* 0 EXISTS\r\nP5 OK\r\n")
                          .Expect("I0 IDLE")
                          .Send("+ idling\r\n")
                          .Send("* 1 EXISTS\r\n", 3)
                          .Send("* OK still here\r\n* 1 EXISTSX\r\n* X EXISTS\r\n")
                          .Send("* 1 RECENT\r\n* 1 EXPUNGE\r\n* 2 FETCH (FLAGS (\\Seen))\r\n", 1);
                  },
                  CPushSession::State::Connected, 4},
        // The IDLE ended by the server without DONE: no idling that hears nothing.
        ScriptRow{"idle-ended-by-the-server-reconnects",
                  [](ScriptedServer& s) {
                      s.Send(kGreeting)
                          .Expect("P3 LOGIN")
                          .Send("P3 OK\r\n")
                          .Expect("P4 CAPABILITY")
                          .Send(kIdle + "P4 OK\r\n")
                          .Expect("P5 SELECT")
                          .Send("P5 OK\r\n")
                          .Expect("I0 IDLE")
                          .Send("+ idling\r\nI0 OK IDLE terminated\r\n");
                  },
                  CPushSession::State::Reconnecting, 0},
        ScriptRow{"bye-while-idling-reconnects",
                  [](ScriptedServer& s) {
                      s.Send(kGreeting)
                          .Expect("P3 LOGIN")
                          .Send("P3 OK\r\n")
                          .Expect("P4 CAPABILITY")
                          .Send(kIdle + "P4 OK\r\n")
                          .Expect("P5 SELECT")
                          .Send("P5 OK\r\n")
                          .Expect("I0 IDLE")
                          .Send("+ idling\r\n* BYE shutting down\r\n")
                          .Close();
                  },
                  CPushSession::State::Reconnecting, 0}));

// A wake-up the engine cannot take yet (a check is running) is offered again until taken.
TEST(PushSession, WakeUpRefusedIsOfferedAgain)
{
    ScriptedServer server;
    server.Send(kGreeting)
        .Expect("P3 LOGIN")
        .Send("P3 OK\r\n")
        .Expect("P4 CAPABILITY")
        .Send(kIdle + "P4 OK\r\n")
        .Expect("P5 SELECT")
        .Send("P5 OK\r\n")
        .Expect("I0 IDLE")
        .Send("+ idling\r\n* 3 EXISTS\r\n");
    ASSERT_TRUE(server.Start());
    std::atomic<int> asked{0};
    CPushSession::Hooks hooks;
    hooks.wake = [&] { return ++asked >= 3; };
    CPushSession::Options options;
    options.retry = 1ms;
    CPushSession session(RequestFor(server.Port()), hooks, options);
    session.Start();
    EXPECT_TRUE(WaitUntil([&] { return session.WakeUps() == 1; }));
    session.Stop();
    EXPECT_EQ(asked.load(), 3);
}

// A server that hangs up at once is tried again after 40, 80, 160, 160 ms...: the waits
// double up to their cap, so attempts stay few however long the server keeps failing.
TEST(PushSession, HangUpsBackOff)
{
    HangUpServer server;
    CPushSession::Options options;
    options.backoffFirst = 40ms;
    options.backoffMax = 160ms;
    CPushSession session(RequestFor(server.Port()), {}, options);
    const auto start = std::chrono::steady_clock::now();
    session.Start();
    ASSERT_TRUE(WaitUntil([&] { return session.Attempts() >= 5; }));
    const auto spent = std::chrono::steady_clock::now() - start;
    session.Stop();
    // Four waits lie between five attempts: at least 40 + 80 + 160 + 160 ms.
    EXPECT_GE(spent, 440ms);
    EXPECT_EQ(session.CurrentState(), CPushSession::State::Stopped);
}

// A server that hangs up right after the IDLE's continuation is no working account: the
// waits go on doubling (40, 80, 160, 160 ms) instead of starting again at 40 ms after each
// drop, and so do the checks that each reconnect asks for.
TEST(PushSession, HangUpsAfterIdleBackOffToo)
{
    HangUpServer server(true);
    std::atomic<int> wakes{0};
    CPushSession::Hooks hooks;
    hooks.wake = [&] {
        ++wakes;
        return true;
    };
    CPushSession::Options options;
    options.backoffFirst = 40ms;
    options.backoffMax = 160ms;
    CPushSession session(RequestFor(server.Port()), hooks, options);
    const auto start = std::chrono::steady_clock::now();
    session.Start();
    ASSERT_TRUE(WaitUntil([&] { return session.Attempts() >= 5; }));
    const auto spent = std::chrono::steady_clock::now() - start;
    session.Stop();
    EXPECT_GE(spent, 440ms);
    EXPECT_LE(wakes.load(), session.Attempts() - 1);
}

// While the network is down nothing is tried.
TEST(PushSession, NetworkDownPauses)
{
    HangUpServer server;
    std::atomic<bool> up{false};
    CPushSession::Hooks hooks;
    hooks.networkUp = [&] { return up.load(); };
    CPushSession::Options options;
    options.backoffFirst = 10ms;
    options.backoffMax = 20ms;
    CPushSession session(RequestFor(server.Port()), hooks, options);
    session.Start();
    ASSERT_TRUE(WaitUntil([&] { return session.CurrentState() == CPushSession::State::Paused; }));
    EXPECT_EQ(session.Attempts(), 0);
    up = true;
    EXPECT_TRUE(WaitUntil([&] { return server.accepted.load() >= 1; }));
    session.Stop();
}

} // namespace

namespace
{

// The IDLE is renewed: DONE ends it (RFC 2177 section 3) and a new IDLE follows its OK.
TEST(PushSession, RenewalEndsTheIdleAndIdlesAgain)
{
    ScriptedServer server;
    server.Send(kGreeting)
        .Expect("P3 LOGIN")
        .Send("P3 OK\r\n")
        .Expect("P4 CAPABILITY")
        .Send(kIdle + "P4 OK\r\n")
        .Expect("P5 SELECT")
        .Send("P5 OK\r\n")
        .Expect("I0 IDLE")
        .Send("+ idling\r\n")
        .Expect("DONE")
        .Send("I0 OK\r\n")
        .Expect("I1 IDLE")
        .Send("+ idling again\r\n");
    ASSERT_TRUE(server.Start());
    CPushSession::Options options;
    options.renew = 20ms;
    CPushSession session(RequestFor(server.Port()), {}, options);
    session.Start();
    EXPECT_TRUE(server.Finish()) << server.Failure();
    session.Stop();
    EXPECT_EQ(session.Attempts(), 1);
}

} // namespace

namespace
{

// A server that talks without ever answering: untagged lines in place of the IDLE's
// continuation or of DONE's completion. Each line is no answer, so the session drops the
// connection after its time-out as for a silent server, instead of staying for as long as
// the chatter goes on.
TEST(PushSession, ChatterIsNoAnswer)
{
    std::string chatter;
    for (int i = 0; i < 300; ++i)
        chatter += "* OK still here\r\n";
    const std::string line = "* OK still here\r\n";
    struct Row {
        const char* name;
        std::function<void(ScriptedServer&)> rest; // after SELECT
    } rows[] = {
        {"no-continuation",
         [&](ScriptedServer& s) { s.Expect("I0 IDLE").Send(chatter, line.size(), 100ms); }},
        {"done-never-completes",
         [&](ScriptedServer& s) {
             s.Expect("I0 IDLE")
                 .Send("+ idling\r\n")
                 .Expect("DONE")
                 .Send(chatter, line.size(), 100ms);
         }},
    };
    for (const Row& row : rows) {
        ScriptedServer server;
        server.Send(kGreeting)
            .Expect("P3 LOGIN")
            .Send("P3 OK\r\n")
            .Expect("P4 CAPABILITY")
            .Send(kIdle + "P4 OK\r\n")
            .Expect("P5 SELECT")
            .Send("P5 OK\r\n");
        row.rest(server);
        ASSERT_TRUE(server.Start());
        CheckRequest request = RequestFor(server.Port());
        request.timeOutSeconds = 1;
        CPushSession::Options options;
        options.renew = 50ms;
        options.backoffFirst = 1h;
        CPushSession session(request, {}, options);
        session.Start();
        // The chatter lasts 30 s: the session must have given up long before.
        EXPECT_TRUE(WaitUntil(
            [&] { return session.CurrentState() == CPushSession::State::Reconnecting; }, 10s))
            << row.name << ": " << CPushSession::StateName(session.CurrentState());
        session.Stop();
    }
}

// A server that repeats the mailbox's size tells of no new mail: no check for each repeat
// (a check storm against it), one for the size that grew.
TEST(PushSession, RepeatedSizeIsNoChange)
{
    std::string repeats, more;
    for (int i = 0; i < 200; ++i) {
        repeats += "* 5 EXISTS\r\n";
        more += "* 6 EXISTS\r\n* OK still here\r\n";
    }
    ScriptedServer server;
    server.Send(kGreeting)
        .Expect("P3 LOGIN")
        .Send("P3 OK\r\n")
        .Expect("P4 CAPABILITY")
        .Send(kIdle + "P4 OK\r\n")
        .Expect("P5 SELECT")
        .Send("* 5 EXISTS\r\n* 0 RECENT\r\nP5 OK\r\n")
        .Expect("I0 IDLE")
        .Send("+ idling\r\n" + repeats + "* 6 EXISTS\r\n" + more)
        .Expect("DONE"); // the renewal comes after every line above was read
    ASSERT_TRUE(server.Start());
    std::atomic<int> wakes{0};
    CPushSession::Hooks hooks;
    hooks.wake = [&] {
        ++wakes;
        return true;
    };
    CPushSession::Options options;
    options.renew = 500ms;
    CPushSession session(RequestFor(server.Port()), hooks, options);
    session.Start();
    EXPECT_TRUE(server.Finish()) << server.Failure();
    session.Stop();
    EXPECT_EQ(wakes.load(), 1);
}

// Mail delivered while the push connection was down is fetched once it is back, with no
// schedule and nothing else arriving; a check asked for at the same time as the push's
// stores nothing twice.
TEST(PushDovecot, MailFromTheOutageComesOnReconnect)
{
    DovecotFixture* dovecot = DovecotEnvironment::Get();
    if (dovecot == nullptr)
        GTEST_SKIP() << MissingComponent("Dovecot", DovecotEnvironment::Why());
    ASSERT_TRUE(dovecot->ClearMailbox("alice"));
    CPushSession::Options options;
    options.backoffFirst = 4s; // the outage: delivered to while the session waits
    Rig rig(*dovecot, options);
    ASSERT_TRUE(rig.created);
    rig.engine->Start();
    ASSERT_TRUE(rig.engine->WaitLoaded(10s));
    ASSERT_TRUE(WaitUntil([&] { return rig.Connected(); }));
    ASSERT_TRUE(dovecot->Restart()) << dovecot->Error();
    ASSERT_FALSE(dovecot->Deliver("alice", Mail("during")).empty());
    ASSERT_FALSE(rig.Connected()) << "delivered after the connection was back";
    ASSERT_TRUE(WaitUntil([&] { return rig.counting->messages.load() == 1; }))
        << rig.Session()->LastError();

    // Another delivery and a check asked for by hand at once: two checks may be asked for,
    // one message is stored.
    ASSERT_FALSE(dovecot->Deliver("alice", Mail("after")).empty());
    rig.accounts->EnterOrRequest("Push", 0, nullptr, nullptr, 0);
    rig.engine->Wake();
    ASSERT_TRUE(WaitUntil([&] { return rig.counting->messages.load() >= 2; }));
    ASSERT_TRUE(WaitUntil([&] { return rig.accounts->Snapshot()[0].IsIdle(); }));
    rig.accounts->EnterOrRequest("Push", 0, nullptr, nullptr, 0);
    rig.engine->Wake();
    ASSERT_TRUE(WaitUntil([&] { return rig.accounts->Snapshot()[0].IsIdle(); }));
    EXPECT_EQ(rig.counting->messages.load(), 2);
    std::lock_guard<std::mutex> g(rig.counting->lock);
    EXPECT_EQ(rig.counting->subjects, (std::vector<std::string>{"during", "after"}));
}

} // namespace

namespace
{

// Stop() ends a connection that a server stalls before IDLE (a TLS handshake it never
// answers) at once, not after the account's time-out: the program's exit waits for it.
TEST(PushSession, StopEndsAStalledHandshake)
{
    ScriptedServer server;
    server.Silence(60s);
    ASSERT_TRUE(server.Start());
    CheckRequest request = RequestFor(server.Port());
    request.security = "TLS";
    request.timeOutSeconds = 60;
    CPushSession session(request, {}, {});
    session.Start();
    ASSERT_TRUE(WaitUntil([&] { return session.Attempts() == 1; }));
    std::this_thread::sleep_for(300ms); // into the handshake
    const auto start = std::chrono::steady_clock::now();
    session.Stop();
    // A bound, not a speed: the time-out it must not wait out is 60 s.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    EXPECT_EQ(session.CurrentState(), CPushSession::State::Stopped);
}

} // namespace
