// The check's transport ends its waits when the engine cancels the check.
#include "cancellabletransport.h"
#include "checkcancel.h"
#include "mailsocket.h"
#include "neterror.h"
#include "replyreader.h"
#include "scriptedserver.h"
#include "support/tablerow.h"

#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <thread>

namespace
{

using namespace std::chrono_literals;

// A server that says nothing (each wait runs out), or that has `bytes` ready.
class Silent final : public Transport
{
public:
    bool Send(std::string_view) override { return true; }
    RecvResult Receive(char* buffer, std::size_t capacity, std::chrono::milliseconds wait) override
    {
        ++receives;
        if (!bytes.empty()) {
            size_t n = std::min(capacity, bytes.size());
            bytes.copy(buffer, n);
            bytes.erase(0, n);
            return {RecvStatus::Data, n};
        }
        std::this_thread::sleep_for(wait);
        return {RecvStatus::TimedOut, 0};
    }
    bool StartTls() override { return true; }
    void Close() override {}
    bool IsOpen() const override { return true; }
    std::string PeerName() const override { return "silent:110"; }
    std::string bytes;
    int receives = 0;
};

struct WaitCase {
    const char* name;
    std::string ready;
    std::chrono::milliseconds wait;
    std::chrono::milliseconds cancelAfter; // 0: never
    Transport::RecvStatus expect;
    std::chrono::milliseconds atMost;
};

POSTWATCH_ROW_PRINTS_NAME(WaitCase)

class CancellableTransportTest : public ::testing::TestWithParam<WaitCase>
{
};

TEST_P(CancellableTransportTest, Receive)
{
    const WaitCase& c = GetParam();
    Silent inner;
    inner.bytes = c.ready;
    CCheckCancel cancel;
    CCancellableTransport transport(inner, cancel);
    std::thread canceller;
    if (c.cancelAfter.count() > 0)
        canceller = std::thread([&] {
            std::this_thread::sleep_for(c.cancelAfter);
            cancel.Cancel();
        });
    char buffer[16];
    const auto start = std::chrono::steady_clock::now();
    auto r = transport.Receive(buffer, sizeof buffer, c.wait);
    const auto took = std::chrono::steady_clock::now() - start;
    if (canceller.joinable())
        canceller.join();
    EXPECT_EQ(r.status, c.expect);
    // A bound on a wait that would otherwise take 30 s, not a speed measurement.
    EXPECT_LT(took, c.atMost);
    if (c.expect == Transport::RecvStatus::Failed) {
        EXPECT_FALSE(transport.Send("NOOP\r\n"));
    }
}

const WaitCase kWaitCases[] = {
    {"DataPassesThrough", "+OK\r\n", 30000ms, 0ms, Transport::RecvStatus::Data, 5000ms},
    {"ShortWaitTimesOut", "", 50ms, 0ms, Transport::RecvStatus::TimedOut, 5000ms},
    {"CancelEndsALongWait", "", 30000ms, 100ms, Transport::RecvStatus::Failed, 10000ms},
};

INSTANTIATE_TEST_SUITE_P(Engine, CancellableTransportTest, ::testing::ValuesIn(kWaitCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The check reads through this transport: its short slices must not reset the bound on a
// reply, so a server that drips is still cut off as too slow, and one that says nothing is
// still told apart as giving no greeting.
TEST(CancellableTransportDeadline, BoundsHoldThroughTheSlices)
{
    struct Row {
        const char* name;
        std::function<void(ScriptedServer&)> script;
        NetCategory category;
    } rows[] = {
        {"drip", [](ScriptedServer& s) { s.Send("+OK ready\r\n", 1, 300ms); },
         NetCategory::TooSlow},
        {"silence", [](ScriptedServer& s) { s.Silence(2s); }, NetCategory::NoGreeting},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ScriptedServer server;
        row.script(server);
        ASSERT_TRUE(server.Start());
        MailSocket socket;
        ASSERT_TRUE(socket.Connect("127.0.0.1", server.Port(), 1s));
        CCheckCancel cancel;
        CCancellableTransport transport(socket, cancel);
        ReplyReader reader(transport, 1s);
        Pop3Reply reply;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(reader.ReadReply(Pop3ReplyParser::Kind::SingleLine, reply), -1);
        EXPECT_LT(std::chrono::steady_clock::now() - start, 2500ms);
        EXPECT_EQ(LastNetError().category, row.category) << LastNetError().message;
    }
}

// Hooks run once, also when registered after the cancel.
TEST(CheckCancel, HooksRunOnce)
{
    CCheckCancel cancel;
    int before = 0, after = 0, removed = 0;
    cancel.Register([&] { ++before; });
    int id = cancel.Register([&] { ++removed; });
    cancel.Unregister(id);
    cancel.Cancel();
    cancel.Cancel();
    EXPECT_EQ(cancel.Register([&] { ++after; }), 0);
    EXPECT_EQ(before, 1);
    EXPECT_EQ(after, 1);
    EXPECT_EQ(removed, 0);
}

} // namespace
