// The headless sink: synchronous calls, all handled on one thread, none hanging after stop.
#include "enginefakes.h"
#include "mergethreadsink.h"
#include "support/tablerow.h"

#include <atomic>
#include <gtest/gtest.h>
#include <set>
#include <thread>

using namespace enginetest;

namespace
{

// Notes which thread handled each call.
class ThreadNoting final : public CEngineSink
{
public:
    int SendNewMessage(uint32_t, const MessageRecord& r) override { return Note(r.uid); }
    int SendExchangeMessage(const ExchangeMessageRecord& r) override { return Note(r.subject); }
    int SendWebMailMessage(const WebMailMessageRecord& r) override { return Note(r.subject); }
    int SendSummary(const CheckResultRecord& r) override { return Note(r.account); }
    int SendText(const CheckResultRecord& r) override { return Note(r.account); }
    int SendCheckAnimation(bool on) override { return Note(on ? "on" : "off"); }
    void PostClose() override { Note("close"); }

    int Note(const std::string& what)
    {
        threads.insert(std::this_thread::get_id());
        seen.push_back(what);
        return 1;
    }
    // Touched only by the merge thread while it runs; read after Stop.
    std::set<std::thread::id> threads;
    std::vector<std::string> seen;
};

struct SinkCase {
    const char* name;
    int senders;
    int callsEach;
    bool stopFirst;
    int expectResult;
    size_t expectHandled;
};

POSTWATCH_ROW_PRINTS_NAME(SinkCase)

class MergeThreadSinkTest : public ::testing::TestWithParam<SinkCase>
{
};

TEST_P(MergeThreadSinkTest, HandlesOnOneThread)
{
    const SinkCase& c = GetParam();
    ThreadNoting handler;
    CMergeThreadSink sink(handler);
    if (c.stopFirst)
        sink.Stop();
    std::vector<std::thread> senders;
    std::atomic<int> bad{0};
    for (int s = 0; s < c.senders; ++s) {
        senders.emplace_back([&, s] {
            for (int i = 0; i < c.callsEach; ++i) {
                MessageRecord r;
                r.uid = std::to_string(s) + "-" + std::to_string(i);
                if (sink.SendNewMessage(1, r) != c.expectResult)
                    ++bad;
                if (sink.SendSummary({4, 1, "a"}) != c.expectResult)
                    ++bad;
            }
        });
    }
    for (auto& t : senders)
        t.join();
    sink.PostClose();
    sink.Stop();
    EXPECT_EQ(bad.load(), 0);
    EXPECT_EQ(handler.seen.size(), c.expectHandled);
    EXPECT_LE(handler.threads.size(), 1u);
    EXPECT_EQ(handler.threads.count(std::this_thread::get_id()), 0u);
}

const SinkCase kSinkCases[] = {
    {"OneSender", 1, 10, false, 1, 21},
    {"EightSendersAtOnce", 8, 50, false, 1, 8 * 100 + 1},
    // After stop nothing waits for a thread that is gone.
    {"AfterStopReturnsAtOnce", 4, 10, true, 0, 0},
};

INSTANTIATE_TEST_SUITE_P(Engine, MergeThreadSinkTest, ::testing::ValuesIn(kSinkCases),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
